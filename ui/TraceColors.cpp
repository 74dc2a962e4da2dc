#include "TraceColors.h"

#include "Utils.h"

namespace {

bool Contains(const std::string& text, const std::string& pattern) { return text.find(pattern) != std::string::npos; }

bool RuleMatches(const TColorInfo& rule, const TListRow& row)
{
    // An empty search string would occur everywhere; it is meant to match nothing.
    if (rule.SearchString.empty())
        return false;
    if (Contains(row.Caption, rule.SearchString))
        return true;
    for (const std::string& sub : row.SubItems)
        if (Contains(sub, rule.SearchString))
            return true;
    return false;
}

UINT ColumnAlignment(HWND list, int column)
{
    LVCOLUMNA info{};
    info.mask = LVCF_FMT;
    if (!SendMessageA(list, LVM_GETCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&info)))
        return DT_LEFT;
    switch (info.fmt & LVCFMT_JUSTIFYMASK) {
    case LVCFMT_RIGHT:
        return DT_RIGHT;
    case LVCFMT_CENTER:
        return DT_CENTER;
    }
    return DT_LEFT;
}

} // namespace

TRowColors GetRowColors(const TColorInfos& rules, const TListRow& row, int rowIndex, bool selected)
{
    if (selected)
        return {clHighlightText, clHighlight};
    TRowColors colors{clBlack, rowIndex % 2 ? clWindow : clEvenRow};
    for (const auto& rule : rules)
        if (RuleMatches(*rule, row))
            return {rule->ForeColor, rule->BackColor};
    return colors;
}

void PaintCell(HDC dc, RECT rect, const TRowColors& colors, std::string_view text, UINT align, int inset)
{
    SetBkColor(dc, ColorToRGB(colors.Back));
    ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
    rect.left += inset;
    rect.right -= inset;
    int oldMode = SetBkMode(dc, TRANSPARENT);
    COLORREF oldColor = SetTextColor(dc, ColorToRGB(colors.Text));
    std::wstring wide = Utf8ToWide(text.substr(0, text.find('\0')));
    DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &rect,
              align | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    SetTextColor(dc, oldColor);
    SetBkMode(dc, oldMode);
}

void DrawTraceCell(HWND list, HDC dc, const TListRow& row, const TRowColors& colors, int rowIndex, int column)
{
    RECT rect{};
    if (column == 0) {
        rect.left = LVIR_BOUNDS;
        SendMessageA(list, LVM_GETITEMRECT, static_cast<WPARAM>(rowIndex), reinterpret_cast<LPARAM>(&rect));
    } else {
        rect.top = column;
        rect.left = LVIR_BOUNDS;
        SendMessageA(list, LVM_GETSUBITEMRECT, static_cast<WPARAM>(rowIndex), reinterpret_cast<LPARAM>(&rect));
    }
    std::string_view text;
    if (column == 0)
        text = row.Caption;
    else if (static_cast<size_t>(column) <= row.SubItems.size())
        text = row.SubItems[static_cast<size_t>(column - 1)];
    PaintCell(dc, rect, colors, text, ColumnAlignment(list, column), 3);
}

LRESULT TraceListCustomDraw(const NMLVCUSTOMDRAW& draw, const TColorInfos& rules, const TRowSource& rows)
{
    switch (draw.nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT: {
        HWND list = draw.nmcd.hdr.hwndFrom;
        auto header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
        int columns = static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0));
        int rowIndex = static_cast<int>(draw.nmcd.dwItemSpec);
        if (rowIndex < 0 || rowIndex >= rows.RowCount())
            return CDRF_DODEFAULT;
        // The colours belong to the whole row: worked out once for all its cells, anew at
        // every paint, from the rules in force.
        TListRow row;
        rows.GetRow(rowIndex, row);
        bool selected = SendMessageA(list, LVM_GETITEMSTATE, static_cast<WPARAM>(rowIndex), LVIS_SELECTED) != 0;
        TRowColors colors = GetRowColors(rules, row, rowIndex, selected);
        // The list view selects its font only for its own drawing, which is skipped.
        auto font = reinterpret_cast<HFONT>(SendMessageA(list, WM_GETFONT, 0, 0));
        HGDIOBJ oldFont = font ? SelectObject(draw.nmcd.hdc, font) : nullptr;
        for (int column = 0; column < columns; ++column)
            DrawTraceCell(list, draw.nmcd.hdc, row, colors, rowIndex, column);
        if (oldFont)
            SelectObject(draw.nmcd.hdc, oldFont);
        return CDRF_SKIPDEFAULT;
    }
    }
    return CDRF_DODEFAULT;
}
