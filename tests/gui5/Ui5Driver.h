// Helpers of the dialog tests: waiting for windows from a helper thread, reading list
// views across threads, reading the pixels a window shows, and fixture processes.
#pragma once

#include "GuiDriver.h"

#include <windows.h>

#include <string>

// Polls for a visible, enabled top-level window of this process with that caption (see
// FindOwnWindow), then lets it settle; zero after timeoutMs.
HWND WaitForWindow(const std::string& caption, DWORD timeoutMs = 20000);

int ListRowCount(HWND list);
std::string ListText(HWND list, int row, int column);
// Selects one row (or none for -1) as a click would, with the notifications it sends.
void SelectListRow(HWND list, int row);
int ListSelectedRow(HWND list);

// The colour the window shows at a client point.
COLORREF PixelAt(HWND window, int x, int y);
// Whether any pixel of a client rectangle has exactly the colour.
bool AnyPixelIs(HWND window, const RECT& rect, COLORREF color);

// The sub-item rectangle of a report list (column 0: the whole item).
RECT ListCellRect(HWND list, int row, int column);

// A fixture program of build/bin, started with arguments; killed when the object goes,
// if it is still running.
class TFixtureProcess {
public:
    TFixtureProcess(const std::string& exeName, const std::string& arguments);
    ~TFixtureProcess();
    TFixtureProcess(const TFixtureProcess&) = delete;
    TFixtureProcess& operator=(const TFixtureProcess&) = delete;

    DWORD ProcessId() const { return FInfo.dwProcessId; }
    HANDLE Handle() const { return FInfo.hProcess; }
    // Waits for the end; the exit code, or STILL_ACTIVE after timeoutMs.
    DWORD WaitForExit(DWORD timeoutMs);
    void Kill();

private:
    PROCESS_INFORMATION FInfo{};
};
