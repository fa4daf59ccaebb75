// What Explorer shows of the launcher programs: the icon (four sizes) and the version
// resource, read back from the built executables.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

#pragma pack(push, 2)
struct ICON_GROUP_ENTRY {
    BYTE width;
    BYTE height;
    BYTE colours;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

std::string VersionText(const std::vector<char>& info, const char* name)
{
    char* value = nullptr;
    UINT length = 0;
    const std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueA(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) || value == nullptr)
        return std::string();
    return std::string(value);
}

} // namespace

TEST(ProgramResources, TheLauncherCarriesItsIconAndVersion)
{
    struct CASE {
        const char* path;
        unsigned int version;
    };
    const CASE cases[] = {
        {VELGRIM_UPDATER_EXE, VELGRIM_UPDATER_VERSION_NUMBER},
        {VELGRIM_UPDATER_V2001_EXE, 2001},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.path);
        const HMODULE module =
            LoadLibraryExA(c.path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module, nullptr);
        // The icon group with the lowest id is the one Explorer shows: 16, 32, 48, 256.
        const HRSRC group = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(14)); // RT_GROUP_ICON
        ASSERT_NE(group, nullptr);
        const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, group)));
        ASSERT_NE(bytes, nullptr);
        WORD count = 0;
        std::memcpy(&count, bytes + 4, 2);
        ASSERT_EQ(count, 4);
        std::vector<int> sizes;
        for (WORD i = 0; i < count; ++i) {
            ICON_GROUP_ENTRY entry;
            std::memcpy(&entry, bytes + 6 + i * sizeof(entry), sizeof(entry));
            sizes.push_back(entry.width == 0 ? 256 : entry.width);
            EXPECT_EQ(entry.bitCount, 32);
            EXPECT_NE(FindResourceA(module, MAKEINTRESOURCEA(entry.id), MAKEINTRESOURCEA(3)), nullptr); // RT_ICON
        }
        EXPECT_EQ(sizes, (std::vector<int>{16, 32, 48, 256}));
        FreeLibrary(module);

        DWORD handle = 0;
        const DWORD size = GetFileVersionInfoSizeA(c.path, &handle);
        ASSERT_GT(size, 0u);
        std::vector<char> info(size);
        ASSERT_TRUE(GetFileVersionInfoA(c.path, 0, size, info.data()));
        EXPECT_EQ(VersionText(info, "ProductName"), "Velgrim Updater");
        EXPECT_FALSE(VersionText(info, "FileDescription").empty());
        EXPECT_EQ(VersionText(info, "FileVersion"), std::to_string(c.version));
        EXPECT_EQ(VersionText(info, "ProductVersion"), std::to_string(c.version));
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
        ASSERT_NE(fixed, nullptr);
        if (c.version < 65536) {
            EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(c.version) << 16);
            EXPECT_EQ(fixed->dwProductVersionMS, static_cast<DWORD>(c.version) << 16);
        }
    }
}

#endif // _WIN32
