#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "pack/pack_unpacker.h"
#include "pack_test_util.h"
#include "platform/files.h"
#include "support/temp_dir.h"

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

using namespace pack_test;
namespace fs = std::filesystem;

namespace {

// Every file and directory below root, relative, '/'-separated.
std::set<std::string> Tree(const std::string& root)
{
    std::set<std::string> out;
    for (const auto& item : fs::recursive_directory_iterator(root))
        out.insert(fs::relative(item.path(), root).generic_string() + (item.is_directory() ? "/" : ""));
    return out;
}

std::string Contents(const std::string& path)
{
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(path, &bytes)) << path;
    return bytes;
}

// A sandbox with the package beside an empty target directory.
struct SANDBOX {
    SANDBOX()
    {
        fs::create_directories(target);
    }
    int Unpack(const std::vector<ENTRY>& entries) { return UnpackBytes(BuildPackage(entries)); }
    int UnpackBytes(const std::string& bytes)
    {
        EXPECT_TRUE(WriteWholeFile(package, bytes));
        return PACK_UNPACKER().Unpack(package.c_str(), target.c_str(), EVENT_RECORDER::Callback);
    }
    std::string Out(const std::string& name) const { return Joined(target, name); }

    TEMP_DIR dir;
    std::string package = dir / "patch.rxpack";
    std::string target = dir / "game";
    EVENT_RECORDER recorder;
};

} // namespace

TEST(PackUnpacker, EmptyTableSendsBeginAndEndOnly)
{
    SANDBOX box;
    EXPECT_EQ(box.Unpack({}), UNPACK_OK);
    EXPECT_EQ(box.recorder.events,
              (std::vector<EVENT>{Ev(UNPACK_EVENT_BEGIN, 0, box.package), Ev(UNPACK_EVENT_END, 0, box.package)}));
    EXPECT_TRUE(Tree(box.target).empty());
}

TEST(PackUnpacker, UnreadableHeadersFailWithoutEvents)
{
    std::string table48 = BuildPackage({{"a", "x"}});
    table48 += std::string(16, '\0');
    PutU32(table48, 20, 48);
    const struct {
        const char* what;
        bool exists;
        std::string bytes;
        int code;
    } cases[] = {
        {"missing package", false, "", UNPACK_ERR_OPEN},
        {"empty file", true, "", UNPACK_ERR_READ},
        {"47-byte header", true, BuildPackage({}).substr(0, 47), UNPACK_ERR_READ},
        {"table size 48", true, table48, UNPACK_ERR_READ},
    };
    for (const auto& c : cases) {
        SANDBOX box;
        int code;
        if (c.exists)
            code = box.UnpackBytes(c.bytes);
        else
            code = PACK_UNPACKER().Unpack(box.package.c_str(), box.target.c_str(), EVENT_RECORDER::Callback);
        EXPECT_EQ(code, c.code) << c.what;
        EXPECT_TRUE(box.recorder.events.empty()) << c.what;
        EXPECT_TRUE(Tree(box.target).empty()) << c.what;
    }
}

TEST(PackUnpacker, TableOrNameBlockPastTheEndFailsBeforeBegin)
{
    const std::string good = BuildPackage({{"a.txt", "alpha"}});
    std::string tableShort = good, namesShort = good, tableFar = good;
    PutU64(tableShort, 24, good.size() - 16);
    PutU32(namesShort, 36, 4096);
    PutU64(tableFar, 24, 0xFFFFFFFFFFFFFFF0ull);
    for (const std::string& bytes : {tableShort, namesShort, tableFar}) {
        SANDBOX box;
        EXPECT_EQ(box.UnpackBytes(bytes), UNPACK_ERR_READ);
        EXPECT_EQ(box.recorder.events, std::vector<EVENT>{Err(UNPACK_ERR_READ)});
        EXPECT_TRUE(Tree(box.target).empty());
    }
}

TEST(PackUnpacker, ThousandBytesReport51Then100)
{
    SANDBOX box;
    const std::string content = Pattern(1000);
    EXPECT_EQ(box.Unpack({{"data.bin", content}}), UNPACK_OK);
    const std::string out = box.Out("data.bin");
    EXPECT_EQ(box.recorder.events,
              (std::vector<EVENT>{Ev(UNPACK_EVENT_BEGIN, 0, box.package), Ev(UNPACK_EVENT_FILE_BEGIN, 1000, out),
                                  Ev(UNPACK_EVENT_FILE_PROGRESS, 51, out), Ev(UNPACK_EVENT_FILE_PROGRESS, 100, out),
                                  Ev(UNPACK_EVENT_FILE_END, 0, out), Ev(UNPACK_EVENT_END, 0, box.package)}));
    EXPECT_EQ(Contents(out), content);
}

TEST(PackUnpacker, HundredThousandBytesReportEveryPercentFromOne)
{
    SANDBOX box;
    const std::string content = Pattern(100000, 7);
    EXPECT_EQ(box.Unpack({{"big.bin", content}}), UNPACK_OK);
    std::vector<int> expected;
    for (int i = 1; i <= 100; ++i)
        expected.push_back(i);
    EXPECT_EQ(box.recorder.Progress(box.Out("big.bin")), expected);
    EXPECT_EQ(Contents(box.Out("big.bin")), content);
}

TEST(PackUnpacker, EmptyEntryGivesEmptyFileAndNoProgress)
{
    SANDBOX box;
    EXPECT_EQ(box.Unpack({{"empty.txt", ""}}), UNPACK_OK);
    const std::string out = box.Out("empty.txt");
    EXPECT_EQ(box.recorder.events,
              (std::vector<EVENT>{Ev(UNPACK_EVENT_BEGIN, 0, box.package), Ev(UNPACK_EVENT_FILE_BEGIN, 0, out),
                                  Ev(UNPACK_EVENT_FILE_END, 0, out), Ev(UNPACK_EVENT_END, 0, box.package)}));
    EXPECT_TRUE(FileExists(out));
    EXPECT_EQ(Contents(out), "");
}

TEST(PackUnpacker, NestedNamesCreateTheirDirectories)
{
    SANDBOX box;
    EXPECT_EQ(box.Unpack({{"data/maps/town.map", "town"}, {"data\\sounds\\bell.wav", "bell"}, {"./top.txt", "top"}}),
              UNPACK_OK);
    EXPECT_EQ(Tree(box.target), (std::set<std::string>{"data/", "data/maps/", "data/maps/town.map", "data/sounds/",
                                                       "data/sounds/bell.wav", "top.txt"}));
    EXPECT_EQ(Contents(box.target + "/data/maps/town.map"), "town");
    EXPECT_EQ(Contents(box.target + "/data/sounds/bell.wav"), "bell");
    EXPECT_EQ(box.recorder.events[1], Ev(UNPACK_EVENT_FILE_BEGIN, 4, box.Out("data/maps/town.map")));
}

TEST(PackUnpacker, TargetEndingWithSeparatorGetsNoSecondOne)
{
    for (const char* ending : {"\\", "/"}) {
        SANDBOX box;
        ASSERT_TRUE(WriteWholeFile(box.package, BuildPackage({{"a.txt", "alpha"}})));
        const std::string target = box.target + ending;
        EXPECT_EQ(PACK_UNPACKER().Unpack(box.package.c_str(), target.c_str(), EVENT_RECORDER::Callback), UNPACK_OK);
#ifdef _WIN32
        const std::string expected = target + "a.txt";
#else
        const std::string expected = box.target + "/a.txt";
#endif
        EXPECT_EQ(box.recorder.events.at(1), Ev(UNPACK_EVENT_FILE_BEGIN, 5, expected)) << ending;
        EXPECT_EQ(Contents(box.target + "/a.txt"), "alpha");
    }
}

TEST(PackUnpacker, ContentPastTheEndLeavesTheWholeBlocksAndGoesOn)
{
    SANDBOX box;
    // Table order: the cut entry first, then a good one; the cut entry's content is last
    // in the file and 900 of its 2000 bytes are missing.
    std::string bytes = BuildPackage({{"cut.bin", Pattern(2000, 3)}, {"ok.txt", "fine"}});
    const uint64_t okOffset = bytes.size() - 4 - 2000;
    std::string cut = Pattern(2000, 3);
    bytes = bytes.substr(0, okOffset);
    bytes += "fine";
    PutU64(bytes, EntryAt(1), okOffset);
    PutU64(bytes, EntryAt(0), bytes.size());
    bytes += cut.substr(0, 1100);
    EXPECT_EQ(box.UnpackBytes(bytes), UNPACK_ERR_READ);
    const std::string c = box.Out("cut.bin"), o = box.Out("ok.txt");
    EXPECT_EQ(box.recorder.events,
              (std::vector<EVENT>{Ev(UNPACK_EVENT_BEGIN, 0, box.package), Ev(UNPACK_EVENT_FILE_BEGIN, 2000, c),
                                  Ev(UNPACK_EVENT_FILE_PROGRESS, 25, c), Ev(UNPACK_EVENT_FILE_PROGRESS, 51, c),
                                  Err(UNPACK_ERR_READ), Ev(UNPACK_EVENT_FILE_END, 0, c),
                                  Ev(UNPACK_EVENT_FILE_BEGIN, 4, o), Ev(UNPACK_EVENT_FILE_PROGRESS, 100, o),
                                  Ev(UNPACK_EVENT_FILE_END, 0, o), Ev(UNPACK_EVENT_END, 0, box.package)}));
    EXPECT_EQ(Contents(c), cut.substr(0, 1024));
    EXPECT_EQ(Contents(o), "fine");
}

TEST(PackUnpacker, ContentFarPastTheEndLeavesAnEmptyFile)
{
    for (uint64_t offset : {uint64_t{1} << 40, uint64_t{0x8000000000000000ull}, uint64_t{0xFFFFFFFFFFFFFF00ull}}) {
        SANDBOX box;
        std::string bytes = BuildPackage({{"far.bin", "0123456789"}});
        PutU64(bytes, EntryAt(0), offset);
        EXPECT_EQ(box.UnpackBytes(bytes), UNPACK_ERR_READ) << offset;
        const std::string f = box.Out("far.bin");
        EXPECT_EQ(box.recorder.events,
                  (std::vector<EVENT>{Ev(UNPACK_EVENT_BEGIN, 0, box.package), Ev(UNPACK_EVENT_FILE_BEGIN, 10, f),
                                      Err(UNPACK_ERR_READ), Ev(UNPACK_EVENT_FILE_END, 0, f),
                                      Ev(UNPACK_EVENT_END, 0, box.package)}));
        EXPECT_EQ(Contents(f), "");
    }
}

// Entries larger than the read window, starting at odd offsets, and one cut inside a
// later window: blocks that straddle window edges are written whole or not at all.
TEST(PackUnpacker, EntriesAcrossReadWindows)
{
    SANDBOX box;
    const std::string first = Pattern(9 * 1024 * 1024 + 333, 11), second = Pattern(5 * 1024 * 1024 + 77, 12);
    std::string bytes = BuildPackage({{"odd/name/first.bin", first}, {"second.bin", second}});
    const size_t available = 3 * 1024 * 1024 + 700;
    bytes.resize(bytes.size() - second.size() + available);
    EXPECT_EQ(box.UnpackBytes(bytes), UNPACK_ERR_READ);
    EXPECT_EQ(Contents(box.target + "/odd/name/first.bin"), first);
    EXPECT_EQ(Contents(box.target + "/second.bin"), second.substr(0, available / 512 * 512));
    std::vector<int> expected;
    for (int i = 1; i <= 100; ++i)
        expected.push_back(i);
    EXPECT_EQ(box.recorder.Progress(box.Out("odd/name/first.bin")), expected);
    const std::vector<int> cut = box.recorder.Progress(box.Out("second.bin"));
    ASSERT_FALSE(cut.empty());
    EXPECT_EQ(cut.back(), static_cast<int>(uint64_t{available / 512 * 512} * 100 / second.size()));
}

TEST(PackUnpacker, UncreatableOutputIsSkippedAndOthersWritten)
{
    SANDBOX box;
    fs::create_directories(box.target + "/blocked");
    EXPECT_EQ(box.Unpack({{"one.txt", "1"}, {"blocked", "no"}, {"two.txt", "2"}}), UNPACK_ERR_CREATE);
    const std::string one = box.Out("one.txt"), two = box.Out("two.txt");
    EXPECT_EQ(box.recorder.events,
              (std::vector<EVENT>{Ev(UNPACK_EVENT_BEGIN, 0, box.package), Ev(UNPACK_EVENT_FILE_BEGIN, 1, one),
                                  Ev(UNPACK_EVENT_FILE_PROGRESS, 100, one), Ev(UNPACK_EVENT_FILE_END, 0, one),
                                  Err(UNPACK_ERR_CREATE), Ev(UNPACK_EVENT_FILE_BEGIN, 1, two),
                                  Ev(UNPACK_EVENT_FILE_PROGRESS, 100, two), Ev(UNPACK_EVENT_FILE_END, 0, two),
                                  Ev(UNPACK_EVENT_END, 0, box.package)}));
    EXPECT_EQ(Contents(one), "1");
    EXPECT_EQ(Contents(two), "2");
}

TEST(PackUnpacker, LaterFailureReplacesTheEarlierCode)
{
    const auto cutLast = [](const std::vector<ENTRY>& entries, size_t cutIndex) {
        std::string bytes = BuildPackage(entries);
        PutU32(bytes, EntryAt(cutIndex) + 8, 1u << 20); // far more than the file holds
        return bytes;
    };
    {
        SANDBOX box;
        fs::create_directories(box.target + "/dir");
        EXPECT_EQ(box.UnpackBytes(cutLast({{"cut.bin", "abc"}, {"dir", "x"}}, 0)), UNPACK_ERR_CREATE);
    }
    {
        SANDBOX box;
        fs::create_directories(box.target + "/dir");
        EXPECT_EQ(box.UnpackBytes(cutLast({{"dir", "x"}, {"cut.bin", "abc"}}, 1)), UNPACK_ERR_READ);
    }
}

TEST(PackUnpacker, FileInUseIsNotReplaced)
{
    SANDBOX box;
    const std::string held = box.target + "/held.dat";
    ASSERT_TRUE(WriteWholeFile(held, "player data"));
    HANDLE holder = CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(box.Unpack({{"held.dat", "patched"}, {"next.txt", "n"}}), UNPACK_ERR_CREATE);
    CloseHandle(holder);
    EXPECT_EQ(box.recorder.events.at(1), Err(UNPACK_ERR_CREATE));
    EXPECT_EQ(Contents(held), "player data");
    EXPECT_EQ(Contents(box.target + "/next.txt"), "n");
}

TEST(PackUnpacker, EntryNamedAfterThePackageLeavesThePackageIntact)
{
    TEMP_DIR dir;
    EVENT_RECORDER recorder;
    const std::string package = dir / "patch.rxpack";
    const std::string bytes = BuildPackage({{"patch.rxpack", "overwritten"}, {"other.txt", "o"}});
    ASSERT_TRUE(WriteWholeFile(package, bytes));
    EXPECT_EQ(PACK_UNPACKER().Unpack(package.c_str(), dir.Path().c_str(), EVENT_RECORDER::Callback),
              UNPACK_ERR_CREATE);
    EXPECT_EQ(Contents(package), bytes);
    EXPECT_EQ(Contents(dir / "other.txt"), "o");
}

TEST(PackUnpacker, NameOutsideTheNameBlockIsNotCreated)
{
    // names: "good.txt\0after.txt\0tail\0" (9 + 10 + 5 bytes); table: good, tail, after.
    const auto make = [](uint32_t tailOffset, uint32_t namesSize) {
        std::string bytes = BuildPackage({{"good.txt", "g"}, {"after.txt", "a"}, {"tail", "t"}});
        const std::string second = bytes.substr(EntryAt(1), 32);
        bytes.replace(EntryAt(1), 32, bytes.substr(EntryAt(2), 32));
        bytes.replace(EntryAt(2), 32, second);
        PutU32(bytes, EntryAt(1) + 12, tailOffset);
        PutU32(bytes, 36, namesSize);
        return bytes;
    };
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"offset = names size", make(24, 24)},
        {"offset far out", make(0xFFFFFFFFu, 24)},
        {"no terminator inside the block", make(19, 23)},
        {"terminator only", make(23, 24)},
    };
    for (const auto& c : cases) {
        SANDBOX box;
        EXPECT_EQ(box.UnpackBytes(c.bytes), UNPACK_ERR_CREATE) << c.what;
        ASSERT_EQ(box.recorder.events.size(), 9u) << c.what;
        EXPECT_EQ(box.recorder.events[4], Err(UNPACK_ERR_CREATE)) << c.what;
        EXPECT_EQ(box.recorder.events[5], Ev(UNPACK_EVENT_FILE_BEGIN, 1, box.Out("after.txt"))) << c.what;
        EXPECT_EQ(Tree(box.target), (std::set<std::string>{"after.txt", "good.txt"})) << c.what;
    }
}

// Names that would leave the target directory or reach a device or stream: never written.
TEST(PackUnpacker, UnsafeNamesAreNeverWritten)
{
    TEMP_DIR probe;
    const std::string absoluteInto = probe / "escaped.txt";
    const std::vector<std::string> corpus = {
        absoluteInto,
        "/abs.txt",
        "\\abs.txt",
        "//server/share/x.txt",
        "\\\\server\\share\\x.txt",
        "\\\\?\\C:\\x.txt",
        "\\\\.\\PhysicalDrive0",
        "C:x.txt",
        "C:\\x.txt",
        "c:/x.txt",
        "../escape.txt",
        "..\\escape.txt",
        "sub/../../escape.txt",
        "sub\\..\\..\\escape.txt",
        "..",
        "sub/..",
        "...",
        "sub/.../x.txt",
        ".. /x.txt",
        "x.txt:stream",
        "x.txt::$DATA",
        "sub:alt/x.txt",
        "CON",
        "con",
        "NUL",
        "nul.txt",
        "Nul.tar.gz",
        "sub/aux",
        "PRN.log",
        "COM1",
        "com9.ini",
        "LPT1",
        "lpt9.txt",
        "COM\xB9",
        "CON .txt",
        "conin$",
        "CONOUT$.txt",
        "con/inner.txt",
        "",
        ".",
        "sub/",
        "sub\\",
        "trailing.",
        "trailing ",
        "ctl\x01.txt",
        "wild*.txt",
        "what?.txt",
        "pipe|.txt",
        "quote\".txt",
        "angle<.txt",
    };
    for (const std::string& name : corpus) {
        SANDBOX box;
        EXPECT_EQ(box.Unpack({{name, "evil"}, {"safe.txt", "safe"}}), UNPACK_ERR_CREATE) << name;
        const std::string safe = box.Out("safe.txt");
        EXPECT_EQ(box.recorder.events,
                  (std::vector<EVENT>{Ev(UNPACK_EVENT_BEGIN, 0, box.package), Err(UNPACK_ERR_CREATE),
                                      Ev(UNPACK_EVENT_FILE_BEGIN, 4, safe), Ev(UNPACK_EVENT_FILE_PROGRESS, 100, safe),
                                      Ev(UNPACK_EVENT_FILE_END, 0, safe), Ev(UNPACK_EVENT_END, 0, box.package)}))
            << name;
        EXPECT_EQ(Tree(box.dir.Path()), (std::set<std::string>{"game/", "game/safe.txt", "patch.rxpack"})) << name;
    }
    EXPECT_TRUE(Tree(probe.Path()).empty());
}

TEST(PackUnpacker, TargetLongerThanThePathBufferTakesNoEntry)
{
    SANDBOX box;
    const std::string target = box.target + "/" + std::string(1100, 'd');
    ASSERT_TRUE(WriteWholeFile(box.package, BuildPackage({{"a.txt", "a"}, {"b.txt", "b"}})));
    EXPECT_EQ(PACK_UNPACKER().Unpack(box.package.c_str(), target.c_str(), EVENT_RECORDER::Callback),
              UNPACK_ERR_CREATE);
    EXPECT_EQ(box.recorder.events,
              (std::vector<EVENT>{Ev(UNPACK_EVENT_BEGIN, 0, box.package), Err(UNPACK_ERR_CREATE),
                                  Err(UNPACK_ERR_CREATE), Ev(UNPACK_EVENT_END, 0, box.package)}));
    EXPECT_TRUE(Tree(box.target).empty());
}

// Restores the current directory at the end of a test.
class CURRENT_DIR_GUARD {
public:
    CURRENT_DIR_GUARD() { m_saved = fs::current_path(); }
    ~CURRENT_DIR_GUARD() { fs::current_path(m_saved); }

private:
    fs::path m_saved;
};

TEST(PackUnpacker, NoTargetMeansTheCurrentDirectoryAndNoCallbackIsFine)
{
    SANDBOX box;
    ASSERT_TRUE(WriteWholeFile(box.package, BuildPackage({{"sub/a.txt", "a"}})));
    CURRENT_DIR_GUARD restore;
    ASSERT_TRUE(SetCurrentDirectoryA(box.target.c_str()));
    char cwd[1024];
    ASSERT_GT(GetCurrentDirectoryA(sizeof(cwd), cwd), 0u);
    EXPECT_EQ(PACK_UNPACKER().Unpack(box.package.c_str(), nullptr, EVENT_RECORDER::Callback), UNPACK_OK);
    EXPECT_EQ(box.recorder.events.at(1), Ev(UNPACK_EVENT_FILE_BEGIN, 1, Joined(cwd, "sub/a.txt")));
    EXPECT_EQ(Contents(box.target + "/sub/a.txt"), "a");
    ASSERT_TRUE(WriteWholeFile(box.target + "/sub/a.txt", "changed"));
    EXPECT_EQ(PACK_UNPACKER().Unpack(box.package.c_str(), nullptr, nullptr), UNPACK_OK);
    EXPECT_EQ(Contents(box.target + "/sub/a.txt"), "a");
}

#ifndef _WIN32
TEST(PackUnpacker, CurrentDirectoryLongerThanTheBufferTakesNoEntry)
{
    SANDBOX box;
    ASSERT_TRUE(WriteWholeFile(box.package, BuildPackage({{"a.txt", "a"}})));
    CURRENT_DIR_GUARD restore;
    fs::current_path(box.target);
    for (int i = 0; i < 6; ++i) {
        const std::string part(200, static_cast<char>('a' + i));
        fs::create_directory(part);
        fs::current_path(part);
    }
    EXPECT_EQ(PACK_UNPACKER().Unpack(box.package.c_str(), nullptr, EVENT_RECORDER::Callback), UNPACK_ERR_CREATE);
    EXPECT_EQ(box.recorder.events,
              (std::vector<EVENT>{Ev(UNPACK_EVENT_BEGIN, 0, box.package), Err(UNPACK_ERR_CREATE),
                                  Ev(UNPACK_EVENT_END, 0, box.package)}));
    EXPECT_FALSE(FileExists("a.txt"));
    EXPECT_FALSE(FileExists("/a.txt"));
}

// A file-size limit makes the second entry's output take fewer bytes than given: code 3
// for that entry, no error event, and the entries before and after are complete.
TEST(PackUnpacker, ShortWriteIsCode3ForItsOwnEntry)
{
    SANDBOX box;
    const std::string small = Pattern(1000, 5), large = Pattern(4000, 6);
    ASSERT_TRUE(WriteWholeFile(box.package, BuildPackage({{"small.bin", small}, {"large.bin", large}, {"z.txt", "z"}})));
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*savedSignal)(int) = signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 1500;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const int code = PACK_UNPACKER().Unpack(box.package.c_str(), box.target.c_str(), EVENT_RECORDER::Callback);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, savedSignal);
    EXPECT_EQ(code, UNPACK_ERR_WRITE);
    const std::string s = box.Out("small.bin"), l = box.Out("large.bin"), z = box.Out("z.txt");
    EXPECT_EQ(box.recorder.events,
              (std::vector<EVENT>{Ev(UNPACK_EVENT_BEGIN, 0, box.package), Ev(UNPACK_EVENT_FILE_BEGIN, 1000, s),
                                  Ev(UNPACK_EVENT_FILE_PROGRESS, 51, s), Ev(UNPACK_EVENT_FILE_PROGRESS, 100, s),
                                  Ev(UNPACK_EVENT_FILE_END, 0, s), Ev(UNPACK_EVENT_FILE_BEGIN, 4000, l),
                                  Ev(UNPACK_EVENT_FILE_PROGRESS, 12, l), Ev(UNPACK_EVENT_FILE_PROGRESS, 25, l),
                                  Ev(UNPACK_EVENT_FILE_END, 0, l), Ev(UNPACK_EVENT_FILE_BEGIN, 1, z),
                                  Ev(UNPACK_EVENT_FILE_PROGRESS, 100, z), Ev(UNPACK_EVENT_FILE_END, 0, z),
                                  Ev(UNPACK_EVENT_END, 0, box.package)}));
    EXPECT_EQ(Contents(s), small);
    EXPECT_EQ(Contents(l), large.substr(0, 1500));
    EXPECT_EQ(Contents(z), "z");
}
#endif
