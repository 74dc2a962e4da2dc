// Finding one's way in a trace, driven by keys and clicks: the filter box, the selection
// and Copy through the clipboard, the statements view, and the status bar.
#include "MainWindowFixture.h"

#include "ListViewProbes.h"
#include "MessagePump.h"
#include "SqlId.h"
#include "StatementTotals.h"
#include "TraceView.h"
#include "TraceMask.h"
#include "Utils.h"

#include <commctrl.h>

#include <memory>

#include <gtest/gtest.h>

namespace {

const std::vector<TListRow> Trace = {
    {"Start", {}},
    {"Execute", {"07", "OCI_SUCCESS", "SELECT a\r\nFROM orders"}},
    {"Fetch (10)", {"250", "OCI_NO_DATA", "SELECT a\r\nFROM orders"}},
    {"Execute", {"", "OCI_ERROR", "UPDATE t SET name = 'Жук'\tWHERE id = 1"}},
    {"Execute", {"01", "OCI_SUCCESS", "select b from ORDERS2"}},
    {"Finish", {}},
};

class TraceViewTest : public MainWindowTest {
protected:
    void AddTrace()
    {
        for (const TListRow& row : Trace)
            Form->AddTraceRow(row);
        PumpFor(50);
    }
    // Characters typed into the filter box.
    void Type(const std::wstring& text)
    {
        for (wchar_t c : text)
            PostMessageW(Form->TraceView->edtFilter, WM_CHAR, c, 1);
        PumpFor(50);
    }
    // Whether Ctrl+F pressed in the list puts the focus into the filter box (which it may
    // not keep while tests beside this one open windows on the same display).
    bool CtrlFFocusesTheFilterBox()
    {
        bool focused = false;
        SetWindowSubclass(Form->TraceView->edtFilter, WatchFocus, 99, reinterpret_cast<DWORD_PTR>(&focused));
        PressShortCut(Form->TraceView->lvwTrace, 'F', FCONTROL);
        RemoveWindowSubclass(Form->TraceView->edtFilter, WatchFocus, 99);
        return focused;
    }
    static LRESULT CALLBACK WatchFocus(HWND edit, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR focused)
    {
        if (msg == WM_SETFOCUS)
            *reinterpret_cast<bool*>(focused) = true;
        return DefSubclassProc(edit, msg, wParam, lParam);
    }
    std::string StatusText(int part) const
    {
        wchar_t text[256] = {};
        SendMessageW(Form->StatusBar1, SB_GETTEXTW, static_cast<WPARAM>(part), reinterpret_cast<LPARAM>(text));
        return WideToUtf8(text);
    }
    // A click on a row of a list, with Ctrl held if control; twice for a double-click.
    void Click(HWND list, int row, bool control = false, bool twice = false)
    {
        RECT cell = ListCellRect(list, row, 0);
        LPARAM at = MAKELPARAM(cell.left + 10, (cell.top + cell.bottom) / 2);
        WPARAM keys = MK_LBUTTON | (control ? MK_CONTROL : 0);
        SetFocus(list);
        SendMessageW(list, WM_LBUTTONDOWN, keys, at);
        SendMessageW(list, WM_LBUTTONUP, keys & ~MK_LBUTTON, at);
        if (twice) {
            SendMessageW(list, WM_LBUTTONDBLCLK, keys, at);
            SendMessageW(list, WM_LBUTTONUP, keys & ~MK_LBUTTON, at);
        }
        PumpFor(30);
    }
    void ClickHeader(HWND list, int column)
    {
        auto header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
        RECT r{};
        SendMessageW(header, HDM_GETITEMRECT, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&r));
        LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(header, WM_LBUTTONUP, 0, at);
        PumpFor(30);
    }
    std::string Clipboard() const
    {
        std::string text;
        if (!OpenClipboard(nullptr))
            return "(no clipboard)";
        if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
            text = WideToUtf8(static_cast<const wchar_t*>(GlobalLock(data)));
            GlobalUnlock(data);
        }
        CloseClipboard();
        return text;
    }
    std::vector<std::vector<std::string>> Lines(HWND list) const
    {
        std::vector<std::vector<std::string>> lines;
        for (int row = 0; row < ListRowCount(list); ++row) {
            lines.emplace_back();
            for (int column = 0; column < StatementColumnCount; ++column)
                lines.back().push_back(ListTextUtf8(list, row, column));
        }
        return lines;
    }
    static std::string Tsv(const std::vector<TListRow>& rows) { return ItemsAsText(TVectorRows(rows), '\t'); }
    static std::vector<TListRow> TraceRows(std::initializer_list<int> indexes)
    {
        std::vector<TListRow> rows;
        for (int i : indexes)
            rows.push_back(Trace[static_cast<size_t>(i)]);
        return rows;
    }
};

} // namespace

TEST_F(TraceViewTest, TheFilterShowsTheRowsHoldingWhatIsTypedAndEscapeShowsAllAgain)
{
    AddTrace();
    SelectRow(4);
    EXPECT_TRUE(CtrlFFocusesTheFilterBox());
    const struct {
        const wchar_t* Typed;  // added to what the box holds; nullptr: Escape
        std::vector<std::string> Captions;
        int Selected;  // the line of row 4, which stays selected where it is shown
    } steps[] = {
        {L"ORDERS", {"Execute", "Fetch (10)", "Execute"}, 2},
        {L"2", {"Execute"}, 0},
        {nullptr, {"Start", "Execute", "Fetch (10)", "Execute", "Execute", "Finish"}, 4},
        // Across a line break, which shows as a blank; in another script; the captions too.
        {L"a from", {"Execute", "Fetch (10)"}, -1},
        {nullptr, {"Start", "Execute", "Fetch (10)", "Execute", "Execute", "Finish"}, -1},
        {L"жук' w", {"Execute"}, -1},
        {nullptr, {"Start", "Execute", "Fetch (10)", "Execute", "Execute", "Finish"}, -1},
        {L"fINISH", {"Finish"}, -1},
    };
    for (const auto& step : steps) {
        if (step.Typed)
            Type(step.Typed);
        else
            PressShortCut(Form->TraceView->edtFilter, VK_ESCAPE, 0);
        std::string what = step.Typed ? WideToUtf8(step.Typed) : "Escape";
        EXPECT_EQ(Captions(), step.Captions) << what;
        EXPECT_EQ(ListSelectedRow(Form->TraceView->lvwTrace), step.Selected) << what;
        EXPECT_EQ(StatusText(spRows), Format("%d of 6 rows", static_cast<int>(step.Captions.size()))) << what;
    }
    EXPECT_EQ(WindowTextUtf8(Form->TraceView->edtFilter), "fINISH");

    // Rows that arrive are filtered as they come; Save log writes the rows shown.
    PressShortCut(Form->TraceView->edtFilter, VK_ESCAPE, 0);
    Type(L"orders");
    Form->AddTraceRow(TListRow{"Execute", {"", "OCI_SUCCESS", "DELETE FROM orders"}});
    Form->AddTraceRow(TListRow{"Execute", {"", "OCI_SUCCESS", "DELETE FROM t"}});
    PumpFor(50);
    EXPECT_EQ(StatusText(spRows), "4 of 8 rows");
    TScratchDir dir;
    TModalDriver driver("Save As", [&](HWND dlg) { AnswerSaveDialog(dlg, 3, dir.File("shown")); });
    Command(cmSave);
    ASSERT_TRUE(driver.Wait());
    std::vector<TListRow> shown = TraceRows({1, 2, 4});
    shown.push_back(TListRow{"Execute", {"", "OCI_SUCCESS", "DELETE FROM orders"}});
    EXPECT_EQ(ReadFileBytes(dir.File("shown.txt")), Tsv(shown));
}

TEST_F(TraceViewTest, CopyPutsTheSelectedRowsOnTheClipboardAsTheTabDelimitedExportWritesThem)
{
    AddTrace();
    Click(Form->TraceView->lvwTrace, 1);
    Click(Form->TraceView->lvwTrace, 3, true);
    EXPECT_EQ(SendMessageW(Form->TraceView->lvwTrace, LVM_GETSELECTEDCOUNT, 0, 0), 2);
    // The memo shows the row clicked last, line breaks and all.
    EXPECT_EQ(WindowTextUtf8(Form->TraceView->memSQL), Trace[3].SubItems[2]);
    PressShortCut(Form->TraceView->lvwTrace, 'C', FCONTROL);
    EXPECT_EQ(Clipboard(), Tsv(TraceRows({1, 3})));

    PressShortCut(Form->TraceView->lvwTrace, 'A', FCONTROL);
    EXPECT_EQ(SendMessageW(Form->TraceView->lvwTrace, LVM_GETSELECTEDCOUNT, 0, 0), 6);
    PressShortCut(Form->TraceView->lvwTrace, 'C', FCONTROL);
    EXPECT_EQ(Clipboard(), Tsv(Trace));

    // In the filter box Ctrl+A and Ctrl+C are the box's; with a filter on, Select All and
    // Copy take the rows shown.
    Type(L"orders");
    PressShortCut(Form->TraceView->edtFilter, 'A', FCONTROL);
    EXPECT_EQ(SendMessageW(Form->TraceView->lvwTrace, LVM_GETSELECTEDCOUNT, 0, 0), 0);
    PressShortCut(Form->TraceView->lvwTrace, 'A', FCONTROL);
    PressShortCut(Form->TraceView->lvwTrace, 'C', FCONTROL);
    EXPECT_EQ(Clipboard(), Tsv(TraceRows({1, 2, 4})));
}

TEST_F(TraceViewTest, TheStatementsViewCountsASessionSortsByAnyColumnAndShowsAStatementsRows)
{
    std::string gate = Scratch.File("gate");
    SetClientScript({"load", "alloc S", "prepare S SELECT a FROM t /*vt sleep=30*/", "execute S", "fetchall S 5",
                     "waitfile " + gate, "execute S", "fetchall S 5",
                     "prepare S UPDATE t\\r\\nSET a = 1 /*vt result=-1*/", "execute S", "free S"});
    Form->TraceMask = TraceMaskPrepare | TraceMaskExecute | TraceMaskFetch;
    EXPECT_EQ(StatusText(spSession), "Idle");
    EXPECT_EQ(StatusText(spHooks), "Hooks: Breakpoints (int3)");
    Form->RunProgram(Client());
    ASSERT_TRUE(WaitForRow("Fetch (5)"));
    EXPECT_EQ(StatusText(spSession), "Running");
    // Open while the session runs, the view follows it.
    PressShortCut(Form->TraceView->lvwTrace, 'T', FCONTROL);
    ASSERT_TRUE(Form->frmStatements && Form->frmStatements->IsOpen());
    PumpFor(50);
    EXPECT_TRUE(MenuChecked(cmViewStatements));
    HWND lines = Form->frmStatements->lvwStatements;
    EXPECT_EQ(ListHeaders(lines), "Statement;Executes;Fetches;Rows;Errors;Total ms;Average ms;Max ms;P50 ms;P95 "
                                  "ms;P99 ms;SQL_ID;Texts;Longest run;Hint;LOB calls;");
    ASSERT_EQ(ListRowCount(lines), 1);
    EXPECT_EQ(ListTextUtf8(lines, 0, scExecutes), "1");
    WriteFileBytes(gate, "");
    ASSERT_TRUE(WaitForFinish());
    EXPECT_EQ(StatusText(spSession), "Ended with exit code 0");
    EXPECT_EQ(StatusText(spRows), "11 of 11 rows");
    ASSERT_TRUE(PumpUntil([&] { return ListRowCount(lines) == 2; }, 5000));

    const char* const select = "SELECT a FROM t /*vt sleep=30*/";
    const char* const update = "UPDATE t SET a = 1 /*vt result=-1*/";
    std::vector<std::vector<std::string>> shown = Lines(lines);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0][scStatement], select);
    EXPECT_EQ((std::vector<std::string>{shown[0][scExecutes], shown[0][scFetches], shown[0][scErrors]}),
              (std::vector<std::string>{"2", "4", "0"}));
    EXPECT_GE(std::stod(shown[0][scTotalMs]), 60.0);
    EXPECT_EQ(shown[1][scStatement], update);
    EXPECT_EQ((std::vector<std::string>{shown[1][scExecutes], shown[1][scFetches], shown[1][scErrors]}),
              (std::vector<std::string>{"1", "0", "1"}));

    // Save statements writes what the view shows.
    TScratchDir dir;
    TModalDriver driver("Save As", [&](HWND dlg) { AnswerSaveDialog(dlg, 1, dir.File("totals")); });
    PressShortCut(Form->TraceView->lvwTrace, 'S', FCONTROL | FSHIFT);
    ASSERT_TRUE(driver.Wait());
    std::string expected = "Statement\tExecutes\tFetches\tRows\tErrors\tTotal ms\tAverage ms\tMax ms\tP50 ms\tP95 "
                           "ms\tP99 ms\tSQL_ID\tTexts\tLongest run\tHint\tLOB calls\r\n";
    for (const auto& line : shown) {
        for (size_t column = 0; column < line.size(); ++column)
            expected += (column ? "\t" : "") + line[column];
        expected += "\r\n";
    }
    EXPECT_EQ(ReadFileBytes(dir.File("totals.txt")), expected);

    // Errors, the most first; again, the fewest first.
    ClickHeader(lines, scErrors);
    EXPECT_EQ(ListTextUtf8(lines, 0, scStatement), update);
    ClickHeader(lines, scErrors);
    EXPECT_EQ(ListTextUtf8(lines, 0, scStatement), select);

    // A double-click shows that statement's rows, whatever their line breaks.
    Click(lines, 0, false, true);
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Prepare", "Execute", "Fetch (5)", "Fetch (5)", "Execute",
                                                    "Fetch (5)", "Fetch (5)"}));
    EXPECT_EQ(WindowText(Form->TraceView->lblFilter), "Statement:");
    EXPECT_EQ(StatusText(spRows), "7 of 11 rows");
    Click(lines, 1, false, true);
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Prepare", "Execute"}));
    EXPECT_EQ(WindowTextUtf8(Form->TraceView->edtFilter), update);
    PressShortCut(Form->TraceView->edtFilter, VK_ESCAPE, 0);
    EXPECT_EQ(ListRowCount(Form->TraceView->lvwTrace), 11);
    EXPECT_EQ(WindowText(Form->TraceView->lblFilter), "Filter:");

    // Clear log empties the view; Ctrl+T closes it.
    Command(cmViewClear);
    EXPECT_EQ(ListRowCount(lines), 0);
    PressShortCut(Form->TraceView->lvwTrace, 'T', FCONTROL);
    EXPECT_FALSE(Form->frmStatements->IsOpen());
}

namespace {

// A window that is nothing but the trace view's parent: its messages go to the view first.
LRESULT CALLBACK BareParentProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto* view = reinterpret_cast<TTraceView*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (LRESULT result = 0; view && view->Message(msg, wParam, lParam, result))
        return result;
    // The list asks while the view is still making it.
    if (msg == WM_NOTIFYFORMAT && lParam == NF_QUERY)
        return TraceListView::NotifyFormat;
    return DefWindowProcW(window, msg, wParam, lParam);
}

TTraceRecord Record(uint64_t serial, TTraceAction action, const char* statement, TBindRows binds = {},
                    bool pending = false)
{
    TTraceRecord record;
    record.Serial = serial;
    record.Action = action;
    record.Statement = statement;
    record.Binds = std::move(binds);
    record.Pending = pending;
    return record;
}

} // namespace

// The view on its own: records become rows, a pending one changes in place with its update
// (an update of a serial never pending changes nothing), and the memo shows a row's
// statement, its binds a line each (an array's rows a line each) and its error.
TEST(TraceViewAlone, RecordsBecomeRowsUpdatesCompleteThemAndTheMemoShowsTheirBinds)
{
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = BareParentProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"VelloranBareParent";
    RegisterClassW(&windowClass);
    HWND parent = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0,
                                  700, 400, nullptr, nullptr, windowClass.hInstance, nullptr);
    ASSERT_TRUE(parent);
    TColorInfos rules;
    auto view = std::make_unique<TTraceView>(parent, nullptr, nullptr, rules);
    SetWindowLongPtrW(parent, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(view.get()));
    view->PlacePanes(0, 700, 360);
    view->ShowDetailColumns(TraceMaskDetails);

    TBindRows array{{{{":1", "1"}, {":2", "'a, b'"}}, {{":1", "2"}, {":2", "NULL"}}, {{":1", "3"}, {":2", "''''"}}}, 4};
    view->AddRecord(Record(1, TTraceAction::Execute, "SELECT :a FROM dual", {{{{":a", "'x; y'"}, {":b", "7"}}}, 1}));
    view->AddRecord(Record(2, TTraceAction::Execute, "UPDATE t SET a = :1", {}, true));
    view->AddRecord(Record(3, TTraceAction::Execute, "INSERT INTO t VALUES (:1, :2)", array));
    TTraceRecord update = Record(2, TTraceAction::Execute, "UPDATE t SET a = :1", {{{{":1", "5"}}}, 1});
    update.Rows = 3;
    update.Error = "ORA-00001: unique constraint violated";
    view->UpdateRecord(update);
    view->UpdateRecord(Record(3, TTraceAction::Execute, "never shown"));
    PumpFor(50);
    ASSERT_EQ(ListRowCount(view->lvwTrace), 3);

    const struct {
        int Row;
        std::string Rows, Binds, Memo;
    } cases[] = {
        {0, "", ":a='x; y', :b=7", "SELECT :a FROM dual\r\nSQL_ID " + SqlIdOf("SELECT :a FROM dual") + "\r\n:a='x; y'\r\n:b=7"},
        {1, "3", ":1=5", "UPDATE t SET a = :1\r\nSQL_ID " + SqlIdOf("UPDATE t SET a = :1") + "\r\n:1=5\r\nORA-00001: unique constraint violated"},
        {2, "", ":1=1, :2='a, b'; :1=2, :2=NULL; :1=3, :2=''''; ... (4 rows)",
         "INSERT INTO t VALUES (:1, :2)\r\nSQL_ID " + SqlIdOf("INSERT INTO t VALUES (:1, :2)") + "\r\n:1=1, :2='a, b'\r\n:1=2, :2=NULL\r\n:1=3, :2=''''\r\n... (4 rows)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ListTextUtf8(view->lvwTrace, c.Row, tcRows), c.Rows) << c.Row;
        EXPECT_EQ(ListTextUtf8(view->lvwTrace, c.Row, tcBinds), c.Binds) << c.Row;
        SelectListRow(view->lvwTrace, c.Row);
        PumpFor(20);
        EXPECT_EQ(WindowTextUtf8(view->memSQL), c.Memo) << c.Row;
    }
    SelectListRow(view->lvwTrace, 1);
    view->FilterText("unique");
    PumpFor(20);
    EXPECT_EQ(ListRowCount(view->lvwTrace), 1);
    EXPECT_EQ(WindowTextUtf8(view->memSQL), cases[1].Memo) << "the row chosen stays chosen";

    DestroyWindow(parent);
    view.reset();
    UnregisterClassW(windowClass.lpszClassName, windowClass.hInstance);
}
