#include "ui/win32/error_notice.h"

int ErrorNoticeToWide(wchar_t* out, int capacity)
{
    const int written = MultiByteToWideChar(1251, 0, ERROR_NOTICE_1251, -1, out, capacity);
    return written > 0 ? written - 1 : 0;
}

void ShowErrorNoticeText(HWND window)
{
    wchar_t text[sizeof(ERROR_NOTICE_1251)];
    if (ErrorNoticeToWide(text, static_cast<int>(sizeof(ERROR_NOTICE_1251))) > 0)
        SetWindowTextW(window, text);
}
