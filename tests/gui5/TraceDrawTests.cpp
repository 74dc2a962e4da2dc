// The trace list's custom drawing, read back from the pixels of a real list view built
// as the main window builds lvwTrace.
#include "DlgStmtColor.h"
#include "TraceColors.h"
#include "TraceList.h"
#include "Ui5Driver.h"

#include "Forms.h"

#include <commctrl.h>

#include <gtest/gtest.h>

namespace {

// A top-level window holding only the trace list, answering its notifications as the
// main window does.
class TTraceHost : public TWindow {
public:
    TTraceHost(const TColorInfos& rules) : FRules(rules)
    {
        CreateHandle("VelloranTraceHost", "trace host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 10, 10, 700, 300);
        FFont = CreatePixelFont("MS Sans Serif", 11);
        List = TraceListView::Create(Handle, 1, FFont.get());
        SetControlBounds(List, 0, 0, 680, 250);
    }
    void Add(const TListRow& row)
    {
        int old = Rows.RowCount();
        Rows.Add(row);
        TraceListView::RowsAppended(List, old, Rows.RowCount());
    }
    HWND List = nullptr;
    TTraceRows Rows;

protected:
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override
    {
        if (msg == WM_NOTIFY) {
            auto& header = *reinterpret_cast<NMHDR*>(lParam);
            if (header.hwndFrom == List && header.code == LVN_GETDISPINFOA) {
                TraceListView::GetDispInfo(Rows, reinterpret_cast<NMLVDISPINFOA&>(header));
                return 0;
            }
            if (header.hwndFrom == List && header.code == NM_CUSTOMDRAW)
                return TraceListCustomDraw(reinterpret_cast<NMLVCUSTOMDRAW&>(header), FRules, Rows);
        }
        return TWindow::WndProc(msg, wParam, lParam);
    }

private:
    const TColorInfos& FRules;
    TUniqueFont FFont;
};

// The text pixels of a cell: the span of columns holding the colour, or {-1, -1}.
std::pair<int, int> TextSpan(HWND list, const RECT& cell, COLORREF color)
{
    std::pair<int, int> span{-1, -1};
    HDC dc = GetDC(list);
    for (int x = cell.left; x < cell.right; ++x)
        for (int y = cell.top; y < cell.bottom; ++y)
            if (GetPixel(dc, x, y) == color) {
                if (span.first == -1)
                    span.first = x;
                span.second = x;
                break;
            }
    ReleaseDC(list, dc);
    return span;
}

// A point of the cell's background: inside the cell, left of any left-aligned text.
COLORREF Background(HWND list, int row, int column)
{
    RECT cell = ListCellRect(list, row, column);
    return PixelAt(list, cell.left + 2, cell.bottom - 3);
}

} // namespace

TEST(TraceDrawing, RowsShowTheirColoursOnTheScreen)
{
    constexpr COLORREF Red = RGB(255, 0, 0);
    constexpr COLORREF Yellow = RGB(255, 255, 0);
    TColorInfos rules;
    TColorInfo select;
    select.SearchString = "SELECT";
    select.ForeColor = Red;
    select.BackColor = Yellow;
    rules.Assign({select});

    TTraceHost host(rules);
    host.Add({"Start", {}});
    host.Add({"Execute", {"07", "OCI_SUCCESS", "UPDATE t SET a = 1"}});
    host.Add({"Execute", {"01:500", "OCI_SUCCESS", "SELECT a\r\nFROM t"}});
    host.Add({"Prepare", {"", "OCI_SUCCESS", "SELECT b FROM t"}});
    host.Add({"Finish", {}});
    SelectListRow(host.List, 3);
    UpdateWindow(host.List);
    PumpFor(200);

    const COLORREF evenRow = ColorToRGB(clEvenRow), window = GetSysColor(COLOR_WINDOW);
    struct TCase {
        int Row;
        COLORREF Back;
        COLORREF Text;
    } cases[] = {
        {0, evenRow, RGB(0, 0, 0)},
        {1, window, RGB(0, 0, 0)},
        {2, Yellow, Red},
        {3, GetSysColor(COLOR_HIGHLIGHT), GetSysColor(COLOR_HIGHLIGHTTEXT)},
        {4, evenRow, RGB(0, 0, 0)},
    };
    for (const TCase& c : cases) {
        for (int column = 0; column < 4; ++column)
            EXPECT_EQ(Background(host.List, c.Row, column), c.Back) << "row " << c.Row << " column " << column;
        RECT item = ListCellRect(host.List, c.Row, 0);
        RECT action{item.left, item.top, ListCellRect(host.List, c.Row, 1).left, item.bottom};
        EXPECT_NE(TextSpan(host.List, action, c.Text).first, -1) << "no text in the row's colour in row " << c.Row;
    }
    // Text inset 3 pixels: the Action text starts at least 3 pixels into its cell; the
    // Time column is right-aligned, its text ending within a few pixels of the edge.
    RECT action = ListCellRect(host.List, 1, 0);
    RECT time = ListCellRect(host.List, 1, 1);
    auto actionSpan = TextSpan(host.List, RECT{action.left, action.top, time.left, action.bottom}, RGB(0, 0, 0));
    auto timeSpan = TextSpan(host.List, time, RGB(0, 0, 0));
    EXPECT_GE(actionSpan.first, action.left + 3);
    EXPECT_LT(actionSpan.first, action.left + 8);
    EXPECT_LE(timeSpan.second, time.right - 4);
    EXPECT_GT(timeSpan.first, (time.left + time.right) / 2);
}
