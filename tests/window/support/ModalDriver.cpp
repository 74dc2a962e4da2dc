#include "GuiDriver.h"

#include "Forms.h"
#include "Utils.h"

#include <algorithm>

void UnmanagedWindowsForThisProgram()
{
    std::string name = ExtractFileName(ExecutableFileName());
    std::string subKey = "Software\\Wine\\AppDefaults\\" + name + "\\X11 Driver";
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, subKey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) ==
        ERROR_SUCCESS) {
        RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
        RegCloseKey(key);
    }
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    // As the application's loop does: the idle step once each time the queue has run
    // empty after messages, not at every turn of the wait.
    bool idle = false;
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            idle = false;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (done())
            return true;
        if (GetTickCount() - start > timeoutMs)
            return false;
        if (!idle) {
            MessageLoop().Idle();
            idle = true;
            if (done())
                return true;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

void PumpFor(DWORD ms)
{
    DWORD start = GetTickCount();
    PumpUntil([&] { return GetTickCount() - start >= ms; }, ms + 1000);
}

std::string TSeenWindow::AllText() const
{
    std::string all;
    for (const std::string& t : Texts)
        all += t + "\n";
    return all;
}

namespace {

struct TFindRequest {
    const std::string* Caption;
    const std::vector<HWND>* Ignore;
    HWND Found;
};

BOOL CALLBACK FindTopLevel(HWND window, LPARAM param)
{
    auto* request = reinterpret_cast<TFindRequest*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != GetCurrentProcessId() || !IsWindowVisible(window))
        return TRUE;
    if (std::find(request->Ignore->begin(), request->Ignore->end(), window) != request->Ignore->end())
        return TRUE;
    char cls[64] = {};
    GetClassNameA(window, cls, sizeof(cls));
    std::string caption = WindowText(window);
    bool match = request->Caption->empty() ? std::string(cls) == "#32770" : caption == *request->Caption;
    if (match && IsWindowEnabled(window)) {
        request->Found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CollectStatic(HWND child, LPARAM param)
{
    char cls[64] = {};
    GetClassNameA(child, cls, sizeof(cls));
    if (lstrcmpiA(cls, "Static") == 0)
        reinterpret_cast<std::vector<std::string>*>(param)->push_back(WindowText(child));
    return TRUE;
}

} // namespace

HWND FindOwnWindow(const std::string& caption)
{
    std::vector<HWND> none;
    TFindRequest request{&caption, &none, nullptr};
    EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&request));
    return request.Found;
}

TModalDriver::TModalDriver(std::string caption, std::function<void(HWND)> act, DWORD timeoutMs,
                           std::vector<HWND> ignore)
    : FCaption(std::move(caption)), FAct(std::move(act)), FTimeout(timeoutMs), FIgnore(std::move(ignore))
{
    FThread = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
}

TModalDriver::~TModalDriver() { Wait(); }

bool TModalDriver::Wait()
{
    if (!FJoined && FThread) {
        // The helper may be sending to windows of this thread; serve them while waiting.
        while (MsgWaitForMultipleObjects(1, &FThread, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1)
            MessageLoop().ProcessMessages();
        CloseHandle(FThread);
        FThread = nullptr;
        FJoined = true;
    }
    return FFound;
}

DWORD WINAPI TModalDriver::ThreadProc(void* self)
{
    static_cast<TModalDriver*>(self)->Run();
    return 0;
}

void TModalDriver::Run()
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < FTimeout) {
        TFindRequest request{&FCaption, &FIgnore, nullptr};
        EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&request));
        if (request.Found) {
            // Let the window finish its start-up (focus, first paint) before acting.
            Sleep(100);
            FSeen.Window = request.Found;
            FSeen.Caption = WindowText(request.Found);
            GetClientRect(request.Found, &FSeen.Client);
            EnumChildWindows(request.Found, CollectStatic, reinterpret_cast<LPARAM>(&FSeen.Texts));
            FFound = true;
            FAct(request.Found);
            return;
        }
        Sleep(20);
    }
}

void PressButton(HWND dialog, int id)
{
    // What a click makes the button send to its dialog.
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void PressKey(HWND window, WORD key)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    DWORD thread = GetWindowThreadProcessId(window, nullptr);
    HWND target = GetGUIThreadInfo(thread, &info) && info.hwndFocus ? info.hwndFocus : window;
    PostMessageA(target, WM_KEYDOWN, key, 1);
    PostMessageA(target, WM_KEYUP, key, 0xC0000001);
}
