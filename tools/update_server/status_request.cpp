#include "update_server/status_request.h"

namespace {

bool IsTokenChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.' || c == '!' || c == '#' || c == '$' || c == '%' || c == '&' || c == '\'' || c == '*' ||
           c == '+' || c == '^' || c == '`' || c == '|' || c == '~';
}

bool IsTargetChar(char c)
{
    return c > ' ' && c < 0x7F;
}

// Splits the head into lines ended by CR LF or a bare LF.
bool NextLine(const std::string& head, size_t* at, std::string* line)
{
    if (*at >= head.size())
        return false;
    size_t end = head.find('\n', *at);
    if (end == std::string::npos)
        end = head.size();
    *line = head.substr(*at, end - *at);
    if (!line->empty() && line->back() == '\r')
        line->pop_back();
    *at = end + 1;
    return true;
}

} // namespace

STATUS_REQUEST_STATE CheckStatusRequest(const std::string& received, size_t maxHead, std::string* path)
{
    // Empty lines before the request line are allowed by HTTP/1.1.
    size_t start = 0;
    while (start < received.size() && (received[start] == '\r' || received[start] == '\n'))
        ++start;
    size_t end = std::string::npos;
    for (size_t i = start; i < received.size(); ++i) {
        if (received[i] != '\n')
            continue;
        if (i + 1 < received.size() && received[i + 1] == '\n') {
            end = i + 2;
            break;
        }
        if (i + 2 < received.size() && received[i + 1] == '\r' && received[i + 2] == '\n') {
            end = i + 3;
            break;
        }
    }
    if (end == std::string::npos)
        return received.size() > maxHead ? REQUEST_TOO_LARGE : REQUEST_INCOMPLETE;
    if (end > maxHead)
        return REQUEST_TOO_LARGE;

    const std::string head = received.substr(start, end - start);
    size_t at = 0;
    std::string line;
    NextLine(head, &at, &line);
    const size_t firstBlank = line.find(' ');
    const size_t secondBlank = firstBlank == std::string::npos ? std::string::npos : line.find(' ', firstBlank + 1);
    if (secondBlank == std::string::npos || line.find(' ', secondBlank + 1) != std::string::npos)
        return REQUEST_BAD;
    const std::string method = line.substr(0, firstBlank);
    const std::string target = line.substr(firstBlank + 1, secondBlank - firstBlank - 1);
    const std::string version = line.substr(secondBlank + 1);
    if (method.empty() || target.empty() || target[0] != '/' || (version != "HTTP/1.1" && version != "HTTP/1.0"))
        return REQUEST_BAD;
    for (char c : method)
        if (!IsTokenChar(c))
            return REQUEST_BAD;
    for (char c : target)
        if (!IsTargetChar(c))
            return REQUEST_BAD;
    // Header lines: a name, a colon, a value; no folding.
    while (NextLine(head, &at, &line) && !line.empty()) {
        const size_t colon = line.find(':');
        if (colon == 0 || colon == std::string::npos)
            return REQUEST_BAD;
        for (size_t i = 0; i < colon; ++i)
            if (!IsTokenChar(line[i]))
                return REQUEST_BAD;
        for (char c : line)
            if ((c < ' ' && c != '\t') || c == 0x7F)
                return REQUEST_BAD;
    }
    if (method != "GET")
        return REQUEST_NOT_GET;
    *path = target.substr(0, target.find('?'));
    return REQUEST_GET;
}
