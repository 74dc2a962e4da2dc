// Pumping the GUI thread's messages from a test, as the application's loop does, with a
// time bound.
#pragma once

#include <windows.h>

#include <functional>

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

// A key pressed with modifiers held (FCONTROL, FSHIFT, FALT) in target, as a user presses
// it with the focus there: the calling thread's key state holds the modifiers while the
// key's messages are handled (by the application's loop, short cuts and all), then lets go.
// The window is named rather than taken from the focus, which a window of a test running
// beside this one on the same display may take away. Call it on target's thread.
void PressShortCut(HWND target, WORD key, BYTE modifiers);
