// Packages past 2 GiB and 4 GiB, where 32-bit offsets and sizes would turn negative or
// wrap. The files are sparse: only the head and the contents hold bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pack/pack_checker.h"
#include "pack/pack_unpacker.h"
#include "pack_test_util.h"
#include "platform/file_handle.h"
#include "platform/file_io.h"
#include "support/temp_dir.h"

using namespace pack_test;

namespace {

const uint64_t kGiB = 1ull << 30;

struct FAR_ENTRY {
    std::string name;
    uint64_t offset;
    uint32_t size;           // as the table gives it
    std::string content;     // the bytes written at offset
};

// header | table | names at the start, each content at its own offset; the file ends at
// `end` (0: after the last content).
bool WriteSparsePackage(const std::string& path, const std::vector<FAR_ENTRY>& entries, uint64_t end = 0)
{
    std::vector<ENTRY> named;
    for (const FAR_ENTRY& e : entries)
        named.push_back({e.name, ""});
    std::string head = BuildPackage(named);
    for (size_t i = 0; i < entries.size(); ++i) {
        PutU64(head, EntryAt(i), entries[i].offset);
        PutU32(head, EntryAt(i) + 8, entries[i].size);
    }
    FILE_HANDLE file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid() || !WriteWhole(file.Get(), head.data(), head.size()))
        return false;
    for (const FAR_ENTRY& e : entries) {
        if (!SeekFile(file.Get(), e.offset) || !WriteWhole(file.Get(), e.content.data(), e.content.size()))
            return false;
    }
    return end == 0 || (SeekFile(file.Get(), end) && SetEndOfFile(file.Get()));
}

} // namespace

TEST(PackageFarOffsets, ContentsPast2And4GiBAreReadFromThere)
{
    TEMP_DIR dir;
    const std::string package = dir / "patch.rxpack";
    // Read through a 32-bit offset, b.bin would come from the head at 0x20 and c.bin's
    // offset would turn negative.
    const std::vector<FAR_ENTRY> entries = {
        {"a.bin", 2 * kGiB - 8, 5000, Pattern(5000, 1)},     // across the 2 GiB line
        {"b.bin", 4 * kGiB + 0x20, 70000, Pattern(70000, 2)}, // past 4 GiB
        {"c.bin", 4 * kGiB - 3, 9, Pattern(9, 3)},            // across the 4 GiB line
    };
    ASSERT_TRUE(WriteSparsePackage(package, entries));
    std::string problem;
    EXPECT_TRUE(VerifyPackage(package, &problem)) << problem;
    EVENT_RECORDER recorder;
    const std::string target = dir / "game";
    EXPECT_EQ(PACK_UNPACKER().Unpack(package.c_str(), target.c_str(), EVENT_RECORDER::Callback), 0);
    for (const FAR_ENTRY& e : entries) {
        std::string bytes;
        EXPECT_TRUE(ReadWholeFile(target + "/" + e.name, &bytes)) << e.name;
        EXPECT_TRUE(bytes == e.content) << e.name << ": " << bytes.size() << " bytes differ";
        const std::vector<int> progress = recorder.Progress(Joined(target, e.name));
        ASSERT_FALSE(progress.empty()) << e.name;
        EXPECT_EQ(progress.back(), 100) << e.name;
    }
}

TEST(PackageFarOffsets, RangesPastTheEndAreRefused)
{
    // Each range ends past the file, which a 32-bit sum of offset and size would miss.
    const struct {
        const char* what;
        FAR_ENTRY entry;
        uint64_t end;
        bool sound;
    } cases[] = {
        {"4 GiB - 16 + 32 in a file of 4 GiB + 8", {"a.bin", 4 * kGiB - 16, 32, "x"}, 4 * kGiB + 8, false},
        {"the same in a file long enough", {"a.bin", 4 * kGiB - 16, 32, "x"}, 4 * kGiB + 16, true},
        {"a size above 2 GiB inside the file", {"a.bin", 4096, 0x80000010u, "x"}, 2 * kGiB + 4096 + 16, true},
        {"a size above 2 GiB one byte too long", {"a.bin", 4096, 0x80000011u, "x"}, 2 * kGiB + 4096 + 16, false},
        {"4 GiB - 1 bytes at 4 GiB in a file of 5 GiB", {"a.bin", 4 * kGiB, 0xFFFFFFFFu, "x"}, 5 * kGiB, false},
    };
    for (const auto& c : cases) {
        TEMP_DIR dir;
        const std::string package = dir / "patch.rxpack";
        ASSERT_TRUE(WriteSparsePackage(package, {c.entry}, c.end)) << c.what;
        std::string problem;
        EXPECT_EQ(VerifyPackage(package, &problem), c.sound) << c.what << ": " << problem;
    }
}
