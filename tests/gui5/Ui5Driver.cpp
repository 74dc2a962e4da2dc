#include "Ui5Driver.h"

#include "MainWindowFixture.h"

#include "Errors.h"
#include "Forms.h"

#include <commctrl.h>

HWND WaitForWindow(const std::string& caption, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        if (HWND window = FindOwnWindow(caption)) {
            Sleep(100);
            return window;
        }
        Sleep(20);
    }
    return nullptr;
}

int ListRowCount(HWND list) { return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)); }

std::string ListText(HWND list, int row, int column)
{
    char buffer[1024] = {};
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = sizeof(buffer);
    SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return buffer;
}

void SelectListRow(HWND list, int row)
{
    LVITEMA none{};
    none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
    if (row < 0)
        return;
    LVITEMA one{};
    one.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    one.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&one));
}

int ListSelectedRow(HWND list)
{
    return static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

COLORREF PixelAt(HWND window, int x, int y)
{
    HDC dc = GetDC(window);
    COLORREF color = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return color;
}

bool AnyPixelIs(HWND window, const RECT& rect, COLORREF color)
{
    HDC dc = GetDC(window);
    bool found = false;
    for (int y = rect.top; y < rect.bottom && !found; ++y)
        for (int x = rect.left; x < rect.right && !found; ++x)
            found = GetPixel(dc, x, y) == color;
    ReleaseDC(window, dc);
    return found;
}

RECT ListCellRect(HWND list, int row, int column)
{
    RECT rect{};
    rect.top = column;
    rect.left = LVIR_BOUNDS;
    SendMessageA(list, column == 0 ? LVM_GETITEMRECT : LVM_GETSUBITEMRECT, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&rect));
    return rect;
}

TFixtureProcess::TFixtureProcess(const std::string& exeName, const std::string& arguments)
{
    std::string path = BinDir() + "\\" + exeName;
    std::string commandLine = "\"" + path + "\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    if (!CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &FInfo))
        RaiseLastOSError();
    CloseHandle(FInfo.hThread);
    FInfo.hThread = nullptr;
}

TFixtureProcess::~TFixtureProcess()
{
    Kill();
    CloseHandle(FInfo.hProcess);
}

DWORD TFixtureProcess::WaitForExit(DWORD timeoutMs)
{
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(FInfo.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(FInfo.hProcess, &code);
    return code;
}

void TFixtureProcess::Kill()
{
    if (WaitForSingleObject(FInfo.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(FInfo.hProcess, 99);
        WaitForSingleObject(FInfo.hProcess, 5000);
    }
}
