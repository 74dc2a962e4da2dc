// Driving the real windows from a test: pumping the GUI thread's messages with a time
// bound, and a helper thread that waits for a modal window (dialog, message box, file
// dialog) of this process, reads it and presses its buttons.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Xvfb runs no window manager, and Wine then waits two seconds for one to withdraw every
// window that closes (each dialog, each message box). Windows that no manager handles
// close at once: this sets the calling program's own Wine settings so (read when its
// display driver loads, so from the next start on; ctest's test listing is that start).
void UnmanagedWindowsForThisProgram();

// Dispatches messages and runs the idle step (as the application's loop does) until
// done() holds or timeoutMs has passed; returns done().
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 30000);
// Pumps for about ms milliseconds.
void PumpFor(DWORD ms);

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
