#include "ui/win32/error_notice.h"

// "Извините, при загрузке файла произошла ошибка. Попробуйте повторить обновление позже."
// (sorry, an error occurred while downloading the file; please try to update again later)
const char ERROR_NOTICE_1251[86] =
    "\xC8\xE7\xE2\xE8\xED\xE8\xF2\xE5\x2C\x20\xEF\xF0\xE8\x20\xE7\xE0"
    "\xE3\xF0\xF3\xE7\xEA\xE5\x20\xF4\xE0\xE9\xEB\xE0\x20\xEF\xF0\xEE"
    "\xE8\xE7\xEE\xF8\xEB\xE0\x20\xEE\xF8\xE8\xE1\xEA\xE0\x2E\x20\xCF"
    "\xEE\xEF\xF0\xEE\xE1\xF3\xE9\xF2\xE5\x20\xEF\xEE\xE2\xF2\xEE\xF0"
    "\xE8\xF2\xFC\x20\xEE\xE1\xED\xEE\xE2\xEB\xE5\xED\xE8\xE5\x20\xEF"
    "\xEE\xE7\xE6\xE5\x2E";

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
