#include "Labels.h"

#include "Forms.h"

void AutoSizeLabel(HWND label)
{
    std::string text = WindowText(label);
    HDC dc = GetDC(label);
    auto font = reinterpret_cast<HFONT>(SendMessageA(label, WM_GETFONT, 0, 0));
    HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
    SIZE size{};
    // An empty text still gets a line's height, as an empty label has.
    GetTextExtentPoint32A(dc, text.empty() ? " " : text.c_str(), text.empty() ? 1 : static_cast<int>(text.size()),
                          &size);
    if (old)
        SelectObject(dc, old);
    ReleaseDC(label, dc);
    RECT r = ControlBounds(label);
    SetControlBounds(label, r.left, r.top, text.empty() ? 1 : size.cx, size.cy);
}
