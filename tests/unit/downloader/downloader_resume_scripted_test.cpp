// The edges of going on from a kept part, against a scripted server that announced
// packages: a start outside the file, a size that is not the kept file's, an announcement
// nobody asked for on a new connection, and a part that is already whole.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "downloader/downloader.h"
#include "platform/crypto.h"
#include "support/downloader_peer.h"
#include "support/temp_dir.h"

namespace {

const std::string kPatchZ = std::string("Velgrim_patch.rxpack") + '\0';

uint32_t TagOf(const std::string& bytes)
{
    uint8_t digest[SHA256_DIGEST_SIZE];
    EXPECT_TRUE(Sha256(bytes.data(), bytes.size(), digest));
    return ResumeTagOfDigest(digest);
}

} // namespace

TEST(DownloaderResumeEdges, AKeptPartIsGoneOnWithOnlyInsideTheFileItWasKeptFor)
{
    const std::string file = std::string(1000, 'k') + std::string(2000, 'n');
    const uint32_t tag = TagOf(file);
    const uint64_t size = file.size();
    struct CASE {
        const char* what;
        // The first connection: the transfer from the beginning, cut after these frames.
        std::string first;
        // The second connection: frames sent before any request (then nothing is asked),
        // or the answer to the request expected.
        std::string unasked;
        std::string expectedRequest;
        std::string answer;
        bool error;
        const char* final; // the file afterwards (null: none)
        size_t partAfter;  // bytes of the part afterwards
    };
    const std::string begin = PackageBeginFrame(kPatchZ, size, tag, 0, PACKAGE_BASE_CUMULATIVE);
    const std::string firstThousand = begin + DataFrame(file.substr(0, 1000));
    const std::string whole = begin + DataFrame(file.substr(0, 1500)) + DataFrame(file.substr(1500));
    const std::string goOn = Hex(PackageRequestFrame(1002, 1000, tag, 0, PACKAGE_FEATURE_REMOVALS | PACKAGE_FEATURE_ZSTD));
    const std::vector<CASE> cases = {
        {"a start at the asked offset, past a smaller size", firstThousand, "", goOn,
         PackageBeginFrame(kPatchZ, 500, tag, 1000, PACKAGE_BASE_CUMULATIVE) + DataFrame(std::string(600, 'x')), true,
         nullptr, 1000},
        {"a start inside, a size other than the kept file's", firstThousand, "", goOn,
         PackageBeginFrame(kPatchZ, 5000, tag, 1000, PACKAGE_BASE_CUMULATIVE) + DataFrame(std::string(600, 'x')),
         true, nullptr, 1000},
        {"a start at the size", firstThousand, "", goOn,
         PackageBeginFrame(kPatchZ, 1000, tag, 1000, PACKAGE_BASE_CUMULATIVE), true, nullptr, 1000},
        {"an announcement before the request on the new connection", firstThousand,
         BeginFrame(kPatchZ, static_cast<uint32_t>(size)) + DataFrame("zzz"), "", "", true, nullptr, 1000},
        {"goes on from the kept part", firstThousand, "", goOn,
         PackageBeginFrame(kPatchZ, size, tag, 1000, PACKAGE_BASE_CUMULATIVE) + DataFrame(file.substr(1000)) +
             EndFrame(),
         false, file.c_str(), 0},
        // Every byte came, the end did not: asked from the last byte, then checked whole.
        {"a whole part", whole, "", Hex(PackageRequestFrame(1002, size - 1, tag, 0, PACKAGE_FEATURE_REMOVALS | PACKAGE_FEATURE_ZSTD)),
         PackageBeginFrame(kPatchZ, size, tag, size - 1, PACKAGE_BASE_CUMULATIVE) + DataFrame(file.substr(size - 1)) +
             EndFrame(),
         false, file.c_str(), 0},
        {"a whole part whose last byte is another", whole, "",
         Hex(PackageRequestFrame(1002, size - 1, tag, 0, PACKAGE_FEATURE_REMOVALS | PACKAGE_FEATURE_ZSTD)),
         PackageBeginFrame(kPatchZ, size, tag, size - 1, PACKAGE_BASE_CUMULATIVE) + DataFrame("?") + EndFrame(), true,
         nullptr, 0},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        TEMP_DIR dir;
        const std::string target = dir / "target";
        const std::string path = target + "/Velgrim_patch.rxpack";
        DOWNLOADER downloader;
        {
            DOWNLOADER_PEER first;
            ASSERT_TRUE(first.RequestPackage(downloader, FILE_KIND_PATCH, target));
            ASSERT_TRUE(first.Send(c.first));
            // Everything the first connection sent is taken before it is cut.
            const uint64_t sent = c.first == whole ? size : 1000;
            ASSERT_TRUE(PumpUntil(downloader, [&] { return downloader.GetReceivedSize() >= sent; }));
            first.Close();
            ASSERT_TRUE(PumpUntil(downloader, [&] { return downloader.IsCompleteOrError(); }));
            ASSERT_TRUE(downloader.CanGoOn());
        }
        DOWNLOADER_PEER second;
        ASSERT_TRUE(second.Connect(downloader));
        ASSERT_TRUE(second.Announce(downloader, SERVER_CAPS_MAGIC | SERVER_CAP_PACKAGES));
        if (!c.unasked.empty()) {
            ASSERT_TRUE(second.Send(c.unasked));
            EXPECT_TRUE(second.WaitClosed(downloader));
        } else {
            ASSERT_TRUE(downloader.GetFile(FILE_KIND_PATCH, target.c_str()));
            std::string request;
            ASSERT_TRUE(second.Expect(downloader, 36, &request));
            EXPECT_EQ(Hex(request), c.expectedRequest);
            ASSERT_TRUE(second.Send(c.answer));
            EXPECT_TRUE(PumpUntil(downloader, [&] { return downloader.IsCompleteOrError(); }));
        }
        EXPECT_EQ(downloader.IsError(), c.error);
        std::string bytes;
        EXPECT_EQ(ReadWholeFile(path, &bytes), c.final != nullptr);
        EXPECT_TRUE(c.final == nullptr || bytes == c.final) << "the file differs";
        std::string part;
        ReadWholeFile(path + ".part", &part);
        EXPECT_EQ(part.size(), c.partAfter);
        EXPECT_TRUE(part == file.substr(0, c.partAfter)) << "the kept part was changed";
    }
}
