// One file over HTTP/1.1 from a mirror (a CDN, an object store, any plain web cache),
// through the platform's own HTTP: libcurl on Linux, WinHTTP on Windows. The bytes are
// not trusted here: the caller checks them against the signed manifest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct WEB_FETCH_OPTIONS {
    uint64_t resumeFrom = 0;          // bytes held; sends Range: bytes=N- when > 0
    unsigned connectTimeoutMs = 10000;
    unsigned stallTimeoutMs = 15000;  // no body byte for this long: Failed "stalled"
    int maxRedirects = 5;             // https -> http never followed
    std::string caFile;               // PEM authority for tests instead of the system's roots ("" = system)
};

class WEB_FETCH_SINK {
public:
    virtual ~WEB_FETCH_SINK() = default;
    // Before the first body byte: the offset of that byte (resumeFrom on a 206 that starts
    // there, 0 on a 200 or after a restart) and the whole size when known (0 unknown).
    virtual bool OnStart(uint64_t start, uint64_t total) = 0;
    virtual bool OnData(const void* data, size_t size) = 0;   // false: stop (Cancelled)
    virtual bool KeepGoing() = 0;     // polled at least every 200 ms; false: Cancelled
};

enum class WEB_FETCH_RESULT { Done, Cancelled, Failed };

// 206 whose Content-Range starts at resumeFrom: goes on. 200 (range ignored): OnStart(0, ...).
// 416, or a 206 starting elsewhere: one more GET without Range, then OnStart(0, ...).
// Other statuses: Failed with reason "HTTP <code>". Blocking: run it on a worker thread
// when a window must stay live. reason may be null.
WEB_FETCH_RESULT WebFetch(const std::string& url, const WEB_FETCH_OPTIONS& options,
                          WEB_FETCH_SINK* sink, std::string* reason);
