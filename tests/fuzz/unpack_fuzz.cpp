// Unpacks arbitrary bytes as a package into a fresh directory: whatever the input, every
// output path lies below that directory, nothing is created beside it, and the events
// come in their documented order.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "pack/pack_unpacker.h"

namespace fs = std::filesystem;

namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail)
{
    std::fprintf(stderr, "unpack_fuzz: %s: %s\n", what, detail.c_str());
    std::abort();
}

struct ORDER {
    std::string target;
    int state = 0; // 0 before begin, 1 between entries, 2 in an entry, 3 in an entry after a read error, 4 ended
    int lastPercent = 0;
    bool sawError = false;
};

ORDER g_order;

bool OnEvent(int event, int value, const char* text)
{
    ORDER& o = g_order;
    if (event == UNPACK_EVENT_FILE_BEGIN || event == UNPACK_EVENT_FILE_PROGRESS || event == UNPACK_EVENT_FILE_END) {
        const std::string path = text != nullptr ? text : "";
        if (path.compare(0, o.target.size() + 1, o.target + "/") != 0)
            Fail("output path outside the target", path);
        const std::string rest = "/" + path.substr(o.target.size() + 1) + "/";
        if (rest.find("/../") != std::string::npos || rest.find('\\') != std::string::npos)
            Fail("output path leaves the target", path);
    }
    switch (event) {
    case UNPACK_EVENT_ERROR:
        o.sawError = true;
        if (value == UNPACK_ERR_CREATE && o.state == 1)
            return true;
        if (value == UNPACK_ERR_READ && o.state == 2) {
            o.state = 3;
            return true;
        }
        if ((value == UNPACK_ERR_READ || value == UNPACK_ERR_MEMORY) && o.state == 0) {
            o.state = 4;
            return true;
        }
        Fail("error event out of place", std::to_string(value) + " in state " + std::to_string(o.state));
    case UNPACK_EVENT_BEGIN:
        if (o.state != 0)
            Fail("second begin", "");
        o.state = 1;
        return true;
    case UNPACK_EVENT_FILE_BEGIN:
        if (o.state != 1)
            Fail("file begin out of place", std::to_string(o.state));
        o.state = 2;
        o.lastPercent = 0;
        return true;
    case UNPACK_EVENT_FILE_PROGRESS:
        if (o.state != 2 || value <= o.lastPercent || value > 100)
            Fail("progress out of place", std::to_string(value));
        o.lastPercent = value;
        return true;
    case UNPACK_EVENT_FILE_END:
        if (o.state != 2 && o.state != 3)
            Fail("file end out of place", std::to_string(o.state));
        o.state = 1;
        return true;
    case UNPACK_EVENT_END:
        if (o.state != 1)
            Fail("end out of place", std::to_string(o.state));
        o.state = 4;
        return true;
    default:
        Fail("unknown event", std::to_string(event));
    }
}

// A fresh sandbox per input, removed afterwards; a failing input leaves it for a look.
fs::path MakeSandbox()
{
    std::string pattern = (fs::temp_directory_path() / "unpack-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        Fail("mkdtemp", pattern);
    return fs::path(pattern);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // sandbox/box/{package.rxpack,out}: an escape of one or two levels lands in sight.
    const fs::path sandbox = MakeSandbox();
    const fs::path work = sandbox / "box";
    fs::create_directories(work / "out");
    const std::string package = (work / "package.rxpack").string();
    {
        std::ofstream out(package, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    g_order = ORDER();
    g_order.target = (work / "out").string();
    const int code = PACK_UNPACKER().Unpack(package.c_str(), g_order.target.c_str(), OnEvent);
    if (code < UNPACK_OK || code > UNPACK_ERR_CREATE || code == UNPACK_ERR_OPEN)
        Fail("result code", std::to_string(code));
    if (code == UNPACK_OK && g_order.sawError)
        Fail("error event but success", "");
    if (g_order.state != 4 && !(code == UNPACK_ERR_READ && g_order.state == 0))
        Fail("did not end", std::to_string(g_order.state));
    // Nothing beside the package and the target, nor anything that is not a plain file or
    // directory below the target.
    for (const auto& item : fs::directory_iterator(sandbox))
        if (item.path() != work)
            Fail("created beside the sandbox", item.path().string());
    for (const auto& item : fs::directory_iterator(work))
        if (item.path().filename() != "out" && item.path().filename() != "package.rxpack")
            Fail("created beside the target", item.path().string());
    for (const auto& item : fs::recursive_directory_iterator(work / "out"))
        if (!item.is_regular_file() && !item.is_directory())
            Fail("not a file or directory", item.path().string());
    std::error_code ec;
    fs::remove_all(sandbox, ec);
    return 0;
}
