#include "ModalDriver.h"

#include "DlgSelColors.h"
#include "Forms.h"
#include "MessagePump.h"

#include <commctrl.h>
#include <commdlg.h>
#include <dlgs.h>

#include <gtest/gtest.h>

#include <algorithm>

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

HWND WaitForWindow(const std::string& caption, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        if (HWND window = FindOwnWindow(caption)) {
            Sleep(100);
            return window;
        }
        Sleep(20);
    }
    return nullptr;
}

void CloseDialog(HWND dlg, int button, DWORD timeoutMs)
{
    PressButton(dlg, button);
    DWORD start = GetTickCount();
    while (IsWindow(dlg) && GetTickCount() - start < timeoutMs)
        Sleep(20);
}

// ---------------------------------------------------------------------------
// Answering the program's dialogs

namespace {

// Ids of the red, green and blue boxes of the system's colour dialog.
constexpr int ColorEditRed = 706;

} // namespace

void ClickLabel(HWND label)
{
    PostMessageA(label, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    PostMessageA(label, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
}

COLORREF AnswerColorDialog(COLORREF rgb, bool ok)
{
    HWND dlg = WaitForWindow("Color");
    if (!dlg)
        return CLR_INVALID;
    BYTE parts[3] = {};
    for (int i = 0; i < 3; ++i)
        parts[i] = static_cast<BYTE>(GetDlgItemInt(dlg, ColorEditRed + i, nullptr, FALSE));
    if (ok) {
        SetDlgItemInt(dlg, ColorEditRed, GetRValue(rgb), FALSE);
        SetDlgItemInt(dlg, ColorEditRed + 1, GetGValue(rgb), FALSE);
        SetDlgItemInt(dlg, ColorEditRed + 2, GetBValue(rgb), FALSE);
    }
    CloseDialog(dlg, ok ? IDOK : IDCANCEL);
    return RGB(parts[0], parts[1], parts[2]);
}

void AnswerRuleEditor(const char* text, COLORREF fore, COLORREF back, int button)
{
    HWND dlg = WaitForWindow("Choose colors");
    ASSERT_TRUE(dlg);
    TSelColorsDlg* self = reinterpret_cast<TSelColorsDlg*>(GetWindowLongPtrA(dlg, GWLP_USERDATA));
    if (text)
        SetWindowTextA(self->edt, text);
    if (fore != CLR_INVALID) {
        ClickLabel(self->lblFore);
        AnswerColorDialog(fore, true);
    }
    if (back != CLR_INVALID) {
        ClickLabel(self->lblBack);
        AnswerColorDialog(back, true);
    }
    CloseDialog(dlg, button);
}

void AnswerSaveDialog(HWND dlg, int filterIndex, const std::string& name)
{
    HWND types = GetDlgItem(dlg, cmb1);
    SendMessageA(types, CB_SETCURSEL, static_cast<WPARAM>(filterIndex - 1), 0);
    // What a pick in the list sends (Wine's dialog listens to the second).
    for (WORD code : {CBN_SELCHANGE, CBN_SELENDOK})
        SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(cmb1, code), reinterpret_cast<LPARAM>(types));
    SendMessageA(dlg, CDM_SETCONTROLTEXT, cmb13, reinterpret_cast<LPARAM>(name.c_str()));
    PressButton(dlg, IDOK);
}


bool AnswerQuestion(HWND asker, int button, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        HWND question = FindOwnWindow("");
        if (question && question != asker) {
            Sleep(100);
            PressButton(question, button);
            return true;
        }
        Sleep(20);
    }
    return false;
}
