// The trace list's painting against the platform's own drawing of the same cells: each
// cell shows what DrawText shows of its whole text in the row's colours, however the list
// got there (a long text cut short before it is measured, an ellipsis kept from an earlier
// paint, a row's place and selection worked out once per paint), and the header above the
// rows shows as it paints itself.
#include "Images.h"
#include "MainWindowFixture.h"

#include "StatementTotals.h"
#include "TraceColors.h"
#include "Utils.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <functional>

namespace {

// A picture of w x h pixels, 32 bits each, read back from a DIB section.
struct TPicture {
    int Width = 0;
    int Height = 0;
    std::vector<uint32_t> Pixels;
    uint32_t At(int x, int y) const { return Pixels[static_cast<size_t>(y) * Width + x]; }
};

// Runs draw on a memory DC holding a w x h DIB section and returns what it drew.
TPicture Draw(int width, int height, const std::function<void(HDC)>& draw)
{
    TPicture picture{width, height, {}};
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateTopDownDib(dc, width, height, &bits);
    if (!bitmap) {
        DeleteDC(dc);
        ADD_FAILURE() << "no DIB section of " << width << " x " << height;
        return {};
    }
    HGDIOBJ old = SelectObject(dc, bitmap);
    draw(dc);
    GdiFlush();
    auto* first = static_cast<const uint32_t*>(bits);
    picture.Pixels.assign(first, first + static_cast<size_t>(width) * height);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return picture;
}

// The window's client area as the screen shows it.
TPicture Screen(HWND window)
{
    RECT client{};
    GetClientRect(window, &client);
    return Draw(client.right, client.bottom, [&](HDC dc) {
        HDC screen = GetDC(window);
        BitBlt(dc, 0, 0, client.right, client.bottom, screen, 0, 0, SRCCOPY);
        ReleaseDC(window, screen);
    });
}

// A cell of w x h as DrawText alone paints it: the background, then the whole text on one
// line, vertically centred, 3 pixels in from either side, cut with an ellipsis.
TPicture DrawTextCell(HFONT font, int width, int height, COLORREF text, COLORREF back, const std::wstring& caption,
                      UINT align)
{
    return Draw(width, height, [&](HDC dc) {
        HBRUSH brush = CreateSolidBrush(back);
        RECT rect{0, 0, width, height};
        FillRect(dc, &rect, brush);
        DeleteObject(brush);
        HGDIOBJ oldFont = SelectObject(dc, font);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, text);
        InflateRect(&rect, -3, 0);
        DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &rect,
                  align | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
        SelectObject(dc, oldFont);
    });
}

class TraceListPaintTest : public MainWindowTest {
protected:
    std::vector<TListRow> Added;

    void Add(const TListRow& row)
    {
        Form->AddTraceRow(row);
        Added.push_back(row);
    }

    // Whether the list's header shows on the screen as it paints itself: the list's own
    // painting goes around it.
    std::string HeaderDifferences(const TPicture& screen)
    {
        HWND header = ListView_GetHeader(Form->TraceView->lvwTrace);
        RECT place{};
        GetWindowRect(header, &place);
        MapWindowPoints(nullptr, Form->TraceView->lvwTrace, reinterpret_cast<POINT*>(&place), 2);
        TPicture own = Draw(place.right - place.left, place.bottom - place.top, [&](HDC dc) {
            SendMessageW(header, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
        });
        int differing = 0;
        for (int x = std::max<LONG>(place.left, 0); x < std::min<LONG>(place.right, screen.Width); ++x)
            for (int y = std::max<LONG>(place.top, 0); y < std::min<LONG>(place.bottom, screen.Height); ++y)
                differing += screen.At(x, y) != own.At(x - place.left, y - place.top);
        return differing ? Format("header: %d pixels differ; ", differing) : "";
    }

    // Pixels of the visible cells that differ from DrawText's own drawing of the cell's whole
    // text in the row's colours, described; grid lines (on a cell's edges) left out.
    std::string Differences(const std::vector<int>& align, int selected)
    {
        HWND list = Form->TraceView->lvwTrace;
        InvalidateRect(list, nullptr, TRUE);
        UpdateWindow(list);
        TPicture screen = Screen(list);
        auto font = reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0));
        int top = static_cast<int>(SendMessageW(list, LVM_GETTOPINDEX, 0, 0));
        int perPage = static_cast<int>(SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0));
        std::string found = HeaderDifferences(screen);
        int last = std::min<int>(top + perPage, static_cast<int>(Added.size())) - 1;
        if (last < top)
            return found + "no row in view";
        for (int row = top; row <= last; ++row) {
            bool isSelected = row == selected;
            COLORREF text = isSelected ? ColorToRGB(clHighlightText) : RGB(0, 0, 0);
            COLORREF back = isSelected ? ColorToRGB(clHighlight) : ColorToRGB(row % 2 ? clWindow : clEvenRow);
            for (int column = 0; column < 4; ++column) {
                // Column 0's text is drawn over the whole row, the next column over it.
                RECT cell = ListCellRect(list, row, column);
                const std::string& utf8 = column == 0 ? Added[row].Caption : Added[row].SubItems[column - 1];
                std::wstring caption = Utf8ToWide(SingleLineText(utf8.substr(0, utf8.find('\0'))));
                TPicture expected = DrawTextCell(font, cell.right - cell.left, cell.bottom - cell.top, text, back,
                                                 caption, static_cast<UINT>(align[column]));
                int right = column == 0 ? ListCellRect(list, row, 1).left : cell.right;
                int differing = 0, firstX = -1;
                for (int x = std::max<LONG>(cell.left + 1, 0); x < std::min(right - 1, screen.Width); ++x)
                    for (int y = cell.top + 1; y < cell.bottom - 1; ++y)
                        if (screen.At(x, y) != expected.At(x - cell.left, y - cell.top)) {
                            ++differing;
                            if (firstX < 0)
                                firstX = x;
                        }
                if (differing > 0)
                    found += Format("row %d column %d: %d pixels differ, from x = %d; ", row, column, differing, firstX);
            }
        }
        return found;
    }
};

} // namespace

TEST_F(TraceListPaintTest, EveryCellShowsWhatDrawTextShowsOfItsWholeText)
{
    HWND list = Form->TraceView->lvwTrace;
    // Texts of ASCII letters just too short and just too long for the Statement cell: where
    // the ellipsis comes in.
    HDC screen = GetDC(list);
    HGDIOBJ oldFont = SelectObject(screen, reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0)));
    SIZE m{};
    GetTextExtentPoint32W(screen, L"m", 1, &m);
    SelectObject(screen, oldFont);
    ReleaseDC(list, screen);
    ASSERT_GT(m.cx, 0);
    int fits = (ListCellRect(list, 0, 3).right - ListCellRect(list, 0, 3).left - 6) / m.cx;

    std::string longSql = "SELECT customer_id, order_id, amount, region_id, created_at FROM orders WHERE ";
    while (longSql.size() < 400)
        longSql += "amount > 100 AND ";
    std::string cyrillic;
    for (int i = 0; i < 150; ++i)
        cyrillic += "\xD0\x96";  // U+0416
    std::string accents;
    for (int i = 0; i < 200; ++i)
        accents += "e\xCC\x81";  // e, U+0301
    const std::vector<TListRow> rows = {
        {"Execute", {"07", "OCI_SUCCESS", "SELECT 1 FROM dual"}},
        {"Fetch (50)", {"250", "OCI_NO_DATA", longSql}},
        {"Fetch (1000000)", {"1234567890123456789", "OCI_SUCCESS_WITH_INFO", "SELECT a,\r\n  b\r\n  FROM t\r\n" + longSql}},
        // Times a little too long for their column until it is widened.
        {"Execute", {"123456789012", "OCI_ERROR", "SELECT '" + cyrillic + "' FROM dual"}},
        {"Execute", {"12345678901234", "OCI_SUCCESS", "SELECT 'abc " + cyrillic + " def' || " + longSql}},
        {"Execute", {"01", "OCI_SUCCESS", "SELECT '" + accents + "' FROM dual"}},
        {"Execute", {"01", "OCI_SUCCESS", "SELECT\tcolumn_a,\tcolumn_b\t" + longSql}},
        {"Execute", {"01", "OCI_SUCCESS", "SELECT " + std::string(20000, 'x')}},
        {"Execute", {"01", "OCI_SUCCESS", std::string("SELECT 'a\0b' FROM dual ", 24) + longSql}},
    };
    for (int round = 0; round < 3; ++round) {
        for (const TListRow& row : rows)
            Add(row);
        for (int k = fits - 3; k <= fits + 3; ++k)
            Add(TListRow{"Execute", {"01", "OCI_SUCCESS", std::string(static_cast<size_t>(std::max(k, 1)), 'm')}});
    }
    const std::vector<int> align = {DT_LEFT, DT_RIGHT, DT_LEFT, DT_LEFT};
    int selected = -1;
    const struct {
        const char* Step;
        std::function<void()> Do;
    } steps[] = {
        {"at the top", [&] { SendMessageW(list, LVM_ENSUREVISIBLE, 0, FALSE); }},
        // Now with what the first paint kept.
        {"painted again", [] {}},
        {"a row selected", [&] { SelectRow(selected = 4); }},
        {"scrolled down", [&] { SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(Added.size() - 1), FALSE); }},
        {"the selection moved", [&] { SelectRow(selected = static_cast<int>(Added.size()) - 3); }},
        {"Statement narrowed", [&] { SendMessageW(list, LVM_SETCOLUMNWIDTH, 3, MAKELPARAM(250, 0)); }},
        {"Time widened", [&] { SendMessageW(list, LVM_SETCOLUMNWIDTH, 1, MAKELPARAM(160, 0)); }},
        {"scrolled sideways", [&] { SendMessageW(list, LVM_SCROLL, 40, 0); }},
        {"scrolled back up", [&] { SendMessageW(list, LVM_ENSUREVISIBLE, 2, FALSE); }},
    };
    for (const auto& step : steps) {
        step.Do();
        EXPECT_EQ(Differences(align, selected), "") << step.Step;
    }
}
