// HEAP_STR: the program's owning holder of one NUL-terminated 8-bit text.
#pragma once

#include <cstddef>

class HEAP_STR {
public:
    HEAP_STR() = default;
    explicit HEAP_STR(const char* text);
    HEAP_STR(const HEAP_STR& other);
    HEAP_STR& operator=(const HEAP_STR& other);
    ~HEAP_STR();

    // Stores a copy of text (null stays null); assigning the held pointer does nothing.
    void Assign(const char* text);
    // Appends text; a null text changes nothing.
    void Append(const char* text);
    const char* Get() const { return m_pStr; }
    // Length + 1, or 0 for null and for an empty text: the byte count sent for a text.
    int SizeWithTerminator() const;

private:
    char* m_pStr = nullptr;
};
