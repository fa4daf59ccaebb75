#include "common/heap_str.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

char* CopyText(const char* text)
{
    if (text == nullptr)
        return nullptr;
    const size_t n = std::strlen(text) + 1;
    char* copy = static_cast<char*>(std::malloc(n));
    if (copy == nullptr)
        throw std::bad_alloc();
    std::memcpy(copy, text, n);
    return copy;
}

} // namespace

HEAP_STR::HEAP_STR(const char* text) : m_pStr(CopyText(text)) {}

HEAP_STR::HEAP_STR(const HEAP_STR& other) : m_pStr(CopyText(other.m_pStr)) {}

HEAP_STR& HEAP_STR::operator=(const HEAP_STR& other)
{
    if (this != &other)
        Assign(other.m_pStr);
    return *this;
}

HEAP_STR::~HEAP_STR()
{
    std::free(m_pStr);
}

void HEAP_STR::Assign(const char* text)
{
    if (text == m_pStr)
        return;
    // Copy first: text may point into the block that is about to be freed.
    char* copy = CopyText(text);
    std::free(m_pStr);
    m_pStr = copy;
}

void HEAP_STR::Append(const char* text)
{
    if (text == nullptr)
        return;
    if (m_pStr == nullptr) {
        m_pStr = CopyText(text);
        return;
    }
    const size_t oldLen = std::strlen(m_pStr);
    const size_t addLen = std::strlen(text);
    char* block = static_cast<char*>(std::malloc(oldLen + addLen + 1));
    if (block == nullptr)
        throw std::bad_alloc();
    std::memcpy(block, m_pStr, oldLen);
    std::memcpy(block + oldLen, text, addLen + 1);
    std::free(m_pStr);
    m_pStr = block;
}

int HEAP_STR::SizeWithTerminator() const
{
    if (m_pStr == nullptr || m_pStr[0] == '\0')
        return 0;
    return static_cast<int>(std::strlen(m_pStr) + 1);
}
