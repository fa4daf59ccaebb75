#include <gtest/gtest.h>

#include <string>

#include "net/http_get_to_file.h"
#include "platform/files.h"
#include "support/http_script_server.h"
#include "support/nginx_fixture.h"
#include "support/temp_dir.h"

namespace {

// Every byte value, zero included.
std::string Pattern(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xff);
    return bytes;
}

} // namespace

TEST(HttpGetToFile, StoresOnlyBodiesAboveTenThousandBytes)
{
    struct CASE {
        const char* name;
        std::string response;
        const char* oldFile;  // null: no file beforehand
        bool result;
        std::string file;     // the file afterwards ("" with no old file: none)
    };
    const std::string old20000(20000, 'o');
    const CASE cases[] = {
        {"10000 bytes: not stored", HttpResponse(Pattern(10000)), nullptr, false, ""},
        {"10000 bytes: an old file is untouched", HttpResponse(Pattern(10000)), "old", false, "old"},
        {"10001 bytes: stored", HttpResponse(Pattern(10001)), nullptr, true, Pattern(10001)},
        {"a longer old file is cut", HttpResponse(Pattern(10001)), old20000.c_str(), true, Pattern(10001)},
        {"a shorter old file is replaced", HttpResponse(Pattern(30000)), "old", true, Pattern(30000)},
        {"no blank line after the head", "HTTP/1.1 200 OK\r\n" + std::string(15000, 'h'), nullptr, false, ""},
        {"body cut short of its Content-Length",
         "HTTP/1.1 200 OK\r\nContent-Length: 20000\r\n\r\n" + Pattern(15000), "old", false, "old"},
        {"empty response", "", nullptr, false, ""},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.name);
        TEMP_DIR dir;
        const std::string path = dir / "fetched.bin";
        if (c.oldFile != nullptr) {
            ASSERT_TRUE(WriteWholeFile(path, c.oldFile));
        }
        HTTP_SCRIPT_SERVER server({{0, c.response}});
        EXPECT_EQ(HttpGetToFile("127.0.0.1", path.c_str(), server.Port()), c.result);
        server.Join();
        EXPECT_EQ(server.Request(), "GET /" + path + " HTTP/1.1\r\nHost: 127.0.0.1 \r\n\r\n" + std::string(1, '\0'));
        std::string bytes;
        if (c.oldFile == nullptr && !c.result) {
            EXPECT_FALSE(FileExists(path));
        } else {
            ASSERT_TRUE(ReadWholeFile(path, &bytes));
            EXPECT_TRUE(bytes == c.file) << "size " << bytes.size();
        }
    }
}

TEST(HttpGetToFile, UnreachableHostCreatesNoFile)
{
    TEMP_DIR dir;
    const std::string path = dir / "never.bin";
    EXPECT_FALSE(HttpGetToFile("127.0.0.1", path.c_str(), RefusedLoopbackPort()));
    EXPECT_FALSE(FileExists(path));
}

#ifndef _WIN32
TEST(HttpGetToFile, FailedWriteIsNoSuccess)
{
    // /dev/full takes no byte.
    HTTP_SCRIPT_SERVER server({{0, HttpResponse(Pattern(20000))}});
    EXPECT_FALSE(HttpGetToFile("127.0.0.1", "/dev/full", server.Port()));
}
#endif

TEST(HttpGetToFile, FetchesFromTheWebHost)
{
    const int port = NginxFixturePort();
    if (port == 0)
        GTEST_SKIP() << "no nginx web host in this run";
    std::string expected;
    for (int i = 1; i <= 3000; ++i)
        expected += std::to_string(i) + "\n";
    TEMP_DIR dir;
    char previous[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(sizeof(previous), previous), 0u);
    ASSERT_TRUE(SetCurrentDirectoryA(dir.Path().c_str()));
    // nginx answers the request's trailing zero byte as a second request; whenever that
    // error page arrives with the body, it must stay out of the file. So, a few times.
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(HttpGetToFile("127.0.0.1", "fetch.txt", port));
        std::string bytes;
        EXPECT_TRUE(ReadWholeFile(dir / "fetch.txt", &bytes));
        EXPECT_TRUE(bytes == expected) << "size " << bytes.size();
    }
    EXPECT_FALSE(HttpGetToFile("127.0.0.1", "missing.txt", port));
    SetCurrentDirectoryA(previous);
    EXPECT_FALSE(FileExists(dir / "missing.txt"));
}
