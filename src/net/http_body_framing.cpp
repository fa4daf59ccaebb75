#include "net/http_body_framing.h"

#include <cstdint>
#include <string>
#include <string_view>

#include "common/ascii_case.h"
#include "common/decimal_text.h"

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// In any letter case; a NUL inside is no part of any name.
bool NameIs(std::string_view name, const char* lowerName)
{
    return name.find('\0') == std::string_view::npos && EqualsIgnoringCase(std::string(name).c_str(), lowerName);
}

std::string_view Trimmed(std::string_view value)
{
    while (!value.empty() && IsBlank(value.front()))
        value.remove_prefix(1);
    while (!value.empty() && IsBlank(value.back()))
        value.remove_suffix(1);
    return value;
}

// Digits alone, at most INT32_MAX; -1 otherwise.
int64_t LengthValue(std::string_view value)
{
    uint64_t n = 0;
    return ParseUnsignedDecimal(std::string(value), INT32_MAX, &n) ? static_cast<int64_t>(n) : -1;
}

HTTP_BODY_FRAMING Malformed(const char* problem)
{
    HTTP_BODY_FRAMING framing;
    framing.kind = HTTP_BODY_FRAMING::MALFORMED;
    framing.problem = problem;
    return framing;
}

} // namespace

HTTP_BODY_FRAMING ReadBodyFraming(const char* head, int size)
{
    const std::string_view text(head, size > 0 ? static_cast<size_t>(size) : 0);
    int64_t length = -1;
    bool chunked = false;
    // Header lines follow the status line, each ended by CR LF.
    size_t at = text.find("\r\n");
    while (at != std::string_view::npos) {
        const size_t start = at + 2;
        at = text.find("\r\n", start);
        const size_t end = at == std::string_view::npos ? text.size() : at;
        const std::string_view line = text.substr(start, end - start);
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        const std::string_view name = line.substr(0, colon);
        const std::string_view value = Trimmed(line.substr(colon + 1));
        if (NameIs(name, "content-length")) {
            const int64_t n = LengthValue(value);
            if (n < 0)
                return Malformed("a Content-Length that is not a number of bytes");
            if (length >= 0 && n != length)
                return Malformed("two different Content-Length values");
            length = n;
        } else if (NameIs(name, "transfer-encoding")) {
            if (chunked || !NameIs(value, "chunked"))
                return Malformed("a Transfer-Encoding other than chunked");
            chunked = true;
        }
    }
    if (chunked && length >= 0)
        return Malformed("both Content-Length and Transfer-Encoding");
    HTTP_BODY_FRAMING framing;
    if (chunked) {
        framing.kind = HTTP_BODY_FRAMING::CHUNKED;
    } else if (length >= 0) {
        framing.kind = HTTP_BODY_FRAMING::LENGTH;
        framing.length = static_cast<int>(length);
    }
    return framing;
}
