#include "Application.h"

#include "Errors.h"

TApplication::TApplication() : FMainThreadId(GetCurrentThreadId()) {}

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
