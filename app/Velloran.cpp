// Velloran: program entry. Alone it opens the window; with a session on its command line
// (MainCommandLine.h) it opens the window and starts that session at once.
#include "Application.h"
#include "Forms.h"
#include "Main.h"
#include "MainCommandLine.h"
#include "ProcessList.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdlib>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show)
{
    Application().SetMainThread();
    Application().Title = "Velloran";
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    // The C runtime splits the command line as it does a console program's.
    TWindowCommand command = ReadWindowCommandLine(std::vector<std::string>(__argv + 1, __argv + __argc));
    if (command.ExitCode)
        return *command.ExitCode;
    try {
        // The process list exists from here on and is destroyed after the window.
        ProcessList();
        TfrmMain form;
        ShowWindow(form.Handle, show);
        UpdateWindow(form.Handle);
        // A session that cannot start is told like one started from the menu; the
        // window stays.
        HandleGuarded([&] { StartCommandLine(form, command); });
        MessageLoop().RunUntilClosed(form.Handle);
    } catch (...) {
        Application().ShowException(std::current_exception());
        return 1;
    }
    return 0;
}
