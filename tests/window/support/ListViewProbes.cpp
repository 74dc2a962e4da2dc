#include "Ui5Driver.h"

#include "MainWindowFixture.h"

#include "Errors.h"
#include "DlgSelColors.h"
#include "Forms.h"

#include <commctrl.h>
#include <commdlg.h>
#include <dlgs.h>

#include <gtest/gtest.h>

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

int ListRowCount(HWND list) { return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)); }

std::string ListText(HWND list, int row, int column)
{
    char buffer[1024] = {};
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = sizeof(buffer);
    SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return buffer;
}

std::string ListHeaders(HWND list, std::vector<int>* widths)
{
    std::string captions;
    auto header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
    int count = static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char caption[256] = {};
        HDITEMA item{};
        item.mask = HDI_TEXT | HDI_WIDTH;
        item.pszText = caption;
        item.cchTextMax = sizeof(caption);
        SendMessageA(header, HDM_GETITEMA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
        captions += std::string(caption) + ";";
        if (widths)
            widths->push_back(item.cxy);
    }
    return captions;
}

void SelectListRow(HWND list, int row)
{
    LVITEMA none{};
    none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
    if (row < 0)
        return;
    LVITEMA one{};
    one.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    one.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&one));
}

int ListSelectedRow(HWND list)
{
    return static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

int RowOfProcess(HWND list, DWORD processId)
{
    for (int row = 0; row < ListRowCount(list); ++row)
        if (ListText(list, row, 0) == std::to_string(processId))
            return row;
    return -1;
}

COLORREF PixelAt(HWND window, int x, int y)
{
    HDC dc = GetDC(window);
    COLORREF color = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return color;
}

bool AnyPixelIs(HWND window, const RECT& rect, COLORREF color) { return ColorSpan(window, rect, color).first != -1; }

std::pair<int, int> ColorSpan(HWND window, const RECT& rect, COLORREF color)
{
    std::pair<int, int> span{-1, -1};
    HDC dc = GetDC(window);
    for (int x = rect.left; x < rect.right; ++x)
        for (int y = rect.top; y < rect.bottom; ++y)
            if (GetPixel(dc, x, y) == color) {
                if (span.first == -1)
                    span.first = x;
                span.second = x;
                break;
            }
    ReleaseDC(window, dc);
    return span;
}

RECT ListCellRect(HWND list, int row, int column)
{
    RECT rect{};
    rect.top = column;
    rect.left = LVIR_BOUNDS;
    SendMessageA(list, column == 0 ? LVM_GETITEMRECT : LVM_GETSUBITEMRECT, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&rect));
    return rect;
}

TFixtureProcess::TFixtureProcess(const std::string& exeName, const std::string& arguments)
{
    std::string path = BinDir() + "\\" + exeName;
    std::string commandLine = "\"" + path + "\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    if (!CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &FInfo))
        RaiseLastOSError();
    CloseHandle(FInfo.hThread);
    FInfo.hThread = nullptr;
}

TFixtureProcess::~TFixtureProcess()
{
    Kill();
    CloseHandle(FInfo.hProcess);
}

DWORD TFixtureProcess::WaitForExit(DWORD timeoutMs)
{
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(FInfo.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(FInfo.hProcess, &code);
    return code;
}

void TFixtureProcess::Kill()
{
    if (WaitForSingleObject(FInfo.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(FInfo.hProcess, 99);
        WaitForSingleObject(FInfo.hProcess, 5000);
    }
}

bool WaitForFile(const std::string& path, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(50);
    }
    return true;
}

std::unique_ptr<TFixtureProcess> StartAttachee(const TScratchDir& dir, const std::string& name)
{
    std::string ready = dir.File(name + ".ready");
    auto process = std::make_unique<TFixtureProcess>(
        "attachee.exe", "-stop \"" + dir.File(name + ".stop") + "\" -ready \"" + ready + "\" -timeout 120");
    EXPECT_TRUE(WaitForFile(ready, 60000)) << name << " did not get ready";
    return process;
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
