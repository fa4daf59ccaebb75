// The downloader going on from a kept part, against a scripted server.
#include <gtest/gtest.h>

#include <string>

#include "downloader/downloader.h"
#include "downloader/resume_record.h"
#include "platform/crypto.h"
#include "support/downloader_peer.h"
#include "support/temp_dir.h"

namespace {

const std::string kPatch = "Velgrim_patch.rxpack";
const std::string kPatchZ = kPatch + '\0';

uint32_t TagOf(const std::string& bytes)
{
    uint8_t digest[SHA256_DIGEST_SIZE];
    EXPECT_TRUE(Sha256(bytes.data(), bytes.size(), digest));
    return ResumeTagOfDigest(digest);
}

std::string Record(uint32_t kind, uint32_t size, uint32_t tag)
{
    RESUME_RECORD record;
    record.kind = kind;
    record.size = size;
    record.tag = tag;
    return record.Encode();
}

std::string ResumableBegin(uint32_t size, uint32_t tag, uint32_t start)
{
    return PackageBeginFrame(kPatchZ, size, tag, start, PACKAGE_BASE_CUMULATIVE);
}

// The package request of a launcher with no version.txt, which understands removals.
std::string Asked(uint64_t offset, uint32_t tag)
{
    return Hex(PackageRequestFrame(1002, offset, tag, 0, PACKAGE_FEATURE_REMOVALS | PACKAGE_FEATURE_ZSTD));
}

struct HELD {
    TEMP_DIR dir;
    std::string target = dir / "target";
    std::string part = target + "/" + kPatch + ".part";
    std::string record = target + "/" + kPatch + ".resume";
    std::string file = target + "/" + kPatch;

    HELD() { CreateDirectoryA(target.c_str(), nullptr); }
};

} // namespace

// A tag is never 0 or 1, which say "plain client" and "nothing held" in a request.
TEST(ResumeTag, TheDigestsFirstFourBytesLittleEndianAbove1)
{
    const uint8_t zero[SHA256_DIGEST_SIZE] = {0};
    const uint8_t one[SHA256_DIGEST_SIZE] = {1};
    const uint8_t some[SHA256_DIGEST_SIZE] = {0x78, 0x56, 0x34, 0x12, 0xFF};
    EXPECT_EQ(ResumeTagOfDigest(zero), 2u);
    EXPECT_EQ(ResumeTagOfDigest(one), 2u);
    EXPECT_EQ(ResumeTagOfDigest(some), 0x12345678u);
}

// The record's bytes: "VGR2", kind, 64-bit size, tag, base.
TEST(ResumeRecord, Bytes)
{
    RESUME_RECORD record;
    record.kind = 1002;
    record.size = 0x123456789ull;
    record.tag = 0xA1B2C3D4u;
    record.base = 7;
    EXPECT_EQ(Hex(record.Encode()), "56 47 52 32 EA 03 00 00 89 67 45 23 01 00 00 00 D4 C3 B2 A1 07 00 00 00");
}

// A part and record are asked to be gone on with only when they fit together; any other
// leftover is deleted and the request asks for nothing (offset 0, tag 1). A whole part is
// asked for from its last byte, to be checked whole.
TEST(DownloaderResume, OnlyAPartThatFitsItsRecordIsAskedFor)
{
    struct CASE {
        const char* what;
        const char* part;   // null: none
        std::string record; // "": none
        uint32_t offset, tag;
    };
    const CASE cases[] = {
        {"a part of the recorded file", "abcd", Record(1002, 10, 0x55), 4, 0x55},
        {"nothing", nullptr, "", 0, 1},
        {"a record without its part", nullptr, Record(1002, 10, 0x55), 0, 1},
        {"a part without a record", "abcd", "", 0, 1},
        {"a record of the other kind", "abcd", Record(1003, 10, 0x55), 0, 1},
        {"an empty part", "", Record(1002, 10, 0x55), 0, 1},
        {"a part as long as the file", "abcdefghij", Record(1002, 10, 0x55), 9, 0x55},
        {"a part longer than the file", "abcdefghijk", Record(1002, 10, 0x55), 0, 1},
        {"a record cut short", "abcd", Record(1002, 10, 0x55).substr(0, 12), 0, 1},
        {"a record of the previous release", "abcd", "VGRS" + Dword(1002) + Dword(10) + Dword(0x55), 4, 0x55},
        {"a record tag of 0", "abcd", Record(1002, 10, 0), 0, 1},
        {"a record tag of 1", "abcd", Record(1002, 10, 1), 0, 1},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        HELD held;
        if (c.part != nullptr) {
            ASSERT_TRUE(WriteWholeFile(held.part, c.part));
        }
        if (!c.record.empty()) {
            ASSERT_TRUE(WriteWholeFile(held.record, c.record));
        }
        DOWNLOADER downloader;
        DOWNLOADER_PEER peer;
        std::string request;
        ASSERT_TRUE(peer.RequestPackage(downloader, FILE_KIND_PATCH, held.target, &request));
        EXPECT_EQ(Hex(request), Asked(c.offset, c.tag));
        const bool kept = c.offset != 0;
        EXPECT_EQ(FileExists(held.part), kept);
        EXPECT_EQ(FileExists(held.record), kept);
    }
}

// What the server answers decides what becomes of a held part of 1000 bytes: gone on
// with (progress counting the kept bytes), started again, or the transfer failed. A
// transfer cut short keeps every byte that came, and its record.
TEST(DownloaderResume, TheAnswerDecidesWhatBecomesOfThePart)
{
    const std::string file = std::string(1000, 'k') + std::string(2000, 'n');
    const uint32_t tag = TagOf(file);
    struct CASE {
        const char* what;
        std::string part;  // held before the request
        std::string begin; // the server's announcement
        std::string after; // what it sends next
        bool closeAfter;   // the server then closes
        bool error, canGoOn;
        uint32_t receivedAfterBegin;
        const char* final; // the file afterwards (null: none)
        std::string partAfter;
        bool recordAfter;
    };
    const std::string held = file.substr(0, 1000);
    const std::string rest = DataFrame(file.substr(1000, 1200)) + DataFrame(file.substr(2200)) + EndFrame();
    const std::string goOn = ResumableBegin(3000, tag, 1000);
    const std::string cutChunk = FrameHeader(MSG_FILE_DATA, 1504) + Dword(1500) + file.substr(1000, 700);
    const CASE cases[] = {
        {"goes on from the part", held, goOn, rest, false, false, false, 1000, file.c_str(), "", false},
        {"starts again under another tag", held, ResumableBegin(3000, tag == 2 ? 3 : 2, 0), DataFrame(file) + EndFrame(),
         false, false, false, 0, file.c_str(), "", false},
        {"goes on from an offset not asked for", held, ResumableBegin(3000, tag, 500), "", false, true, false, 0,
         nullptr, held, true},
        {"cut in the middle of a chunk", held, goOn, cutChunk, true, true, true, 1000, nullptr, file.substr(0, 1700),
         true},
        {"the server fails the file", held, goOn, Frame(MSG_FILE_FAILED, ""), false, true, true, 1000, nullptr, held,
         true},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        HELD h;
        ASSERT_TRUE(WriteWholeFile(h.part, c.part));
        ASSERT_TRUE(WriteWholeFile(h.record, Record(1002, 3000, tag)));
        DOWNLOADER downloader;
        DOWNLOADER_PEER peer;
        std::string request;
        ASSERT_TRUE(peer.RequestPackage(downloader, FILE_KIND_PATCH, h.target, &request));
        EXPECT_EQ(Hex(request), Asked(1000, tag));
        ASSERT_TRUE(peer.Send(c.begin));
        ASSERT_TRUE(PumpUntil(downloader, [&] { return downloader.GetTotalSize() != 0 || downloader.IsError(); }));
        if (!downloader.IsError()) {
            EXPECT_EQ(downloader.GetReceivedSize(), c.receivedAfterBegin) << "progress counts the kept bytes";
        }
        ASSERT_TRUE(peer.Send(c.after));
        if (c.closeAfter)
            peer.Close();
        ASSERT_TRUE(PumpUntil(downloader, [&] { return downloader.IsCompleteOrError(); }));
        EXPECT_EQ(downloader.IsError(), c.error);
        EXPECT_EQ(downloader.CanGoOn(), c.canGoOn);
        std::string bytes;
        EXPECT_EQ(ReadWholeFile(h.file, &bytes), c.final != nullptr);
        if (c.final != nullptr) {
            EXPECT_TRUE(bytes == c.final) << "the file differs";
        }
        std::string part;
        EXPECT_EQ(ReadWholeFile(h.part, &part), !c.partAfter.empty());
        EXPECT_TRUE(part == c.partAfter) << part.size() << " bytes in the part";
        EXPECT_EQ(FileExists(h.record), c.recordAfter);
    }
}

// A transfer cut inside a large chunk (taken in pieces) keeps every byte that came, those
// handed over in pieces and those that were waiting, and goes on from there.
TEST(DownloaderResume, ACutInsideALargeChunkKeepsEveryByteThatCame)
{
    std::string file(400000, '\0');
    for (size_t i = 0; i < file.size(); ++i)
        file[i] = static_cast<char>(i * 31 + i / 1013);
    const uint32_t tag = TagOf(file);
    const std::string chunk = DataFrame(file);
    for (size_t cut : {size_t{10000}, size_t{150000}}) {
        SCOPED_TRACE(cut);
        HELD h;
        DOWNLOADER downloader;
        DOWNLOADER_PEER peer;
        ASSERT_TRUE(peer.RequestPackage(downloader, FILE_KIND_PATCH, h.target));
        ASSERT_TRUE(peer.Send(ResumableBegin(400000, tag, 0) + chunk.substr(0, 8 + 4 + 100000)));
        ASSERT_TRUE(PumpUntil(downloader, [&] { return downloader.GetReceivedSize() > 0; }));
        ASSERT_TRUE(peer.Send(chunk.substr(8 + 4 + 100000, cut)));
        peer.Close();
        ASSERT_TRUE(PumpUntil(downloader, [&] { return downloader.IsCompleteOrError(); }));
        EXPECT_TRUE(downloader.CanGoOn());
        std::string part;
        ASSERT_TRUE(ReadWholeFile(h.part, &part));
        EXPECT_TRUE(part == file.substr(0, 100000 + cut)) << part.size() << " bytes in the part";
        EXPECT_TRUE(FileExists(h.record));

        DOWNLOADER again;
        DOWNLOADER_PEER second;
        std::string request;
        ASSERT_TRUE(second.RequestPackage(again, FILE_KIND_PATCH, h.target, &request));
        EXPECT_EQ(Hex(request), Asked(100000 + cut, tag));
        ASSERT_TRUE(second.Send(ResumableBegin(400000, tag, static_cast<uint32_t>(100000 + cut)) +
                                DataFrame(file.substr(100000 + cut)) + EndFrame()));
        ASSERT_TRUE(PumpUntil(again, [&] { return again.IsCompleteOrError(); }));
        EXPECT_FALSE(again.IsError());
        std::string whole;
        ASSERT_TRUE(ReadWholeFile(h.file, &whole));
        EXPECT_TRUE(whole == file);
    }
}
