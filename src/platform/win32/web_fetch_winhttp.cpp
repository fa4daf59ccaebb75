// WebFetch through WinHTTP: the system's proxy settings and trusted roots, no TLS of our own.
// WinHTTP runs asynchronously so that this thread keeps every bound itself: it waits for
// each completion in slices, asks the sink whether to go on between them, and closes the
// request to cancel it. Redirects are followed here, not by WinHTTP, to refuse https->http.
#include "net/web_fetch.h"

#include <windows.h>
#include <shlwapi.h>
#include <winhttp.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/clock.h"

namespace {

const DWORD kSliceMs = 200;
const DWORD kReadBlock = 256 * 1024;

// One request's link to WinHTTP's callback. Exactly one operation is pending at a time;
// the callback stores its completion and signals 'done'. It belongs to the request
// handle: WinHTTP may call back until it says the handle is closing (Wine's reads go on
// until its own time-out), and a fetch must not wait for that to end.
struct CALL {
    HANDLE done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::atomic<bool> connected{false};
    DWORD status = 0;
    DWORD bytes = 0;
    DWORD error = 0;
    std::vector<char> buffer;
    ~CALL()
    {
        if (done)
            CloseHandle(done);
    }
};

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, void* info, DWORD length)
{
    CALL* call = reinterpret_cast<CALL*>(context);
    if (!call)
        return;
    switch (status) {
    case WINHTTP_CALLBACK_STATUS_CONNECTED_TO_SERVER:
        call->connected = true;
        return;
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
        delete call;  // the last call for the request
        return;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
        call->error = static_cast<const WINHTTP_ASYNC_RESULT*>(info)->dwError;
        break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
        call->error = 0;
        call->bytes = *static_cast<const DWORD*>(info);
        break;
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        call->error = 0;
        call->bytes = length;
        break;
    default:
        return;
    }
    call->status = status;
    SetEvent(call->done);
}

struct HANDLE_CLOSER {
    void operator()(void* h) const { WinHttpCloseHandle(h); }
};
using INTERNET = std::unique_ptr<void, HANDLE_CLOSER>;

std::wstring Wide(const std::string& text)
{
    std::wstring wide(text.size(), L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                      static_cast<int>(wide.size()));
    wide.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return wide;
}

std::string Narrow(const std::wstring& wide)
{
    std::string text;
    for (wchar_t c : wide)
        text += c < 0x80 ? static_cast<char>(c) : '?';
    return text;
}

// WinHTTP's own words for its errors (from winhttp.dll; Wine has none: ours for the
// common ones), and the number.
std::string ErrorText(DWORD error)
{
    char buffer[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  GetModuleHandleW(L"winhttp.dll"), error, 0, buffer, sizeof(buffer), nullptr);
    while (length > 0 && (buffer[length - 1] == '\r' || buffer[length - 1] == '\n' || buffer[length - 1] == ' ' ||
                          buffer[length - 1] == '.'))
        --length;
    std::string text(buffer, length);
    if (text.empty()) {
        switch (error) {
        case ERROR_WINHTTP_TIMEOUT: text = "timed out"; break;
        case ERROR_WINHTTP_NAME_NOT_RESOLVED: text = "the name cannot be resolved"; break;
        case ERROR_WINHTTP_CANNOT_CONNECT: text = "cannot connect"; break;
        case ERROR_WINHTTP_CONNECTION_ERROR: text = "the connection was reset"; break;
        case ERROR_WINHTTP_INVALID_SERVER_RESPONSE: text = "not an HTTP answer"; break;
        case ERROR_WINHTTP_SECURE_FAILURE:
        case ERROR_WINHTTP_SECURE_INVALID_CA:
        case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
        case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID: text = "the server's certificate is not trusted"; break;
        case ERROR_WINHTTP_SECURE_CHANNEL_ERROR: text = "no secure channel"; break;
        default: break;
        }
    }
    const std::string number = "error " + std::to_string(error);
    return text.empty() ? number : text + " (" + number + ")";
}

// A response header, "" when absent.
std::wstring HeaderW(HINTERNET request, DWORD query)
{
    wchar_t buffer[4096];
    DWORD size = sizeof(buffer);
    if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, buffer, &size, WINHTTP_NO_HEADER_INDEX))
        return L"";
    return std::wstring(buffer, size / sizeof(wchar_t));
}

std::string Header(HINTERNET request, DWORD query)
{
    return Narrow(HeaderW(request, query));
}

// A decimal number filling the whole text.
bool ParseNumber(const std::string& text, uint64_t* value)
{
    if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *value = std::strtoull(text.c_str(), nullptr, 10);
    return true;
}

// "bytes first-last/total" (total may be "*": 0).
bool ParseContentRange(const std::string& text, uint64_t* first, uint64_t* last, uint64_t* total)
{
    const size_t dash = text.find('-'), slash = text.find('/');
    if (text.compare(0, 6, "bytes ") != 0 || dash == std::string::npos || slash == std::string::npos || slash < dash)
        return false;
    const std::string whole = text.substr(slash + 1);
    *total = 0;
    return ParseNumber(text.substr(6, dash - 6), first) && ParseNumber(text.substr(dash + 1, slash - dash - 1), last) &&
           *last >= *first && (whole == "*" || (ParseNumber(whole, total) && *total > *last));
}

// Done: the operation (or the whole body) completed.
enum class STEP { Done, Redirect, Restart, Cancelled, Failed };

class FETCH {
public:
    FETCH(const WEB_FETCH_OPTIONS& options, WEB_FETCH_SINK* sink, std::string* reason)
        : m_Options(options), m_pSink(sink), m_pReason(reason)
    {
    }

    WEB_FETCH_RESULT Run(const std::string& url);

private:
    STEP Get(HINTERNET session, const std::wstring& url, uint64_t from, std::wstring* next);
    STEP Send(HINTERNET request, CALL* call, uint64_t from);
    STEP Body(HINTERNET request, CALL* call, uint64_t from, int status);
    STEP Await(CALL* call, const std::string& what, uint64_t stallFrom);
    STEP Fail(const std::string& text)
    {
        if (m_pReason)
            *m_pReason = text;
        return STEP::Failed;
    }

    const WEB_FETCH_OPTIONS& m_Options;
    WEB_FETCH_SINK* m_pSink;
    std::string* m_pReason;
};

WEB_FETCH_RESULT FETCH::Run(const std::string& url)
{
    if (!m_Options.caFile.empty()) {
        Fail("a certificate authority file is not supported on Windows (the system's roots only)");
        return WEB_FETCH_RESULT::Failed;
    }
    // The system's proxy settings: automatic (Windows 8.1 on), else the configured one.
    INTERNET session(WinHttpOpen(L"Velgrim-Updater", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                 WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
    if (!session)
        session.reset(WinHttpOpen(L"Velgrim-Updater", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
    const DWORD flags = WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES |
                        WINHTTP_CALLBACK_FLAG_CONNECT_TO_SERVER;
    if (!session || WinHttpSetStatusCallback(session.get(), OnStatus, flags, 0) == WINHTTP_INVALID_STATUS_CALLBACK) {
        Fail("WinHTTP cannot be started: " + ErrorText(GetLastError()));
        return WEB_FETCH_RESULT::Failed;
    }
    // WinHTTP's own bounds back ours up (ours come first, with their own words).
    const int connectMs = static_cast<int>(m_Options.connectTimeoutMs + 1000);
    const int stallMs = static_cast<int>(m_Options.stallTimeoutMs + 1000);
    WinHttpSetTimeouts(session.get(), connectMs, connectMs, stallMs, stallMs);

    uint64_t from = m_Options.resumeFrom;
    for (;;) {
        std::wstring at = Wide(url), next;
        STEP step = STEP::Redirect;
        for (int redirects = 0; step == STEP::Redirect; ++redirects) {
            if (redirects > m_Options.maxRedirects) {
                Fail("more than " + std::to_string(m_Options.maxRedirects) + " redirects");
                return WEB_FETCH_RESULT::Failed;
            }
            step = Get(session.get(), at, from, &next);
            at = next;
        }
        if (step == STEP::Restart) {
            from = 0;
            continue;
        }
        return step == STEP::Done        ? WEB_FETCH_RESULT::Done
               : step == STEP::Cancelled ? WEB_FETCH_RESULT::Cancelled
                                         : WEB_FETCH_RESULT::Failed;
    }
}

// One GET: ends with the body delivered, a redirect's address in 'next', or a restart.
STEP FETCH::Get(HINTERNET session, const std::wstring& url, uint64_t from, std::wstring* next)
{
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = parts.dwSchemeLength = 1;
    if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) ||
        (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) || parts.dwHostNameLength == 0)
        return Fail("not an http:// or https:// address");
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (path.empty())
        path = L"/";
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

    INTERNET connection(WinHttpConnect(session, host.c_str(), parts.nPort, 0));
    if (!connection)
        return Fail(Narrow(host) + ": " + ErrorText(GetLastError()));
    INTERNET request(WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                        WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request)
        return Fail(Narrow(url) + ": " + ErrorText(GetLastError()));
    CALL* call = new CALL;
    call->buffer.resize(kReadBlock);
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(call);
    if (!call->done || !WinHttpSetOption(request.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context))) {
        delete call;
        return Fail(Narrow(url) + ": " + ErrorText(GetLastError()));
    }
    DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_COOKIES;
    if (!WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof(noRedirects)))
        return Fail(Narrow(url) + ": " + ErrorText(GetLastError()));

    STEP step = Send(request.get(), call, from);
    if (step == STEP::Done) {
        DWORD status = 0, size = sizeof(status);
        WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
        if (status == 301 || status == 302 || status == 303 || status == 307 || status == 308) {
            const std::wstring location = HeaderW(request.get(), WINHTTP_QUERY_LOCATION);
            wchar_t target[2048];
            DWORD length = ARRAYSIZE(target);
            if (location.empty() || UrlCombineW(url.c_str(), location.c_str(), target, &length, 0) != S_OK)
                step = Fail("HTTP " + std::to_string(status) + " without a usable Location");
            else if (_wcsnicmp(target, L"https://", 8) != 0 && _wcsnicmp(target, L"http://", 7) != 0)
                step = Fail("redirected to something other than http:// or https://");
            else if (secure && _wcsnicmp(target, L"https:", 6) != 0)
                step = Fail("a redirect from https to " + Narrow(target) + " is refused");
            else {
                next->assign(target, length);
                step = STEP::Redirect;
            }
        } else {
            step = Body(request.get(), call, from, static_cast<int>(status));
        }
    }
    return step;
}

// Sends the request and waits for the response's head.
STEP FETCH::Send(HINTERNET request, CALL* call, uint64_t from)
{
    const std::wstring range = from > 0 ? Wide("Range: bytes=" + std::to_string(from) + "-\r\n") : L"";
    const DWORD_PTR context = reinterpret_cast<DWORD_PTR>(call);
    if (!WinHttpSendRequest(request, range.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : range.c_str(),
                            static_cast<DWORD>(range.size()), WINHTTP_NO_REQUEST_DATA, 0, 0, context))
        return Fail("the request cannot be sent: " + ErrorText(GetLastError()));
    STEP step = Await(call, "no connection: ", 0);
    if (step != STEP::Done)
        return step;
    if (!WinHttpReceiveResponse(request, nullptr))
        return Fail("no answer: " + ErrorText(GetLastError()));
    return Await(call, "no answer: ", MonotonicMs());
}

// Delivers the body of a 200 or 206; a 416 or a range that starts elsewhere asks for a restart.
STEP FETCH::Body(HINTERNET request, CALL* call, uint64_t from, int status)
{
    uint64_t start = 0, total = 0, length = 0, last = 0;
    bool sized = ParseNumber(Header(request, WINHTTP_QUERY_CONTENT_LENGTH), &length);
    if (status == 206 && from > 0) {
        if (!ParseContentRange(Header(request, WINHTTP_QUERY_CONTENT_RANGE), &start, &last, &total) || start != from)
            return STEP::Restart;
        if (sized && length != last - start + 1)
            return Fail("a 206 whose length does not match its Content-Range");
        sized = true;
        length = last - start + 1;
    } else if (status == 416 && from > 0) {
        return STEP::Restart;
    } else if (status == 416 || status == 206) {
        return Fail("the range answered is not the one asked");
    } else if (status == 200) {
        total = sized ? length : 0;
    } else {
        return Fail("HTTP " + std::to_string(status));
    }
    if (!m_pSink->OnStart(start, total))
        return STEP::Cancelled;
    uint64_t received = 0;
    for (;;) {
        // Asked first how much is there, so that the read takes only that: Wine's read
        // otherwise waits on this thread until the whole block has come.
        const std::string cut = "the connection was cut after " + std::to_string(received) + " bytes: ";
        if (!WinHttpQueryDataAvailable(request, nullptr))
            return Fail(cut + ErrorText(GetLastError()));
        STEP step = Await(call, cut, MonotonicMs());
        if (step != STEP::Done)
            return step;
        if (call->bytes == 0)
            break;
        if (!WinHttpReadData(request, call->buffer.data(), call->bytes < kReadBlock ? call->bytes : kReadBlock, nullptr))
            return Fail(cut + ErrorText(GetLastError()));
        step = Await(call, cut, MonotonicMs());
        if (step != STEP::Done)
            return step;
        if (call->bytes == 0)
            break;
        received += call->bytes;
        if (!m_pSink->OnData(call->buffer.data(), call->bytes))
            return STEP::Cancelled;
    }
    // WinHTTP may take a closed connection for the body's end.
    if (sized && received != length)
        return Fail("the connection was cut after " + std::to_string(received) + " of " + std::to_string(length) +
                    " bytes");
    return STEP::Done;
}

// Waits for the pending operation; a failure is told after 'what'. stallFrom 0: a connect first (bounded by the connect
// time-out until connected, then by the stall bound); else the stall bound from then.
STEP FETCH::Await(CALL* call, const std::string& what, uint64_t stallFrom)
{
    const uint64_t started = MonotonicMs();
    for (;;) {
        if (!m_pSink->KeepGoing())
            return STEP::Cancelled;
        const uint64_t now = MonotonicMs();
        if (stallFrom == 0 && call->connected)
            stallFrom = now;
        if (stallFrom == 0 && now - started >= m_Options.connectTimeoutMs)
            return Fail("no connection within " + std::to_string(m_Options.connectTimeoutMs) + " ms");
        if (stallFrom != 0 && now - stallFrom >= m_Options.stallTimeoutMs)
            return Fail("stalled");
        if (WaitForSingleObject(call->done, kSliceMs) != WAIT_OBJECT_0)
            continue;
        if (call->status != WINHTTP_CALLBACK_STATUS_REQUEST_ERROR)
            return STEP::Done;
        return Fail(what + ErrorText(call->error));
    }
}

} // namespace

WEB_FETCH_RESULT WebFetch(const std::string& url, const WEB_FETCH_OPTIONS& options, WEB_FETCH_SINK* sink,
                          std::string* reason)
{
    return FETCH(options, sink, reason).Run(url);
}
