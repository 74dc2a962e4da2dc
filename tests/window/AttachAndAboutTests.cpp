// The attach dialog against real fixture processes (of both bitnesses), attaching from
// it through the main window, and the about box.
#include "DlgAbout.h"
#include "DlgSelProcess.h"
#include "MainWindowFixture.h"

#include "Application.h"
#include "Errors.h"
#include "Utils.h"
#include "VelloranBuild.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

int ColumnWidth(HWND list, int column)
{
    return static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
}

int TextWidth(HWND list, const char* text)
{
    return static_cast<int>(SendMessageA(list, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(text)));
}

// The file name and type of a process's row, as the dialog shows them.
struct TProcessRow {
    int Row = -1;
    std::string FileName, Type;
};

TProcessRow ProcessRow(HWND list, DWORD processId)
{
    TProcessRow seen;
    seen.Row = RowOfProcess(list, processId);
    if (seen.Row != -1) {
        seen.FileName = ListText(list, seen.Row, 1);
        seen.Type = ListText(list, seen.Row, 2);
    }
    return seen;
}

} // namespace

TEST(SelProcessDlg, RowsFollowTheProcessListAndOkTakesTheRecordTheUserSaw)
{
    TScratchDir dir;
    auto first = StartAttachee(dir, "first");
    // Listed before the second one starts, so it comes first in the list.
    ProcessList().Refresh();
    auto second = StartAttachee(dir, "second");

    TSelProcessDlg dlg;
    bool okAtStart = true, okAfterSelect = false, orderKept = false;
    int selectedAtStart = 0, firstRow = -1, secondRow = -1, rowsAfterRefresh = 0;
    std::string caption, headers, firstName, secondTextAfterRefresh;
    int pidWidth = 0, nameWidth = 0, typeWidth = 0, typeTextWidth = 0, pidWidthAfterDrag = 0, rows = 0;
    RECT list{};
    TModalDriver driver("Attach to process", [&](HWND w) {
        caption = WindowText(w);
        HWND lvw = dlg.lvwProcesses;
        list = ControlBounds(lvw);
        okAtStart = IsWindowEnabled(dlg.btnOK);
        selectedAtStart = ListSelectedRow(lvw);
        pidWidth = ColumnWidth(lvw, 0);
        nameWidth = ColumnWidth(lvw, 1);
        typeWidth = ColumnWidth(lvw, 2);
        typeTextWidth = std::max(TextWidth(lvw, "64-bit"), TextWidth(lvw, "32-bit"));
        HWND header = reinterpret_cast<HWND>(SendMessageA(lvw, LVM_GETHEADER, 0, 0));
        // A drag of the divider after PID.
        SendMessageA(header, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(pidWidth, 5));
        SendMessageA(header, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(pidWidth + 30, 5));
        SendMessageA(header, WM_LBUTTONUP, 0, MAKELPARAM(pidWidth + 30, 5));
        pidWidthAfterDrag = ColumnWidth(lvw, 0);
        headers = ListHeaders(lvw);
        rows = ListRowCount(lvw);
        // The rows against the process list, in its order (pids of both sides).
        std::vector<std::string> listed, shown;
        for (const auto& record : ProcessList().Snapshot())
            listed.push_back(std::to_string(record->ProcessId));
        for (int row = 0; row < rows; ++row)
            shown.push_back(ListText(lvw, row, 0));
        orderKept = listed == shown;
        firstRow = RowOfProcess(lvw, first->ProcessId());
        secondRow = RowOfProcess(lvw, second->ProcessId());
        if (firstRow != -1)
            firstName = ListText(lvw, firstRow, 1);
        SelectListRow(lvw, secondRow);
        Sleep(50);
        okAfterSelect = IsWindowEnabled(dlg.btnOK);
        // The first process ends and the list is refreshed (as at idle) while the dialog
        // is open: the rows and the selected row stay what the user sees.
        first->Kill();
        ProcessList().Refresh();
        rowsAfterRefresh = ListRowCount(lvw);
        secondTextAfterRefresh = ListText(lvw, ListSelectedRow(lvw), 0);
        PressButton(w, IDOK);
    });
    ASSERT_EQ(dlg.ShowModal(), mrOk);
    ASSERT_TRUE(driver.Wait());
    EXPECT_EQ(caption, "Attach to process");
    EXPECT_EQ(list.left, 16);
    EXPECT_EQ(list.top, 16);
    EXPECT_EQ(list.right - list.left, 369);
    EXPECT_EQ(list.bottom - list.top, 177);
    EXPECT_FALSE(okAtStart);
    EXPECT_EQ(selectedAtStart, -1);
    EXPECT_EQ(headers, "PID;File name;Type;");
    EXPECT_EQ(pidWidth, 50);
    // The columns fill the list beside its scroll bar, and a type shows whole (a cell
    // keeps a margin of about 6 pixels either side).
    EXPECT_EQ(pidWidth + nameWidth + typeWidth, 369 - GetSystemMetrics(SM_CXVSCROLL) - 4);
    EXPECT_GE(typeWidth, typeTextWidth + 12);
    EXPECT_GT(nameWidth, 2 * typeWidth);
    EXPECT_EQ(pidWidthAfterDrag, 50);
    EXPECT_TRUE(orderKept);
    ASSERT_NE(firstRow, -1);
    ASSERT_NE(secondRow, -1);
    EXPECT_LT(firstRow, secondRow);
    EXPECT_EQ(firstName, "attachee.exe");
    EXPECT_TRUE(okAfterSelect);
    EXPECT_EQ(rowsAfterRefresh, rows);
    EXPECT_EQ(secondTextAfterRefresh, std::to_string(second->ProcessId()));
    ASSERT_TRUE(dlg.SelectedProcess);
    EXPECT_EQ(dlg.SelectedProcess->ProcessId, second->ProcessId());
    EXPECT_EQ(dlg.SelectedProcess->FileName, "attachee.exe");
    EXPECT_EQ(ProcessList().IndexOfProcess(first->ProcessId()), -1);
}

TEST(SelProcessDlg, CancelChoosesNothing)
{
    struct TCase {
        const char* Name;
        void (*Close)(HWND);
    } cases[] = {
        {"Cancel", [](HWND w) { PressButton(w, IDCANCEL); }},
        {"Escape", [](HWND w) { PressKey(w, VK_ESCAPE); }},
    };
    for (const TCase& c : cases) {
        TSelProcessDlg dlg;
        TModalDriver driver("Attach to process", [&](HWND w) {
            SelectListRow(dlg.lvwProcesses, 0);
            c.Close(w);
        });
        EXPECT_EQ(dlg.ShowModal(), mrCancel) << c.Name;
        ASSERT_TRUE(driver.Wait()) << c.Name;
        EXPECT_FALSE(dlg.SelectedProcess) << c.Name;
    }
}

// Each row says which kind of program the process is, whatever the build: the tree's own
// attachee, the 32-bit one (in the 64-bit tree) and a 64-bit program of the system.
TEST(SelProcessDlg, TypeColumnTellsA64BitProgramFromA32BitOne)
{
    TScratchDir dir;
    struct TCase {
        const char* What;
        std::unique_ptr<TFixtureProcess> Process;
        std::string FileName, Type;
        TProcessRow Seen;
    } cases[] = {
        {"own attachee", StartAttachee(dir, "own"), "attachee.exe", VELLORAN_BITS == 64 ? "64-bit" : "32-bit", {}},
#if VELLORAN_BITS == 64
        {"32-bit attachee", StartAttachee(dir, "wow64", VELLORAN_FIXTURES32_DIR), "attachee.exe", "32-bit", {}},
#endif
        {"64-bit system program", StartSystemProgram64(), "cmd.exe", "64-bit", {}},
    };
    TSelProcessDlg dlg;
    TModalDriver driver("Attach to process", [&](HWND w) {
        for (TCase& c : cases)
            c.Seen = ProcessRow(dlg.lvwProcesses, c.Process->ProcessId());
        PressButton(w, IDCANCEL);
    });
    EXPECT_EQ(dlg.ShowModal(), mrCancel);
    ASSERT_TRUE(driver.Wait());
    for (const TCase& c : cases) {
        ASSERT_NE(c.Seen.Row, -1) << c.What << " is not listed";
        EXPECT_EQ(c.Seen.FileName, c.FileName) << c.What;
        EXPECT_EQ(c.Seen.Type, c.Type) << c.What;
    }
}

namespace {

// Attaching through Debug > Attach...: the row of a process chosen in the dialog.
class AttachFromDialogTest : public MainWindowTest {
protected:
    // Opens the dialog, selects the process's row and presses OK; the row's type as shown,
    // "" when the process was not listed (the dialog is then cancelled).
    std::string AttachTo(DWORD processId)
    {
        std::string type;
        TModalDriver driver("Attach to process", [&](HWND dlg) {
            auto* self = reinterpret_cast<TSelProcessDlg*>(GetWindowLongPtrA(dlg, GWLP_USERDATA));
            TProcessRow seen = ProcessRow(self->lvwProcesses, processId);
            if (seen.Row == -1) {
                PressButton(dlg, IDCANCEL);
                return;
            }
            type = seen.Type;
            SelectListRow(self->lvwProcesses, seen.Row);
            PressButton(dlg, IDOK);
        });
        Command(cmDebugAttach);
        EXPECT_TRUE(driver.Wait());
        return type;
    }
};

} // namespace

#if VELLORAN_BITS == 64
// The 64-bit window traces a 32-bit program chosen in its list, and leaves it running.
TEST_F(AttachFromDialogTest, The64BitWindowTracesA32BitProgramChosenInTheList)
{
    TScratchDir dir;
    auto attachee = StartAttachee(dir, "target32", VELLORAN_FIXTURES32_DIR);
    ASSERT_EQ(AttachTo(attachee->ProcessId()), "32-bit");
    ASSERT_TRUE(SessionActive());
    ASSERT_TRUE(WaitForRow("Execute"));
    BOOL debugged = FALSE;
    ASSERT_TRUE(CheckRemoteDebuggerPresent(attachee->Handle(), &debugged));
    EXPECT_TRUE(debugged);
    EXPECT_EQ(Caption(), "Velloran 1.0.0.100 - attachee.exe");

    Command(cmDebugStop);
    ASSERT_TRUE(WaitForFinish());
    std::vector<std::string> captions = Captions();
    EXPECT_EQ(captions.front(), "Start");
    EXPECT_EQ(captions.back(), "Finish");
    WriteFileBytes(dir.File("target32.stop"), "");
    EXPECT_EQ(attachee->WaitForExit(30000), 0u) << "the program must run on to its own end";
}
#else
// The 32-bit window lists a 64-bit program as such; chosen anyway, it is refused with the
// error that names the 64-bit build, nothing is started and the program runs on untouched.
TEST_F(AttachFromDialogTest, The32BitWindowRefusesA64BitProgramChosenInTheListAndLeavesItRunning)
{
    auto program = StartSystemProgram64();
    std::vector<std::string> errors;
    Application().SetErrorSink([&](const std::string& text) { errors.push_back(text); });
    std::string type = AttachTo(program->ProcessId());
    bool finished = WaitForFinish();
    Application().SetErrorSink(nullptr);
    ASSERT_EQ(type, "64-bit");
    ASSERT_TRUE(finished);
    EXPECT_EQ(errors, (std::vector<std::string>{
                          Format("Process %lu is a 64-bit program. This 32-bit Velloran cannot trace it: use "
                                 "velloran64.exe, or velloran-trace64.exe at the command line.",
                                 static_cast<unsigned long>(program->ProcessId()))}));
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Finish"}));
    EXPECT_EQ(Caption(), "Velloran 1.0.0.100");
    BOOL debugged = TRUE;
    ASSERT_TRUE(CheckRemoteDebuggerPresent(program->Handle(), &debugged));
    EXPECT_FALSE(debugged);
    EXPECT_EQ(program->WaitForExit(500), static_cast<DWORD>(STILL_ACTIVE)) << "the program must run on";
    PumpFor(50);
    EXPECT_TRUE(MenuEnabled(cmDebugAttach));
}
#endif

TEST(AboutDlg, BorderlessBoxWithItsTextsFrameAndLinks)
{
    TAboutDlg dlg;
    std::vector<std::string> opened;
    dlg.ShellOpen = [&](HWND, const std::string& target) { opened.push_back(target); };
    LONG style = 0;
    RECT client{}, cancel{};
    bool okVisible = true;
    struct TLabel {
        HWND TAboutDlg::*Field;
        int Left, Top;
        std::string Text;
        RECT Seen;
        std::string SeenText;
    } labels[] = {
        {&TAboutDlg::Label1, 8, 24, "Velloran", {}, {}},
        {&TAboutDlg::Label2, 8, 80, "Version", {}, {}},
        {&TAboutDlg::lblVersion, 56, 80, "1.0.0.100", {}, {}},
        {&TAboutDlg::Label4, 8, 104, "Written by the Velloran developers", {}, {}},
        {&TAboutDlg::Label5, 8, 152, "Velloran Home Page", {}, {}},
        {&TAboutDlg::LBLHTTP2, 184, 152, "http://www.example.org/velloran/", {}, {}},
        {&TAboutDlg::lblEMAIL, 184, 104, "velloran@example.org", {}, {}},
        {&TAboutDlg::Label8, 8, 128, "Author's Home Page", {}, {}},
        {&TAboutDlg::lblHTTP1, 184, 128, "http://www.example.com/velloran-team/", {}, {}},
        {&TAboutDlg::Label3, 0, 0, " About", {}, {}},
    };
    COLORREF frameLeft = 0, frameRight = 0, frameBottom = 0, inside = 0, strip = 0, link = 0;
    bool stripText = false;
    int stripWidth = 0;
    TModalDriver driver("About", [&](HWND w) {
        style = GetWindowLongA(w, GWL_STYLE);
        GetClientRect(w, &client);
        okVisible = IsWindowVisible(dlg.btnOK);
        cancel = ControlBounds(dlg.btnCancel);
        for (TLabel& label : labels) {
            label.Seen = ControlBounds(dlg.*label.Field);
            label.SeenText = WindowText(dlg.*label.Field);
        }
        frameLeft = PixelAt(w, 0, 100);
        frameRight = PixelAt(w, client.right - 1, 100);
        frameBottom = PixelAt(w, 200, client.bottom - 1);
        inside = PixelAt(w, 1, 100);
        strip = PixelAt(dlg.Label3, 300, 2);
        RECT stripRect = ControlBounds(dlg.Label3);
        stripWidth = stripRect.right - stripRect.left;
        stripText = AnyPixelIs(dlg.Label3, RECT{0, 0, 60, stripRect.bottom - stripRect.top}, RGB(255, 255, 255));
        RECT mail = ControlBounds(dlg.lblEMAIL);
        link = AnyPixelIs(dlg.lblEMAIL, RECT{0, 0, mail.right - mail.left, mail.bottom - mail.top}, RGB(0, 0, 255))
                   ? RGB(0, 0, 255)
                   : 0;
        for (HWND target : {dlg.lblEMAIL, dlg.lblHTTP1, dlg.LBLHTTP2})
            ClickLabel(target);
        Sleep(300);
        PressKey(w, VK_ESCAPE);
    });
    EXPECT_EQ(dlg.ShowModal(), mrCancel);
    ASSERT_TRUE(driver.Wait());
    EXPECT_FALSE(style & (WS_CAPTION | WS_BORDER | WS_DLGFRAME | WS_THICKFRAME));
    EXPECT_EQ(client.right, 400);
    EXPECT_EQ(client.bottom, 216);
    EXPECT_FALSE(okVisible);
    EXPECT_EQ(cancel.left, 318);
    EXPECT_EQ(cancel.top, 184);
    for (const TLabel& label : labels) {
        EXPECT_EQ(label.SeenText, label.Text);
        EXPECT_EQ(label.Seen.left, label.Left) << label.Text;
        EXPECT_EQ(label.Seen.top, label.Top) << label.Text;
    }
    EXPECT_EQ(frameLeft, RGB(0, 0, 0));
    EXPECT_EQ(frameRight, RGB(0, 0, 0));
    EXPECT_EQ(frameBottom, RGB(0, 0, 0));
    EXPECT_EQ(inside, RGB(255, 255, 255));
    EXPECT_EQ(strip, RGB(0, 0, 0));
    EXPECT_EQ(stripWidth, 400);
    EXPECT_TRUE(stripText) << "no white text on the strip";
    EXPECT_EQ(link, RGB(0, 0, 255)) << "the e-mail link is not blue";
    EXPECT_EQ(opened, (std::vector<std::string>{"mailto:velloran@example.org", "http://www.example.com/velloran-team/",
                                                "http://www.example.org/velloran/"}));
}
