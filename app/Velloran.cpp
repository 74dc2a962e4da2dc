// Velloran: program entry.
#include "Application.h"
#include "DebugCore.h"
#include "Forms.h"
#include "Main.h"
#include "OCIBreaks.h"

#include <windows.h>
#include <commctrl.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show)
{
    Application().SetMainThread();
    Application().Title = "Velloran";
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    try {
        // The process-wide objects exist from here on and are destroyed after the window.
        ProcessList();
        Statements();
        TfrmMain form;
        ShowWindow(form.Handle, show);
        UpdateWindow(form.Handle);
        MessageLoop().RunUntilClosed(form.Handle);
    } catch (...) {
        Application().ShowException(std::current_exception());
        return 1;
    }
    return 0;
}
