#include "net/http_get_to_file.h"

#include <memory>

#include "net/http_get.h"
#include "platform/files.h"
#include "velgrim_config.h"

namespace {

// Smaller bodies are taken for error pages and never stored.
const int kMinStoredBody = 10001;

} // namespace

bool HttpGetToFile(const char* host, const char* file)
{
    return HttpGetToFile(host, file, VELGRIM_WEB_PORT);
}

bool HttpGetToFile(const char* host, const char* file, int port)
{
    try {
        // The browser holds the whole response (128 KB): on the heap, not the stack.
        auto browser = std::make_unique<RX_HTTP_BROWSER>();
        int bodySize = 0;
        const char* body = HttpGetBody(*browser, host, port, file, &bodySize);
        // A body cut short is never stored as if it were the file.
        if (body == nullptr || bodySize < kMinStoredBody || !browser->BodyComplete())
            return false;

        HANDLE f = CreateFileA(file, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
        if (f == INVALID_HANDLE_VALUE)
            return false;
        // An older, longer file is cut to the new body; a file that cannot be cut or
        // written whole is a failure, never success.
        bool ok = SetFilePointer(f, 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(f);
        if (ok) {
            DWORD written = 0;
            const DWORD size = static_cast<DWORD>(bodySize);
            ok = WriteFile(f, body, size, &written, nullptr) && written == size;
        }
        CloseHandle(f);
        return ok;
    } catch (...) {
        return false;
    }
}
