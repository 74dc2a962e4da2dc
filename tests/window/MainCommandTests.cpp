// The main window's Attach, Save log, Statement colorize and About commands, end to end:
// the real window, its real dialogs, real sessions.
#include "DlgAbout.h"
#include "DlgSelProcess.h"
#include "DlgStmtColor.h"
#include "MainWindowFixture.h"
#include "TraceColors.h"

#include "Application.h"
#include "Errors.h"
#include "Utils.h"

#include <commctrl.h>

#include <gtest/gtest.h>

namespace {

constexpr COLORREF Red = RGB(255, 0, 0);
constexpr COLORREF Yellow = RGB(255, 255, 0);

class MainCommandTest : public MainWindowTest {
protected:
    TColorInfos& Rules() { return Form->Settings.ColorRules; }

    // A session of guiclient.exe that executes each statement once.
    void RunStatements(const std::vector<std::string>& statements)
    {
        std::vector<std::string> script = {"load", "alloc S"};
        for (const std::string& statement : statements) {
            script.push_back("prepare S " + statement);
            script.push_back("execute S");
        }
        SetClientScript(script);
        RunToFinish(Client());
    }

    // The background of a cell as the screen shows it (a point left of any text).
    COLORREF CellBackground(int row, int column)
    {
        RECT cell = ListCellRect(Form->TraceView->lvwTrace, row, column);
        return PixelAt(Form->TraceView->lvwTrace, cell.left + 2, cell.bottom - 3);
    }
    bool RowHasTextIn(int row, COLORREF color)
    {
        return AnyPixelIs(Form->TraceView->lvwTrace, ListCellRect(Form->TraceView->lvwTrace, row, 3), color);
    }
    // Statement colorize: the first rule deleted, then the dialog closed with button.
    void DeleteFirstRule(int button)
    {
        TModalDriver driver("Statement colorize", [button](HWND dlg) {
            auto* self = reinterpret_cast<TStmtColorDlg*>(GetWindowLongPtrA(dlg, GWLP_USERDATA));
            SelectListRow(self->lvw, 0);
            PressButton(dlg, TStmtColorDlg::actDelete);
            PressButton(dlg, button);
        });
        Command(cmStmtColorize);
        EXPECT_TRUE(driver.Wait());
    }
    void Repainted()
    {
        UpdateWindow(Form->TraceView->lvwTrace);
        PumpFor(100);
    }
};

} // namespace

TEST_F(MainCommandTest, AttachTracesTheProcessChosenInTheDialog)
{
    TScratchDir dir;
    auto attachee = StartAttachee(dir, "target");
    bool okEnabledAtStart = true;
    TModalDriver driver("Attach to process", [&](HWND dlg) {
        auto* self = reinterpret_cast<TSelProcessDlg*>(GetWindowLongPtrA(dlg, GWLP_USERDATA));
        okEnabledAtStart = IsWindowEnabled(self->btnOK);
        SelectListRow(self->lvwProcesses, RowOfProcess(self->lvwProcesses, attachee->ProcessId()));
        PressButton(dlg, IDOK);
    });
    Command(cmDebugAttach);
    ASSERT_TRUE(driver.Wait());
    EXPECT_FALSE(okEnabledAtStart);
    ASSERT_TRUE(SessionActive());
    ASSERT_TRUE(WaitForRow("Execute"));
    // The process chosen is the one under the debugger.
    BOOL debugged = FALSE;
    ASSERT_TRUE(CheckRemoteDebuggerPresent(attachee->Handle(), &debugged));
    EXPECT_TRUE(debugged);
    EXPECT_EQ(Caption(), "Velloran 1.0.0.100 - attachee.exe");
    // The update rules run when the window falls idle.
    PumpFor(50);
    EXPECT_FALSE(MenuEnabled(cmDebugAttach));

    Command(cmDebugStop);
    ASSERT_TRUE(WaitForFinish());
    std::vector<std::string> captions = Captions();
    EXPECT_EQ(captions.front(), "Start");
    EXPECT_EQ(captions.back(), "Finish");
    // Detached: the program runs on, finds its code as it was and ends well.
    WriteFileBytes(dir.File("target.stop"), "");
    EXPECT_EQ(attachee->WaitForExit(30000), 0u);
}

TEST_F(MainCommandTest, CancellingTheAttachDialogStartsNothing)
{
    TModalDriver driver("Attach to process", [](HWND dlg) {
        auto* self = reinterpret_cast<TSelProcessDlg*>(GetWindowLongPtrA(dlg, GWLP_USERDATA));
        SelectListRow(self->lvwProcesses, 0);
        PressButton(dlg, IDCANCEL);
    });
    Command(cmDebugAttach);
    ASSERT_TRUE(driver.Wait());
    PumpFor(200);
    EXPECT_FALSE(SessionActive());
    EXPECT_TRUE(Rows().empty());
    EXPECT_TRUE(MenuEnabled(cmDebugAttach));
}

TEST_F(MainCommandTest, ColourRulesShowOnTheWindowAndSurviveARestart)
{
    RunStatements({"SELECT a FROM t", "UPDATE t SET a = 1 /*vt sleep=30*/", "DELETE FROM t"});
    ASSERT_EQ(Captions(), (std::vector<std::string>{"Start", "Execute", "Execute", "Execute", "Finish"}));
    Repainted();
    const COLORREF evenRow = ColorToRGB(clEvenRow), window = GetSysColor(COLOR_WINDOW);
    EXPECT_EQ(CellBackground(1, 3), window);
    EXPECT_EQ(CellBackground(2, 3), evenRow);

    // A rule for SELECT, red on yellow, made in the dialogs and kept with OK.
    TModalDriver add("Statement colorize", [](HWND dlg) {
        PressButton(dlg, TStmtColorDlg::actNew);
        AnswerRuleEditor("SELECT", Red, Yellow, IDOK);
        WaitForWindow("Statement colorize");
        PressButton(dlg, IDOK);
    });
    Command(cmStmtColorize);
    ASSERT_TRUE(add.Wait());
    ASSERT_EQ(Rules().Count(), 1);
    Repainted();
    struct TCase {
        int Row;
        COLORREF Back;
        COLORREF Text;
    } cases[] = {
        {0, evenRow, RGB(0, 0, 0)}, {1, Yellow, Red}, {2, evenRow, RGB(0, 0, 0)},
        {3, window, RGB(0, 0, 0)},  {4, evenRow, RGB(0, 0, 0)},
    };
    for (const TCase& c : cases)
        for (int column = 0; column < 4; ++column)
            EXPECT_EQ(CellBackground(c.Row, column), c.Back) << "row " << c.Row << " column " << column;
    EXPECT_TRUE(RowHasTextIn(1, Red));
    EXPECT_TRUE(RowHasTextIn(2, RGB(0, 0, 0)));
    // The text stands 3 pixels into its cell, and the Time column is right-aligned.
    RECT action = ListCellRect(Form->TraceView->lvwTrace, 2, 0);
    RECT time = ListCellRect(Form->TraceView->lvwTrace, 2, 1);
    auto actionText = ColorSpan(Form->TraceView->lvwTrace, RECT{action.left, action.top, time.left, action.bottom}, RGB(0, 0, 0));
    auto timeText = ColorSpan(Form->TraceView->lvwTrace, time, RGB(0, 0, 0));
    EXPECT_GE(actionText.first, action.left + 3);
    EXPECT_LT(actionText.first, action.left + 8);
    EXPECT_LE(timeText.second, time.right - 4);
    EXPECT_GT(timeText.first, (time.left + time.right) / 2) << Rows()[2].SubItems[0];

    // The rule deleted, then Cancel: it is back, and so are the colours.
    DeleteFirstRule(IDCANCEL);
    Repainted();
    ASSERT_EQ(Rules().Count(), 1);
    EXPECT_EQ(CellBackground(1, 3), Yellow);

    // Selected, the row shows the selection's colours instead.
    SelectRow(1);
    Repainted();
    EXPECT_EQ(CellBackground(1, 3), GetSysColor(COLOR_HIGHLIGHT));

    // The end of the program writes the rule; the next start reads it back.
    DestroyForm();
    std::string ini = ReadFileBytes(SettingsPath());
    EXPECT_NE(ini.find("[SRCH_CLR]\r\nSRCHSTR1=SELECT\r\nBKCOLOR1=65535\r\nFRCOLOR1=255\r\n"), std::string::npos) << ini;
    CreateForm();
    ASSERT_EQ(Rules().Count(), 1);
    EXPECT_EQ(Rules().Items(0)->SearchString, "SELECT");
    EXPECT_EQ(Rules().Items(0)->BackColor, static_cast<TColor>(Yellow));

    // All rules deleted with OK: the next end leaves no section.
    DeleteFirstRule(IDOK);
    DestroyForm();
    EXPECT_EQ(ReadFileBytes(SettingsPath()).find("SRCH_CLR"), std::string::npos);
}

TEST_F(MainCommandTest, SaveLogWritesTheListAsShown)
{
    TScratchDir dir;
    auto save = [&](int filterIndex, const std::string& name) {
        TModalDriver driver("Save As", [&](HWND dlg) { AnswerSaveDialog(dlg, filterIndex, dir.File(name)); });
        Command(cmSave);
        EXPECT_TRUE(driver.Wait()) << name;
    };
    // An empty list.
    save(2, "empty");
    save(1, "empty");
    EXPECT_EQ(ReadFileBytes(dir.File("empty.csv")), "");
    EXPECT_EQ(ReadFileBytes(dir.File("empty.htm")), "<html><head><title>Velloran Output</title></head><body>\r\n"
                                                   "Velloran trace report<table border=\"1\">\r\n"
                                                   "</table></body></html>\r\n");

    RunStatements({"SELECT a\\r\\nFROM t\\nWHERE b < 1 & c > 2", "UPDATE t SET a = ',\\t'"});
    std::vector<TListRow> rows = Rows();
    ASSERT_EQ(rows.size(), 4u);
    const std::string time1 = rows[1].SubItems[0], time2 = rows[2].SubItems[0];
    save(2, "trace");
    save(3, "trace");
    save(1, "trace");
    EXPECT_EQ(ReadFileBytes(dir.File("trace.csv")),
              "Start\r\n"
              "Execute," + time1 + ",OCI_SUCCESS,\"SELECT a\r\nFROM t\nWHERE b < 1 & c > 2\"\r\n"
              "Execute," + time2 + ",OCI_SUCCESS,\"UPDATE t SET a = ',\t'\"\r\n"
              "Finish\r\n");
    EXPECT_EQ(ReadFileBytes(dir.File("trace.txt")),
              "Start\r\n"
              "Execute\t" + time1 + "\tOCI_SUCCESS\tSELECT a\r\nFROM t\nWHERE b < 1 & c > 2\r\n"
              "Execute\t" + time2 + "\tOCI_SUCCESS\tUPDATE t SET a = ',\t'\r\n"
              "Finish\r\n");
    auto cell = [](const std::string& text) { return "<td>" + (text.empty() ? std::string("&nbsp;") : text) + "</td>"; };
    EXPECT_EQ(ReadFileBytes(dir.File("trace.htm")),
              "<html><head><title>Velloran Output</title></head><body>\r\n"
              "Velloran trace report<table border=\"1\">\r\n"
              "<tr><td>Start</td></tr>\r\n"
              "<tr><td>Execute</td>" + cell(time1) + "<td>OCI_SUCCESS</td><td>SELECT a<br>FROM t<br>WHERE b < 1 & c > 2</td></tr>\r\n"
              "<tr><td>Execute</td>" + cell(time2) + "<td>OCI_SUCCESS</td><td>UPDATE t SET a = ',\t'</td></tr>\r\n"
              "<tr><td>Finish</td></tr>\r\n"
              "</table></body></html>\r\n");
    EXPECT_EQ(Form->sdg.InitialDir, dir.Path);
    EXPECT_EQ(Form->sdg.FileName, dir.File("trace.htm"));
}

TEST_F(MainCommandTest, SaveLogShowsAFailedWriteAndKeepsTheFolder)
{
    TScratchDir dir;
    WriteFileBytes(dir.File("locked.csv"), "old");
    HANDLE lock = CreateFileA(dir.File("locked.csv").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    std::vector<std::string> errors;
    Application().SetErrorSink([&](const std::string& text) { errors.push_back(text); });
    Form->sdg.InitialDir = "C:\\";
    TModalDriver driver("Save As", [&](HWND dlg) {
        AnswerSaveDialog(dlg, 2, dir.File("locked.csv"));
        AnswerQuestion(dlg, IDYES);
    });
    Command(cmSave);
    ASSERT_TRUE(driver.Wait());
    Application().SetErrorSink(nullptr);
    CloseHandle(lock);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("System Error.  Code: 32.", 0), 0u) << errors[0];
    EXPECT_EQ(Form->sdg.InitialDir, "C:\\");
}

TEST_F(MainCommandTest, AboutShowsTheProgramsVersionAndClosesWithEscape)
{
    std::string version;
    TModalDriver driver("About", [&](HWND dlg) {
        auto* self = reinterpret_cast<TAboutDlg*>(GetWindowLongPtrA(dlg, GWLP_USERDATA));
        version = WindowText(self->lblVersion);
        PressKey(dlg, VK_ESCAPE);
    });
    Command(cmAbout);
    ASSERT_TRUE(driver.Wait());
    PumpFor(100);
    EXPECT_EQ(version, "1.0.0.100");
    EXPECT_EQ(FindOwnWindow("About"), nullptr);
    EXPECT_TRUE(IsWindowEnabled(Form->Handle));
}
