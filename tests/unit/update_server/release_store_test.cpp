// update-server and a release laid out by installed version (Linux): which package each
// request shape gets, byte for byte, through the real server; loading such a directory;
// sizes above 4 GiB; and when resumed transfers are counted.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

#include "pack/pack_format.h"
#include "pack/pack_writer.h"
#include "protocol/update_protocol.h"
#include "support/downloader_peer.h"
#include "support/net_loopback.h"
#include "support/test_packages.h"
#include "support/temp_dir.h"
#include "support/update_server_process.h"
#include "update_server/release.h"

namespace {

const std::string kProgram = VELGRIM_UPDATE_SERVER;
const std::string kPatchName = std::string(PATCH_FILE_NAME) + '\0';

// A package of the given files (name -> content) and removals, written at path.
void WritePackage(const std::string& path, const std::map<std::string, std::string>& files,
                  const std::vector<std::string>& removals = {})
{
    TEMP_DIR sources;
    PACK_WRITER writer;
    std::string error;
    int n = 0;
    for (const auto& [name, content] : files) {
        const std::string source = sources / std::to_string(n++);
        ASSERT_TRUE(WriteWholeFile(source, content));
        ASSERT_TRUE(writer.AddFile(name, source, &error)) << error;
    }
    for (const std::string& name : removals)
        ASSERT_TRUE(writer.AddRemoval(name, &error)) << error;
    ASSERT_TRUE(writer.Write(path, &error)) << error;
}

std::string FileBytes(const std::string& path)
{
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(path, &bytes)) << path;
    return bytes;
}

// Release 3 as `rxpack release` lays it out: version 1 kept with a removal, version 2
// kept without one, the full and cumulative packages and an updater.
void WriteStoreRelease(const std::string& dir)
{
    ASSERT_TRUE(WriteWholeFile(dir + "/release.conf", "game_version = 3\nupdater_version = 1100\n"));
    ASSERT_TRUE(WriteWholeFile(dir + "/UpdaterNew.exe", "MZ the new updater"));
    WritePackage(dir + "/Velgrim_patch.rxpack", {{"a.dat", "cumulative a"}, {"maps/new.map", "map 2"}});
    WritePackage(dir + "/Velgrim_patch.full.rxpack",
                 {{"a.dat", "full a"}, {"maps/new.map", "map 2"}, {"Velgrim.exe", "the game"}});
    WritePackage(dir + "/Velgrim_patch.from-1.rxpack", {{"a.dat", "from 1"}, {"maps/new.map", "map 2"}},
                 {"maps/old.map"});
    WritePackage(dir + "/Velgrim_patch.from-2.rxpack", {{"a.dat", "from 2"}});
}

struct FRAME {
    uint32_t id = 0;
    std::string body;
};

bool ReadFrame(SOCKET s, FRAME* frame, int timeoutMs = 10000)
{
    std::string header;
    if (!RecvExactly(s, 8, &header, timeoutMs))
        return false;
    auto u32 = [&](size_t at) {
        return static_cast<uint32_t>(static_cast<unsigned char>(header[at])) |
               static_cast<uint32_t>(static_cast<unsigned char>(header[at + 1])) << 8 |
               static_cast<uint32_t>(static_cast<unsigned char>(header[at + 2])) << 16 |
               static_cast<uint32_t>(static_cast<unsigned char>(header[at + 3])) << 24;
    };
    frame->id = u32(0);
    frame->body.clear();
    return u32(4) == 0 || RecvExactly(s, u32(4), &frame->body, timeoutMs);
}

// What the server answered to one MSG_GET_FILE on a fresh connection: the answer frame
// whole, then (after MSG_FILE_BEGIN) the file's data up to its end or wantData bytes.
struct ANSWER {
    std::string frame;
    std::string data;
    bool ended = false;
};

ANSWER Ask(unsigned short port, const std::string& body, size_t wantData = SIZE_MAX)
{
    ANSWER answer;
    SOCKET_HOLDER s(ConnectLoopback(port));
    FRAME f;
    if (s.Get() == INVALID_SOCKET || !SendAll(s.Get(), Frame(MSG_GET_FILE, body)))
        return answer;
    while (ReadFrame(s.Get(), &f) && f.id < 256) {
    }
    answer.frame = Frame(f.id, f.body);
    if (f.id != MSG_FILE_BEGIN)
        return answer;
    while (answer.data.size() < wantData && ReadFrame(s.Get(), &f)) {
        if (f.id == MSG_FILE_END) {
            answer.ended = true;
            break;
        }
        if (f.id != MSG_FILE_DATA || f.body.size() < 4)
            break;
        answer.data += f.body.substr(4);
        SendAll(s.Get(), Frame(MSG_FILE_DATA_ACK, ""));
    }
    return answer;
}

std::string PackageRequest(uint32_t kind, uint64_t offset, uint32_t tag, uint32_t installed, uint32_t features,
                           uint32_t mark = GET_FILE_PACKAGE_MARK)
{
    return Dword(kind) + Dword(static_cast<uint32_t>(offset)) + Dword(tag) + Dword(mark) +
           Dword(static_cast<uint32_t>(offset >> 32)) + Dword(installed) + Dword(features);
}

std::string PackageAnswer(uint64_t size, uint32_t tag, uint64_t start, uint32_t base,
                          const std::string& name = kPatchName)
{
    return Frame(MSG_FILE_BEGIN, Counted(name) + Dword(static_cast<uint32_t>(size)) + Dword(tag) +
                                     Dword(static_cast<uint32_t>(start)) + Dword(static_cast<uint32_t>(size >> 32)) +
                                     Dword(static_cast<uint32_t>(start >> 32)) + Dword(base));
}

uint32_t TagOf(const std::string& bytes)
{
    return ResumeTagOfDigest(ManifestFileOf(bytes).sha256);
}

class ReleaseStore : public ::testing::Test {
protected:
    void Start(const std::vector<std::string>& args = {}, int timeoutMs = 10000)
    {
        ASSERT_TRUE(server.Start(release.Path(), logs / "server.log", args, timeoutMs)) << server.Log();
    }

    TEMP_DIR release;
    TEMP_DIR logs;
    UPDATE_SERVER_PROCESS server{kProgram};
};

} // namespace

TEST_F(ReleaseStore, EachRequestShapeGetsItsPackageAndExactlyItsAnswer)
{
    WriteStoreRelease(release.Path());
    Start();
    const std::string cumulative = FileBytes(release / "Velgrim_patch.rxpack");
    const std::string full = FileBytes(release / "Velgrim_patch.full.rxpack");
    const std::string from1 = FileBytes(release / "Velgrim_patch.from-1.rxpack");
    const std::string from2 = FileBytes(release / "Velgrim_patch.from-2.rxpack");
    const std::string updater = FileBytes(release / "UpdaterNew.exe");
    const std::string updaterName = std::string(UPDATER_FILE_NAME) + '\0';
    const uint32_t none = RESUME_TAG_NONE;
    const uint32_t removals = PACKAGE_FEATURE_REMOVALS;
    const std::string failed = Frame(MSG_FILE_FAILED, "");
    auto plain = [&](const std::string& bytes, const std::string& name = kPatchName) {
        return Frame(MSG_FILE_BEGIN, Counted(name) + Dword(static_cast<uint32_t>(bytes.size())));
    };
    auto resumed = [&](const std::string& bytes, uint32_t start) {
        return Frame(MSG_FILE_BEGIN, Counted(kPatchName) + Dword(static_cast<uint32_t>(bytes.size())) +
                                         Dword(TagOf(bytes)) + Dword(start));
    };
    auto package = [&](const std::string& bytes, uint64_t start, uint32_t base,
                       const std::string& name = kPatchName) {
        return PackageAnswer(bytes.size(), TagOf(bytes), start, base, name);
    };

    struct CASE {
        const char* what;
        std::string request;
        std::string answer;
        std::string data; // what follows from the answer's start on
    };
    const std::vector<CASE> cases = {
        {"plain patch", Dword(1002) + Dword(0) + Dword(0), plain(cumulative), cumulative},
        {"plain updater", Dword(1003) + Dword(0) + Dword(0), plain(updater, updaterName), updater},
        {"resume holding nothing", Dword(1002) + Dword(0) + Dword(none), resumed(cumulative, 0), cumulative},
        {"resume from a matching part", Dword(1002) + Dword(10) + Dword(TagOf(cumulative)), resumed(cumulative, 10),
         cumulative.substr(10)},
        {"resume from a part of another file", Dword(1002) + Dword(10) + Dword(TagOf(from2)), resumed(cumulative, 0),
         cumulative},
        {"installed 1, removals understood", PackageRequest(1002, 0, none, 1, removals), package(from1, 0, 1), from1},
        {"installed 1, removals not understood", PackageRequest(1002, 0, none, 1, 0),
         package(cumulative, 0, PACKAGE_BASE_CUMULATIVE), cumulative},
        {"installed 2, a package without removals", PackageRequest(1002, 0, none, 2, 0), package(from2, 0, 2), from2},
        {"installed 2, going on with its part", PackageRequest(1002, 7, TagOf(from2), 2, removals),
         package(from2, 7, 2), from2.substr(7)},
        {"installed 2, a part of the cumulative one", PackageRequest(1002, 7, TagOf(cumulative), 2, removals),
         package(from2, 0, 2), from2},
        {"a version the release does not keep", PackageRequest(1002, 0, none, 9, removals),
         package(full, 0, PACKAGE_BASE_FULL), full},
        {"installed version unknown", PackageRequest(1002, 0, none, 0, removals), package(full, 0, PACKAGE_BASE_FULL),
         full},
        {"the updater by the package request", PackageRequest(1003, 0, none, 1, removals),
         package(updater, 0, PACKAGE_BASE_FULL, updaterName), updater},
        {"an offset without a tag", Dword(1002) + Dword(5) + Dword(0), failed, ""},
        {"4 bytes", Dword(1002), failed, ""},
        {"16 bytes", Dword(1002) + Dword(0) + Dword(0) + Dword(0), failed, ""},
        {"package request without its mark", PackageRequest(1002, 0, none, 1, removals, 0x50524757u), failed, ""},
        {"package request of 32 bytes", PackageRequest(1002, 0, none, 1, removals) + Dword(0), failed, ""},
        {"package request, an offset without a tag", PackageRequest(1002, 5, none, 1, removals), failed, ""},
        {"a kind not offered", Dword(1004) + Dword(0) + Dword(0), failed, ""},
        {"a kind not offered, package request", PackageRequest(1004, 0, none, 1, removals), failed, ""},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        const ANSWER got = Ask(server.Port(), c.request);
        EXPECT_EQ(Hex(got.frame), Hex(c.answer));
        EXPECT_TRUE(got.data == c.data) << got.data.size() << " bytes";
        EXPECT_EQ(got.ended, c.answer != failed);
    }

    // The version answer announces the extensions: the magic and both capabilities.
    SOCKET_HOLDER s(ConnectLoopback(server.Port()));
    ASSERT_TRUE(SendAll(s.Get(), Frame(MSG_GET_INFO, "")));
    FRAME f;
    while (ReadFrame(s.Get(), &f) && f.id < 256) {
    }
    ASSERT_EQ(f.id, static_cast<uint32_t>(MSG_GET_INFO));
    EXPECT_EQ(Hex(f.body.substr(0, 8)), "03 00 47 56 03 00 00 00");
    EXPECT_EQ(server.Stop(), 0);
}

TEST(ReleaseStoreLoad, LayoutsAreTakenOrRefusedWithTheReason)
{
    struct CASE {
        const char* what;
        std::function<void(const std::string&)> lay; // on top of the store layout, or a plain one
        bool store;
        const char* error; // null: loads
    };
    auto remove = [](const char* name) {
        return [name](const std::string& dir) { ASSERT_EQ(std::remove((dir + "/" + name).c_str()), 0); };
    };
    auto package = [](const char* name, std::vector<std::string> removals) {
        return [name, removals](const std::string& dir) { WritePackage(dir + "/" + name, {{"x", "y"}}, removals); };
    };
    const std::vector<CASE> cases = {
        {"the store layout", [](const std::string&) {}, true, nullptr},
        {"a plain directory", [](const std::string&) {}, false, nullptr},
        {"no full package", remove("Velgrim_patch.full.rxpack"), true, nullptr},
        {"a leading zero", package("Velgrim_patch.from-01.rxpack", {}), true,
         "Velgrim_patch.from-01.rxpack: not a package name update-server knows"},
        {"version 0", package("Velgrim_patch.from-0.rxpack", {}), true, "from-0.rxpack: not a package name"},
        {"no version", package("Velgrim_patch.from-.rxpack", {}), true, "from-.rxpack: not a package name"},
        {"another word", package("Velgrim_patch.delta.rxpack", {}), true, "delta.rxpack: not a package name"},
        {"nothing between the dots", package("Velgrim_patch..rxpack", {}), true, "patch..rxpack: not a package name"},
        {"a version beyond 32 bits", package("Velgrim_patch.from-4294967296.rxpack", {}), true, "not a package name"},
        {"from the release's own version", package("Velgrim_patch.from-3.rxpack", {}), true,
         "a package from version 3 in a release of game version 3"},
        {"a full package with removals", package("Velgrim_patch.full.rxpack", {"gone"}), true,
         "full.rxpack: the full package must have plain entries only"},
        {"a cumulative package with removals", package("Velgrim_patch.rxpack", {"gone"}), false,
         "Velgrim_patch.rxpack: the cumulative package must have plain entries only"},
        {"an unsound package from a version",
         [](const std::string& dir) { ASSERT_TRUE(WriteWholeFile(dir + "/Velgrim_patch.from-2.rxpack", "VGRX")); },
         true, "from-2.rxpack: not a sound package: the header is short"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        TEMP_DIR dir;
        if (c.store) {
            WriteStoreRelease(dir.Path());
        } else {
            ASSERT_TRUE(WriteWholeFile(dir / "release.conf", "game_version = 3\n"));
            WritePackage(dir / "Velgrim_patch.rxpack", {{"a.dat", "cumulative a"}});
        }
        c.lay(dir.Path());
        std::string error;
        const std::shared_ptr<const RELEASE> loaded = LoadRelease(dir.Path(), &error);
        if (c.error != nullptr) {
            EXPECT_EQ(loaded, nullptr);
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
            continue;
        }
        ASSERT_NE(loaded, nullptr) << error;
        EXPECT_EQ(loaded->patch->name, PATCH_FILE_NAME);
        EXPECT_EQ(loaded->from.size(), c.store ? 2u : 0u);
        if (c.store) {
            EXPECT_TRUE(loaded->from.at(1)->flagged);
            EXPECT_FALSE(loaded->from.at(2)->flagged);
            EXPECT_EQ(loaded->from.at(2)->size, FileBytes(dir / "Velgrim_patch.from-2.rxpack").size());
            EXPECT_EQ(loaded->from.at(2)->name, PATCH_FILE_NAME) << "every package goes out under the one name";
        }
    }
}

// A package above 4 GiB (sparse) goes only in the package answer; a plain or resuming
// request for it is refused, never told a cut size. Data past 4 GiB is read right.
TEST_F(ReleaseStore, APackageAbove4GiBGoesOnlyInThePackageAnswer)
{
    // A package of another tool (no checksums to compute): one entry whose content lies
    // past 4 GiB, the rest a hole.
    const uint64_t dataAt = (4ull << 30) + 4096;
    const std::string content = "the content past four gibibytes";
    std::string head(48 + 32, '\0');
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            head[at + i] = static_cast<char>(v >> (8 * i));
    };
    const std::string name = std::string("big.dat") + '\0';
    put32(pack_format::kTableSizeAt, 32);
    put32(pack_format::kTableOffsetAt, 48);
    put32(pack_format::kNamesSizeAt, static_cast<uint32_t>(name.size()));
    put32(pack_format::kNamesOffsetAt, 80);
    put32(48 + pack_format::kDataOffsetAt, static_cast<uint32_t>(dataAt));
    put32(48 + pack_format::kDataOffsetAt + 4, static_cast<uint32_t>(dataAt >> 32));
    put32(48 + pack_format::kDataSizeAt, static_cast<uint32_t>(content.size()));
    head += name;
    const std::string path = release / "Velgrim_patch.rxpack";
    ASSERT_TRUE(WriteWholeFile(path, head));
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(dataAt)), 0);
    {
        FILE* file = std::fopen(path.c_str(), "ab");
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(std::fwrite(content.data(), 1, content.size(), file), content.size());
        ASSERT_EQ(std::fclose(file), 0);
    }
    const uint64_t size = dataAt + content.size();
    ASSERT_TRUE(WriteWholeFile(release / "release.conf", "game_version = 2\n"));
    // Loading reads the 4 GiB through for its SHA-256.
    Start({}, 120000);
    EXPECT_NE(server.Log().find("above what a plain request can be answered with"), std::string::npos);

    const std::string failed = Frame(MSG_FILE_FAILED, "");
    EXPECT_EQ(Hex(Ask(server.Port(), Dword(1002) + Dword(0) + Dword(0)).frame), Hex(failed)) << "plain";
    EXPECT_EQ(Hex(Ask(server.Port(), Dword(1002) + Dword(0) + Dword(RESUME_TAG_NONE)).frame), Hex(failed)) << "resume";

    const ANSWER first = Ask(server.Port(), PackageRequest(1002, 0, RESUME_TAG_NONE, 1, 0), 48);
    ASSERT_EQ(first.frame.size(), 8u + 4 + kPatchName.size() + 24);
    const std::string tagBytes = first.frame.substr(8 + 4 + kPatchName.size() + 4, 4);
    uint32_t tag = 0;
    for (int i = 3; i >= 0; --i)
        tag = tag << 8 | static_cast<unsigned char>(tagBytes[i]);
    EXPECT_EQ(Hex(first.frame), Hex(PackageAnswer(size, tag, 0, PACKAGE_BASE_CUMULATIVE)));
    EXPECT_TRUE(first.data.substr(0, 48) == head.substr(0, 48));

    // Going on from past 4 GiB: the 64-bit start, and the bytes that lie there.
    const ANSWER tail = Ask(server.Port(), PackageRequest(1002, size - 10, tag, 1, 0));
    EXPECT_EQ(Hex(tail.frame), Hex(PackageAnswer(size, tag, size - 10, PACKAGE_BASE_CUMULATIVE)));
    EXPECT_EQ(tail.data, content.substr(content.size() - 10));
    EXPECT_TRUE(tail.ended);
    EXPECT_EQ(server.Stop(), 0);
}

// A resumed transfer counts once it has gone out whole: a client that asks to go on and
// leaves counts nothing.
TEST_F(ReleaseStore, ResumedTransfersCountWhenTheyEnd)
{
    WriteStoreRelease(release.Path());
    Start({"--status-listen", "127.0.0.1:0"});
    const unsigned short status = server.StatusPort();
    ASSERT_NE(status, 0);
    auto metric = [&](const std::string& sample) {
        const std::string page = ExchangeLoopback(status, "GET /metrics HTTP/1.1\r\nHost: t\r\n\r\n");
        const size_t at = page.find("\n" + sample + " ");
        return at == std::string::npos ? -1 : std::atoll(page.c_str() + at + sample.size() + 2);
    };
    const std::string transfers = "velgrim_update_server_resumed_transfers_total";
    const std::string skipped = "velgrim_update_server_resumed_bytes_skipped_total";
    const std::string cumulative = FileBytes(release / "Velgrim_patch.rxpack");
    const std::string resume = Dword(1002) + Dword(20) + Dword(TagOf(cumulative));
    {
        // Asks, takes the answer and leaves before the data.
        SOCKET_HOLDER s(ConnectLoopback(server.Port()));
        ASSERT_TRUE(SendAll(s.Get(), Frame(MSG_GET_FILE, resume)));
        FRAME f;
        while (ReadFrame(s.Get(), &f) && f.id != MSG_FILE_BEGIN) {
        }
        ASSERT_EQ(f.id, static_cast<uint32_t>(MSG_FILE_BEGIN));
    }
    ASSERT_TRUE(server.WaitForLog("connection ended")) << server.Log();
    EXPECT_EQ(metric(transfers), 0);
    EXPECT_EQ(metric(skipped), 0);

    EXPECT_TRUE(Ask(server.Port(), resume).ended);
    const std::string from2 = FileBytes(release / "Velgrim_patch.from-2.rxpack");
    EXPECT_TRUE(Ask(server.Port(), PackageRequest(1002, 5, TagOf(from2), 2, 0)).ended);
    ASSERT_TRUE(server.WaitForLog("connection ended after", 5000));
    EXPECT_EQ(metric(transfers), 2);
    EXPECT_EQ(metric(skipped), 25);
    EXPECT_EQ(server.Stop(), 0);
}

#endif
