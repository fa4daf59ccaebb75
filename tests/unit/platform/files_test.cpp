#include <gtest/gtest.h>

#include <string>

#include "platform/files.h"
#include "support/temp_dir.h"

// The file calls behave the same on both targets: these run natively and under Wine.

TEST(PlatformFiles, ExclusiveOpenBlocksOthersAndKeepsContent)
{
    TEMP_DIR dir;
    const std::string path = dir / "locked.bin";
    ASSERT_TRUE(WriteWholeFile(path, "old content"));
    HANDLE holder = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    // A second opener that would truncate is refused and truncates nothing.
    HANDLE second =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    ASSERT_TRUE(WriteWholeFile(dir / "new.bin", "new"));
    EXPECT_FALSE(CopyFileA((dir / "new.bin").c_str(), path.c_str(), FALSE));
    CloseHandle(holder);
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(path, &bytes));
    EXPECT_EQ(bytes, "old content");
    second = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    CloseHandle(second);
    ASSERT_TRUE(ReadWholeFile(path, &bytes));
    EXPECT_EQ(bytes, "");
}

TEST(PlatformFiles, ReadWriteSeekTruncate)
{
    TEMP_DIR dir;
    const std::string path = dir / "data.bin";
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(f, "0123456789", 10, &n, nullptr));
    EXPECT_EQ(n, 10u);
    LARGE_INTEGER to;
    to.QuadPart = 4;
    ASSERT_TRUE(SetFilePointerEx(f, to, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(f));
    EXPECT_EQ(SetFilePointer(f, 1, nullptr, FILE_BEGIN), 1u);
    char buf[16] = {};
    ASSERT_TRUE(ReadFile(f, buf, sizeof(buf), &n, nullptr));
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(std::string(buf, n), "123");
    LARGE_INTEGER size;
    ASSERT_TRUE(GetFileSizeEx(f, &size));
    EXPECT_EQ(size.QuadPart, 4);
    CloseHandle(f);
}

TEST(PlatformFiles, DirectoriesCopyMoveDelete)
{
    TEMP_DIR dir;
    const std::string sub = dir / "sub";
    EXPECT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
    EXPECT_FALSE(CreateDirectoryA(sub.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(GetFileAttributesA(sub.c_str()) & FILE_ATTRIBUTE_DIRECTORY, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    ASSERT_TRUE(WriteWholeFile(dir / "a.txt", "alpha"));
    ASSERT_TRUE(CopyFileA((dir / "a.txt").c_str(), (sub + "/b.txt").c_str(), FALSE));
    EXPECT_FALSE(CopyFileA((dir / "a.txt").c_str(), (sub + "/b.txt").c_str(), TRUE));
    ASSERT_TRUE(MoveFileExA((sub + "/b.txt").c_str(), (dir / "c.txt").c_str(), MOVEFILE_REPLACE_EXISTING));
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(dir / "c.txt", &bytes));
    EXPECT_EQ(bytes, "alpha");
    EXPECT_TRUE(DeleteFileA((dir / "c.txt").c_str()));
    EXPECT_FALSE(DeleteFileA((dir / "c.txt").c_str()));
    EXPECT_EQ(GetFileAttributesA((dir / "c.txt").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(PlatformFiles, ModulePathAndCurrentDirectory)
{
    char path[1024];
    ASSERT_GT(GetModuleFileNameA(nullptr, path, sizeof(path)), 0u);
    const std::string full = path;
    ASSERT_TRUE(PathRemoveFileSpecA(path));
    EXPECT_LT(std::string(path).size(), full.size());
    char cwd[1024];
    const DWORD n = GetCurrentDirectoryA(sizeof(cwd), cwd);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(n, std::string(cwd).size());
    char tiny[2];
    EXPECT_GT(GetCurrentDirectoryA(sizeof(tiny), tiny), static_cast<DWORD>(sizeof(tiny)) - 1);
}
