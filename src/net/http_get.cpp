#include "net/http_get.h"

#include <cstring>

#include "common/heap_str.h"

const char* HttpGetBody(RX_HTTP_BROWSER& browser, const char* host, int port, const char* path, int* bodySize)
{
    *bodySize = 0;
    HEAP_STR head("GET /");
    head.Append(path);
    head.Append(" HTTP/1.1\r\n");
    head.Append("Host: ");
    head.Append(host);
    head.Append(" \r\n");

    browser.m_iPort = port;
    browser.Init(host);
    if (!browser.Send(head.Get(), nullptr) || browser.m_iRecvSize == 0)
        return nullptr;
    const char* body = browser.GetRecvData();
    if (body != nullptr)
        *bodySize = browser.m_iBodySize;
    return body;
}

int HttpStatusCode(const RX_HTTP_BROWSER& browser)
{
    const char* r = browser.m_RecvBuf;
    // "HTTP/1.x NNN" and then a blank or the end of the line.
    if (browser.m_iRecvSize < 12 || std::memcmp(r, "HTTP/1.", 7) != 0 || r[7] < '0' || r[7] > '9' || r[8] != ' ')
        return 0;
    int code = 0;
    for (int i = 9; i < 12; ++i) {
        if (r[i] < '0' || r[i] > '9')
            return 0;
        code = code * 10 + (r[i] - '0');
    }
    if (browser.m_iRecvSize > 12 && r[12] != ' ' && r[12] != '\r')
        return 0;
    return code;
}
