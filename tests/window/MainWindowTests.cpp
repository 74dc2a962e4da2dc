// The main window without sessions: layout, columns, the list's behaviour under
// arriving rows, images and version.
#include "MainWindowFixture.h"

#include "Errors.h"
#include "Images.h"
#include "TraceColors.h"
#include "Utils.h"

#include <set>

namespace {

int ColumnWidth(HWND list, int column)
{
    return static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
}

// Rows of traced calls, as a session's records make them.
void AddRecords(TfrmMain& form, int from, int to)
{
    for (int i = from; i < to; ++i)
        form.AddTraceRow(TListRow{"Execute", {"", "OCI_SUCCESS", "SELECT " + std::to_string(i) + " FROM dual"}});
}

int WindowWidth(HWND window)
{
    RECT r{};
    GetWindowRect(window, &r);
    return r.right - r.left;
}

} // namespace

TEST_F(MainWindowTest, WindowHasItsSizeLayoutAndColumns)
{
    RECT window{};
    GetWindowRect(Form->Handle, &window);
    EXPECT_EQ(window.right - window.left, 696);
    EXPECT_EQ(window.bottom - window.top, 480);
    RECT client{};
    GetClientRect(Form->Handle, &client);
    RECT list = ControlBounds(Form->TraceView->lvwTrace), memo = ControlBounds(Form->TraceView->memSQL),
         splitter = ControlBounds(Form->TraceView->Splitter1.Handle);
    EXPECT_EQ(list.top, TfrmMain::ToolBarHeight);
    EXPECT_EQ(list.bottom, splitter.top);
    EXPECT_EQ(splitter.bottom - splitter.top, 3);
    EXPECT_EQ(splitter.bottom, memo.top);
    EXPECT_EQ(memo.bottom - memo.top, 89);
    RECT status = ControlBounds(Form->StatusBar1);
    EXPECT_EQ(memo.bottom, status.top);
    EXPECT_EQ(status.bottom, client.bottom);
    EXPECT_EQ(list.right - list.left, client.right);

    // The detail columns take no room until a session traces what fills them.
    const char* captions[] = {"Action", "Time", "Result", "Statement", "Rows", "Binds", "Error"};
    const int widths[] = {60, 70, 100, -1, 0, 0, 0};
    const int formats[] = {LVCFMT_LEFT, LVCFMT_RIGHT, LVCFMT_LEFT, LVCFMT_LEFT, LVCFMT_RIGHT, LVCFMT_LEFT, LVCFMT_LEFT};
    for (int i = 0; i < 7; ++i) {
        char text[64] = {};
        LVCOLUMNA column{};
        column.mask = LVCF_TEXT | LVCF_FMT;
        column.pszText = text;
        column.cchTextMax = sizeof(text);
        ASSERT_TRUE(SendMessageA(Form->TraceView->lvwTrace, LVM_GETCOLUMNA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column)));
        EXPECT_STREQ(text, captions[i]);
        EXPECT_EQ(column.fmt & LVCFMT_JUSTIFYMASK, formats[i]) << i;
        if (widths[i] >= 0) {
            EXPECT_EQ(ColumnWidth(Form->TraceView->lvwTrace, i), widths[i]) << i;
        }
    }
    LONG style = GetWindowLongA(Form->TraceView->lvwTrace, GWL_STYLE);
    EXPECT_TRUE(style & LVS_OWNERDATA);
    EXPECT_TRUE(style & LVS_NOSORTHEADER);
    DWORD ex = static_cast<DWORD>(SendMessageA(Form->TraceView->lvwTrace, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    EXPECT_TRUE(ex & LVS_EX_GRIDLINES);
    EXPECT_TRUE(ex & LVS_EX_FULLROWSELECT);
    EXPECT_TRUE(GetWindowLongA(Form->TraceView->memSQL, GWL_STYLE) & ES_READONLY);
}

TEST_F(MainWindowTest, StatementColumnFillsTheWidthUntilTheOtherColumnsFillTheList)
{
    const int others = 60 + 70 + 100;
    const int scrollBar = GetSystemMetrics(SM_CXVSCROLL);
    // Window widths, widest first, down to one where the first three columns fill the list.
    const int widths[] = {900, 696, 500, 360, 300, 200};
    int last = -1;
    for (int width : widths) {
        SetWindowPos(Form->Handle, nullptr, 0, 0, width, 480, SWP_NOMOVE | SWP_NOZORDER);
        PumpFor(20);
        int listWidth = WindowWidth(Form->TraceView->lvwTrace);
        int expected = listWidth - others - scrollBar - 4;
        if (expected > 0) {
            EXPECT_EQ(ColumnWidth(Form->TraceView->lvwTrace, 3), expected) << "window width " << width;
            last = expected;
        } else {
            ASSERT_GT(last, 0) << "the table must start wide enough";
            EXPECT_EQ(ColumnWidth(Form->TraceView->lvwTrace, 3), last) << "window width " << width;
        }
    }
    EXPECT_LE(WindowWidth(Form->TraceView->lvwTrace), others + scrollBar + 4) << "the narrowest case was not narrow enough";
}

TEST_F(MainWindowTest, ArrivingRowsMoveNeitherTheSelectionNorAViewAwayFromTheEnd)
{
    HWND list = Form->TraceView->lvwTrace;
    // In bursts, as records arrive.
    for (int i = 0; i < 300; i += 30) {
        AddRecords(*Form, i, i + 30);
        PumpFor(10);
    }
    // The list followed the rows to the end while its last row was in view.
    int perPage = static_cast<int>(SendMessageA(list, LVM_GETCOUNTPERPAGE, 0, 0));
    int top = static_cast<int>(SendMessageA(list, LVM_GETTOPINDEX, 0, 0));
    ASSERT_GT(perPage, 5);
    EXPECT_GE(top + perPage, 300);

    // The user scrolls up and selects a row: new rows leave both alone.
    SendMessageA(list, LVM_ENSUREVISIBLE, 10, FALSE);
    SelectRow(12);
    int topBefore = static_cast<int>(SendMessageA(list, LVM_GETTOPINDEX, 0, 0));
    ASSERT_LT(topBefore + perPage, 300);
    AddRecords(*Form, 300, 400);
    PumpFor(20);
    EXPECT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 400);
    EXPECT_EQ(SendMessageA(list, LVM_GETTOPINDEX, 0, 0), topBefore);
    EXPECT_EQ(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED), 12);
    EXPECT_EQ(MemoLines(), std::vector<std::string>{"SELECT 12 FROM dual"});

    // Back at the end, the view follows again; the selection still stays.
    SendMessageA(list, LVM_ENSUREVISIBLE, 399, FALSE);
    AddRecords(*Form, 400, 450);
    PumpFor(20);
    top = static_cast<int>(SendMessageA(list, LVM_GETTOPINDEX, 0, 0));
    EXPECT_GE(top + perPage, 450);
    EXPECT_EQ(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED), 12);
}

TEST_F(MainWindowTest, ClicksAndArrowKeysSelectOneRowAndTheMemoFollows)
{
    HWND list = Form->TraceView->lvwTrace;
    AddRecords(*Form, 0, 12);
    PumpFor(30);
    ASSERT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 12);
    SetFocus(list);
    auto selected = [&] { return static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED)); };
    auto count = [&] { return static_cast<int>(SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0)); };
    auto key = [&](WORD vk) {
        SendMessageA(list, WM_KEYDOWN, vk, 0);
        SendMessageA(list, WM_KEYUP, vk, 0);
    };
    auto click = [&](int row) {
        RECT r{};
        r.left = LVIR_BOUNDS;
        SendMessageA(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
        LPARAM at = MAKELPARAM(r.left + 20, (r.top + r.bottom) / 2);
        SendMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageA(list, WM_LBUTTONUP, 0, at);
    };
    const struct {
        const char* Step;
        std::function<void()> Do;
        int Row;
    } steps[] = {
        {"click row 3", [&] { click(3); }, 3},
        {"click row 7", [&] { click(7); }, 7},
        {"Down", [&] { key(VK_DOWN); }, 8},
        {"Up", [&] { key(VK_UP); }, 7},
        {"Home", [&] { key(VK_HOME); }, 0},
        {"Up at the top", [&] { key(VK_UP); }, 0},
        {"End", [&] { key(VK_END); }, 11},
        {"Down at the end", [&] { key(VK_DOWN); }, 11},
        {"click row 7 again", [&] { click(7); }, 7},
        {"click the same row", [&] { click(7); }, 7},
    };
    for (const auto& step : steps) {
        step.Do();
        MessageLoop().ProcessMessages();
        EXPECT_EQ(selected(), step.Row) << step.Step;
        EXPECT_EQ(count(), 1) << step.Step;
        EXPECT_EQ(MemoLines(), std::vector<std::string>{"SELECT " + std::to_string(step.Row) + " FROM dual"}) << step.Step;
    }
}

TEST_F(MainWindowTest, ARowWhoseSelectionChangesIsRepaintedFromItsLeftEdge)
{
    for (int i = 0; i < 4; ++i)
        Form->AddTraceRow(TListRow{"Execute", {"07", "OCI_SUCCESS", "SELECT " + std::to_string(i) + " FROM dual"}});
    UpdateWindow(Form->TraceView->lvwTrace);
    PumpFor(100);
    const COLORREF even = ColorToRGB(clEvenRow), odd = GetSysColor(COLOR_WINDOW),
                   selected = GetSysColor(COLOR_HIGHLIGHT);
    // The first pixel columns of a row, left of its text and inside its grid lines: what a
    // repaint that starts right of the edge leaves in the old colour.
    auto leftEdge = [&](int row) {
        RECT item = ListCellRect(Form->TraceView->lvwTrace, row, 0);
        return RECT{item.left, item.top + 2, item.left + 3, item.bottom - 3};
    };
    const struct {
        int Select;
        std::vector<std::pair<int, COLORREF>> Rows;
    } steps[] = {
        {0, {{0, selected}, {1, odd}, {2, even}}},
        {2, {{0, even}, {2, selected}}},
        {1, {{1, selected}, {2, even}}},
        {-1, {{1, odd}}},
    };
    for (const auto& step : steps) {
        SelectRow(step.Select);
        // Only what the list invalidated is painted now; no full repaint.
        UpdateWindow(Form->TraceView->lvwTrace);
        for (const auto& [row, color] : step.Rows) {
            RECT edge = leftEdge(row);
            std::string seen;
            for (int x = edge.left; x < edge.right; ++x)
                seen += Format(" %06X", static_cast<unsigned>(PixelAt(Form->TraceView->lvwTrace, x, (edge.top + edge.bottom) / 2)));
            EXPECT_EQ(PixelsOtherThan(Form->TraceView->lvwTrace, edge, color), 0)
                << "row " << row << " after selecting " << step.Select << ": want " << Format("%06X", static_cast<unsigned>(color))
                << ", the middle line from x = " << edge.left << " shows" << seen;
        }
    }
}

TEST_F(MainWindowTest, CellsArePaintedWhereTheHeaderPutsTheirColumnsAsTheyAreResizedAndScrolled)
{
    HWND list = Form->TraceView->lvwTrace;
    for (int i = 0; i < 3; ++i)
        Form->AddTraceRow(TListRow{"Execute", {"250", "OCI_SUCCESS", "SELECT " + std::to_string(i) + " FROM dual"}});
    // After each step the whole list is painted anew.
    const struct {
        const char* Step;
        std::function<void()> Do;
    } steps[] = {
        {"as made", [] {}},
        {"Time widened", [&] { SendMessageA(list, LVM_SETCOLUMNWIDTH, 1, MAKELPARAM(160, 0)); }},
        {"scrolled sideways", [&] { SendMessageA(list, LVM_SCROLL, 30, 0); }},
        {"Result narrowed", [&] { SendMessageA(list, LVM_SETCOLUMNWIDTH, 2, MAKELPARAM(90, 0)); }},
    };
    for (const auto& step : steps) {
        step.Do();
        InvalidateRect(list, nullptr, TRUE);
        UpdateWindow(list);
        PumpFor(50);
        for (int row = 0; row < 3; ++row)
            for (int column = 0; column < 4; ++column) {
                RECT cell = ListCellRect(list, row, column);
                // Column 0's rectangle is the whole row.
                if (column == 0)
                    cell.right = ListCellRect(list, row, 1).left;
                if (cell.left < 0)
                    continue;
                auto text = ColorSpan(list, cell, RGB(0, 0, 0));
                SCOPED_TRACE(Format("%s: row %d, column %d from x = %d to %d, text from %d to %d", step.Step, row,
                                    column, static_cast<int>(cell.left), static_cast<int>(cell.right), text.first,
                                    text.second));
                ASSERT_NE(text.first, -1);
                EXPECT_GE(text.first, cell.left + 3);
                // Time is right-aligned, the others left-aligned.
                if (column == 1) {
                    EXPECT_LE(text.second, cell.right - 4);
                    EXPECT_GT(text.first, (cell.left + cell.right) / 2);
                } else {
                    EXPECT_LT(text.first, cell.left + 8);
                    EXPECT_LT(text.second, cell.right);
                }
            }
    }
}

TEST_F(MainWindowTest, AStatementTooLongForItsCellEndsInAnEllipsisAtTheCellsEdgeHoweverLong)
{
    const struct {
        const char* Name;
        size_t Length;
    } statements[] = {{"short", 20}, {"too long", 300}, {"a megabyte", 1 << 20}};
    for (const auto& statement : statements)
        Form->AddTraceRow(TListRow{"Execute", {"07", "OCI_SUCCESS", "SELECT " + std::string(statement.Length, 'x')}});
    UpdateWindow(Form->TraceView->lvwTrace);
    PumpFor(100);
    std::vector<std::pair<int, int>> spans;
    for (int row = 0; row < 3; ++row)
        spans.push_back(ColorSpan(Form->TraceView->lvwTrace, ListCellRect(Form->TraceView->lvwTrace, row, 3), RGB(0, 0, 0)));
    RECT cell = ListCellRect(Form->TraceView->lvwTrace, 0, 3);
    EXPECT_LT(spans[0].second, cell.right - 50) << statements[0].Name;
    for (int row = 1; row < 3; ++row) {
        // The ellipsis ends less than a character short of the cell's inner edge.
        EXPECT_LE(spans[static_cast<size_t>(row)].second, cell.right - 3) << statements[row].Name;
        EXPECT_GT(spans[static_cast<size_t>(row)].second, cell.right - 16) << statements[row].Name;
    }
    // However long the statement, the cell shows the same beginning and ellipsis.
    EXPECT_EQ(spans[2], spans[1]);
}

TEST_F(MainWindowTest, ImageListHoldsTenDistinctImages)
{
    ASSERT_EQ(ImageList_GetImageCount(Form->IML.get()), ImageCount);
    int cx = 0, cy = 0;
    ImageList_GetIconSize(Form->IML.get(), &cx, &cy);
    EXPECT_EQ(cx, 16);
    EXPECT_EQ(cy, 16);
    // Each image drawn on white: none blank, no two alike.
    std::set<std::vector<COLORREF>> seen;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 16, 16);
    HGDIOBJ old = SelectObject(dc, bitmap);
    for (int i = 0; i < ImageCount; ++i) {
        RECT r{0, 0, 16, 16};
        FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        ImageList_Draw(Form->IML.get(), i, dc, 0, 0, ILD_TRANSPARENT);
        std::vector<COLORREF> pixels;
        int drawn = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                pixels.push_back(GetPixel(dc, x, y));
                drawn += pixels.back() != RGB(255, 255, 255);
            }
        EXPECT_GT(drawn, 20) << "image " << i;
        EXPECT_TRUE(seen.insert(pixels).second) << "image " << i << " repeats another";
    }
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
}

TEST_F(MainWindowTest, MenusAndToolBarCarryTheActions)
{
    struct TItem {
        int Id;
        const char* Caption;
    };
    const struct {
        int Position;
        const char* Caption;
        std::vector<TItem> Items;
    } menus[] = {
        {0, "&Debug", {{cmDebugRun, "Run..."}, {cmDebugAttach, "Attach..."}, {cmDebugStop, "Stop"}, {0, ""}, {cmExit, "Exit"}}},
        {1,
         "&Edit",
         {{cmEditCopy, "&Copy\tCtrl+C"}, {cmEditSelectAll, "Select &All\tCtrl+A"}, {0, ""}, {cmEditFilter, "&Filter\tCtrl+F"}}},
        {2, "&View", {{cmViewStatements, "&Statements\tCtrl+T"}, {cmViewGroupByShape, "Group by s&hape"}}},
        {3,
         "&Trace",
         {{cmTraceOpen, "Open trace...\tCtrl+O"},
          {cmSave, "Save log..."},
          {cmViewClear, "Clear log"},
          {cmTraceOpt, "Options..."},
          {cmTraceEnable, "Enable trace"},
          {cmStmtColorize, "Statement colorize..."},
          {cmSaveStatements, "Save &statements...\tCtrl+Shift+S"}}},
        {4, "Help", {{cmAbout, "About..."}}},
    };
    HMENU bar = GetMenu(Form->Handle);
    ASSERT_EQ(bar, Form->mmu);
    ASSERT_EQ(GetMenuItemCount(bar), 5);
    for (const auto& menu : menus) {
        char text[128] = {};
        GetMenuStringA(bar, static_cast<UINT>(menu.Position), text, sizeof(text), MF_BYPOSITION);
        EXPECT_STREQ(text, menu.Caption);
        HMENU popup = GetSubMenu(bar, menu.Position);
        ASSERT_EQ(GetMenuItemCount(popup), static_cast<int>(menu.Items.size())) << menu.Caption;
        for (size_t i = 0; i < menu.Items.size(); ++i) {
            EXPECT_EQ(static_cast<int>(GetMenuItemID(popup, static_cast<int>(i))), menu.Items[i].Id);
            text[0] = '\0';
            GetMenuStringA(popup, static_cast<UINT>(i), text, sizeof(text), MF_BYPOSITION);
            EXPECT_STREQ(text, menu.Items[i].Caption);
        }
    }
    // Tool bar, left to right; the separator is 8 pixels wide.
    const int buttons[] = {cmDebugRun, cmDebugAttach, cmDebugStop, 0, cmSave, cmViewClear, cmTraceEnable, cmStmtColorize};
    const int images[] = {imgRun, imgAttach, imgStop, 8, imgSave, imgClear, imgTraceEnable, imgColorize};
    ASSERT_EQ(SendMessageA(Form->ToolBar1, TB_BUTTONCOUNT, 0, 0), 8);
    for (int i = 0; i < 8; ++i) {
        TBBUTTON button{};
        SendMessageA(Form->ToolBar1, TB_GETBUTTON, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&button));
        EXPECT_EQ(button.idCommand, buttons[i]) << i;
        EXPECT_EQ(button.iBitmap, images[i]) << i;
    }
    TBBUTTON run{};
    SendMessageA(Form->ToolBar1, TB_GETBUTTON, 0, reinterpret_cast<LPARAM>(&run));
    EXPECT_TRUE(run.fsStyle & BTNS_DROPDOWN);
}

TEST_F(MainWindowTest, ToolButtonsGiveTheirHints)
{
    const struct {
        int Id;
        const char* Hint;
    } hints[] = {{cmDebugRun, ""},           {cmDebugAttach, "Attach"},        {cmDebugStop, "Stop"},
                 {cmSave, "Save"},           {cmViewClear, "Clear view"},      {cmTraceEnable, "Enable trace"},
                 {cmStmtColorize, "Statement colorize"}};
    for (const auto& h : hints) {
        // What the tool bar's tooltip asks the window for.
        NMTTDISPINFOA info{};
        info.hdr.hwndFrom = reinterpret_cast<HWND>(SendMessageA(Form->ToolBar1, TB_GETTOOLTIPS, 0, 0));
        info.hdr.idFrom = static_cast<UINT_PTR>(h.Id);
        info.hdr.code = TTN_GETDISPINFOA;
        SendMessageA(Form->Handle, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info));
        ASSERT_TRUE(info.lpszText) << h.Id;
        EXPECT_STREQ(info.lpszText, h.Hint) << h.Id;
    }
}
