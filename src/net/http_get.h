// One GET from the web host, as the launcher asks it: the request line and a Host line
// (the host name, a blank, CR LF), nothing else.
#pragma once

#include "net/rx_http_browser.h"

// Fetches /path from host:port with browser. Returns the body inside the browser's buffer
// and sets *bodySize; null when the exchange failed, the response was empty or it had no
// end of head. The status line is not looked at: an error page is a body too.
const char* HttpGetBody(RX_HTTP_BROWSER& browser, const char* host, int port, const char* path, int* bodySize);

// The status code of the response in browser ("HTTP/1.x NNN ..."), 0 when it has no such
// status line.
int HttpStatusCode(const RX_HTTP_BROWSER& browser);
