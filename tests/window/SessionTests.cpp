// Sessions run from the real window: rows, caption, action states, Stop, failures,
// closing during a session.
#include "DlgRun.h"
#include "MainWindowFixture.h"

#include "Application.h"
#include "Errors.h"
#include "ProcessList.h"
#include "SqlId.h"
#include "SysProcs.h"
#include "ListViewProbes.h"
#include "TraceExport.h"
#include "Utils.h"

#include <map>

namespace {

// A session of two executes: a slow success and an error.
std::vector<std::string> TwoExecutes()
{
    return {"load",
            "alloc S",
            "prepare S SELECT id FROM orders /*vt sleep=40*/",
            "execute S",
            "prepare S UPDATE t SET x = 1 /*vt result=-1*/",
            "execute S",
            "free S"};
}

// A session that makes one execute and then waits for the gate file before its next one.
std::vector<std::string> GatedSession(const std::string& gate)
{
    return {"load",         "alloc S", "prepare S SELECT 1 FROM dual", "execute S", "waitfile " + gate,
            "prepare S SELECT 2 FROM dual", "execute S", "free S"};
}

// Elapsed-time text in milliseconds ("01:500" is 1500).
long long TimeTextMs(const std::string& text)
{
    long long total = 0, unit = 1;
    const long long factors[] = {1, 1000, 60000, 3600000};
    size_t end = text.size();
    int part = 0;
    while (end > 0 && part < 4) {
        size_t colon = text.rfind(':', end - 1);
        size_t from = colon == std::string::npos ? 0 : colon + 1;
        unit = factors[part++];
        total += std::stoll(text.substr(from, end - from)) * unit;
        if (colon == std::string::npos)
            break;
        end = colon;
    }
    return total;
}

bool ProcessEnds(DWORD pid, DWORD timeoutMs)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process)
        return true;
    bool ended = WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

// A program this test started itself; killed if the test leaves it running.
struct TOwnProcess {
    PROCESS_INFORMATION Info{};
    bool Started = false;
    ~TOwnProcess()
    {
        if (!Started)
            return;
        if (WaitForSingleObject(Info.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(Info.hProcess, 99);
        CloseHandle(Info.hProcess);
        CloseHandle(Info.hThread);
    }
    bool Start(std::string commandLine)
    {
        STARTUPINFOA si{};
        si.cb = sizeof(si);
        Started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &Info);
        return Started;
    }
};

// Closes the window as its close box does and answers Yes to the question. True when
// the window has gone within the bound: closing must not wait for the traced program.
bool CloseAnsweringYes(HWND window)
{
    TModalDriver ask("Exit", [](HWND w) { PressButton(w, IDYES); });
    PostMessageA(window, WM_CLOSE, 0, 0);
    bool closed = PumpUntil([&] { return !IsWindow(window); }, 10000);
    return ask.Wait() && closed;
}

} // namespace

TEST_F(MainWindowTest, RunShowsStartTheRecordsAndFinishWithTheirTexts)
{
    SetClientScript(TwoExecutes());
    RunToFinish(Client());
    std::vector<TListRow> rows = Rows();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].Caption, "Start");
    EXPECT_EQ(rows[0].SubItems, (std::vector<std::string>{"", "", ""}));
    EXPECT_EQ(rows[1].Caption, "Execute");
    EXPECT_GE(TimeTextMs(rows[1].SubItems[0]), 40) << rows[1].SubItems[0];
    EXPECT_EQ(rows[1].SubItems[1], "OCI_SUCCESS");
    EXPECT_EQ(rows[1].SubItems[2], "SELECT id FROM orders /*vt sleep=40*/");
    EXPECT_EQ(rows[2].Caption, "Execute");
    EXPECT_EQ(rows[2].SubItems[1], "OCI_ERROR");
    EXPECT_EQ(rows[2].SubItems[2], "UPDATE t SET x = 1 /*vt result=-1*/");
    EXPECT_EQ(rows[3].Caption, "Finish");
    // Marker rows have no sub-items at all, trace rows six (the last three the details).
    EXPECT_EQ(Form->TraceView->TraceRows.SubItemCount(0), 0);
    EXPECT_EQ(Form->TraceView->TraceRows.SubItemCount(1), 6);
}

TEST_F(MainWindowTest, RunDialogsBrowseTakesTheProgramChosenInTheOpenDialogAndCancelDoesNothing)
{
    // The explorer-style dialog's file name box (a combo box, id 1148; an edit, id 1152, in
    // older templates).
    auto choose = [](HWND dialog, const std::string& path) {
        HWND name = GetDlgItem(dialog, 1148);
        if (!name)
            name = GetDlgItem(dialog, 1152);
        SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
        PressButton(dialog, IDOK);
    };
    {
        TModalDriver cancel("Run", [](HWND dialog) { PressButton(dialog, IDCANCEL); });
        Command(cmDebugRun);
        ASSERT_TRUE(cancel.Wait());
    }
    PumpFor(50);
    EXPECT_TRUE(Rows().empty());
    EXPECT_TRUE(Form->Recents.empty());
    EXPECT_FALSE(SessionActive());

    SetClientScript(TwoExecutes());
    std::string taken;
    TModalDriver run("Run", [&](HWND dialog) {
        auto* self = reinterpret_cast<TRunDlg*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
        PressButton(dialog, GetDlgCtrlID(self->btnBrowse));
        HWND open = WaitForWindow("Open");
        ASSERT_TRUE(open);
        choose(open, Client());
        WaitForWindow("Run");
        taken = WindowText(self->edtProgram);
        PressButton(dialog, IDOK);
    });
    Command(cmDebugRun);
    ASSERT_TRUE(run.Wait());
    EXPECT_EQ(taken, Client());
    ASSERT_TRUE(WaitForFinish());
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Start", "Execute", "Execute", "Finish"}));
    EXPECT_EQ(Form->Recents, std::vector<TRunEntry>{{Client()}});
    EXPECT_EQ(Form->odg.InitialDir, BinDir());
}

TEST_F(MainWindowTest, CaptionAndActionStatesFollowTheSession)
{
    // Menu bar and tool bar; the actions that do not depend on the session stay enabled.
    auto expectActions = [&](bool sessionActive, const char* when) {
        for (int id : {cmDebugRun, cmDebugAttach, cmTraceOpt})
            EXPECT_EQ(MenuEnabled(id), !sessionActive) << when << ", command " << id;
        for (int id : {cmDebugRun, cmDebugAttach})
            EXPECT_EQ(ButtonEnabled(id), !sessionActive) << when << ", button " << id;
        EXPECT_EQ(MenuEnabled(cmDebugStop), sessionActive) << when;
        EXPECT_EQ(ButtonEnabled(cmDebugStop), sessionActive) << when;
        for (int id : {cmSave, cmViewClear, cmTraceEnable, cmStmtColorize, cmAbout, cmExit})
            EXPECT_TRUE(MenuEnabled(id)) << when << ", command " << id;
    };
    EXPECT_EQ(Caption(), "Velloran 1.0.0.100");
    expectActions(false, "before");
    std::string gate = Scratch.File("gate");
    SetClientScript(GatedSession(gate));
    Form->RunProgram(Client());
    ASSERT_TRUE(WaitForRow("Execute"));
    PumpFor(50);
    EXPECT_EQ(Caption(), "Velloran 1.0.0.100 - guiclient.exe");
    expectActions(true, "during");

    WriteFileBytes(gate, "");
    ASSERT_TRUE(WaitForFinish());
    PumpFor(50);
    EXPECT_EQ(Caption(), "Velloran 1.0.0.100");
    expectActions(false, "after");
}

TEST_F(MainWindowTest, StopEndsTheSessionAfterTheRowsAlreadyPostedAndEndsTheProgram)
{
    SetClientScript({"load", "alloc S", "prepare S SELECT 1 FROM dual", "repeat 100000", "execute S", "sleep 5", "end"});
    Form->RunProgram(Client());
    ASSERT_TRUE(PumpUntil([&] { return Form->TraceView->TraceRows.RowCount() >= 4; }));
    ASSERT_TRUE(SessionActive());
    DWORD pid = ChildProcessId("guiclient.exe");
    ASSERT_NE(pid, 0u);
    Command(cmDebugStop);
    ASSERT_TRUE(WaitForFinish());
    size_t count = Rows().size();
    PumpFor(300);
    std::vector<std::string> captions = Captions();
    ASSERT_EQ(captions.size(), count) << "rows after Finish";
    EXPECT_EQ(captions.front(), "Start");
    EXPECT_EQ(captions.back(), "Finish");
    for (size_t i = 1; i + 1 < captions.size(); ++i)
        EXPECT_EQ(captions[i], "Execute") << i;
    EXPECT_TRUE(ProcessEnds(pid, 10000));
}

TEST_F(MainWindowTest, SecondSessionAppendsAfterTheFirstFinishAndClearEmptiesTheLog)
{
    SetClientScript(TwoExecutes());
    RunToFinish(Client());
    RunToFinish(Client());
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Start", "Execute", "Execute", "Finish", "Start", "Execute",
                                                    "Execute", "Finish"}));
    SelectRow(1);
    ASSERT_FALSE(MemoLines().empty());
    Command(cmViewClear);
    EXPECT_TRUE(Rows().empty());
    EXPECT_TRUE(MemoLines().empty());
    RunToFinish(Client());
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Start", "Execute", "Execute", "Finish"}));
}

TEST_F(MainWindowTest, ProgramThatCannotStartShowsTheSystemTextAndFinishesWithoutStart)
{
    std::string missing = Scratch.File("missing.exe");
    TModalDriver box("Velloran", [](HWND w) { PressButton(w, IDOK); });
    Form->RunProgram(missing);
    ASSERT_TRUE(WaitForFinish());
    ASSERT_TRUE(box.Wait());
    std::string text = box.Seen().AllText();
    EXPECT_NE(text.find(Format("System Error.  Code: %d.", static_cast<int>(ERROR_FILE_NOT_FOUND))), std::string::npos) << text;
    EXPECT_NE(text.find(SysErrorMessage(ERROR_FILE_NOT_FOUND)), std::string::npos) << text;
    EXPECT_EQ(Captions(), std::vector<std::string>{"Finish"});
    PumpFor(50);
    EXPECT_TRUE(MenuEnabled(cmDebugRun));
    EXPECT_EQ(Caption(), "Velloran 1.0.0.100");
}

// An entry point that cannot be traced is a note in the status bar: no box, and the
// session runs to its end as it would.
TEST_F(MainWindowTest, AWarningIsANoteInTheStatusBarAndNoBox)
{
    std::vector<std::string> errors;
    Application().SetErrorSink([&](const std::string& text) { errors.push_back(text); });
    SetClientScript({"load forward/OCI.DLL", "alloc S", "prepare S SELECT 1 FROM dual", "execute S", "free S"});
    RunToFinish(Client());
    Application().SetErrorSink(nullptr);
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Start", "Execute", "Finish"}));
    wchar_t note[512] = {};
    SendMessageW(Form->StatusBar1, SB_GETTEXTW, spWarnings, reinterpret_cast<LPARAM>(note));
    EXPECT_EQ(WideToUtf8(note), "Warning: OCIStmtFetch2 is forwarded to OTHER.DLL.OCIStmtFetch2, which OTHER.DLL does "
                                "not export: it is not traced.");
}

TEST_F(MainWindowTest, PathWithBlanksRunsThatProgramAndNotItsFirstWord)
{
    // Unquoted, "...\with blank\guiclient.exe" would start "...\with.exe" first.
    std::string dir = Scratch.File("with blank");
    CreateDirectoryA(dir.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(Client().c_str(), (dir + "\\guiclient.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA((BinDir() + "\\OCI.DLL").c_str(), (dir + "\\OCI.DLL").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA((BinDir() + "\\nooci.exe").c_str(), Scratch.File("with.exe").c_str(), FALSE));
    SetClientScript(TwoExecutes());
    RunToFinish(dir + "\\guiclient.exe");
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Start", "Execute", "Execute", "Finish"}));
    EXPECT_EQ(Form->Recents.front().Program, dir + "\\guiclient.exe");
    EXPECT_EQ(Form->odg.InitialDir, dir);
}

TEST_F(MainWindowTest, EnableTraceOffKeepsRecordsOutButNotStartAndFinish)
{
    SetClientScript(TwoExecutes());
    EXPECT_TRUE(MenuChecked(cmTraceEnable));
    EXPECT_TRUE(ButtonChecked(cmTraceEnable));
    Command(cmTraceEnable);
    PumpFor(30);
    EXPECT_FALSE(Form->TraceEnabled);
    EXPECT_FALSE(MenuChecked(cmTraceEnable));
    EXPECT_FALSE(ButtonChecked(cmTraceEnable));
    RunToFinish(Client());
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Start", "Finish"}));

    Command(cmTraceEnable);
    PumpFor(30);
    EXPECT_TRUE(MenuChecked(cmTraceEnable));
    RunToFinish(Client());
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Start", "Finish", "Start", "Execute", "Execute", "Finish"}));
}

TEST_F(MainWindowTest, SelectedRowShowsItsStatementWithItsLineBreaks)
{
    SetClientScript({"load", "alloc S", "prepare S SELECT a,\\r\\n  b\\nFROM t\\rWHERE 1 = 1\\0 hidden tail", "execute S",
                     "free S"});
    RunToFinish(Client());
    ASSERT_EQ(Captions(), (std::vector<std::string>{"Start", "Execute", "Finish"}));
    SelectRow(1);
    // The memo shows the text up to its NUL; its id is of every byte the program sent.
    EXPECT_EQ(MemoLines(),
              (std::vector<std::string>{"SELECT a,", "  b", "FROM t", "WHERE 1 = 1",
                                        "SQL_ID " + SqlIdOf(std::string("SELECT a,\r\n  b\nFROM t\rWHERE 1 = 1\0 hidden tail",
                                                                        46))}));
    SelectRow(0);
    EXPECT_TRUE(MemoLines().empty());
    SelectRow(1);
    SelectRow(2);
    EXPECT_TRUE(MemoLines().empty());
    SelectRow(1);
    SelectRow(-1);
    EXPECT_TRUE(MemoLines().empty());
}

// Binds, error texts and rows: the detail columns make room when a session traces them,
// a row is completed in place as the program reads its error and rows, and the memo shows
// the statement, its binds and its error; the export then holds all seven columns.
TEST_F(MainWindowTest, DetailsCompleteTheirRowsInPlaceAndReachTheMemo)
{
    using namespace TraceListView;
    for (int column = FirstDetailColumn; column < ColumnCount; ++column)
        EXPECT_EQ(SendMessageA(Form->TraceView->lvwTrace, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0), 0) << column;
    Form->TraceMask = TraceMaskAll;
    SetClientScript({"load", "env E", "alloc ERR E error", "alloc S E stmt",
                     "prepare S SELECT * FROM nosuchtable WHERE id = :id", "bind S :id 5", "execute S ERR",
                     "oraerror ERR 942", "prepare S SELECT a FROM t /*vt rows=3*/", "execute S ERR", "fetch S 10",
                     "attrget S 197", "free S"});
    RunToFinish(Client());
    for (int column = FirstDetailColumn; column < ColumnCount; ++column)
        EXPECT_GT(SendMessageA(Form->TraceView->lvwTrace, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0), 0) << column;
    ASSERT_EQ(Captions(), (std::vector<std::string>{"Start", "Prepare", "Execute", "Prepare", "Execute", "Fetch (10)",
                                                    "Finish"}));
    // As the list shows them.
    auto cells = [&](int row) {
        std::vector<std::string> texts;
        for (int column = StatementColumn; column < ColumnCount; ++column)
            texts.push_back(ListTextUtf8(Form->TraceView->lvwTrace, row, column));
        return texts;
    };
    EXPECT_EQ(cells(2), (std::vector<std::string>{"SELECT * FROM nosuchtable WHERE id = :id", "", ":id=5",
                                                  "ORA-00942: table or view does not exist"}));
    EXPECT_EQ(cells(5), (std::vector<std::string>{"SELECT a FROM t /*vt rows=3*/", "3", "", ""}));
    SelectRow(2);
    EXPECT_EQ(MemoLines(), (std::vector<std::string>{"SELECT * FROM nosuchtable WHERE id = :id",
                                                     "SQL_ID " + SqlIdOf("SELECT * FROM nosuchtable WHERE id = :id"),
                                                     ":id=5", "ORA-00942: table or view does not exist"}));
    SelectRow(4);
    EXPECT_EQ(MemoLines(), (std::vector<std::string>{"SELECT a FROM t /*vt rows=3*/",
                                                     "SQL_ID " + SqlIdOf("SELECT a FROM t /*vt rows=3*/")}))
        << "neither binds nor error";
    std::string file = Scratch.File("details.txt");
    SaveTrace(Form->TraceView->TraceRows, file, 3);
    std::string text = ReadFileBytes(file);
    EXPECT_NE(text.find("Fetch (10)\t"), std::string::npos);
    EXPECT_NE(text.find("\tSELECT a FROM t /*vt rows=3*/\t3\t\t\r\n"), std::string::npos) << text;
}

TEST_F(MainWindowTest, SessionRunsWithTheMaskItStartedWith)
{
    std::string gate = Scratch.File("gate");
    SetClientScript(GatedSession(gate));
    Form->TraceMask = TraceMaskPrepare;
    Form->RunProgram(Client());
    ASSERT_TRUE(WaitForRow("Prepare"));
    Form->TraceMask = TraceMaskExecute;
    WriteFileBytes(gate, "");
    ASSERT_TRUE(WaitForFinish());
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Start", "Prepare", "Prepare", "Finish"}));
}

TEST_F(MainWindowTest, EachSessionHooksAsTheSettingsSayWhenItStarts)
{
    SetClientScript({"load", "alloc S", "prepare S SELECT 1 FROM dual", "execute S", "free S"});
    for (THookKind kind : {THookKind::Fast, THookKind::Breakpoint, THookKind::Log}) {
        Form->Settings.Hooks = kind;
        Form->Session.Hooks = kind == THookKind::Fast ? THookKind::Breakpoint : THookKind::Fast;
        RunToFinish(Client());
        EXPECT_EQ(Form->Session.Hooks, kind);
        EXPECT_EQ(Captions(), (std::vector<std::string>{"Start", "Execute", "Finish"}));
        Command(cmViewClear);
    }

    // An attach session too.
    auto attachee = StartAttachee(Scratch, "hooks");
    ProcessList().Refresh();
    auto record = ProcessList().FindProcess(attachee->ProcessId());
    ASSERT_TRUE(record);
    Form->Settings.Hooks = THookKind::Log;
    Form->AttachProcess(record);
    EXPECT_EQ(Form->Session.Hooks, THookKind::Log);
    ASSERT_TRUE(WaitForRow("Execute"));
    Command(cmDebugStop);
    ASSERT_TRUE(WaitForFinish());
    // Detached, it finds its code bytes as they were and ends well.
    WriteFileBytes(Scratch.File("hooks.stop"), "");
    EXPECT_EQ(attachee->WaitForExit(20000), 0u);
}

TEST_F(MainWindowTest, CloseDuringARunSessionAsksAndNoKeepsBoth)
{
    std::string gate = Scratch.File("gate");
    SetClientScript(GatedSession(gate));
    Form->RunProgram(Client());
    ASSERT_TRUE(WaitForRow("Execute"));
    DWORD pid = ChildProcessId("guiclient.exe");
    ASSERT_NE(pid, 0u);
    {
        TModalDriver ask("Exit", [](HWND w) { PressButton(w, IDNO); });
        PostMessageA(Form->Handle, WM_CLOSE, 0, 0);
        ASSERT_TRUE(PumpUntil([&] { return ask.Wait(); }));
        EXPECT_NE(ask.Seen().AllText().find("Debug session is active. Abort?"), std::string::npos)
            << ask.Seen().AllText();
    }
    PumpFor(100);
    ASSERT_TRUE(IsWindow(Form->Handle));
    ASSERT_TRUE(SessionActive());

    ASSERT_TRUE(CloseAnsweringYes(Form->Handle));
    EXPECT_FALSE(SessionActive());
    // A run session's program ends with the tracer.
    EXPECT_TRUE(ProcessEnds(pid, 10000));
}

TEST_F(MainWindowTest, CloseDuringAnAttachSessionLeavesTheProgramRunningUnharmed)
{
    std::string stop = Scratch.File("stop"), ready = Scratch.File("ready");
    TOwnProcess attachee;
    ASSERT_TRUE(attachee.Start("\"" + BinDir() + "\\attachee.exe\" -stop \"" + stop + "\" -ready \"" + ready +
                               "\" -timeout 60"));
    ASSERT_TRUE(PumpUntil([&] { return GetFileAttributesA(ready.c_str()) != INVALID_FILE_ATTRIBUTES; }));
    ProcessList().Refresh();
    auto record = ProcessList().FindProcess(attachee.Info.dwProcessId);
    ASSERT_TRUE(record);
    Form->AttachProcess(record);
    ASSERT_TRUE(WaitForRow("Execute"));
    EXPECT_EQ(Caption(), "Velloran 1.0.0.100 - attachee.exe");

    ASSERT_TRUE(CloseAnsweringYes(Form->Handle));
    EXPECT_EQ(WaitForSingleObject(attachee.Info.hProcess, 500), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the attached program ended with the tracer";
    // Told to stop, it checks its code bytes (no int3 left) and exits with 0.
    WriteFileBytes(stop, "");
    ASSERT_EQ(WaitForSingleObject(attachee.Info.hProcess, 20000), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD code = 0;
    GetExitCodeProcess(attachee.Info.hProcess, &code);
    EXPECT_EQ(code, 0u);
}

// Sessions in the window: their rows, the memo's note of an execute that commits on
// success, and the script's password in no row, memo, export or settings file.
TEST_F(MainWindowTest, SessionRowsAndTheirMemosAndNoPasswordInAnythingTheWindowWrites)
{
    const std::string script = ReadFileBytes(FixtureScript("sessions.txt"));
    ASSERT_TRUE(ScriptPassesSessionsPassword(script));
    std::vector<std::string> lines;
    for (size_t from = 0, end; from < script.size(); from = end + 1) {
        end = std::min(script.find('\n', from), script.size());
        lines.push_back(ReplaceAll(script.substr(from, end - from), "\r", ""));
    }
    SetClientScript(lines);
    Form->TraceMask = TraceMaskPrepare | TraceMaskExecute | TraceMaskFetch | TraceMaskConnect | TraceMaskCommit;
    RunToFinish(Client());

    std::map<std::string, int> counts;
    std::vector<std::vector<std::string>> executeMemos;
    std::string shown;
    const std::vector<std::string> captions = Captions();
    for (size_t i = 0; i < captions.size(); ++i) {
        ++counts[captions[i]];
        SelectRow(static_cast<int>(i));
        for (const std::string& line : MemoLines())
            shown += line + "\n";
        if (captions[i] == "Execute")
            executeMemos.push_back(MemoLines());
    }
    EXPECT_EQ(counts, (std::map<std::string, int>{{"Start", 1}, {"Prepare", 1}, {"Execute", 2}, {"Connect", 9},
                                                  {"Disconnect", 8}, {"Commit", 4}, {"Rollback", 2}, {"Finish", 1}}));
    const std::string update = "UPDATE orders SET state = 'done' /*vt rows=2*/";
    const std::string sqlId = "SQL_ID " + SqlIdOf(update);
    EXPECT_EQ(executeMemos, (std::vector<std::vector<std::string>>{
                                {update, sqlId, "Commits on success (OCI_COMMIT_ON_SUCCESS)"}, {update, sqlId}}));
    for (const TListRow& row : Rows())
        for (const std::string& cell : row.SubItems)
            shown += cell + "\n";
    EXPECT_NE(shown.find("scott@localhost/orclpdb (vt-fixture : 1.0)"), std::string::npos) << shown;
    EXPECT_FALSE(HoldsSessionsPassword(shown));

    for (int format : {1, 2, 3}) {
        const std::string file = Scratch.File("export-" + std::to_string(format));
        SaveTrace(Form->TraceView->TraceRows, file, format);
        const std::string written = ReadFileBytes(file);
        EXPECT_NE(written.find("Rollback"), std::string::npos) << format;
        EXPECT_FALSE(HoldsSessionsPassword(written)) << format;
        EXPECT_EQ(written.find("Commits on success"), std::string::npos) << format << ": the note is the memo's";
    }
    DestroyForm();
    const std::string settings = ReadFileBytes(SettingsPath());
    EXPECT_NE(settings.find("TRACE_CONNECT=1\r\nTRACE_COMMIT=1\r\n"), std::string::npos) << settings;
    EXPECT_FALSE(HoldsSessionsPassword(settings));
    CreateForm();
}
