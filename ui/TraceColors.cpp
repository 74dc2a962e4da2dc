#include "TraceColors.h"

#include "Utils.h"

#include <algorithm>

namespace {

// Whether rule colours a row whose texts are cell(0) ... cell(count - 1).
template <class TCell>
bool RuleMatches(const TColorInfo& rule, int count, TCell cell)
{
    // An empty search string would occur everywhere; it is meant to match nothing.
    if (rule.SearchString.empty())
        return false;
    for (int k = 0; k < count; ++k)
        if (cell(k).find(rule.SearchString) != std::string::npos)
            return true;
    return false;
}

template <class TCell>
TRowColors RowColors(const TColorInfos& rules, int count, TCell cell, int rowIndex, bool selected)
{
    if (selected)
        return {clHighlightText, clHighlight};
    for (const auto& rule : rules)
        if (RuleMatches(*rule, count, cell))
            return {rule->ForeColor, rule->BackColor};
    return {clBlack, rowIndex % 2 ? clWindow : clEvenRow};
}

} // namespace

TRowColors GetRowColors(const TColorInfos& rules, const TListRow& row, int rowIndex, bool selected)
{
    auto cell = [&](int k) -> const std::string& { return k == 0 ? row.Caption : row.SubItems[k - 1]; };
    return RowColors(rules, 1 + static_cast<int>(row.SubItems.size()), cell, rowIndex, selected);
}

TRowColors GetRowColors(const TColorInfos& rules, const TTraceRows& rows, int rowIndex, bool selected)
{
    auto cell = [&](int k) -> const std::string& { return rows.CellText(rowIndex, k); };
    return RowColors(rules, 1 + rows.SubItemCount(rowIndex), cell, rowIndex, selected);
}

void PaintCell(HDC dc, RECT rect, const TRowColors& colors, std::string_view text, UINT align, int inset)
{
    SetBkColor(dc, ColorToRGB(colors.Back));
    ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
    rect.left += inset;
    rect.right -= inset;
    int oldMode = SetBkMode(dc, TRANSPARENT);
    COLORREF oldColor = SetTextColor(dc, ColorToRGB(colors.Text));
    // Only what can show is converted and measured, not a statement of a megabyte whole:
    // every character takes a pixel at least, so a cell shows fewer characters than it is
    // pixels wide (twice that leaves room for marks that take no width of their own).
    size_t shown = 2 * static_cast<size_t>(std::max<LONG>(0, rect.right - rect.left)) + 2;
    std::wstring wide = WidePrefix(text, shown);
    DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &rect,
              align | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    SetTextColor(dc, oldColor);
    SetBkMode(dc, oldMode);
}

void PaintTraceRow(HDC dc, const RECT& rowRect, const TraceListView::TColumns& columns, const TTraceRows& rows,
                   int rowIndex, const TRowColors& colors)
{
    for (int column = 0; column < columns.Count; ++column) {
        RECT cell = rowRect;
        if (column > 0) {
            cell.left = rowRect.left + columns.Left[column];
            cell.right = rowRect.left + columns.Right[column];
        }
        PaintCell(dc, cell, colors, rows.CellText(rowIndex, column), columns.Align[column], 3);
    }
}

LRESULT TraceListCustomDraw(const NMLVCUSTOMDRAW& draw, const TColorInfos& rules, const TTraceRows& rows)
{
    HWND list = draw.nmcd.hdr.hwndFrom;
    TraceListView::TPaintState* paint = TraceListView::PaintStateOf(list);
    if (!paint)
        return CDRF_DODEFAULT;
    switch (draw.nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        paint->Read(list);
        return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT: {
        int rowIndex = static_cast<int>(draw.nmcd.dwItemSpec);
        if (rowIndex < 0 || rowIndex >= rows.RowCount())
            return CDRF_DODEFAULT;
        RECT rowRect{};
        rowRect.left = LVIR_BOUNDS;
        if (!SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(rowIndex), reinterpret_cast<LPARAM>(&rowRect)))
            return CDRF_DODEFAULT;
        // The colours belong to the whole row: worked out once for all its cells, anew at
        // every paint, from the rules in force.
        bool selected = SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(rowIndex), LVIS_SELECTED) != 0;
        TRowColors colors = GetRowColors(rules, rows, rowIndex, selected);
        // The list view selects its font only for its own drawing, which is skipped.
        HGDIOBJ oldFont = paint->Font ? SelectObject(draw.nmcd.hdc, paint->Font) : nullptr;
        PaintTraceRow(draw.nmcd.hdc, rowRect, paint->Columns, rows, rowIndex, colors);
        if (oldFont)
            SelectObject(draw.nmcd.hdc, oldFont);
        return CDRF_SKIPDEFAULT;
    }
    }
    return CDRF_DODEFAULT;
}
