// Delta entries in the launcher's apply: patched against the installed file when it is the
// delta's base; any other installed file refused in the check step, before anything is
// staged, with the game untouched and the mismatch told apart from a damaged package.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "apply/patch_applier.h"
#include "pack/crc32.h"
#include "pack/pack_checker.h"
#include "pack/pack_format.h"
#include "pack/pack_writer.h"
#include "platform/crypto.h"
#include "support/temp_dir.h"

#ifndef _WIN32
#include "delta_diff.h"
#include "delta_patch_from.h"

namespace fs = std::filesystem;

namespace {

std::string Program(char edit)
{
    std::string s;
    for (uint32_t i = 0, x = 7; i < 50000; ++i) {
        x = x * 1103515245u + 12345u;
        s += static_cast<char>(x >> 16);
    }
    s[1000] = edit;
    s[40000] = edit;
    return s;
}

// A package of b.bin as a delta of `kind` from Program('a') to Program('b').
std::string DeltaPackage(const TEMP_DIR& dir, uint32_t kind)
{
    const std::string base = Program('a'), target = Program('b');
    std::vector<unsigned char> stored(64);
    Sha256(base.data(), base.size(), stored.data());
    Sha256(target.data(), target.size(), stored.data() + 32);
    const auto* b = reinterpret_cast<const unsigned char*>(base.data());
    const auto* t = reinterpret_cast<const unsigned char*>(target.data());
    std::string reason;
    EXPECT_TRUE(kind == pack_format::kEntryKindDeltaDiff
                    ? MakeDiffPayload(b, base.size(), t, target.size(), {}, &stored, &reason)
                    : MakePatchFromPayload(b, base.size(), t, target.size(), {}, &stored, &reason))
        << reason;
    EXPECT_TRUE(WriteWholeFile(dir / "delta", std::string(stored.begin(), stored.end())));
    PACK_WRITER writer;
    std::string error;
    const std::string package = dir / "game/Velgrim_patch.rxpack";
    EXPECT_TRUE(writer.AddEncoded("b.bin", dir / "delta", kind, static_cast<uint32_t>(target.size()),
                                  Crc32(0, target.data(), target.size()), &error) &&
                writer.Write(package, &error))
        << error;
    return package;
}

} // namespace

TEST(DeltaEntryApply, PatchedOnlyOverItsBase)
{
    const struct {
        const char* what;
        uint32_t kind;
        bool modified;
    } cases[] = {
        {"difference", pack_format::kEntryKindDeltaDiff, false},
        {"patch from", pack_format::kEntryKindDeltaZstd, false},
        {"difference over a modified file", pack_format::kEntryKindDeltaDiff, true},
        {"patch from over a modified file", pack_format::kEntryKindDeltaZstd, true},
    };
    for (const auto& c : cases) {
        TEMP_DIR dir;
        fs::create_directories(dir / "game");
        const std::string installed = c.modified ? Program('m') : Program('a');
        ASSERT_TRUE(WriteWholeFile(dir / "game/b.bin", installed));
        const std::string package = DeltaPackage(dir, c.kind);
        std::string problem;
        EXPECT_TRUE(CheckPackage(package, &problem)) << c.what << ": " << problem;
        PATCH_APPLIER applier(dir / "game");
        const bool applied = applier.Apply(package, 2, nullptr);
        std::string now;
        ASSERT_TRUE(ReadWholeFile(dir / "game/b.bin", &now));
        if (c.modified) {
            EXPECT_FALSE(applied) << c.what;
            EXPECT_TRUE(applier.BaseMismatch()) << c.what;
            EXPECT_NE(applier.Problem().find("not the one it was made from"), std::string::npos) << applier.Problem();
            EXPECT_TRUE(now == installed) << c.what;
            EXPECT_FALSE(fs::exists(dir / "game/.velgrim-update/b.bin")) << c.what << ": staged";
        } else {
            EXPECT_TRUE(applied) << c.what << ": " << applier.Problem();
            EXPECT_FALSE(applier.BaseMismatch());
            EXPECT_TRUE(now == Program('b')) << c.what;
            applier.Finish(package);
        }
    }
}
#endif
