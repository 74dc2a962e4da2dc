// velloran-shot: shows the main window after a demo session, for the README's picture.
//
//   velloran-shot.exe READY_FILE DONE_FILE
//
// Runs democlient.exe (beside this program) under the tracer in the real window, selects
// the row of a multi-line statement, writes the window's screen rectangle
// ("left top width height") to READY_FILE, and keeps the window up until DONE_FILE
// exists (at most a minute), so that a screen grabber can take it.
#include "Application.h"
#include "GuiDriver.h"
#include "Main.h"
#include "OCIBreaks.h"
#include "Utils.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <fstream>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: velloran-shot READY_FILE DONE_FILE\n");
        return 1;
    }
    Application().SetMainThread();
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    ProcessList();
    Statements();

    std::string dir = ExtractFileDir(ExecutableFileName());
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    std::string settings = std::string(temp) + "velloran-shot.ini";
    DeleteFileA(settings.c_str());
    {
        TfrmMain form(settings);
        form.TraceMask = TraceMaskExecute | TraceMaskFetch;
        ShowWindow(form.Handle, SW_SHOWNORMAL);
        UpdateWindow(form.Handle);
        form.RunProgram(dir + "\\democlient.exe");
        bool finished = PumpUntil(
            [&] {
                int n = form.TraceRows.RowCount();
                return !form.DebugThread && n > 0 && form.TraceRows.CellText(n - 1, 0) == "Finish";
            },
            60000);
        if (!finished) {
            std::fprintf(stderr, "velloran-shot: the demo session did not finish\n");
            return 2;
        }
        // The row of the first multi-line statement, as a user would click it.
        for (int i = 0; i < form.TraceRows.RowCount(); ++i)
            if (form.TraceRows.CellText(i, 3).find('\n') != std::string::npos) {
                SetFocus(form.lvwTrace);
                LVITEMA item{};
                item.stateMask = item.state = LVIS_SELECTED | LVIS_FOCUSED;
                SendMessageA(form.lvwTrace, LVM_SETITEMSTATE, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
                // Scrolled up to it from the end of the session, with its start in view.
                SendMessageA(form.lvwTrace, LVM_ENSUREVISIBLE, 0, FALSE);
                break;
            }
        PumpFor(500);
        RECT r{};
        GetWindowRect(form.Handle, &r);
        {
            std::ofstream ready(argv[1]);
            ready << r.left << " " << r.top << " " << (r.right - r.left) << " " << (r.bottom - r.top) << "\n";
        }
        PumpUntil([&] { return GetFileAttributesA(argv[2]) != INVALID_FILE_ATTRIBUTES; }, 60000);
    }
    DeleteFileA(settings.c_str());
    return 0;
}
