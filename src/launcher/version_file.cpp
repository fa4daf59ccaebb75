#include "launcher/version_file.h"

#include <string>

#include "platform/file_handle.h"
#include "platform/file_io.h"
#include "platform/replacing_file.h"
#include "protocol/own_names.h"

uint32_t g_localVersion = 0;

namespace {

const char* const kVersionFile = VERSION_FILE_NAME;
const char kVersionTempSuffix[] = ".new";

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads an unsigned number the way the C++ stream extraction does in the "C" locale,
// fed a piece of the file at a time: blanks, one sign, decimal digits. A minus wraps
// the value around, a value past 32 bits gives the largest one, no digits give 0.
class VERSION_SCANNER {
public:
    // False once the number has ended (the rest of the file is not needed).
    bool Feed(const char* p, size_t n)
    {
        for (size_t i = 0; i < n; ++i) {
            const char c = p[i];
            if (m_State == BLANKS) {
                if (IsBlank(c))
                    continue;
                m_State = SIGN;
                if (c == '+' || c == '-') {
                    m_bNegative = c == '-';
                    continue;
                }
            }
            if (c < '0' || c > '9') {
                m_State = ENDED;
                return false;
            }
            m_bDigits = true;
            const uint32_t digit = static_cast<uint32_t>(c - '0');
            if (m_uValue > (0xFFFFFFFFu - digit) / 10u)
                m_bOverflow = true;
            else
                m_uValue = m_uValue * 10u + digit;
        }
        return true;
    }

    // Stores the number into *value; a file of blanks alone leaves it untouched.
    void Store(uint32_t* value) const
    {
        if (m_State == BLANKS)
            return;
        if (!m_bDigits)
            *value = 0;
        else if (m_bOverflow)
            *value = 0xFFFFFFFFu;
        else
            *value = m_bNegative ? 0u - m_uValue : m_uValue;
    }

private:
    enum STATE { BLANKS, SIGN, ENDED };
    STATE m_State = BLANKS;
    bool m_bNegative = false;
    bool m_bDigits = false;
    bool m_bOverflow = false;
    uint32_t m_uValue = 0;
};

} // namespace

void ReadLocalVersion()
{
    FILE_HANDLE in(CreateFileA(kVersionFile, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!in.Valid())
        return;
    VERSION_SCANNER scanner;
    char buffer[4096];
    uint64_t offset = 0;
    for (;;) {
        uint32_t got = 0;
        // A read that fails ends the text there, as it ends a stream.
        if (!ReadFileUpTo(in.Get(), offset, buffer, sizeof(buffer), &got) || got == 0)
            break;
        if (!scanner.Feed(buffer, got))
            break;
        offset += got;
    }
    scanner.Store(&g_localVersion);
}

bool WriteLocalVersion()
{
    const std::string digits = std::to_string(g_localVersion);
    REPLACING_FILE out(kVersionFile, kVersionTempSuffix);
    return out.Create() && out.Write(digits.data(), digits.size()) && out.Commit();
}
