// Texts beyond ASCII in the window: a statement in UTF-8 reaches the list, the memo and the
// exports whole, and a colour rule typed in the rule editor in any script finds its rows.
#include "DlgSelColors.h"
#include "DlgStmtColor.h"
#include "SqlId.h"
#include "MainWindowFixture.h"
#include "TraceColors.h"
#include "TraceExport.h"

#include <gtest/gtest.h>

namespace {

constexpr COLORREF Yellow = RGB(255, 255, 0);

const std::string Greeting = "SELECT 'Grüße, 東京'\r\nFROM dual";

class UnicodeWindowTest : public MainWindowTest {
protected:
    void AddRows()
    {
        Form->AddTraceRow("Start");
        Form->AddTraceRow(TListRow{"Execute", {"07", "OCI_SUCCESS", Greeting}});
        Form->AddTraceRow(TListRow{"Execute", {"", "OCI_ERROR", "SELECT 'Tokio' FROM dual"}});
        Form->AddTraceRow("Finish");
        UpdateWindow(Form->TraceView->lvwTrace);
        PumpFor(100);
    }
    COLORREF CellBackground(int row, int column)
    {
        RECT cell = ListCellRect(Form->TraceView->lvwTrace, row, column);
        return PixelAt(Form->TraceView->lvwTrace, cell.left + 2, cell.bottom - 3);
    }
    void Save(const TScratchDir& dir, int filterIndex, const std::string& name)
    {
        TModalDriver driver("Save As", [&](HWND dlg) { AnswerSaveDialog(dlg, filterIndex, dir.File(name)); });
        Command(cmSave);
        EXPECT_TRUE(driver.Wait()) << name;
    }
};

} // namespace

TEST_F(UnicodeWindowTest, AUtf8StatementReachesTheListTheMemoAndTheExportsWhole)
{
    AddRows();
    const struct {
        int Row;
        int Column;
        std::string Text;
    } cells[] = {
        {0, 0, "Start"}, {1, 0, "Execute"}, {1, 1, "07"}, {1, 2, "OCI_SUCCESS"},
        // On one line in the list; the memo and the exports keep the line break.
        {1, 3, "SELECT 'Grüße, 東京' FROM dual"}, {3, 0, "Finish"},
    };
    for (const auto& c : cells)
        EXPECT_EQ(ListTextUtf8(Form->TraceView->lvwTrace, c.Row, c.Column), c.Text) << c.Row << "/" << c.Column;

    SelectRow(1);
    EXPECT_EQ(WindowTextUtf8(Form->TraceView->memSQL), Greeting);
    EXPECT_EQ(SendMessageW(Form->TraceView->memSQL, EM_GETLINECOUNT, 0, 0), 2);

    TScratchDir dir;
    Save(dir, 2, "trace");
    Save(dir, 1, "trace");
    EXPECT_EQ(ReadFileBytes(dir.File("trace.csv")), "Start\r\n"
                                                    "Execute,07,OCI_SUCCESS,\"" + Greeting + "\"\r\n"
                                                    "Execute,,OCI_ERROR,SELECT 'Tokio' FROM dual\r\n"
                                                    "Finish\r\n");
    EXPECT_EQ(ReadFileBytes(dir.File("trace.htm")),
              "<html><head><meta charset=\"utf-8\"><title>Velloran Output</title></head><body>\r\n"
              "Velloran trace report<table border=\"1\">\r\n"
              "<tr><td>Start</td></tr>\r\n"
              "<tr><td>Execute</td><td>07</td><td>OCI_SUCCESS</td><td>SELECT 'Grüße, 東京'<br>FROM dual</td></tr>\r\n"
              "<tr><td>Execute</td><td>&nbsp;</td><td>OCI_ERROR</td><td>SELECT 'Tokio' FROM dual</td></tr>\r\n"
              "<tr><td>Finish</td></tr>\r\n"
              "</table></body></html>\r\n");
}

TEST_F(UnicodeWindowTest, ARuleTypedInAnyScriptColoursTheRowsHoldingItAndIsKeptAsUtf8)
{
    AddRows();
    TModalDriver add("Statement colorize", [](HWND dlg) {
        PressButton(dlg, TStmtColorDlg::actNew);
        HWND editor = WaitForWindow("Choose colors");
        ASSERT_TRUE(editor);
        auto* self = reinterpret_cast<TSelColorsDlg*>(GetWindowLongPtrA(editor, GWLP_USERDATA));
        SetWindowTextW(self->edt, L"\u6771\u4EAC");
        ClickLabel(self->lblBack);
        AnswerColorDialog(Yellow, true);
        CloseDialog(editor, IDOK);
        WaitForWindow("Statement colorize");
        PressButton(dlg, IDOK);
    });
    Command(cmStmtColorize);
    ASSERT_TRUE(add.Wait());
    ASSERT_EQ(Form->Settings.ColorRules.Count(), 1);
    EXPECT_EQ(Form->Settings.ColorRules.Items(0)->SearchString, "東京");
    UpdateWindow(Form->TraceView->lvwTrace);
    PumpFor(100);
    EXPECT_EQ(CellBackground(1, 3), Yellow);
    EXPECT_EQ(CellBackground(2, 3), ColorToRGB(clEvenRow));

    // The rules dialog lists the rule as it was typed.
    std::string listed;
    TModalDriver look("Statement colorize", [&](HWND dlg) {
        listed = ListTextUtf8(reinterpret_cast<TStmtColorDlg*>(GetWindowLongPtrA(dlg, GWLP_USERDATA))->lvw, 0, 0);
        CloseDialog(dlg, IDCANCEL);
    });
    Command(cmStmtColorize);
    ASSERT_TRUE(look.Wait());
    EXPECT_EQ(listed, "東京");

    // The end of the program writes it as UTF-8; the next start finds it again.
    DestroyForm();
    std::string ini = ReadFileBytes(SettingsPath());
    EXPECT_NE(ini.find("[SRCH_CLR]\r\nSRCHSTR1=\xE6\x9D\xB1\xE4\xBA\xAC\r\nBKCOLOR1=65535\r\n"), std::string::npos) << ini;
    CreateForm();
    ASSERT_EQ(Form->Settings.ColorRules.Count(), 1);
    EXPECT_EQ(Form->Settings.ColorRules.Items(0)->SearchString, "東京");
}

TEST_F(UnicodeWindowTest, StatementsOfANarrowUtf8AndAUtf16ClientReachTheWindowWhole)
{
    // The script is ASCII (escapes), so no code page touches it on its way to the client;
    // the client passes the second statement as UTF-16, its environment's encoding.
    SetClientScript({"load", "alloc N", "prepare N SELECT 'Gr\\xC3\\xBC\\xC3\\x9Fe' FROM dual", "execute N",
                     "env E utf16", "alloc W E stmt", "prepare W SELECT '\\xE6\\x9D\\xB1\\xE4\\xBA\\xAC' FROM dual",
                     "execute W", "free W", "free N"});
    const std::string narrow = "SELECT 'Grüße' FROM dual", wide = "SELECT '東京' FROM dual";
    Form->Settings.ColorRules.Assign({{0x0000FFFF, 0, "東京"}});
    RunToFinish(Client());
    ASSERT_EQ(Captions(), (std::vector<std::string>{"Start", "Execute", "Execute", "Finish"}));
    EXPECT_EQ(ListTextUtf8(Form->TraceView->lvwTrace, 1, 3), narrow);
    EXPECT_EQ(ListTextUtf8(Form->TraceView->lvwTrace, 2, 3), wide);
    SelectRow(2);
    // A UTF-16 statement's id is of its UTF-8 bytes.
    EXPECT_EQ(WindowTextUtf8(Form->TraceView->memSQL), wide + "\r\nSQL_ID " + SqlIdOf(wide));
    SelectRow(-1);
    UpdateWindow(Form->TraceView->lvwTrace);
    PumpFor(100);
    EXPECT_EQ(CellBackground(2, 3), Yellow);
    EXPECT_EQ(CellBackground(1, 3), GetSysColor(COLOR_WINDOW));

    TScratchDir dir;
    SaveTrace(Form->TraceView->TraceRows, dir.File("trace.txt"), 3);
    const std::string text = ReadFileBytes(dir.File("trace.txt"));
    EXPECT_NE(text.find("\tOCI_SUCCESS\t" + narrow + "\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\tOCI_SUCCESS\t" + wide + "\r\n"), std::string::npos) << text;
}
