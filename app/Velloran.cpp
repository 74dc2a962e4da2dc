// Velloran: program entry.
#include "Application.h"
#include "Forms.h"
#include "Main.h"
#include "ProcessList.h"

#include <windows.h>
#include <commctrl.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show)
{
    Application().SetMainThread();
    Application().Title = "Velloran";
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    try {
        // The process list exists from here on and is destroyed after the window.
        ProcessList();
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
