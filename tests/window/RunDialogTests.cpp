// What the window starts and how: the Run dialog (program, arguments, start folder), the
// recent list across a restart, and the window's command line. showargs.exe tells what it
// was given; the tests compare.
#include "DlgRun.h"
#include "MainCommandLine.h"
#include "MainWindowFixture.h"
#include "VelloranBuild.h"

#include "CommandLine.h"
#include "Utils.h"

#include <sstream>

namespace {

// What showargs.exe told of its start.
struct TStarted {
    std::string CommandLine;
    std::string Folder;
    std::vector<std::string> Args;
};

class RunDialogTest : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        SetEnvironmentVariableA("VELLORAN_SHOWARGS", Told().c_str());
    }
    void TearDown() override
    {
        SetEnvironmentVariableA("VELLORAN_SHOWARGS", nullptr);
        MainWindowTest::TearDown();
    }

    std::string Told() const { return Scratch.File("told.txt"); }
    static std::string ShowArgs() { return BinDir() + "\\showargs.exe"; }

    // What the last showargs.exe wrote; the file is removed for the next one.
    TStarted Started()
    {
        TStarted started;
        std::istringstream in(ReadFileBytes(Told()));
        DeleteFileA(Told().c_str());
        for (std::string line; std::getline(in, line);) {
            std::string kind = line.substr(0, line.find(' '));
            std::string value = line.substr(std::min(line.size(), kind.size() + 1));
            if (kind == "COMMANDLINE")
                started.CommandLine = value;
            else if (kind == "FOLDER")
                started.Folder = value;
            else if (kind == "ARG")
                started.Args.push_back(value);
        }
        return started;
    }

    // Runs the Run dialog: fill() gets it open, with its boxes; then the session runs out.
    void RunFromDialog(const std::function<void(HWND, TRunDlg&)>& fill)
    {
        TModalDriver driver("Run", [&](HWND dlg) {
            fill(dlg, *reinterpret_cast<TRunDlg*>(GetWindowLongPtrA(dlg, GWLP_USERDATA)));
        });
        Command(cmDebugRun);
        ASSERT_TRUE(driver.Wait());
        ASSERT_TRUE(WaitForFinish());
    }

    static void Fill(TRunDlg& dlg, const TRunEntry& run)
    {
        SetWindowTextA(dlg.edtProgram, run.Program.c_str());
        SetWindowTextA(dlg.edtArguments, run.Arguments.c_str());
        SetWindowTextA(dlg.edtFolder, run.Folder.c_str());
    }
};

struct TWindowSearch {
    DWORD ProcessId;
    const std::string* Prefix;
    HWND Found;
};

BOOL CALLBACK MatchWindowOfProcess(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<TWindowSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->ProcessId && IsWindowVisible(window) && WindowText(window).rfind(*search->Prefix, 0) == 0)
        search->Found = window;
    return search->Found ? FALSE : TRUE;
}

// A visible top-level window of another process whose caption begins with prefix, once
// it is up; zero after 30 s.
HWND WindowOfProcess(DWORD processId, const std::string& prefix)
{
    TWindowSearch search{processId, &prefix, nullptr};
    for (DWORD start = GetTickCount(); !search.Found && GetTickCount() - start < 30000; Sleep(50))
        EnumWindows(MatchWindowOfProcess, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

std::string RecentCaption(HMENU menu, int index)
{
    char text[1024] = {};
    GetMenuStringA(menu, static_cast<UINT>(index), text, sizeof(text), MF_BYPOSITION);
    return text;
}

} // namespace

TEST_F(RunDialogTest, RunStartsTheProgramWithItsArgumentsInItsFolderAndTheRecentListRerunsItAfterARestart)
{
    std::string folder = Scratch.File("start here");
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    const TRunEntry withArguments{ShowArgs(), "plain \"two words\" \"say \\\"hi\\\"\" C:\\dir\\", folder};
    const std::vector<std::string> arguments{"plain", "two words", "say \"hi\"", "C:\\dir\\"};

    // Typed into the boxes, Enter in the Program box, which is the first stop of the tab order
    // and so has the focus when the dialog opens active. (The focus itself is not asked: with
    // tests beside this one on the display the dialog may open behind another window.)
    bool programFirst = false;
    RunFromDialog([&](HWND dlg, TRunDlg& self) {
        programFirst = GetNextDlgTabItem(dlg, nullptr, FALSE) == self.edtProgram;
        Fill(self, withArguments);
        PressKey(dlg, VK_RETURN);
    });
    EXPECT_TRUE(programFirst);
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Start", "Finish"}));
    TStarted first = Started();
    EXPECT_EQ(first.CommandLine, ShowArgs() + " " + withArguments.Arguments);
    EXPECT_EQ(first.Args, arguments);
    EXPECT_EQ(first.Folder, folder);

    // No arguments and no folder: the program's own folder, the command line its path.
    RunFromDialog([&](HWND dlg, TRunDlg& self) {
        Fill(self, {ShowArgs()});
        PressButton(dlg, IDOK);
    });
    TStarted second = Started();
    EXPECT_EQ(second.CommandLine, ShowArgs());
    EXPECT_TRUE(second.Args.empty());
    EXPECT_EQ(second.Folder, BinDir());
    const std::vector<TRunEntry> recents{{ShowArgs()}, withArguments};
    EXPECT_EQ(Form->Recents, recents);

    DestroyForm();
    CreateForm();
    ASSERT_EQ(Form->Recents, recents);
    EXPECT_EQ(RecentCaption(Form->pmnRecents.get(), 0), ShowArgs());
    EXPECT_EQ(RecentCaption(Form->pmnRecents.get(), 1), ShowArgs() + " " + withArguments.Arguments + "\t" + folder);
    Command(cmRecentFirst + 1);
    ASSERT_TRUE(WaitForFinish());
    TStarted again = Started();
    EXPECT_EQ(again.CommandLine, first.CommandLine);
    EXPECT_EQ(again.Args, arguments);
    EXPECT_EQ(again.Folder, folder);
    EXPECT_EQ(Form->Recents, (std::vector<TRunEntry>{withArguments, {ShowArgs()}}));
}

TEST_F(RunDialogTest, AFolderThatDoesNotExistIsRefusedAndStartsNothing)
{
    const std::string nowhere = Scratch.File("no such folder");
    const std::string error = "The folder to start in does not exist: " + nowhere;
    // In the dialog: the error, and the dialog stays for the folder to be put right.
    std::string shown;
    bool stayed = false;
    TModalDriver driver("Run", [&](HWND dlg) {
        auto* self = reinterpret_cast<TRunDlg*>(GetWindowLongPtrA(dlg, GWLP_USERDATA));
        Fill(*self, {ShowArgs(), "", nowhere});
        TModalDriver box("Velloran", [](HWND w) { PressButton(w, IDOK); });
        PressButton(dlg, IDOK);
        if (box.Wait())
            shown = box.Seen().AllText();
        stayed = WaitForWindow("Run", 5000) == dlg;
        CloseDialog(dlg, IDCANCEL);
    });
    Command(cmDebugRun);
    ASSERT_TRUE(driver.Wait());
    EXPECT_NE(shown.find(error), std::string::npos) << shown;
    EXPECT_TRUE(stayed);

    // A recent entry whose folder has gone since: the same error; the entry stays.
    Form->AddRecent({ShowArgs(), "", nowhere}, true);
    TModalDriver box("Velloran", [](HWND w) { PressButton(w, IDOK); });
    Command(cmRecentFirst);
    ASSERT_TRUE(box.Wait());
    EXPECT_NE(box.Seen().AllText().find(error), std::string::npos) << box.Seen().AllText();
    PumpFor(200);
    EXPECT_FALSE(SessionActive());
    EXPECT_TRUE(Rows().empty());
    EXPECT_EQ(Form->Recents.size(), 1u);
    EXPECT_EQ(GetFileAttributesA(Told().c_str()), INVALID_FILE_ATTRIBUTES);
}

// --help, --version and usage errors end the program after a box; anything else opens
// the window.
TEST_F(RunDialogTest, WindowCommandLineShowsUsageAndVersionInABox)
{
    const std::string name = WindowProgramOptions().Name;
    const struct {
        std::vector<std::string> Args;
        int ExitCode;
        std::string Text;
    } cases[] = {
        {{"--help"}, 0, "usage: " + name + " [options] -- PROGRAM [ARGUMENTS...]\r\n"},
        {{"-h", "--bogus"}, 0, "  --version       print the version and exit"},
        {{"--version"}, 0, name + " 1.0.0.100"},
        {{"--bogus"}, 2, name + ": unknown option: --bogus\r\nusage: " + name},
        {{"--format", "csv", "--", "x.exe"}, 2, "unknown option: --format"},
        {{"--trace", "select", "--", "x.exe"}, 2, "unknown action in --trace: select"},
        {{"--hooks", "jump", "--", "x.exe"}, 2, "unknown hook kind in --hooks: jump (int3 or fast)"},
        {{"--attach", "12", "--", "x.exe"}, 2, "give either -- PROGRAM or --attach PID"},
        {{"--trace", "fetch"}, 2, "give either -- PROGRAM or --attach PID"},
        {{"--"}, 2, "give either -- PROGRAM or --attach PID"},
    };
    for (const auto& c : cases) {
        TModalDriver box("Velloran", [](HWND w) { PressButton(w, IDOK); });
        TWindowCommand command = ReadWindowCommandLine(c.Args);
        ASSERT_TRUE(box.Wait()) << JoinCommandLine(c.Args);
        EXPECT_EQ(command.ExitCode, c.ExitCode) << JoinCommandLine(c.Args);
        EXPECT_NE(box.Seen().AllText().find(c.Text), std::string::npos) << box.Seen().AllText();
    }
    TWindowCommand alone = ReadWindowCommandLine({});
    EXPECT_FALSE(alone.ExitCode);
    EXPECT_FALSE(alone.Session.HasSession());
}

TEST_F(RunDialogTest, WindowCommandLineRunsAProgramWhereItWasGivenAndAttachesToAProcess)
{
    // The program's arguments quoted as the capture tool quotes them; the window's
    // current folder.
    TWindowCommand command = ReadWindowCommandLine({"--", ShowArgs(), "a b", "say \"hi\"", ""});
    ASSERT_FALSE(command.ExitCode);
    StartCommandLineSession(*Form, command.Session);
    ASSERT_TRUE(WaitForFinish());
    char here[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, here);
    TStarted started = Started();
    EXPECT_EQ(started.CommandLine, JoinCommandLine({ShowArgs(), "a b", "say \"hi\"", ""}));
    EXPECT_EQ(started.Args, (std::vector<std::string>{"a b", "say \"hi\"", ""}));
    EXPECT_EQ(started.Folder, here);
    EXPECT_EQ(Form->Recents.front(), (TRunEntry{ShowArgs(), "\"a b\" \"say \\\"hi\\\"\" \"\"", here}));

    // --trace for this session only: the window's own options stay as they were.
    Command(cmViewClear);
    const std::string script = "load; alloc S; prepare S SELECT 1 FROM dual; execute S; free S";
    command = ReadWindowCommandLine({"--trace", "prepare,execute", "--", Client(), "-e", script});
    StartCommandLineSession(*Form, command.Session);
    ASSERT_TRUE(WaitForFinish());
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Start", "Prepare", "Execute", "Finish"}));
    EXPECT_EQ(Form->TraceMask, TraceMaskExecute);

    Command(cmViewClear);
    auto attachee = StartAttachee(Scratch, "target");
    command = ReadWindowCommandLine({"--attach", std::to_string(attachee->ProcessId())});
    StartCommandLineSession(*Form, command.Session);
    ASSERT_TRUE(WaitForRow("Execute"));
    EXPECT_EQ(Caption(), "Velloran 1.0.0.100 - attachee.exe");
    Command(cmDebugStop);
    ASSERT_TRUE(WaitForFinish());
    WriteFileBytes(Scratch.File("target.stop"), "");
    EXPECT_EQ(attachee->WaitForExit(30000), 0u);

    // A process that is not there: the error, and no session.
    command = ReadWindowCommandLine({"--attach", "4000000000"});
    try {
        StartCommandLineSession(*Form, command.Session);
        ADD_FAILURE() << "no error";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "No process with id 4000000000 can be opened for debugging");
    }
    EXPECT_FALSE(SessionActive());
}

// The program itself reads its command line: a usage error ends it with status 2 once its
// box is answered.
TEST_F(RunDialogTest, TheWindowProgramEndsWithStatus2AfterAUsageError)
{
    TFixtureProcess window(VELLORAN_WINDOW_EXE, "--bogus", BinDir(), 0);
    HWND box = WindowOfProcess(window.ProcessId(), "Velloran");
    ASSERT_TRUE(box);
    EXPECT_NE(WindowText(GetDlgItem(box, 0xFFFF)).find("unknown option: --bogus"), std::string::npos);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(window.WaitForExit(30000), 2u);
}
