// velloran-shot: shows the main window after a demo session, or one of its dialogs over
// it, for the README's pictures.
//
//   velloran-shot.exe READY_FILE DONE_FILE [SCENE]
//
// Runs democlient.exe (beside this program) under the tracer in the real window, with a
// few colour rules, and selects the row of a multi-line statement. SCENE is "main" (the
// default: the window itself), "filter" (the window with a text in its filter box),
// "statements" (the statements view over the window), "details" (the window after a
// session tracing binds, errors and rows, the failing update selected) or one of "rules",
// "editor", "attach", "about", "run" (that dialog, opened through its command; the Run
// dialog filled in). The screen rectangle of what is shown ("left top width height") goes
// to READY_FILE, and it stays up until DONE_FILE exists (at most a minute), so that a
// screen grabber can take it.
#include "Application.h"
#include "DlgRun.h"
#include "DlgSelProcess.h"
#include "DlgStmtColor.h"
#include "MessagePump.h"
#include "ModalDriver.h"
#include "Main.h"
#include "ProcessList.h"
#include "Utils.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

namespace {

void AddRule(TColorInfos& rules, const char* search, TColor fore, TColor back)
{
    TColorInfo* rule = rules.Add(std::make_unique<TColorInfo>());
    rule->SearchString = search;
    rule->ForeColor = fore;
    rule->BackColor = back;
}

void SelectRow(HWND list, int row)
{
    LVITEMA item{};
    item.stateMask = item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

// Tells the grabber where the picture is and waits until it has taken it.
void ShowUntilDone(const RECT& r, const char* readyFile, const char* doneFile, const std::function<void()>& pump)
{
    {
        std::ofstream ready(readyFile);
        ready << r.left << " " << r.top << " " << (r.right - r.left) << " " << (r.bottom - r.top) << "\n";
    }
    DWORD start = GetTickCount();
    while (GetFileAttributesA(doneFile) == INVALID_FILE_ATTRIBUTES && GetTickCount() - start < 60000)
        pump();
}

void ShowUntilDone(HWND window, const char* readyFile, const char* doneFile, const std::function<void()>& pump)
{
    RECT r{};
    GetWindowRect(window, &r);
    ShowUntilDone(r, readyFile, doneFile, pump);
}

// From a helper thread while a command shows the dialog: the dialog once it is up.
HWND WaitForDialog(const char* caption)
{
    HWND dlg = nullptr;
    DWORD start = GetTickCount();
    while (!(dlg = FindOwnWindow(caption)) && GetTickCount() - start < 20000)
        Sleep(20);
    Sleep(300);
    return dlg;
}

void ShowDialogUntilDone(HWND dlg, const char* readyFile, const char* doneFile)
{
    if (!dlg)
        return;
    ShowUntilDone(dlg, readyFile, doneFile, [] { Sleep(50); });
    PressButton(dlg, IDCANCEL);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr,
                     "usage: velloran-shot READY_FILE DONE_FILE [main|details|rules|editor|attach|about|run|options]\n");
        return 1;
    }
    const char* ready = argv[1];
    const char* done = argv[2];
    const std::string scene = argc == 4 ? argv[3] : "main";
    Application().SetMainThread();
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    ProcessList();

    std::string dir = ExtractFileDir(ExecutableFileName());
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    std::string settings = std::string(temp) + "velloran-shot.ini";
    DeleteFileA(settings.c_str());
    {
        TfrmMain form(settings);
        form.TraceMask = TraceMaskExecute | TraceMaskFetch;
        // The details scene: binds, errors and rows traced, in a window wide enough for them.
        const bool details = scene == "details";
        if (details) {
            form.TraceMask = TraceMaskAll;
            SetWindowPos(form.Handle, nullptr, 12, 60, 1000, 560, SWP_NOZORDER);
        }
        // Failed calls stand out, inserts are green, fetches step back.
        AddRule(form.Settings.ColorRules, "OCI_ERROR", 0x00FFFFFF, 0x004040D0);
        AddRule(form.Settings.ColorRules, "INSERT", 0x00006000, 0x00C8F8FF);
        AddRule(form.Settings.ColorRules, "Fetch", 0x00808080, 0x80000005);
        ShowWindow(form.Handle, SW_SHOWNORMAL);
        UpdateWindow(form.Handle);
        form.RunProgram(dir + "\\democlient.exe");
        bool finished = PumpUntil(
            [&] {
                int n = form.TraceView->TraceRows.RowCount();
                return !form.Session.Active() && n > 0 && form.TraceView->TraceRows.CellText(n - 1, 0) == "Finish";
            },
            60000);
        if (!finished) {
            std::fprintf(stderr, "velloran-shot: the demo session did not finish\n");
            return 2;
        }
        // The row of the first multi-line statement, as a user would click it; in the details
        // scene the row of the failing update, with its binds and its error.
        for (int i = 0; i < form.TraceView->TraceRows.RowCount(); ++i)
            if (details ? form.TraceView->TraceRows.CellText(i, 2) == "OCI_ERROR" && !form.TraceView->TraceRows.CellText(i, 6).empty()
                        : form.TraceView->TraceRows.CellText(i, 3).find('\n') != std::string::npos) {
                SetFocus(form.TraceView->lvwTrace);
                SelectRow(form.TraceView->lvwTrace, i);
                // Scrolled up to it from the end of the session, with its start in view.
                SendMessageA(form.TraceView->lvwTrace, LVM_ENSUREVISIBLE, 0, FALSE);
                break;
            }
        PumpFor(500);
        if (scene == "main" || details) {
            ShowUntilDone(form.Handle, ready, done, [] { PumpFor(50); });
        } else if (scene == "filter") {
            // Typed as a user types it; the first row shown selected.
            SetFocus(form.TraceView->edtFilter);
            SetWindowTextW(form.TraceView->edtFilter, L"orders");
            SendMessageW(form.TraceView->edtFilter, EM_SETSEL, 6, 6);
            SelectRow(form.TraceView->lvwTrace, 0);
            PumpFor(500);
            ShowUntilDone(form.Handle, ready, done, [] { PumpFor(50); });
        } else if (scene == "statements") {
            SendMessageA(form.Handle, WM_COMMAND, MAKEWPARAM(cmViewStatements, 0), 0);
            HWND view = form.frmStatements->Handle;
            RECT main{}, over{};
            GetWindowRect(form.Handle, &main);
            GetWindowRect(view, &over);
            // Over the window's memo, down and to the right as far as the screen allows.
            int left = std::min<int>(main.left + 60, GetSystemMetrics(SM_CXSCREEN) - (over.right - over.left) - 14);
            SetWindowPos(view, nullptr, left, main.bottom - 190, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
            SelectRow(form.frmStatements->lvwStatements, 1);
            PumpFor(500);
            GetWindowRect(view, &over);
            RECT both{};
            UnionRect(&both, &main, &over);
            ShowUntilDone(both, ready, done, [] { PumpFor(50); });
        } else {
            const struct {
                const char* Scene;
                int Command;
                std::function<void()> Show;
            } dialogs[] = {
                {"rules", cmStmtColorize,
                 [&] {
                     HWND dlg = WaitForDialog("Statement colorize");
                     SelectRow(reinterpret_cast<TStmtColorDlg*>(GetWindowLongPtrA(dlg, GWLP_USERDATA))->lvw, 1);
                     ShowDialogUntilDone(dlg, ready, done);
                 }},
                {"editor", cmStmtColorize,
                 [&] {
                     HWND dlg = WaitForDialog("Statement colorize");
                     SelectRow(reinterpret_cast<TStmtColorDlg*>(GetWindowLongPtrA(dlg, GWLP_USERDATA))->lvw, 1);
                     PressButton(dlg, TStmtColorDlg::actEdit);
                     ShowDialogUntilDone(WaitForDialog("Choose colors"), ready, done);
                     WaitForDialog("Statement colorize");
                     PressButton(dlg, IDCANCEL);
                 }},
                {"attach", cmDebugAttach,
                 [&] {
                     HWND dlg = WaitForDialog("Attach to process");
                     SelectRow(reinterpret_cast<TSelProcessDlg*>(GetWindowLongPtrA(dlg, GWLP_USERDATA))->lvwProcesses, 2);
                     ShowDialogUntilDone(dlg, ready, done);
                 }},
                {"about", cmAbout, [&] { ShowDialogUntilDone(WaitForDialog("About"), ready, done); }},
                {"options", cmTraceOpt,
                 [&] { ShowDialogUntilDone(WaitForDialog("Choose actions to trace"), ready, done); }},
                {"run", cmDebugRun,
                 [&] {
                     HWND dlg = WaitForDialog("Run");
                     auto* self = reinterpret_cast<TRunDlg*>(GetWindowLongPtrA(dlg, GWLP_USERDATA));
                     // What a user would type for a client of their own (nothing is run).
                     std::string program = "C:\\Program Files\\Orders\\orders.exe";
                     SetWindowTextA(self->edtProgram, program.c_str());
                     // As Browse... leaves it: the end of the path in view.
                     SendMessageA(self->edtProgram, EM_SETSEL, program.size(), program.size());
                     SendMessageA(self->edtProgram, EM_SCROLLCARET, 0, 0);
                     SetWindowTextA(self->edtArguments, "--region north --report \"Q3 totals.csv\"");
                     SetWindowTextA(self->edtFolder, "C:\\Users\\Public\\Documents\\Orders");
                     ShowDialogUntilDone(dlg, ready, done);
                 }},
            };
            auto found = std::find_if(std::begin(dialogs), std::end(dialogs),
                                      [&](const auto& d) { return scene == d.Scene; });
            if (found == std::end(dialogs)) {
                std::fprintf(stderr, "velloran-shot: no scene %s\n", scene.c_str());
                return 1;
            }
            std::thread helper(found->Show);
            SendMessageA(form.Handle, WM_COMMAND, MAKEWPARAM(found->Command, 0), 0);
            helper.join();
        }
    }
    DeleteFileA(settings.c_str());
    return 0;
}
