// WebFetch with libcurl. Redirects are followed here, hop by hop, so that each hop's
// scheme is checked (https never leads to http) and a restart without Range starts from
// the address the caller gave.
#include "net/web_fetch.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

using CLOCK = std::chrono::steady_clock;

// libcurl's multi loop waits at most this long for the socket, so KeepGoing and the stall
// bound are looked at well inside the contract's 200 ms.
constexpr int kPollMs = 100;
constexpr long kBufferSize = 256 * 1024;

enum class HEAD_VERDICT { Pending, Body, Redirect, Restart, Failed, Cancelled };

struct TRANSFER {
    WEB_FETCH_SINK* sink = nullptr;
    uint64_t resumeFrom = 0;
    long status = 0;
    bool haveRange = false;
    uint64_t rangeStart = 0;
    uint64_t rangeTotal = 0;   // 0: "*" or absent
    bool haveLength = false;
    uint64_t contentLength = 0;
    HEAD_VERDICT verdict = HEAD_VERDICT::Pending;
    std::string failure;
    CLOCK::time_point lastByte;
};

bool StartsWithNoCase(const char* line, size_t size, const char* prefix)
{
    size_t n = strlen(prefix);
    if (size < n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        char c = line[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

// Digits at p (up to end) into *value; false when none or the value overflows.
bool ParseU64(const char*& p, const char* end, uint64_t* value)
{
    uint64_t v = 0;
    const char* start = p;
    while (p < end && *p >= '0' && *p <= '9') {
        uint64_t digit = static_cast<uint64_t>(*p - '0');
        if (v > (UINT64_MAX - digit) / 10)
            return false;
        v = v * 10 + digit;
        ++p;
    }
    *value = v;
    return p != start;
}

void SkipBlanks(const char*& p, const char* end)
{
    while (p < end && (*p == ' ' || *p == '\t'))
        ++p;
}

// "Content-Range: bytes A-B/T" (T may be "*").
void ParseContentRange(TRANSFER& t, const char* p, const char* end)
{
    SkipBlanks(p, end);
    if (!StartsWithNoCase(p, static_cast<size_t>(end - p), "bytes"))
        return;
    p += 5;
    SkipBlanks(p, end);
    uint64_t first = 0, last = 0;
    if (!ParseU64(p, end, &first) || p == end || *p != '-')
        return;
    ++p;
    if (!ParseU64(p, end, &last) || p == end || *p != '/' || last < first)
        return;
    ++p;
    uint64_t total = 0;
    if (p < end && *p == '*')
        total = 0;
    else if (!ParseU64(p, end, &total) || total <= last)
        return;
    t.haveRange = true;
    t.rangeStart = first;
    t.rangeTotal = total;
}

// The head is complete: decide what this response is to us.
HEAD_VERDICT JudgeHead(TRANSFER& t)
{
    switch (t.status) {
    case 301: case 302: case 303: case 307: case 308:
        return HEAD_VERDICT::Redirect;
    case 200:
        return t.sink->OnStart(0, t.haveLength ? t.contentLength : 0) ? HEAD_VERDICT::Body
                                                                          : HEAD_VERDICT::Cancelled;
    case 206:
        if (!t.haveRange || t.rangeStart != t.resumeFrom)
            return HEAD_VERDICT::Restart;
        return t.sink->OnStart(t.resumeFrom, t.rangeTotal) ? HEAD_VERDICT::Body : HEAD_VERDICT::Cancelled;
    case 416:
        return HEAD_VERDICT::Restart;
    default:
        t.failure = "HTTP " + std::to_string(t.status);
        return HEAD_VERDICT::Failed;
    }
}

size_t OnHeader(char* data, size_t, size_t size, void* user)
{
    TRANSFER& t = *static_cast<TRANSFER*>(user);
    t.lastByte = CLOCK::now();
    const char* end = data + size;
    while (end > data && (end[-1] == '\r' || end[-1] == '\n'))
        --end;
    size_t length = static_cast<size_t>(end - data);
    if (StartsWithNoCase(data, length, "http/")) {
        // A new response (after a 100 Continue, say): forget the previous one's fields.
        const char* p = static_cast<const char*>(memchr(data, ' ', length));
        uint64_t code = 0;
        if (p) {
            ++p;
            ParseU64(p, end, &code);
        }
        t.status = static_cast<long>(code);
        t.haveRange = false;
        t.haveLength = false;
        return size;
    }
    if (StartsWithNoCase(data, length, "content-range:")) {
        ParseContentRange(t, data + 14, end);
        return size;
    }
    if (StartsWithNoCase(data, length, "content-length:")) {
        const char* p = data + 15;
        SkipBlanks(p, end);
        t.haveLength = ParseU64(p, end, &t.contentLength);
        return size;
    }
    if (length != 0 || t.status / 100 == 1)
        return size;
    t.verdict = JudgeHead(t);
    // Returning less than given stops the transfer before any body is taken.
    return t.verdict == HEAD_VERDICT::Body || t.verdict == HEAD_VERDICT::Redirect ? size : 0;
}

size_t OnBody(char* data, size_t, size_t size, void* user)
{
    TRANSFER& t = *static_cast<TRANSFER*>(user);
    t.lastByte = CLOCK::now();
    if (t.verdict == HEAD_VERDICT::Redirect)
        return size;   // a redirect's own body is nobody's business
    if (t.verdict != HEAD_VERDICT::Body)
        return 0;
    if (!t.sink->OnData(data, size)) {
        t.verdict = HEAD_VERDICT::Cancelled;
        return 0;
    }
    return size;
}

bool IsHttps(const std::string& url)
{
    return StartsWithNoCase(url.c_str(), url.size(), "https://");
}

bool IsWebUrl(const std::string& url)
{
    return IsHttps(url) || StartsWithNoCase(url.c_str(), url.size(), "http://");
}

struct EASY {
    CURL* handle = curl_easy_init();
    ~EASY() { if (handle) curl_easy_cleanup(handle); }
};

struct MULTI {
    CURLM* handle = curl_multi_init();
    CURL* added = nullptr;
    ~MULTI()
    {
        if (added)
            curl_multi_remove_handle(handle, added);
        if (handle)
            curl_multi_cleanup(handle);
    }
};

enum class HOP { Done, Redirect, Restart, Cancelled, Failed };

// One GET of url. On Redirect, *next holds the address to go on with.
HOP FetchOnce(const std::string& url, const WEB_FETCH_OPTIONS& options, uint64_t resumeFrom,
              WEB_FETCH_SINK* sink, std::string* next, std::string* reason)
{
    EASY easy;
    MULTI multi;
    if (!easy.handle || !multi.handle) {
        *reason = "libcurl could not start a transfer";
        return HOP::Failed;
    }
    TRANSFER t;
    t.sink = sink;
    t.resumeFrom = resumeFrom;
    char errorText[CURL_ERROR_SIZE] = {};
    CURL* h = easy.handle;
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    // No signals from a worker thread; SIGPIPE is ignored process-wide once the socket
    // library is started (WSAStartup), which covers TLS writes to a closed peer.
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connectTimeoutMs));
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kBufferSize);
    curl_easy_setopt(h, CURLOPT_USERAGENT, "Velgrim-launcher");
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &t);
    if (!options.caFile.empty()) {
        // The given authority alone: not the machine's directory of roots beside it.
        curl_easy_setopt(h, CURLOPT_CAINFO, options.caFile.c_str());
        curl_easy_setopt(h, CURLOPT_CAPATH, nullptr);
    }
    std::string range;
    if (resumeFrom > 0) {
        range = std::to_string(resumeFrom) + "-";
        curl_easy_setopt(h, CURLOPT_RANGE, range.c_str());
    }
    if (curl_multi_add_handle(multi.handle, h) != CURLM_OK) {
        *reason = "libcurl could not start a transfer";
        return HOP::Failed;
    }
    multi.added = h;

    const auto stallBound = std::chrono::milliseconds(options.stallTimeoutMs);
    t.lastByte = CLOCK::now();
    CURLcode outcome = CURLE_OK;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi.handle, &running) != CURLM_OK) {
            *reason = "libcurl failed";
            return HOP::Failed;
        }
        int queued = 0;
        bool finished = false;
        while (CURLMsg* message = curl_multi_info_read(multi.handle, &queued)) {
            if (message->msg == CURLMSG_DONE) {
                outcome = message->data.result;
                finished = true;
            }
        }
        if (finished || running == 0)
            break;
        if (!sink->KeepGoing())
            return HOP::Cancelled;
        if (CLOCK::now() - t.lastByte > stallBound) {
            *reason = "stalled";
            return HOP::Failed;
        }
        curl_multi_poll(multi.handle, nullptr, 0, kPollMs, nullptr);
    }

    switch (t.verdict) {
    case HEAD_VERDICT::Cancelled:
        return HOP::Cancelled;
    case HEAD_VERDICT::Restart:
        return HOP::Restart;
    case HEAD_VERDICT::Failed:
        *reason = t.failure;
        return HOP::Failed;
    default:
        break;
    }
    if (outcome != CURLE_OK) {
        *reason = errorText[0] ? errorText : curl_easy_strerror(outcome);
        return HOP::Failed;
    }
    if (t.verdict == HEAD_VERDICT::Redirect) {
        char* location = nullptr;
        curl_easy_getinfo(h, CURLINFO_REDIRECT_URL, &location);
        if (!location || !*location) {
            *reason = "HTTP " + std::to_string(t.status) + " without a Location";
            return HOP::Failed;
        }
        *next = location;
        return HOP::Redirect;
    }
    if (t.verdict != HEAD_VERDICT::Body) {
        *reason = "no response";
        return HOP::Failed;
    }
    return HOP::Done;
}

} // namespace

WEB_FETCH_RESULT WebFetch(const std::string& url, const WEB_FETCH_OPTIONS& options,
                          WEB_FETCH_SINK* sink, std::string* reason)
{
    static std::once_flag globalInit;
    static CURLcode globalResult = CURLE_OK;
    std::call_once(globalInit, [] { globalResult = curl_global_init(CURL_GLOBAL_DEFAULT); });
    std::string ignored;
    std::string& why = reason ? *reason : ignored;
    why.clear();
    if (globalResult != CURLE_OK) {
        why = "libcurl could not start";
        return WEB_FETCH_RESULT::Failed;
    }
    if (!IsWebUrl(url)) {
        why = "not an http:// or https:// address";
        return WEB_FETCH_RESULT::Failed;
    }
    uint64_t resumeFrom = options.resumeFrom;
    bool restarted = false;
    std::string current = url;
    int hops = 0;
    for (;;) {
        std::string next;
        switch (FetchOnce(current, options, resumeFrom, sink, &next, &why)) {
        case HOP::Done:
            return WEB_FETCH_RESULT::Done;
        case HOP::Cancelled:
            return WEB_FETCH_RESULT::Cancelled;
        case HOP::Failed:
            return WEB_FETCH_RESULT::Failed;
        case HOP::Restart:
            if (resumeFrom == 0 || restarted) {
                why = "the range answered is not the one asked";
                return WEB_FETCH_RESULT::Failed;
            }
            // The whole file once more, from the address first given.
            restarted = true;
            resumeFrom = 0;
            current = url;
            hops = 0;
            break;
        case HOP::Redirect:
            if (++hops > options.maxRedirects) {
                why = "more than " + std::to_string(options.maxRedirects) + " redirects";
                return WEB_FETCH_RESULT::Failed;
            }
            if (!IsWebUrl(next)) {
                why = "redirected to something other than http:// or https://";
                return WEB_FETCH_RESULT::Failed;
            }
            if (IsHttps(current) && !IsHttps(next)) {
                why = "redirect from https to http refused";
                return WEB_FETCH_RESULT::Failed;
            }
            current = next;
            break;
        }
    }
}
