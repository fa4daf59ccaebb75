// RXExs: the program's one exception type, a fixed 512-byte message.
#pragma once

#include <cstring>

struct RXExs {
    explicit RXExs(const char* text)
    {
        if (text == nullptr)
            text = "EXS( unknown )";
        // A longer text is cut to 511 characters.
        std::strncpy(m_szText, text, sizeof(m_szText) - 1);
        m_szText[sizeof(m_szText) - 1] = '\0';
    }

    const char* Text() const { return m_szText; }

    char m_szText[512];
};

static_assert(sizeof(RXExs) == 512, "RXExs is a plain 512-byte value");
