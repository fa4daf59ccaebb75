#include "pack/resource_extract.h"

#include "platform/module_instance.h"
#include "platform/files.h"

#ifdef _WIN32

int ExtractResourceToFile(const char* path)
{
    HRSRC found = FindResourceA(g_hInstance, MAKEINTRESOURCEA(RESOURCE_ID_BINARY_FILE), "BINARY");
    HGLOBAL loaded = found != nullptr ? LoadResource(g_hInstance, found) : nullptr;
    if (loaded == nullptr)
        return 0;
    const DWORD size = SizeofResource(g_hInstance, found);
    const void* bytes = LockResource(loaded);
    if (bytes == nullptr && size != 0)
        return 0;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes, size, &written, nullptr);
    CloseHandle(file);
    // A short file is not the resource: it is not reported as written, nor left behind.
    if (!ok || written != size) {
        DeleteFileA(path);
        return 0;
    }
    return 1;
}

#else

int ExtractResourceToFile(const char*)
{
    return 0;
}

#endif
