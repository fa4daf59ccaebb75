#include <gtest/gtest.h>

#include <string>

#include "platform/module_instance.h"
#include "pack/resource_extract.h"
#include "support/temp_dir.h"

#ifdef _WIN32

// The test program carries a "BINARY" resource 1004 (resource_extract_test.rc); kernel32
// stands for a module without one.
class ResourceExtract : public testing::Test {
protected:
    void TearDown() override { g_hInstance = nullptr; }
};

TEST_F(ResourceExtract, WritesTheResourceBytes)
{
    TEMP_DIR dir;
    ASSERT_TRUE(WriteWholeFile(dir / "out.bin", "an older, longer file that must be replaced"));
    g_hInstance = GetModuleHandleA(nullptr);
    EXPECT_EQ(ExtractResourceToFile((dir / "out.bin").c_str()), 1);
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(dir / "out.bin", &bytes));
    EXPECT_EQ(bytes, std::string("Velgrim resource 1004\r\n\x00\x01\xFF", 26));
}

TEST_F(ResourceExtract, MissingResourceOrDirectoryGivesZeroAndNoFile)
{
    TEMP_DIR dir;
    g_hInstance = GetModuleHandleA("kernel32.dll");
    EXPECT_EQ(ExtractResourceToFile((dir / "out.bin").c_str()), 0);
    EXPECT_FALSE(FileExists(dir / "out.bin"));
    g_hInstance = GetModuleHandleA(nullptr);
    EXPECT_EQ(ExtractResourceToFile((dir / "no/such/dir/out.bin").c_str()), 0);
    EXPECT_FALSE(FileExists(dir / "no"));
}

#else

TEST(ResourceExtract, LinuxBuildHasNoResources)
{
    TEMP_DIR dir;
    EXPECT_EQ(ExtractResourceToFile((dir / "out.bin").c_str()), 0);
    EXPECT_FALSE(FileExists(dir / "out.bin"));
}

#endif
