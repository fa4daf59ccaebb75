// The update window's error notice: Russian text kept in Windows-1251, shown through
// the wide-character call so that it reads right whatever the system's code page is.
#pragma once

#include <windows.h>

#include "ui/error_notice_text.h"

// The notice converted from code page 1251 into out (at most capacity wide characters,
// terminator included). Returns the characters written without the terminator, or 0.
int ErrorNoticeToWide(wchar_t* out, int capacity);

// Sets the notice as the text of a window (the update dialog's text box).
void ShowErrorNoticeText(HWND window);
