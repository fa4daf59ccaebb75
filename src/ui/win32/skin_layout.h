// Where the update window's controls sit on its background bitmap (client pixels), and
// the progress bar's colours. The artwork in res/ is drawn for these places.
#pragma once

#include <windows.h>

constexpr int INFO_BOX_X = 30;
constexpr int INFO_BOX_Y = 70;
constexpr int INFO_BOX_WIDTH = 450;
constexpr int INFO_BOX_HEIGHT = 230;

constexpr int PROGRESS_X = 30;
constexpr int PROGRESS_Y = 340;
constexpr int PROGRESS_WIDTH = 300;
constexpr int PROGRESS_HEIGHT = 50;
constexpr COLORREF PROGRESS_BAR_COLOUR = RGB(34, 18, 0);
constexpr COLORREF PROGRESS_BACK_COLOUR = RGB(84, 68, 38);

constexpr int CANCEL_X = 335;
constexpr int CANCEL_Y = 342;
// Close is centred horizontally on the client area.
constexpr int CLOSE_Y = 340;
