// Driving the program's modal windows (dialogs, message boxes, file and colour dialogs)
// from a test: a helper thread waits for the window, reads it and presses its buttons
// while the GUI thread runs the modal loop.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// What a modal window looked like when the driver found it.
struct TSeenWindow {
    HWND Window = nullptr;
    std::string Caption;
    std::vector<std::string> Texts;  // texts of its static children, in z-order
    RECT Client{};                   // its client rectangle
    std::string AllText() const;
};

// Finds the first visible, enabled top-level window of this process (other than the
// ones in `ignore`) whose caption is `caption` ("" matches any dialog-class window),
// then runs `act` on it from a helper thread. Start it before the call that shows the
// window; Wait() returns what was seen.
class TModalDriver {
public:
    TModalDriver(std::string caption, std::function<void(HWND)> act, DWORD timeoutMs = 20000,
                 std::vector<HWND> ignore = {});
    ~TModalDriver();
    TModalDriver(const TModalDriver&) = delete;
    TModalDriver& operator=(const TModalDriver&) = delete;

    // Joins the helper; true if the window was found and acted on.
    bool Wait();
    const TSeenWindow& Seen() const { return FSeen; }

private:
    static DWORD WINAPI ThreadProc(void* self);
    void Run();

    std::string FCaption;
    std::function<void(HWND)> FAct;
    DWORD FTimeout;
    std::vector<HWND> FIgnore;
    HANDLE FThread = nullptr;
    bool FFound = false;
    bool FJoined = false;
    TSeenWindow FSeen;
};

// Presses the button with this control id: posts what its click sends to the dialog.
void PressButton(HWND dialog, int id);
// A key press sent to the window that has the focus in window's thread.
void PressKey(HWND window, WORD key);

// A top-level window of this process with that caption, or zero.
HWND FindOwnWindow(const std::string& caption);

// Polls for a visible, enabled top-level window of this process with that caption (see
// FindOwnWindow), then lets it settle; zero after timeoutMs.
HWND WaitForWindow(const std::string& caption, DWORD timeoutMs = 20000);

// Presses the button of a dialog and waits until the dialog has gone, so that what
// follows cannot reach it while it closes.
void CloseDialog(HWND dlg, int button, DWORD timeoutMs = 10000);

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
