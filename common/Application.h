// The process-wide application object: the main window (the owner of the program's
// message boxes) and the error display (a message box in the GUI, standard error in the
// capture tool, a recorder in tests).
#pragma once

#include <windows.h>

#include <atomic>
#include <exception>
#include <functional>
#include <mutex>
#include <string>

class TApplication {
public:
    using TErrorSink = std::function<void(const std::string& text)>;

    TApplication();
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    std::string Title = "Velloran";

    // The window that owns the error display's message boxes.
    HWND MainWindow() const { return FMainWindow.load(); }
    void SetMainWindow(HWND window) { FMainWindow.store(window); }

    DWORD MainThreadId() const { return FMainThreadId; }
    // Makes the calling thread the main thread (the one that owns the windows).
    void SetMainThread() { FMainThreadId = GetCurrentThreadId(); }

    // The standard error display. Without a sink of its own it shows a message box.
    void SetErrorSink(TErrorSink sink);
    void ShowErrorText(const std::string& text);
    void ShowException(std::exception_ptr error);

private:
    std::atomic<HWND> FMainWindow{nullptr};
    DWORD FMainThreadId;
    std::mutex FSinkLock;
    TErrorSink FSink;
};

TApplication& Application();

// A message-only window of the calling thread: its window procedure finds owner in
// GWLP_USERDATA. Raises EOSError when the window cannot be made.
HWND CreateMessageWindow(const char* className, WNDPROC windowProc, void* owner);
