#include <cstdio>
#include <filesystem>
#include <system_error>

#include "pack/pack_checker.h"
#include "pack/pack_format.h"
#include "pack/pack_index.h"
#include "pack/pack_unpacker.h"
#include "progress_bar.h"
#include "rxpack_commands.h"
#include "rxpack_errors.h"

namespace {

// What the unpacker's callback needs to name entries: it passes a plain function, so the
// state of the one extraction lives here.
struct EXTRACT_STATE {
    const PACK_INDEX* index = nullptr; // null when the index could not be read
    PROGRESS_BAR* bar = nullptr;
    size_t next = 0;                   // table position of the next entry
    bool inEntry = false;
    bool entryFailed = false;
    std::string path;
    uint32_t size = 0;
    size_t files = 0;
    unsigned long long bytes = 0;
};

EXTRACT_STATE* g_state = nullptr;

std::string EntryLabel(const EXTRACT_STATE& s)
{
    if (s.index != nullptr && s.next < s.index->m_Entries.size() && s.index->m_Entries[s.next].nameInBlock)
        return "\"" + s.index->m_Entries[s.next].name + "\"";
    return "entry " + std::to_string(s.next);
}

void Report(const std::string& text)
{
    g_state->bar->Clear();
    PrintError(text);
}

bool OnEvent(int event, int value, const char* text)
{
    EXTRACT_STATE& s = *g_state;
    switch (event) {
    case UNPACK_EVENT_FILE_BEGIN:
        s.inEntry = true;
        s.entryFailed = false;
        s.path = text;
        s.size = static_cast<uint32_t>(value);
        s.bar->Show(s.path, 0);
        break;
    case UNPACK_EVENT_FILE_PROGRESS:
        s.bar->Show(s.path, value);
        break;
    case UNPACK_EVENT_FILE_END: {
        // A short write has no event of its own: the file is still open, so its size tells.
        std::error_code ec;
        const uintmax_t written = std::filesystem::file_size(s.path, ec);
        if (!s.entryFailed && !ec && written < s.size)
            Report(s.path + ": only " + std::to_string(written) + " of " + std::to_string(s.size) +
                   " bytes could be written");
        if (!s.entryFailed) {
            ++s.files;
            s.bytes += s.size;
        }
        s.inEntry = false;
        ++s.next;
        break;
    }
    case UNPACK_EVENT_ERROR:
        if (value == UNPACK_ERR_CREATE) {
            Report(EntryLabel(s) + ": cannot be created (unsafe name, path too long, or the file cannot be opened)");
            ++s.next;
        } else if (value == UNPACK_ERR_READ && s.inEntry) {
            Report(s.path + ": the package ends inside its content; the file is incomplete");
            s.entryFailed = true;
        } else if (value == UNPACK_ERR_MEMORY) {
            Report("not enough memory for the entry table and name block");
        }
        break;
    default:
        break;
    }
    return true;
}

const char* Meaning(int code)
{
    switch (code) {
    case UNPACK_ERR_READ:
        return "the package is malformed or shorter than it says";
    case UNPACK_ERR_WRITE:
        return "a file could not be written in full";
    case UNPACK_ERR_MEMORY:
        return "not enough memory";
    case UNPACK_ERR_CREATE:
        return "a file could not be created";
    default:
        return "failed";
    }
}

} // namespace

int CommandExtract(const ARGS& args)
{
    if (args.empty() || args.size() > 2)
        return UsageError("extract takes PKG and an optional DIR");
    const std::string& package = args[0];
    const char* target = args.size() == 2 ? args[1].c_str() : nullptr;
    PACK_INDEX index;
    std::string loadError;
    PROGRESS_BAR bar(stdout);
    EXTRACT_STATE state;
    state.index = index.Load(package, &loadError) ? &index : nullptr;
    // A bad frame is named before anything is written, not met as a short file.
    std::string problem;
    // A delta makes its file only from the installed one, which extract does not have: its
    // bytes written as the file would be a damaged file.
    if (state.index != nullptr && index.HasMagic() && (index.Flags() & pack_format::kFlagDeltas) != 0) {
        PrintError(package + ": holds delta entries, which need the files they were made from; extract a package "
                             "without deltas (the .zstd or plain one); nothing extracted");
        return kExitFailed;
    }
    if (state.index != nullptr && index.HasMagic() && (index.Flags() & pack_format::kFlagCompressed) != 0 &&
        !CheckPackage(package, &problem)) {
        PrintError(package + ": " + problem + "; nothing extracted");
        return kExitFailed;
    }
    state.bar = &bar;
    g_state = &state;
    const int code = PACK_UNPACKER().Unpack(package.c_str(), target, OnEvent);
    g_state = nullptr;
    bar.Clear();
    if (code == UNPACK_ERR_OPEN) {
        // The index's reader met the same failure first, in the system's words.
        const std::string opened = "cannot be opened: ";
        const bool said = state.index == nullptr && loadError.rfind(opened, 0) == 0;
        PrintError("cannot open " + package + (said ? ": " + loadError.substr(opened.size()) : std::string()));
        return kExitFailed;
    }
    if (state.index == nullptr && code != UNPACK_OK) {
        PrintError(package + ": " + loadError);
        return kExitFailed;
    }
    std::printf("%zu files, %llu bytes extracted into %s\n", state.files, state.bytes,
                target != nullptr ? target : ".");
    if (code != UNPACK_OK) {
        PrintError(package + ": " + Meaning(code));
        return kExitFailed;
    }
    return kExitOk;
}
