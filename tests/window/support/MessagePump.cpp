#include "MessagePump.h"

#include "Forms.h"
#include "Utils.h"

#include <algorithm>
#include <iterator>
#include <string>

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
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            idle = false;
            MessageLoop().Dispatch(msg);
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

void PressShortCut(HWND target, WORD key, BYTE modifiers)
{
    BYTE before[256] = {};
    GetKeyboardState(before);
    BYTE held[256];
    std::copy(std::begin(before), std::end(before), held);
    const struct {
        BYTE Modifier;
        int Keys[3];
    } keys[] = {{FCONTROL, {VK_CONTROL, VK_LCONTROL, 0}}, {FSHIFT, {VK_SHIFT, VK_LSHIFT, 0}}, {FALT, {VK_MENU, VK_LMENU, 0}}};
    for (const auto& k : keys)
        for (int vk : k.Keys)
            if (vk)
                held[vk] = (modifiers & k.Modifier) ? 0x80 : 0;
    SetKeyboardState(held);
    UINT down = (modifiers & FALT) ? WM_SYSKEYDOWN : WM_KEYDOWN;
    PostMessageA(target, down, key, 1);
    PostMessageA(target, down == WM_KEYDOWN ? WM_KEYUP : WM_SYSKEYUP, key, static_cast<LPARAM>(0xC0000001));
    PumpFor(50);
    SetKeyboardState(before);
}
