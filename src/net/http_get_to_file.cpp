#include "net/http_get_to_file.h"

#include <memory>

#include "common/heap_str.h"
#include "net/rx_http_browser.h"
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
        HEAP_STR head;
        head.Append("GET /");
        head.Append(file);
        head.Append(" HTTP/1.1\r\n");
        head.Append("Host: ");
        head.Append(host);
        head.Append(" \r\n");

        // The browser holds the whole response (128 KB): on the heap, not the stack.
        auto browser = std::make_unique<RX_HTTP_BROWSER>();
        browser->m_iPort = port;
        browser->Init(host);
        if (!browser->Send(head.Get(), nullptr))
            return false;
        if (browser->m_iRecvSize == 0)
            return false;
        const char* body = browser->GetRecvData();
        if (body == nullptr || browser->m_iBodySize < kMinStoredBody)
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
            const DWORD size = static_cast<DWORD>(browser->m_iBodySize);
            ok = WriteFile(f, body, size, &written, nullptr) && written == size;
        }
        CloseHandle(f);
        return ok;
    } catch (...) {
        return false;
    }
}
