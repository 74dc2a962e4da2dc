#include "Main.h"

#include "Application.h"
#include "DlgRun.h"
#include "DlgStmtColor.h"
#include "Errors.h"
#include "Images.h"
#include "TargetCheck.h"
#include "TraceColors.h"
#include "TraceExport.h"
#include "TraceRows.h"
#include "Utils.h"

namespace {

const char* const Unit = "Main";

// Brings lvwTrace's row count up to the rows stored. Posted behind the records already
// queued: a row count change costs the list view milliseconds (its scroll bar is redrawn),
// so a burst of records is shown with one.
constexpr UINT WM_SHOW_ROWS = WM_APP + 1;
// Shows in the memo the row the selection has settled on, if any.
constexpr UINT WM_CHECK_MEMO = WM_APP + 2;

} // namespace

TfrmMain* frmMain = nullptr;

TfrmMain::TfrmMain(std::string settingsFile)
    : Settings(std::move(settingsFile)), Recents(Settings.Recents), TraceMask(Settings.TraceMask)
{
    FFont = CreatePixelFont("MS Sans Serif", 11);
    // Where Courier New is missing (a bare Wine), still a fixed-pitch font.
    FMemoFont = CreatePixelFont("Courier New", 11, false, RUSSIAN_CHARSET, FIXED_PITCH | FF_MODERN);
    IML = CreateActionImages();
    ActionList.Images = IML.get();
    CreateActions();
    CreateMenus();

    odg.Filter = "EXE-files|*.exe|All files|*.*";
    odg.DefaultExt = "exe";
    InitExportDialog(sdg);
    sdgStatements.Filter = "Text (Tab delimited) (*.txt)|*.txt|All files|*.*";
    sdgStatements.DefaultExt = "txt";
    sdgStatements.Options = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_ENABLESIZING;

    const int width = 696, height = 480;
    int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    CreateHandle("TfrmMain", "Velloran", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, left, top, width, height, nullptr,
                 mmu, nullptr, GetSysColorBrush(COLOR_BTNFACE));
    // The window holds the menu bar now and destroys it with itself.
    FMenuBar.release();
    frmMain = this;
    Application().SetMainWindow(Handle);
    FormCreate();
}

TfrmMain::~TfrmMain()
{
    // The window goes first, while this object can still answer its messages.
    if (Handle)
        DestroyWindow(Handle);
    if (frmMain == this)
        frmMain = nullptr;
}

void TfrmMain::FormCreate()
{
    TraceEnabled = true;
    BaseCaption = Format("%s %s", Application().Title.c_str(), GetFileVersionText().c_str());
    SetWindowTextA(Handle, BaseCaption.c_str());

    CreateToolBar();
    CreateFilterBox();
    lvwTrace = TraceListView::Create(Handle, idTrace, FFont.get());
    Splitter1.Create(Handle, idSplitter);
    StatusBar1 = CreateChildControl(Handle, STATUSCLASSNAMEA, "", 0, 0, 0, 0, 0, idStatusBar);
    Splitter1.OnMoved = [this](int top) { SplitterMoved(top); };
    // A Unicode edit: it holds the statement's UTF-8 text whole, whatever the code page.
    memSQL = CreateUnicodeChildControl(Handle, L"EDIT", "",
                                       ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL | WS_TABSTOP, 0, 0,
                                       0, 0, idSQL, WS_EX_CLIENTEDGE, FMemoFont.get());
    Layout();

    LoadSettings();
    ShowRowCounts();
    ShowSessionState();
    MessageLoop().OnIdle = [this] { Idle(); };
    MessageLoop().OnMessage = [this](MSG& msg) { return ShortCut(msg); };
}

void TfrmMain::FormDestroy() { SaveSettings(); }

// ---------------------------------------------------------------------------
// Layout

void TfrmMain::Layout()
{
    RECT client{};
    GetClientRect(Handle, &client);
    int width = client.right;
    int height = client.bottom;
    // The tool bar takes the width of its buttons, the filter box the rest of the band.
    SIZE buttons{};
    SendMessageA(ToolBar1, TB_GETMAXSIZE, 0, reinterpret_cast<LPARAM>(&buttons));
    SetControlBounds(ToolBar1, 0, 2, buttons.cx, ToolBarHeight - 4);
    RECT label = ControlBounds(lblFilter);
    int labelWidth = label.right - label.left;
    int filterLeft = std::max<int>(buttons.cx + 16 + labelWidth, width - 4 - FilterWidth);
    SetControlBounds(edtFilter, filterLeft, 4, std::max(0, width - 4 - filterLeft), ToolBarHeight - 8);
    SetControlBounds(lblFilter, filterLeft - 6 - labelWidth, (ToolBarHeight - (label.bottom - label.top)) / 2, labelWidth,
                     label.bottom - label.top);
    // The status bar places itself along the bottom when told of a new size.
    SendMessageA(StatusBar1, WM_SIZE, 0, 0);
    LayoutStatusBar();
    RECT status{};
    GetWindowRect(StatusBar1, &status);
    height = std::max(0, height - static_cast<int>(status.bottom - status.top));
    int memo = std::min(FMemoHeight, std::max(0, height - ToolBarHeight - SplitterHeight));
    int listHeight = std::max(0, height - ToolBarHeight - SplitterHeight - memo);
    SetControlBounds(lvwTrace, 0, ToolBarHeight, width, listHeight);
    SetControlBounds(Splitter1.Handle, 0, ToolBarHeight + listHeight, width, SplitterHeight);
    SetControlBounds(memSQL, 0, height - memo, width, memo);
    lvwTraceResize();
}

void TfrmMain::SplitterMoved(int top)
{
    RECT client{};
    GetClientRect(Handle, &client);
    RECT status{};
    GetWindowRect(StatusBar1, &status);
    client.bottom -= status.bottom - status.top;
    // Either pane keeps at least a few lines.
    const int minimum = 30;
    int memo = client.bottom - top - SplitterHeight;
    memo = std::min(memo, static_cast<int>(client.bottom) - ToolBarHeight - SplitterHeight - minimum);
    FMemoHeight = std::max(minimum, memo);
    Layout();
}

void TfrmMain::PaintToolBarEdges()
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(Handle, &ps);
    RECT client{};
    GetClientRect(Handle, &client);
    RECT top{0, 0, client.right, 2};
    DrawEdge(dc, &top, EDGE_ETCHED, BF_TOP);
    RECT bottom{0, ToolBarHeight - 2, client.right, ToolBarHeight};
    DrawEdge(dc, &bottom, EDGE_ETCHED, BF_TOP);
    EndPaint(Handle, &ps);
}

void TfrmMain::lvwTraceResize()
{
    using namespace TraceListView;
    RECT r{};
    GetWindowRect(lvwTrace, &r);
    int others = 0;
    bool details = false;
    for (int i = 0; i < ColumnCount; ++i) {
        if (i == StatementColumn)
            continue;
        int width = static_cast<int>(SendMessageA(lvwTrace, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(i), 0));
        others += width;
        details = details || (i >= FirstDetailColumn && width > 0);
    }
    int w = (r.right - r.left) - others - GetSystemMetrics(SM_CXVSCROLL) - 4;
    // Beside the detail columns the statement keeps room to be read: the list scrolls
    // sideways instead.
    if (details)
        w = std::max(w, MinStatementWidth);
    if (w > 0)
        SendMessageA(lvwTrace, LVM_SETCOLUMNWIDTH, StatementColumn, MAKELPARAM(w, 0));
}

// ---------------------------------------------------------------------------
// Rows

int TfrmMain::AppendRow(const TListRow& row, int32_t statement)
{
    int index = TraceRows.Add(row, statement);
    TraceFilter.RowsAdded();
    if (!FShowRowsPosted && PostMessageA(Handle, WM_SHOW_ROWS, 0, 0))
        FShowRowsPosted = true;
    return index;
}

void TfrmMain::ShowRows()
{
    FShowRowsPosted = false;
    int shown = static_cast<int>(SendMessageA(lvwTrace, LVM_GETITEMCOUNT, 0, 0));
    if (shown != TraceFilter.RowCount())
        TraceListView::RowsAppended(lvwTrace, shown, TraceFilter.RowCount());
    ShowRowCounts();
}

int TfrmMain::AddTraceRow(const std::string& text) { return AddTraceRow(TListRow{text, {}}); }

int TfrmMain::AddTraceRow(const TListRow& row)
{
    int index = AppendRow(row);
    ShowRows();
    return index;
}

void TfrmMain::lvwTraceChange(int item)
{
    // With several rows selected the memo shows the one the user came to last, which has
    // the focus.
    int row = item >= 0 && TraceListView::IsRowSelected(lvwTrace, item) && item < TraceFilter.RowCount()
                  ? TraceFilter.RowOf(item)
                  : MemoRow();
    // A click unselects the old row before it selects the new one: the memo is emptied
    // once the selection has settled with no row to show, not in between.
    if (row < 0) {
        if (!FMemoCheckPosted && PostMessageA(Handle, WM_CHECK_MEMO, 0, 0))
            FMemoCheckPosted = true;
        return;
    }
    ShowMemo(row);
}

void TfrmMain::ShowMemo(int row)
{
    using namespace TraceListView;
    bool statement = row >= 0 && row < TraceRows.RowCount() && TraceRows.SubItemCount(row) >= StatementColumn;
    std::string text = statement ? MemoText(TraceRows.CellText(row, StatementColumn),
                                            TraceRows.CellText(row, FirstDetailColumn + 1),
                                            TraceRows.CellText(row, FirstDetailColumn + 2), TraceRows.NoteText(row))
                                 : std::string();
    // A click raises up to three changes (the old row unselected and unfocused, the new one
    // selected), and an edit control lays out all its lines anew whenever its text is set,
    // milliseconds under Wine: the memo's text is set only when it changes.
    if (WindowTextUtf8(memSQL) != text)
        SetWindowTextUtf8(memSQL, text);
}

// ---------------------------------------------------------------------------
// Session control

void TfrmMain::RunProgram(const TRunEntry& run, std::optional<TTraceMask> mask, std::optional<THookKind> hooks,
                          bool hideValues)
{
    CheckStartFolder(run.Folder);
    AddRecent(run, true);
    odg.InitialDir = ExtractFileDir(run.Program);
    TTraceMask traced = PrepareSession(mask, hooks, hideValues);
    FAttachSession = false;
    // A path with blanks is quoted, or the system would take its first word for the
    // program.
    std::string commandLine = run.CommandLine();
    // The program's own folder is where the system finds it; a program it cannot find
    // starts nowhere and fails as it would anyway.
    std::string folder = run.Folder.empty() ? ExtractFileDir(ProgramOfCommandLine(commandLine)) : run.Folder;
    Session.Run(commandLine, traced, folder);
    ShowSessionState();
}

void TfrmMain::RunProgram(const std::string& path) { RunProgram(TRunEntry{path, "", ""}); }

void TfrmMain::AttachProcess(std::shared_ptr<TProcessInfo> process, std::optional<TTraceMask> mask,
                             std::optional<THookKind> hooks, bool hideValues)
{
    TTraceMask traced = PrepareSession(mask, hooks, hideValues);
    FAttachSession = true;
    Session.Attach(std::move(process), traced);
    ShowSessionState();
}

TTraceMask TfrmMain::PrepareSession(std::optional<TTraceMask> mask, std::optional<THookKind> hooks, bool hideValues)
{
    TTraceMask traced = mask.value_or(TraceMask);
    Session.Hooks = hooks.value_or(Settings.Hooks);
    // A command line may hide values for its session, never show those the settings hide.
    Session.HideValues = Settings.HideValues || hideValues;
    FSessionState = "Starting";
    if (TraceListView::ShowDetailColumns(lvwTrace, traced))
        lvwTraceResize();
    return traced;
}

void TfrmMain::StopSession() { Session.Stop(); }

void TfrmMain::SessionRecord(const TTraceRecord& record)
{
    if (!TraceEnabled)
        return;
    int index = AppendRow(TraceRecordRow(record), Totals.Add(record));
    if (record.Pending)
        FPendingRows[record.Serial] = index;
}

// A row completed after it was shown changes in place; a row the log no longer holds
// (cleared meanwhile, or never added) is left alone.
void TfrmMain::SessionRecordUpdated(const TTraceRecord& record)
{
    auto found = FPendingRows.find(record.Serial);
    if (found == FPendingRows.end())
        return;
    int index = found->second;
    if (!record.Pending)
        FPendingRows.erase(found);
    int statement = Totals.Update(record);
    TraceRows.Set(index, TraceRecordRow(record), statement >= 0 ? statement : TraceRows.Tag(index));
    // What the row holds now may take it into the rows shown or out of them.
    int keep = MemoRow();
    if (TraceFilter.RowChanged(index)) {
        ShowFiltered(keep);
        return;
    }
    int shown = TraceFilter.IndexOf(index);
    if (shown < 0)
        return;
    SendMessageA(lvwTrace, LVM_REDRAWITEMS, static_cast<WPARAM>(shown), static_cast<LPARAM>(shown));
    if (TraceListView::IsRowSelected(lvwTrace, shown))
        lvwTraceChange(shown);
}

void TfrmMain::SessionStarted(DWORD processId, const std::string& image)
{
    Warnings.clear();
    ShowStatus();
    FProcessId = processId;
    FSessionState = FAttachSession ? Format("Attached to process %lu", static_cast<unsigned long>(processId))
                                   : "Running";
    ShowSessionState();
    SetWindowTextA(Handle, Format("%s - %s", BaseCaption.c_str(), image.c_str()).c_str());
}

void TfrmMain::SessionFinished(DWORD exitCode)
{
    // A program the session let go of (detached), or never had, did not end with it.
    if (exitCode != STILL_ACTIVE)
        FSessionState = Format(exitCode > 0xFFFF ? "Ended with exit code 0x%08lX" : "Ended with exit code %lu",
                               static_cast<unsigned long>(exitCode));
    else if (FAttachSession && FProcessId)
        FSessionState = Format("Detached from process %lu", static_cast<unsigned long>(FProcessId));
    else
        FSessionState = "Ended";
    FProcessId = 0;
    ShowSessionState();
    SetWindowTextA(Handle, BaseCaption.c_str());
}

void TfrmMain::SessionMark(const std::string& caption) { AddTraceRow(caption); }

void TfrmMain::SessionWarning(const std::string& text)
{
    Warnings.push_back(text);
    ShowStatus();
}

void TfrmMain::ShowStatus()
{
    std::string note;
    if (!Warnings.empty())
        note = Warnings.size() == 1 ? "Warning: " + Warnings.back()
                                    : Format("%d warnings, the last: %s", static_cast<int>(Warnings.size()),
                                             Warnings.back().c_str());
    SetStatusText(spWarnings, note);
}

bool TfrmMain::FormCloseQuery()
{
    if (!Session.Active())
        return true;
    return MessageBoxA(Handle, "Debug session is active. Abort?", "Exit", MB_YESNO | MB_ICONQUESTION) == IDYES;
}

// ---------------------------------------------------------------------------
// Idle

// The process list is not refreshed here: it is read only by the attach dialog, which
// refreshes it when it opens.
void TfrmMain::AppIdle(bool& done)
{
    ActionList.UpdateActions();
    ShowSessionState();
    done = true;
}

void TfrmMain::Idle()
{
    bool done = false;
    AppIdle(done);
}

// ---------------------------------------------------------------------------
// Messages

LRESULT TfrmMain::OnNotify(NMHDR& header)
{
    if (header.hwndFrom == lvwTrace) {
        switch (header.code) {
        case LVN_GETDISPINFOW:
            TraceListView::GetDispInfo(TraceFilter, reinterpret_cast<NMLVDISPINFOW&>(header));
            return 0;
        case LVN_ODSTATECHANGED:
            TraceListView::RangeChanged(lvwTrace);
            lvwTraceChange(-1);
            return 0;
        case LVN_ITEMCHANGED: {
            auto& change = reinterpret_cast<NMLISTVIEW&>(header);
            TraceListView::ItemChanged(lvwTrace, change);
            // Raised by changes of selection and focus only: rows that arrive meanwhile
            // leave the memo alone.
            lvwTraceChange(change.iItem);
            return 0;
        }
        case NM_CUSTOMDRAW:
            return TraceListCustomDraw(reinterpret_cast<NMLVCUSTOMDRAW&>(header), Settings.ColorRules, TraceFilter);
        }
        return 0;
    }
    return ToolBarNotify(header);
}

LRESULT TfrmMain::WndProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_SHOW_ROWS:
        ShowRows();
        return 0;
    case WM_CHECK_MEMO:
        FMemoCheckPosted = false;
        ShowMemo(MemoRow());
        return 0;
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        if (id == idFilter) {
            if (HIWORD(wParam) == EN_CHANGE)
                edtFilterChange();
        } else if (id >= cmRecentFirst && id <= cmRecentLast)
            RecentItemClick(id);
        else
            ActionList.Execute(id);
        return 0;
    }
    case WM_NOTIFY:
        return OnNotify(*reinterpret_cast<NMHDR*>(lParam));
    case WM_NOTIFYFORMAT:
        // lvwTrace asks while it is made, before its handle is known here: by its id.
        if (lParam == NF_QUERY && GetDlgCtrlID(reinterpret_cast<HWND>(wParam)) == idTrace)
            return TraceListView::NotifyFormat;
        break;
    case WM_MEASUREITEM:
        if (ActionList.MeasureMenuImage(*reinterpret_cast<MEASUREITEMSTRUCT*>(lParam)))
            return TRUE;
        break;
    case WM_DRAWITEM:
        if (ActionList.DrawMenuImage(*reinterpret_cast<DRAWITEMSTRUCT*>(lParam)))
            return TRUE;
        break;
    case WM_CTLCOLORSTATIC:
        // A read-only memo still reads as a text field: window colours, not the dialog face.
        if (reinterpret_cast<HWND>(lParam) == memSQL) {
            SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOW));
            SetTextColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOWTEXT));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
        }
        break;
    case WM_ENTERIDLE:
        // A modal dialog or menu of this window has run out of messages: the idle step
        // of the application loop, which is not running meanwhile.
        Idle();
        return 0;
    case WM_SIZE:
        Layout();
        return 0;
    case WM_PAINT:
        PaintToolBarEdges();
        return 0;
    case WM_SETFOCUS:
        SetFocus(lvwTrace);
        return 0;
    case WM_CLOSE:
        if (FormCloseQuery()) {
            Session.End();
            DestroyWindow(Handle);
        }
        return 0;
    case WM_DESTROY:
        Session.End();
        if (Application().MainWindow() == Handle)
            Application().SetMainWindow(nullptr);
        MessageLoop().OnIdle = nullptr;
        MessageLoop().OnMessage = nullptr;
        HandleGuarded([this] { FormDestroy(); });
        return 0;
    }
    return DefaultHandler(msg, wParam, lParam);
}
