// The update window: dialog 101, pumping the download on its 15 ms timer.
#pragma once

#include <windows.h>

INT_PTR CALLBACK UpdateDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The error state: bar and Cancel hidden, Close shown with the focus, the notice text.
void ShowErrorNotice(HWND dialog);

// The unpacker's callback: moves the bar to the percentage of the file being written.
bool UnpackProgress(int event, int value, const char* text);
