// The process-wide link between worker threads and the user-interface thread:
// the handle of the main window that receives posted messages, the error display
// (a message box in the GUI, standard error in the capture tool, a recorder in
// tests), and running a procedure on the main thread while the caller waits.
#pragma once

#include <windows.h>

#include <atomic>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <string>

// Posted to the main window when a worker thread waits in Synchronize; the window
// procedure answers it with CheckSynchronize, so that modal loops serve it too.
constexpr UINT WM_SYNCHRONIZE = WM_USER + 259;

class TApplication {
public:
    using TErrorSink = std::function<void(const std::string& text)>;

    TApplication();
    ~TApplication();
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    std::string Title = "Velloran";

    // The window that receives the debug thread's messages; read afresh at each post.
    HWND MainWindow() const { return FMainWindow.load(); }
    void SetMainWindow(HWND window) { FMainWindow.store(window); }

    DWORD MainThreadId() const { return FMainThreadId; }
    // Makes the calling thread the main thread (the one that runs synchronized calls).
    void SetMainThread() { FMainThreadId = GetCurrentThreadId(); }

    // The standard error display. Without a sink of its own it shows a message box.
    void SetErrorSink(TErrorSink sink);
    void ShowErrorText(const std::string& text);
    void ShowException(std::exception_ptr error);

    // Runs proc on the main thread and returns when it has run. On the main thread,
    // or when there is no main window to carry the request, it runs at once.
    void Synchronize(const std::function<void()>& proc);
    // Runs the waiting synchronized calls; main thread only. True if any ran.
    bool CheckSynchronize();
    // Signalled while synchronized calls wait; for main-thread waits that must serve them.
    HANDLE SyncEvent() const { return FSyncEvent; }

private:
    struct TSyncRequest {
        const std::function<void()>* Proc;
        HANDLE Done;
        std::exception_ptr Error;
    };

    std::atomic<HWND> FMainWindow{nullptr};
    DWORD FMainThreadId;
    std::mutex FSinkLock;
    TErrorSink FSink;
    std::mutex FQueueLock;
    std::deque<TSyncRequest*> FQueue;
    HANDLE FSyncEvent;
    std::mutex FDirectLock;
};

TApplication& Application();

// A message-only window for a client of the debug thread that has no window of its own
// (the capture tool, tests): its window procedure finds owner in GWLP_USERDATA. Raises
// EOSError when the window cannot be made.
HWND CreateMessageWindow(const char* className, WNDPROC windowProc, void* owner);
