#include "platform/mapped_file.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/error_text.h"
#include "platform/files.h"

namespace {

std::string SystemWords(const char* path, int error)
{
    SetLastErrno(error);
    return std::string(path) + ": " + LastErrorText();
}

} // namespace

bool MAPPED_FILE::Open(const char* path, std::string* reason)
{
    Close();
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *reason = SystemWords(path, errno);
        return false;
    }
    struct stat st;
    const bool stated = ::fstat(fd, &st) == 0;
    if (!stated || !S_ISREG(st.st_mode)) {
        const int error = stated ? EINVAL : errno;
        ::close(fd);
        *reason = SystemWords(path, error);
        return false;
    }
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    if (size == 0) {
        ::close(fd);
        return true;
    }
    if (size > SIZE_MAX) {
        ::close(fd);
        *reason = std::string(path) + ": too large to map in this program";
        return false;
    }
    void* data = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_SHARED, fd, 0);
    const int error = errno;
    ::close(fd); // the mapping keeps the file
    if (data == MAP_FAILED) {
        *reason = SystemWords(path, error);
        return false;
    }
    m_pData = static_cast<const unsigned char*>(data);
    m_uSize = size;
    return true;
}

void MAPPED_FILE::Close()
{
    if (m_pData != nullptr)
        ::munmap(const_cast<unsigned char*>(m_pData), static_cast<size_t>(m_uSize));
    m_pData = nullptr;
    m_uSize = 0;
}
