// PTR_ARRAY: the program's growable array. Pointers and integers are its usual elements;
// objects (HEAP_STR, SERVER_INFO) work too: new storage is default-constructed, old
// elements are copied by assignment, and freeing destroys them.
#pragma once

#include <cstdint>

template <typename T = void*>
class PTR_ARRAY {
public:
    PTR_ARRAY() = default;
    PTR_ARRAY(const PTR_ARRAY&) = delete;
    PTR_ARRAY& operator=(const PTR_ARRAY&) = delete;
    ~PTR_ARRAY() { Free(); }

    void Init()
    {
        m_pData = nullptr;
        m_iCount = 0;
        m_iCapacity = 0;
        m_bGrow = false;
    }

    void Free()
    {
        delete[] m_pData;
        m_pData = nullptr;
        m_iCount = 0;
        m_iCapacity = 0;
    }

    // Address of element i; no bounds check.
    T* Get(uint32_t i) { return m_pData + i; }
    const T* Get(uint32_t i) const { return m_pData + i; }
    T& operator[](uint32_t i) { return m_pData[i]; }
    const T& operator[](uint32_t i) const { return m_pData[i]; }

    uint32_t Count() const { return m_iCount; }
    uint32_t Capacity() const { return m_iCapacity; }

    void Reserve(uint32_t n)
    {
        if (n < m_iCount)
            return;
        Reallocate(n);
    }

    void Resize(uint32_t n)
    {
        if (n < m_iCapacity) {
            m_iCount = n;
            return;
        }
        Reallocate(m_bGrow ? 2 * n : n);
        m_iCount = n;
    }

    // Appends value; returns the index it was stored at (the count before).
    uint32_t Push(const T& value)
    {
        const uint32_t index = m_iCount;
        Resize(m_iCount + 1);
        m_pData[index] = value;
        return index;
    }

    void Pop()
    {
        if (m_iCount > 0)
            Resize(m_iCount - 1);
    }

    T* m_pData = nullptr;
    uint32_t m_iCount = 0;
    uint32_t m_iCapacity = 0;
    bool m_bGrow = false;

private:
    void Reallocate(uint32_t capacity)
    {
        T* block = capacity ? new T[capacity]() : nullptr;
        const uint32_t keep = m_iCount < capacity ? m_iCount : capacity;
        for (uint32_t i = 0; i < keep; ++i)
            block[i] = m_pData[i];
        delete[] m_pData;
        m_pData = block;
        m_iCapacity = capacity;
    }
};
