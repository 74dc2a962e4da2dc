#include "Application.h"

#include "Errors.h"

TApplication::TApplication()
    : FMainThreadId(GetCurrentThreadId()), FSyncEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr))
{
}

TApplication::~TApplication() { CloseHandle(FSyncEvent); }

void TApplication::SetErrorSink(TErrorSink sink)
{
    std::lock_guard<std::mutex> lock(FSinkLock);
    FSink = std::move(sink);
}

void TApplication::ShowErrorText(const std::string& text)
{
    TErrorSink sink;
    {
        std::lock_guard<std::mutex> lock(FSinkLock);
        sink = FSink;
    }
    if (sink)
        sink(text);
    else
        MessageBoxA(MainWindow(), text.c_str(), Title.c_str(), MB_OK | MB_ICONERROR);
}

void TApplication::ShowException(std::exception_ptr error) { ShowErrorText(ExceptionText(error)); }

void TApplication::Synchronize(const std::function<void()>& proc)
{
    HWND window = MainWindow();
    if (GetCurrentThreadId() == FMainThreadId || !window) {
        std::lock_guard<std::mutex> lock(FDirectLock);
        proc();
        return;
    }
    TSyncRequest request{&proc, CreateEventA(nullptr, TRUE, FALSE, nullptr), nullptr};
    if (!request.Done)
        RaiseLastOSError();
    {
        std::lock_guard<std::mutex> lock(FQueueLock);
        FQueue.push_back(&request);
        SetEvent(FSyncEvent);
    }
    // A failed post is not fatal: a main thread that waits for this thread serves the
    // queue through SyncEvent.
    PostMessageA(window, WM_SYNCHRONIZE, 0, 0);
    WaitForSingleObject(request.Done, INFINITE);
    CloseHandle(request.Done);
    if (request.Error)
        std::rethrow_exception(request.Error);
}

bool TApplication::CheckSynchronize()
{
    bool ran = false;
    for (;;) {
        TSyncRequest* request = nullptr;
        {
            std::lock_guard<std::mutex> lock(FQueueLock);
            if (FQueue.empty()) {
                ResetEvent(FSyncEvent);
                return ran;
            }
            request = FQueue.front();
            FQueue.pop_front();
        }
        try {
            (*request->Proc)();
        } catch (...) {
            request->Error = std::current_exception();
        }
        ran = true;
        SetEvent(request->Done);
    }
}

HWND CreateMessageWindow(const char* className, WNDPROC windowProc, void* owner)
{
    WNDCLASSA cls{};
    cls.lpfnWndProc = windowProc;
    cls.hInstance = GetModuleHandleA(nullptr);
    cls.lpszClassName = className;
    RegisterClassA(&cls);
    HWND window =
        CreateWindowExA(0, className, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, cls.hInstance, nullptr);
    if (!window)
        RaiseLastOSError();
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owner));
    return window;
}

TApplication& Application()
{
    static TApplication instance;
    return instance;
}
