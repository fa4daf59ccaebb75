// The error notice: stored as Windows-1251 bytes, shown as the right letters.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "ui/win32/error_notice.h"

TEST(ErrorNotice, StoredAsWindows1251AndConvertedExactly)
{
    EXPECT_EQ(std::strlen(ERROR_NOTICE_1251), 85u);
    // Every stored byte, read as Windows-1251, gives the notice's letters.
    const wchar_t* expected =
        L"\u0418\u0437\u0432\u0438\u043d\u0438\u0442\u0435, \u043f\u0440\u0438 "
        L"\u0437\u0430\u0433\u0440\u0443\u0437\u043a\u0435 \u0444\u0430\u0439\u043b\u0430 "
        L"\u043f\u0440\u043e\u0438\u0437\u043e\u0448\u043b\u0430 \u043e\u0448\u0438\u0431\u043a\u0430. "
        L"\u041f\u043e\u043f\u0440\u043e\u0431\u0443\u0439\u0442\u0435 "
        L"\u043f\u043e\u0432\u0442\u043e\u0440\u0438\u0442\u044c "
        L"\u043e\u0431\u043d\u043e\u0432\u043b\u0435\u043d\u0438\u0435 \u043f\u043e\u0437\u0436\u0435.";
    wchar_t text[100] = {};
    EXPECT_EQ(ErrorNoticeToWide(text, 100), 85);
    EXPECT_EQ(std::wstring(text), std::wstring(expected));
    // Too small a buffer converts nothing rather than part of the text.
    EXPECT_EQ(ErrorNoticeToWide(text, 10), 0);
}

#endif // _WIN32
