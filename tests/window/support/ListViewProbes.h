// Helpers of the dialog tests: waiting for windows from a helper thread, reading list
// views across threads, reading the pixels a window shows, and fixture processes.
#pragma once

#include "GuiDriver.h"

#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

class TScratchDir;

// Polls for a visible, enabled top-level window of this process with that caption (see
// FindOwnWindow), then lets it settle; zero after timeoutMs.
HWND WaitForWindow(const std::string& caption, DWORD timeoutMs = 20000);

// Presses the button of a dialog and waits until the dialog has gone, so that what
// follows cannot reach it while it closes.
void CloseDialog(HWND dlg, int button, DWORD timeoutMs = 10000);

int ListRowCount(HWND list);
std::string ListText(HWND list, int row, int column);
// The column captions of a report list, each followed by ";", and their widths.
std::string ListHeaders(HWND list, std::vector<int>* widths = nullptr);
// Selects one row (or none for -1) as a click would, with the notifications it sends.
void SelectListRow(HWND list, int row);
int ListSelectedRow(HWND list);

// The row whose caption is the process id, or -1.
int RowOfProcess(HWND list, DWORD processId);

// The colour the window shows at a client point.
COLORREF PixelAt(HWND window, int x, int y);
// Whether any pixel of a client rectangle has exactly the colour.
bool AnyPixelIs(HWND window, const RECT& rect, COLORREF color);
// The first and last pixel column of a client rectangle holding the colour, or {-1, -1}.
std::pair<int, int> ColorSpan(HWND window, const RECT& rect, COLORREF color);

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

bool WaitForFile(const std::string& path, DWORD timeoutMs);
// An attachee.exe that has made its first round of OCI calls; it ends when the file
// dir/name.stop appears (or with the object).
std::unique_ptr<TFixtureProcess> StartAttachee(const TScratchDir& dir, const std::string& name);

// Answering the program's dialogs (from a helper thread, while the dialog opens).

// A click on a label that takes clicks.
void ClickLabel(HWND label);
// The system's colour dialog: reads the colour it starts with, then enters rgb and
// presses OK, or presses Cancel when ok is false. CLR_INVALID when it did not open.
COLORREF AnswerColorDialog(COLORREF rgb, bool ok);
// The rule editor: types text unless it is null, sets the colours that are not
// CLR_INVALID through the colour dialog, and closes with button.
void AnswerRuleEditor(const char* text, COLORREF fore, COLORREF back, int button);
// The save dialog: picks the filter (1-based), types the name and presses Save.
void AnswerSaveDialog(HWND dlg, int filterIndex, const std::string& name);
// The question a dialog asks before it goes on (a message box; its caption differs
// between systems): waits for a dialog window other than asker and presses button.
// False when none came within timeoutMs.
bool AnswerQuestion(HWND asker, int button, DWORD timeoutMs = 10000);
