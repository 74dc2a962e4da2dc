#include "TraceColors.h"

#include "StatementTotals.h"
#include "Utils.h"

#include <algorithm>
#include <cwchar>

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

const UINT CellTextFormat = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS;

// How many UTF-16 units of a text a cell width pixels wide can show at most: every
// character takes a pixel at least (twice that leaves room for marks that take no width
// of their own).
size_t ShownUnits(int width) { return 2 * static_cast<size_t>(std::max(0, width)) + 2; }

// Fills rect with the background and draws the text in it as PaintCell says; where shown
// is given, DrawText leaves in it what it drew (the text, or its beginning and an
// ellipsis).
void DrawCell(HDC dc, RECT rect, const TRowColors& colors, const std::wstring& text, UINT align, int inset,
              std::wstring* shown = nullptr)
{
    SetBkColor(dc, ColorToRGB(colors.Back));
    ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
    rect.left += inset;
    rect.right -= inset;
    int oldMode = SetBkMode(dc, TRANSPARENT);
    COLORREF oldColor = SetTextColor(dc, ColorToRGB(colors.Text));
    if (shown) {
        // DT_MODIFYSTRING may add an ellipsis and a terminating zero: room for four more.
        shown->assign(text);
        shown->append(4, L'\0');
        DrawTextW(dc, shown->data(), static_cast<int>(text.size()), &rect, align | CellTextFormat | DT_MODIFYSTRING);
        shown->resize(std::wcslen(shown->c_str()));
    } else {
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect, align | CellTextFormat);
    }
    SetTextColor(dc, oldColor);
    SetBkMode(dc, oldMode);
}

// The beginning of a UTF-8 text that a cell width pixels wide shows just as it shows the
// whole text: DrawText's ellipsis depends on the text only up to where it passes the cell's
// edge, so what lies well beyond that need not be converted, measured or kept as the key
// of what was shown. The width of the part kept is summed from the ASCII characters'
// advances alone, other characters and control characters counting as nothing, so it is
// never more than the width DrawText finds; the part ends a quarter of the cell and some
// pixels past the edge, which leaves room for rounding in the advances.
std::string_view ShownPart(std::string_view text, int width, const int (&charWidths)[128])
{
    width = std::max(0, width);
    long limit = width + width / 4 + 16;
    long sum = 0;
    // Beyond this PaintCell would not convert anything anyway.
    text = text.substr(0, 4 * ShownUnits(width));
    for (size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c >= 0x7F)
            continue;
        sum += charWidths[c];
        // After an ASCII byte: a whole character ends here.
        if (sum > limit)
            return text.substr(0, i + 1);
    }
    return text;
}

} // namespace

TRowColors GetRowColors(const TColorInfos& rules, const TListRow& row, int rowIndex, bool selected)
{
    auto cell = [&](int k) -> const std::string& { return k == 0 ? row.Caption : row.SubItems[k - 1]; };
    return RowColors(rules, 1 + static_cast<int>(row.SubItems.size()), cell, rowIndex, selected);
}

TRowColors GetRowColors(const TColorInfos& rules, const TTraceRows& rows, int row, int shownIndex, bool selected)
{
    auto cell = [&](int k) -> const std::string& { return rows.CellText(row, k); };
    return RowColors(rules, 1 + rows.SubItemCount(row), cell, shownIndex, selected);
}

void PaintCell(HDC dc, RECT rect, const TRowColors& colors, std::string_view text, UINT align, int inset)
{
    // Only what can show is converted and measured, not a statement of a megabyte whole.
    DrawCell(dc, rect, colors, WidePrefix(text, ShownUnits(rect.right - rect.left - 2 * inset)), align, inset);
}

void PaintTraceRow(HDC dc, const RECT& rowRect, TraceListView::TPaintState& paint, const TTraceRows& rows, int rowIndex,
                   const TRowColors& colors)
{
    const int inset = 3;
    const TraceListView::TColumns& columns = paint.Columns;
    for (int column = 0; column < columns.Count; ++column) {
        // A column given no room (a detail not traced) has nothing to paint.
        if (column > 0 && columns.Right[column] <= columns.Left[column])
            continue;
        RECT cell = rowRect;
        if (column > 0) {
            cell.left = rowRect.left + columns.Left[column];
            cell.right = rowRect.left + columns.Right[column];
        }
        int width = cell.right - cell.left - 2 * inset;
        std::string_view text = ShownPart(rows.CellText(rowIndex, column), width, paint.CharWidths);
        // Line breaks and tabs show as blanks, which are no narrower: the part kept still
        // reaches past the cell's edge.
        std::string line;
        if (!IsSingleLine(text)) {
            line = SingleLineText(text);
            text = line;
        }
        UINT align = columns.Align[column];
        if (const std::wstring* shown = paint.ShownTexts.Find(width, text)) {
            DrawCell(dc, cell, colors, *shown, align, inset);
            continue;
        }
        std::wstring wide = WidePrefix(text, ShownUnits(width));
        std::wstring drawn;
        DrawCell(dc, cell, colors, wide, align, inset, &drawn);
        // Only a text cut short is kept: a text that fits costs no more to draw than its
        // record would. And only where what was drawn fits the cell, so that drawing it again
        // draws it unchanged (in a cell too narrow for an ellipsis it would not).
        SIZE size{};
        if (drawn != wide && GetTextExtentPoint32W(dc, drawn.c_str(), static_cast<int>(drawn.size()), &size) &&
            size.cx <= width)
            paint.ShownTexts.Add(width, text, std::move(drawn));
    }
}

LRESULT TraceListCustomDraw(const NMLVCUSTOMDRAW& draw, const TColorInfos& rules, const TTraceFilter& shown)
{
    HWND list = draw.nmcd.hdr.hwndFrom;
    TraceListView::TPaintState* paint = TraceListView::PaintStateOf(list);
    if (!paint)
        return CDRF_DODEFAULT;
    switch (draw.nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        paint->Read(list, draw.nmcd.hdc);
        return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT: {
        int rowIndex = static_cast<int>(draw.nmcd.dwItemSpec);
        if (rowIndex < 0 || rowIndex >= shown.RowCount())
            return CDRF_DODEFAULT;
        // The row's bounds and whether it is selected come from what the paint read at its
        // start: asking the list for each row costs more than painting it under Wine.
        RECT rowRect = paint->RowRect(rowIndex);
        if (IsRectEmpty(&rowRect))
            return CDRF_DODEFAULT;
        // The colours belong to the whole row: worked out once for all its cells, anew at
        // every paint, from the rules in force.
        bool selected = paint->IsSelected(rowIndex);
        int row = shown.RowOf(rowIndex);
        TRowColors colors = GetRowColors(rules, shown.Rows(), row, rowIndex, selected);
        // The list view selects its font only for its own drawing, which is skipped.
        HGDIOBJ oldFont = paint->Font ? SelectObject(draw.nmcd.hdc, paint->Font) : nullptr;
        PaintTraceRow(draw.nmcd.hdc, rowRect, *paint, shown.Rows(), row, colors);
        if (oldFont)
            SelectObject(draw.nmcd.hdc, oldFont);
        return CDRF_SKIPDEFAULT;
    }
    }
    return CDRF_DODEFAULT;
}
