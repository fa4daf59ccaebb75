#include "launcher/release_manifest_fetch.h"

#include <memory>

#include "common/trace_log.h"
#include "net/http_get.h"
#include "release/signed_manifest.h"

bool FetchReleaseManifest(const char* host, int port, const char* path, const uint8_t publicKey[P256_PUBLIC_KEY_SIZE],
                          int64_t now, RELEASE_MANIFEST* manifest, std::string* reason)
{
    // The browser holds the whole response (128 KB): on the heap, not the stack.
    auto browser = std::make_unique<RX_HTTP_BROWSER>();
    int size = 0;
    const char* body = HttpGetBody(*browser, host, port, path[0] == '/' ? path + 1 : path, &size);
    if (body == nullptr) {
        *reason = "no answer from " + std::string(host) + ":" + std::to_string(port);
        return false;
    }
    const int status = HttpStatusCode(*browser);
    if (status != 200) {
        if (status == 0)
            *reason = "not an HTTP answer";
        else if (status == 404)
            *reason = "missing (HTTP 404)";
        else
            *reason = "not served (HTTP status " + std::to_string(status) + ")";
        return false;
    }
    if (!browser->BodyComplete()) {
        *reason = "cut short (" + std::to_string(size) +
                  (browser->m_bChunked ? " bytes, no last chunk)"
                                       : " of " + std::to_string(browser->m_iContentLength) + " bytes)");
        return false;
    }
    if (static_cast<size_t>(size) > RELEASE_MANIFEST::kMaxSize) {
        *reason = "larger than " + std::to_string(RELEASE_MANIFEST::kMaxSize) + " bytes";
        return false;
    }
    return AcceptReleaseManifest(body, static_cast<size_t>(size), publicKey, now, manifest, reason);
}

bool FetchNewestReleaseManifest(const char* host, int port, const char* path3, const char* path2, const char* path1,
                                const uint8_t publicKey[P256_PUBLIC_KEY_SIZE], int64_t now,
                                RELEASE_MANIFEST* manifest, std::string* reason)
{
    const char* const newer[][2] = {{path3, path2}, {path2, path1}};
    for (const auto& [path, next] : newer) {
        std::string why;
        if (FetchReleaseManifest(host, port, path, publicKey, now, manifest, &why))
            return true;
        *manifest = RELEASE_MANIFEST();
        g_trace->Log("launcher: the release manifest %s is not taken (%s); trying %s\n", path, why.c_str(), next);
    }
    return FetchReleaseManifest(host, port, path1, publicKey, now, manifest, reason);
}

bool ServerMatchesManifest(const RELEASE_MANIFEST& manifest, uint32_t gameVersion, uint32_t updaterVersion,
                           std::string* reason)
{
    if (gameVersion == manifest.gameVersion && updaterVersion == manifest.updaterVersion)
        return true;
    *reason = "the update server offers game " + std::to_string(gameVersion) + ", updater " +
              std::to_string(updaterVersion) + "; the manifest game " + std::to_string(manifest.gameVersion) +
              ", updater " + std::to_string(manifest.updaterVersion);
    return false;
}
