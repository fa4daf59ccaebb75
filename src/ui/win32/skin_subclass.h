// Subclassing of the skinned controls: the skin's procedure goes in, the control's own
// procedure is kept in its "SZ_OLDWNDPROC" property and gets every message passed on.
//
// The Unicode forms are used so that a control stays a Unicode window: an ANSI subclass
// would push every text (the Russian error notice among them) through the system's
// code page on its way to the control.
#pragma once

#include <windows.h>

#define SKIN_OLD_PROC_PROP "SZ_OLDWNDPROC"

// Installs proc as the control's window procedure, keeping the previous one.
void SubclassSkinControl(HWND control, WNDPROC proc);

// Passes a message on to the control's previous procedure, or to the default procedure
// when the control has none recorded.
LRESULT CallOldSkinProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam);
