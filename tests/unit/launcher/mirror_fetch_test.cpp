// The mirrors' worker against scripted loopback mirrors: which mirror the file comes from,
// what each request asked (the Range from the part held), and what is left on the disk.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <thread>

#include "downloader/resume_record.h"
#include "launcher/mirror_fetch.h"
#include "protocol/update_protocol.h"
#include "release/hex_text.h"
#include "support/http_script_server.h"
#include "support/temp_dir.h"

namespace {

using STEP = HTTP_SCRIPT_SERVER::STEP;
constexpr size_t kSize = 65536;
constexpr size_t kHalf = kSize / 2;

std::string Bytes(unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(kSize, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

const std::string kFile = Bytes(1);
const std::string kOther = Bytes(2);

std::string Partial(size_t from)
{
    return "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(from) + "-" +
           std::to_string(kSize - 1) + "/" + std::to_string(kSize) + "\r\nContent-Length: " +
           std::to_string(kSize - from) + "\r\n\r\n" + kFile.substr(from);
}

std::string CutAtHalf()
{
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kSize) + "\r\n\r\n" + kFile.substr(0, kHalf);
}

std::string RangeAsked(const std::string& request)
{
    const size_t at = request.find("\r\nRange: ");
    return at == std::string::npos ? "" : request.substr(at + 9, request.find("\r\n", at + 2) - at - 9);
}

MIRROR_FETCH::STATE WaitEnd(MIRROR_FETCH& fetch)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (fetch.Poll() == MIRROR_FETCH::RUNNING && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return fetch.Poll();
}

class MirrorFetch : public testing::Test {
protected:
    MIRROR_JOB Job(const std::vector<std::string>& mirrors)
    {
        MIRROR_JOB job;
        job.mirrors = mirrors;
        job.path = path;
        job.kind = FILE_KIND_PATCH;
        job.base = 5;
        job.size = kSize;
        SHA256_STREAM sha;
        EXPECT_TRUE(sha.Update(kFile.data(), kFile.size()) && sha.Final(job.sha256));
        job.options.stallTimeoutMs = 1000;
        return job;
    }

    // A part of bytes held beside the file, recorded as this job's (the tag of its hash).
    void Hold(const std::string& bytes)
    {
        ASSERT_TRUE(WriteWholeFile(path + ".part", bytes));
        RESUME_RECORD record;
        record.kind = FILE_KIND_PATCH;
        record.size = kSize;
        record.tag = ResumeTagOfDigest(Job({}).sha256);
        record.base = 5;
        ASSERT_TRUE(WriteResumeRecord(path, record));
    }

    TEMP_DIR dir;
    const std::string path = dir / "Velgrim_patch.rxpack";
};

std::string MirrorOf(const HTTP_SCRIPT_SERVER& server)
{
    return "http://127.0.0.1:" + std::to_string(server.Port()) + "/cdn";
}

} // namespace

TEST(MirrorObjectUrl, TheBaseThenObjectsThenTheHash)
{
    uint8_t sha[SHA256_DIGEST_SIZE];
    for (size_t i = 0; i < sizeof(sha); ++i)
        sha[i] = static_cast<uint8_t>(i * 7);
    const std::string hex = HexLower(sha, sizeof(sha));
    EXPECT_EQ(MirrorObjectUrl("https://cdn.example.com/velgrim/", sha), "https://cdn.example.com/velgrim/objects/" + hex);
    EXPECT_EQ(MirrorObjectUrl("http://10.0.0.5:8080", sha), "http://10.0.0.5:8080/objects/" + hex);
}

TEST_F(MirrorFetch, EachMirrorInTurnUntilOneServesTheManifestsBytes)
{
    // Each platform's client words a cut its own way.
#ifdef _WIN32
    const char* const kCutShort = "the connection was cut after 32768 of 65536 bytes";
#else
    const char* const kCutShort = "transfer closed";
#endif
    struct CASE {
        const char* name;
        std::string held; // the part kept before ("" none)
        std::vector<std::vector<std::vector<STEP>>> mirrors; // per mirror, per connection; empty: down
        MIRROR_FETCH::STATE end;
        std::vector<std::vector<std::string>> ranges; // asked, per mirror and connection
        std::vector<std::string> failures;            // each one's start
    };
    const std::string whole = HttpResponse(kFile);
    const CASE cases[] = {
        {"first down", "", {{}, {{{0, whole}}}}, MIRROR_FETCH::ARRIVED, {{}, {""}}, {"http://127.0.0.1"}},
        {"other bytes, then the next", "", {{{{0, HttpResponse(kOther)}}}, {{{0, whole}}}}, MIRROR_FETCH::ARRIVED,
         {{""}, {""}}, {"not the manifest's file (SHA-256 differs)"}},
        {"another size, not a byte taken", "", {{{{0, HttpResponse(kFile + "x")}}}, {{{0, whole}}}},
         MIRROR_FETCH::ARRIVED, {{""}, {""}}, {"it serves 65537 bytes, the manifest names 65536"}},
        {"cut, then gone on with by a Range", "", {{{{0, CutAtHalf()}}, {{0, Partial(kHalf)}}}},
         MIRROR_FETCH::ARRIVED, {{"", "bytes=32768-"}}, {kCutShort}},
        {"a held part goes on", kFile.substr(0, 1000), {{{{0, Partial(1000)}}}}, MIRROR_FETCH::ARRIVED,
         {{"bytes=1000-"}}, {}},
        {"a held part of other bytes: the whole file once more", kOther.substr(0, kHalf),
         {{{{0, Partial(kHalf)}}, {{0, whole}}}}, MIRROR_FETCH::ARRIVED, {{"bytes=32768-", ""}},
         {"not the manifest's file (SHA-256 differs); the whole file once more"}},
        {"none serves it", "", {{{{0, HttpResponse("no", "404 Not Found")}}}}, MIRROR_FETCH::FAILED, {{""}},
         {"HTTP 404"}},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.name);
        RemoveKeptPart(path);
        std::remove(path.c_str());
        if (!c.held.empty())
            Hold(c.held);
        std::vector<std::unique_ptr<HTTP_SCRIPT_SERVER>> servers;
        std::vector<std::string> mirrors;
        for (const auto& scripts : c.mirrors) {
            if (scripts.empty()) {
                mirrors.push_back("http://127.0.0.1:" + std::to_string(RefusedLoopbackPort()) + "/");
                servers.emplace_back();
                continue;
            }
            servers.emplace_back(new HTTP_SCRIPT_SERVER(scripts));
            mirrors.push_back(MirrorOf(*servers.back()));
        }
        MIRROR_FETCH fetch;
        fetch.Start(Job(mirrors));
        const MIRROR_FETCH::STATE end = WaitEnd(fetch);
        const std::vector<std::string> failures = fetch.Failures();
        EXPECT_EQ(end, c.end);
        std::string got;
        EXPECT_EQ(ReadWholeFile(path, &got), c.end == MIRROR_FETCH::ARRIVED);
        if (c.end == MIRROR_FETCH::ARRIVED) {
            EXPECT_TRUE(got == kFile);
            EXPECT_FALSE(FileExists(path + ".part"));
            EXPECT_FALSE(FileExists(path + ".resume"));
        }
        ASSERT_EQ(failures.size(), c.failures.size());
        for (size_t i = 0; i < failures.size(); ++i)
            EXPECT_NE(failures[i].find(c.failures[i]), std::string::npos) << failures[i];
        for (size_t m = 0; m < servers.size(); ++m) {
            if (!servers[m])
                continue;
            servers[m]->Join();
            std::vector<std::string> ranges;
            for (const std::string& request : servers[m]->Requests()) {
                EXPECT_EQ(request.compare(0, 17, "GET /cdn/objects/"), 0) << request;
                ranges.push_back(RangeAsked(request));
            }
            EXPECT_EQ(ranges, c.ranges[m]) << "mirror " << m;
        }
    }
}

TEST_F(MirrorFetch, CancelEndsItAtOnceAndKeepsThePart)
{
    HTTP_SCRIPT_SERVER stalls({{0, CutAtHalf().substr(0, CutAtHalf().size() - 1000)}, {20000, "x"}});
    MIRROR_FETCH fetch;
    MIRROR_JOB job = Job({MirrorOf(stalls)});
    job.options.stallTimeoutMs = 30000;
    fetch.Start(job);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (fetch.Received() < kHalf - 1000 && fetch.Poll() == MIRROR_FETCH::RUNNING &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (fetch.Poll() == MIRROR_FETCH::FAILED)
        GTEST_SKIP() << fetch.Failures()[0];
    const auto began = std::chrono::steady_clock::now();
    fetch.Cancel();
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(1000));
    EXPECT_EQ(fetch.Poll(), MIRROR_FETCH::CANCELLED);
    RESUME_POINT held;
    ASSERT_TRUE(FindResumablePart(path, FILE_KIND_PATCH, &held));
    EXPECT_EQ(held.offset, kHalf - 1000);
    EXPECT_EQ(held.size, kSize);
}

TEST(ChooseManifestPackage, TheServersChoiceAmongTheManifestsPackages)
{
    const uint32_t Z = PACKAGE_FEATURE_ZSTD, D = PACKAGE_FEATURE_DELTA, R = PACKAGE_FEATURE_REMOVALS;
    RELEASE_MANIFEST manifest;
    manifest.format = 3;
    const std::pair<uint32_t, uint32_t> lines[] = {{PACKAGE_BASE_CUMULATIVE, 0}, {PACKAGE_BASE_FULL, 0},
                                                   {PACKAGE_BASE_FULL, Z}, {5, 0}, {5, Z}, {5, Z | D}, {6, 0}};
    for (const auto& [base, features] : lines) {
        MANIFEST_PACKAGE package;
        package.base = base;
        package.features = features;
        package.size = manifest.packages.size() + 1;
        manifest.packages.push_back(package);
    }
    const struct {
        uint32_t installed;
        uint32_t features;
        uint32_t base;
        uint32_t variant;
    } cases[] = {
        {5, R | Z | D, 5, Z | D},
        {5, R | Z, 5, Z},
        {5, R, 5, 0},
        {5, Z | D, PACKAGE_BASE_FULL, Z},   // no removals: not a package from 5
        {6, R | Z | D, 6, 0},
        {7, R | Z | D, PACKAGE_BASE_FULL, Z},
        {0, R | Z | D, PACKAGE_BASE_FULL, Z},
        {0, R, PACKAGE_BASE_FULL, 0},
    };
    for (const auto& c : cases) {
        const MANIFEST_PACKAGE* chosen = ChooseManifestPackage(manifest, c.installed, c.features);
        ASSERT_NE(chosen, nullptr);
        EXPECT_EQ(chosen->base, c.base) << c.installed << "/" << c.features;
        EXPECT_EQ(chosen->features, c.variant) << c.installed << "/" << c.features;
    }
    // Without a full package, the cumulative one.
    manifest.packages.erase(manifest.packages.begin() + 1, manifest.packages.begin() + 3);
    const MANIFEST_PACKAGE* chosen = ChooseManifestPackage(manifest, 7, R | Z | D);
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(chosen->base, PACKAGE_BASE_CUMULATIVE);
}
