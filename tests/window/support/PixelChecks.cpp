#include "PixelChecks.h"

COLORREF PixelAt(HWND window, int x, int y)
{
    HDC dc = GetDC(window);
    COLORREF color = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return color;
}

bool AnyPixelIs(HWND window, const RECT& rect, COLORREF color) { return ColorSpan(window, rect, color).first != -1; }

std::pair<int, int> ColorSpan(HWND window, const RECT& rect, COLORREF color)
{
    std::pair<int, int> span{-1, -1};
    HDC dc = GetDC(window);
    for (int x = rect.left; x < rect.right; ++x)
        for (int y = rect.top; y < rect.bottom; ++y)
            if (GetPixel(dc, x, y) == color) {
                if (span.first == -1)
                    span.first = x;
                span.second = x;
                break;
            }
    ReleaseDC(window, dc);
    return span;
}

int PixelsOtherThan(HWND window, const RECT& rect, COLORREF color)
{
    int count = 0;
    HDC dc = GetDC(window);
    for (int x = rect.left; x < rect.right; ++x)
        for (int y = rect.top; y < rect.bottom; ++y)
            count += GetPixel(dc, x, y) != color;
    ReleaseDC(window, dc);
    return count;
}
