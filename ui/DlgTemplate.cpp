#include "DlgTemplate.h"

#include "Application.h"
#include "Errors.h"

namespace {

const char* const Unit = "DlgTemplate";

// The dialog shown last and still open (dialogs are modal, so they nest); main thread only.
TTemplateDlg* InnermostDialog = nullptr;

// An empty in-memory dialog template: the dialog manager gives us the modal loop,
// Enter for the default button and Escape for IDCANCEL; the controls are created in
// pixels afterwards, so no dialog units are involved.
struct alignas(4) TEmptyTemplate {
    DLGTEMPLATE Header;
    WORD Menu = 0;
    WORD WindowClass = 0;
    WORD Title = 0;
};

} // namespace

// ---------------------------------------------------------------------------
// TBevel

void TBevel::SetBounds(int left, int top, int width, int height)
{
    Left = left;
    Top = top;
    Width = width;
    Height = height;
}

void TBevel::Paint(HDC dc) const
{
    if (!Visible || Width <= 0 || Height <= 0)
        return;
    COLORREF light = GetSysColor(COLOR_BTNHIGHLIGHT);
    COLORREF dark = GetSysColor(COLOR_BTNSHADOW);
    COLORREF first = Style == bsRaised ? light : dark;
    COLORREF second = Style == bsRaised ? dark : light;
    auto line = [dc](COLORREF color, int x, int y, int w, int h) {
        RECT r{x, y, x + w, y + h};
        SetBkColor(dc, color);
        ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
    };
    if (Shape == bsBottomLine) {
        line(second, Left, Top + Height - 2, Width, 1);
        line(first, Left, Top + Height - 1, Width, 1);
        return;
    }
    line(first, Left, Top, Width - 1, 1);
    line(first, Left, Top, 1, Height - 1);
    line(second, Left, Top + Height - 1, Width, 1);
    line(second, Left + Width - 1, Top, 1, Height);
}

// ---------------------------------------------------------------------------
// TTemplateDlg

TTemplateDlg::TTemplateDlg() { Bevel1.SetBounds(8, 8, 385, 193); }

TTemplateDlg::~TTemplateDlg() = default;

int TTemplateDlg::ShowModal()
{
    VASSERT(!Handle, Unit);
    TEmptyTemplate tmpl{};
    tmpl.Header.style = WS_POPUP | (BorderStyle == bsDialog ? WS_CAPTION | WS_SYSMENU | DS_MODALFRAME : 0);
    ModalResult = mrNone;
    FCreateError = nullptr;
    FNextId = 100;
    // A dialog opened from another one is owned by it: the modal state disables the owner
    // only, and re-enables it on closing, so owning the inner dialog by the main window
    // would leave the outer dialog usable and give back the main window too early.
    HWND owner = InnermostDialog && InnermostDialog->Handle ? InnermostDialog->Handle : Application().MainWindow();
    if (owner && !IsWindow(owner))
        owner = nullptr;
    TTemplateDlg* outer = std::exchange(InnermostDialog, this);
    INT_PTR result = DialogBoxIndirectParamA(GetModuleHandleA(nullptr), &tmpl.Header, owner, DlgProc,
                                             reinterpret_cast<LPARAM>(this));
    InnermostDialog = outer;
    Handle = nullptr;
    btnOK = btnCancel = nullptr;
    if (FCreateError)
        std::rethrow_exception(std::exchange(FCreateError, nullptr));
    if (result == -1)
        RaiseLastOSError();
    ModalResult = result == mrOk ? mrOk : mrCancel;
    return ModalResult;
}

void TTemplateDlg::CloseModal(int result)
{
    if (!Handle)
        return;
    HandleGuarded([&] { FormClose(result); });
    EndDialog(Handle, result);
}

HWND TTemplateDlg::CreateControl(const char* className, const char* text, DWORD style, int left, int top, int width,
                                 int height, int id, DWORD exStyle)
{
    VASSERT(Handle, Unit);
    return CreateChildControl(Handle, className, text, style, left, top, width, height, id ? id : FNextId++, exStyle,
                              FFont.get());
}

HWND TTemplateDlg::CreateUnicodeControl(const wchar_t* className, const std::string& text, DWORD style, int left,
                                        int top, int width, int height, int id, DWORD exStyle)
{
    VASSERT(Handle, Unit);
    return CreateUnicodeChildControl(Handle, className, text, style, left, top, width, height, id ? id : FNextId++,
                                     exStyle, FFont.get());
}

HBRUSH TTemplateDlg::BackgroundBrush()
{
    if (!FBrush)
        FBrush.reset(CreateSolidBrush(ColorToRGB(Color)));
    return FBrush.get();
}

bool TTemplateDlg::OnCommand(int, int, HWND) { return false; }
bool TTemplateDlg::OnNotify(NMHDR&, LRESULT&) { return false; }
bool TTemplateDlg::OnMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

void TTemplateDlg::InitDialog()
{
    FFont = CreatePixelFont("MS Sans Serif", 11);
    FBrush.reset();
    SetWindowTextA(Handle, Caption.c_str());
    btnOK = CreateControl("BUTTON", "&OK", BS_DEFPUSHBUTTON | WS_TABSTOP, 240, 208, 75, 25, IDOK);
    btnCancel = CreateControl("BUTTON", "&Cancel", BS_PUSHBUTTON | WS_TABSTOP, 318, 208, 75, 25, IDCANCEL);
    FActiveControl = btnOK;
    FormCreate();
    SetClientSizeCentred(Handle, ClientWidth, ClientHeight);
    // The dialog is not shown yet: a focus set now is lost when the dialog manager
    // activates it (Wine then focuses the first tab stop), so the focus is moved once the
    // modal loop runs. Ask the control's own style: IsWindowVisible is false for all of
    // them here.
    if (FActiveControl && (GetWindowLongA(FActiveControl, GWL_STYLE) & WS_VISIBLE))
        PostMessageA(Handle, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(FActiveControl), TRUE);
}

void TTemplateDlg::Paint()
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(Handle, &ps);
    Bevel1.Paint(dc);
    HandleGuarded([&] { FormPaint(dc); });
    EndPaint(Handle, &ps);
}

INT_PTR CALLBACK TTemplateDlg::DlgProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_INITDIALOG) {
        auto* self = reinterpret_cast<TTemplateDlg*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, lParam);
        self->Handle = window;
        try {
            self->InitDialog();
        } catch (...) {
            self->FCreateError = std::current_exception();
            EndDialog(window, mrCancel);
        }
        // The focus has been set.
        return FALSE;
    }
    auto* self = reinterpret_cast<TTemplateDlg*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!self || self->Handle != window)
        return FALSE;
    INT_PTR result = FALSE;
    try {
        result = self->HandleMessage(msg, wParam, lParam);
    } catch (...) {
        Application().ShowException(std::current_exception());
    }
    return result;
}

INT_PTR TTemplateDlg::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    LRESULT answer = 0;
    switch (msg) {
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        if (OnCommand(id, HIWORD(wParam), reinterpret_cast<HWND>(lParam)))
            return TRUE;
        if (id == IDOK || id == IDCANCEL) {
            CloseModal(id);
            return TRUE;
        }
        return FALSE;
    }
    case WM_NOTIFY:
        if (OnNotify(*reinterpret_cast<NMHDR*>(lParam), answer)) {
            SetWindowLongPtrA(Handle, DWLP_MSGRESULT, answer);
            return TRUE;
        }
        return FALSE;
    }
    if (OnMessage(msg, wParam, lParam, answer)) {
        // These messages answer through the return value, not DWLP_MSGRESULT.
        if (msg == WM_CTLCOLORDLG || msg == WM_CTLCOLORSTATIC || msg == WM_CTLCOLORBTN || msg == WM_CTLCOLOREDIT ||
            msg == WM_CTLCOLORLISTBOX)
            return static_cast<INT_PTR>(answer);
        SetWindowLongPtrA(Handle, DWLP_MSGRESULT, answer);
        return TRUE;
    }
    switch (msg) {
    case WM_PAINT:
        Paint();
        return TRUE;
    case WM_CTLCOLORDLG:
        return reinterpret_cast<INT_PTR>(BackgroundBrush());
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        SetBkColor(reinterpret_cast<HDC>(wParam), ColorToRGB(Color));
        SetTextColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNTEXT));
        return reinterpret_cast<INT_PTR>(BackgroundBrush());
    case WM_NCDESTROY:
        FFont.reset();
        return FALSE;
    }
    return FALSE;
}
