#include "net/http_get.h"

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
