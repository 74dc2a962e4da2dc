#include "DlgControls.h"

#include "Forms.h"

#include <commctrl.h>

#include <iterator>

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

bool HandCursorOver(HWND under, std::initializer_list<HWND> labels, LRESULT& result)
{
    for (HWND label : labels)
        if (label && under == label) {
            SetCursor(LoadCursorA(nullptr, IDC_HAND));
            result = TRUE;
            return true;
        }
    return false;
}

LRESULT StaticColors(WPARAM dc, COLORREF text, COLORREF back, HBRUSH brush)
{
    SetTextColor(reinterpret_cast<HDC>(dc), text);
    SetBkColor(reinterpret_cast<HDC>(dc), back);
    return reinterpret_cast<LRESULT>(brush);
}

void SetToolTipText(NMHDR& header, const char* text)
{
    if (header.code == TTN_GETDISPINFOW) {
        auto& info = reinterpret_cast<NMTTDISPINFOW&>(header);
        info.hinst = nullptr;
        info.szText[0] = L'\0';
        MultiByteToWideChar(CP_ACP, 0, text, -1, info.szText, static_cast<int>(std::size(info.szText)));
        info.lpszText = info.szText;
        return;
    }
    auto& info = reinterpret_cast<NMTTDISPINFOA&>(header);
    info.hinst = nullptr;
    info.lpszText = const_cast<char*>(text);
}

void AddTableColumns(HWND list, std::span<const TColumn> columns, int rest)
{
    for (const TColumn& c : columns)
        AddReportColumns(list, {{c.Caption, c.Optional ? 0 : c.Width < 0 ? rest : c.Width,
                                 c.Align == TColumnAlign::Right ? LVCFMT_RIGHT : LVCFMT_LEFT}});
}

void AddReportColumns(HWND list, std::initializer_list<TReportColumn> columns)
{
    int index = static_cast<int>(
        SendMessageA(reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0)), HDM_GETITEMCOUNT, 0, 0));
    for (const TReportColumn& c : columns) {
        LVCOLUMNA column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
        column.pszText = const_cast<char*>(c.Caption);
        column.cx = c.Width;
        column.fmt = c.Format;
        column.iSubItem = index;
        SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column));
        ++index;
    }
}
