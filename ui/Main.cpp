#include "Main.h"

#include "Application.h"
#include "DlgRun.h"
#include "DlgStmtColor.h"
#include "Errors.h"
#include "HookKinds.h"
#include "Images.h"
#include "TargetCheck.h"
#include "TraceColors.h"
#include "TraceExport.h"
#include "TraceRows.h"
#include "Utils.h"

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
    odgTrace.Filter = "Velloran trace (*.jsonl)|*.jsonl|All files|*.*";
    odgTrace.DefaultExt = "jsonl";
    odgTrace.Options = OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_ENABLESIZING;

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
    TraceView = std::make_unique<TTraceView>(Handle, FFont.get(), FMemoFont.get(), Settings.ColorRules);
    TraceView->OnRowsShown = [this] { ShowRowCounts(); };
    TraceView->OnFilterResized = [this] { Layout(); };
    StatusBar1 = CreateChildControl(Handle, STATUSCLASSNAMEA, "", 0, 0, 0, 0, 0, idStatusBar);
    Layout();
    // A trace file dropped on the window opens.
    DragAcceptFiles(Handle, TRUE);

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
    // Sized while it is being made, before its children are.
    if (!TraceView)
        return;
    RECT client{};
    GetClientRect(Handle, &client);
    int width = client.right;
    int height = client.bottom;
    // The tool bar takes the width of its buttons, the filter box the rest of the band.
    SIZE buttons{};
    SendMessageA(ToolBar1, TB_GETMAXSIZE, 0, reinterpret_cast<LPARAM>(&buttons));
    SetControlBounds(ToolBar1, 0, 2, buttons.cx, ToolBarHeight - 4);
    TraceView->PlaceFilter(buttons.cx + 16, width, ToolBarHeight);
    // The status bar places itself along the bottom when told of a new size.
    SendMessageA(StatusBar1, WM_SIZE, 0, 0);
    LayoutStatusBar();
    RECT status{};
    GetWindowRect(StatusBar1, &status);
    height = std::max(0, height - static_cast<int>(status.bottom - status.top));
    TraceView->PlacePanes(ToolBarHeight, width, std::max(0, height - ToolBarHeight));
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

// ---------------------------------------------------------------------------
// Rows

int TfrmMain::AddTraceRow(const std::string& text) { return AddTraceRow(TListRow{text, {}}); }

int TfrmMain::AddTraceRow(const TListRow& row)
{
    int index = TraceView->AppendRow(row);
    TraceView->ShowRows();
    return index;
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
    TraceView->ShowDetailColumns(traced);
    FListHeader = TTraceFileHeader{};
    FListHeader.Started = TraceStartedNow();
    FListHeader.Bits = static_cast<int>(sizeof(void*) * 8);
    FListHeader.Hooks = HookKindWord(Session.Hooks);
    FListHeader.Trace = TraceKindWords(traced);
    FListHeader.HideValues = Session.HideValues;
    return traced;
}

void TfrmMain::StopSession() { Session.Stop(); }

void TfrmMain::SessionRecord(const TTraceRecord& record)
{
    if (TraceEnabled)
        TraceView->AddRecord(record);
}

void TfrmMain::SessionRecordUpdated(const TTraceRecord& record) { TraceView->UpdateRecord(record); }

void TfrmMain::SessionStarted(DWORD processId, const std::string& image)
{
    Warnings.clear();
    ShowStatus();
    FProcessId = processId;
    FListHeader.ProcessId = processId;
    FListHeader.Program = image;
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

LRESULT TfrmMain::WndProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    // lvwTrace asks for its notify format while it is being made, before TraceView is set:
    // by its id.
    if (msg == WM_NOTIFYFORMAT && lParam == NF_QUERY && GetDlgCtrlID(reinterpret_cast<HWND>(wParam)) == idTrace)
        return TraceListView::NotifyFormat;
    if (LRESULT result = 0; TraceView && TraceView->Message(msg, wParam, lParam, result))
        return result;
    switch (msg) {
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        if (id >= cmRecentFirst && id <= cmRecentLast)
            RecentItemClick(id);
        else
            ActionList.Execute(id);
        return 0;
    }
    case WM_NOTIFY:
        return ToolBarNotify(*reinterpret_cast<NMHDR*>(lParam));
    case WM_MEASUREITEM:
        if (ActionList.MeasureMenuImage(*reinterpret_cast<MEASUREITEMSTRUCT*>(lParam)))
            return TRUE;
        break;
    case WM_DRAWITEM:
        if (ActionList.DrawMenuImage(*reinterpret_cast<DRAWITEMSTRUCT*>(lParam)))
            return TRUE;
        break;
    case WM_ENTERIDLE:
        // A modal dialog or menu of this window has run out of messages: the idle step
        // of the application loop, which is not running meanwhile.
        Idle();
        return 0;
    case WM_SIZE:
        Layout();
        return 0;
    case WM_DROPFILES:
        DropFiles(reinterpret_cast<HDROP>(wParam));
        return 0;
    case WM_PAINT:
        PaintToolBarEdges();
        return 0;
    case WM_SETFOCUS:
        if (TraceView)
            SetFocus(TraceView->lvwTrace);
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
