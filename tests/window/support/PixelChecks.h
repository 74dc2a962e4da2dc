// What a window shows on the screen, pixel by pixel (read back from the display).
#pragma once

#include <windows.h>

#include <utility>

// The colour the window shows at a client point.
COLORREF PixelAt(HWND window, int x, int y);
// Whether any pixel of a client rectangle has exactly the colour.
bool AnyPixelIs(HWND window, const RECT& rect, COLORREF color);
// The first and last pixel column of a client rectangle holding the colour, or {-1, -1}.
std::pair<int, int> ColorSpan(HWND window, const RECT& rect, COLORREF color);
// How many pixels of a client rectangle are not the colour.
int PixelsOtherThan(HWND window, const RECT& rect, COLORREF color);
