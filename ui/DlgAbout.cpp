#include "DlgAbout.h"

#include "Errors.h"
#include "DlgControls.h"
#include "Utils.h"

#include <shellapi.h>

namespace {

const char* const Unit = "DlgAbout";

const char* const CreditLine = "Written by the Velloran developers";
const char* const AuthorEmail = "velloran@example.org";
const char* const AuthorHomePage = "http://www.example.com/velloran-team/";
const char* const ProgramHomePage = "http://www.example.org/velloran/";

TUniqueFont UnderlinedFont(const char* face, int height)
{
    TUniqueFont plain = CreatePixelFont(face, height);
    LOGFONTA lf{};
    GetObjectA(plain.get(), sizeof(lf), &lf);
    lf.lfUnderline = TRUE;
    TUniqueFont font(CreateFontIndirectA(&lf));
    if (!font)
        RaiseLastOSError();
    return font;
}

} // namespace

void ShellOpenDefault(HWND owner, const std::string& target)
{
    ShellExecuteA(owner, nullptr, target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

TAboutDlg::TAboutDlg() : ShellOpen(ShellOpenDefault)
{
    Caption = "About";
    BorderStyle = bsNone;
    Color = clWhite;
    ClientWidth = 400;
    ClientHeight = 216;
}

void TAboutDlg::FormCreate()
{
    Bevel1.SetBounds(8, 8, 385, 169);
    Bevel1.Shape = TBevel::bsBottomLine;
    ShowWindow(btnOK, SW_HIDE);
    SetControlBounds(btnCancel, 318, 184, 75, 25);
    SetActiveControl(btnCancel);

    FNameFont = CreatePixelFont("Arial", 32, true);
    FStripFont = CreatePixelFont("MS Sans Serif", 11, true);
    FLinkFont = UnderlinedFont("MS Sans Serif", 11);
    FStripBrush.reset(CreateSolidBrush(ColorToRGB(clBlack)));

    auto label = [this](const char* text, int left, int top, HFONT font = nullptr, DWORD style = 0) {
        HWND control = CreateControl("STATIC", text, SS_LEFT | SS_NOPREFIX | style, left, top, 1, 1);
        if (font)
            SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        AutoSizeLabel(control);
        return control;
    };
    Label1 = label("Velloran", 8, 24, FNameFont.get());
    Label2 = label("Version", 8, 80);
    lblVersion = label(GetFileVersionText().c_str(), 56, 80);
    Label4 = label(CreditLine, 8, 104);
    Label5 = label("Velloran Home Page", 8, 152);
    LBLHTTP2 = label(ProgramHomePage, 184, 152, FLinkFont.get(), SS_NOTIFY);
    lblEMAIL = label(AuthorEmail, 184, 104, FLinkFont.get(), SS_NOTIFY);
    Label8 = label("Author's Home Page", 8, 128);
    lblHTTP1 = label(AuthorHomePage, 184, 128, FLinkFont.get(), SS_NOTIFY);
    Label3 = label(" About", 0, 0, FStripFont.get());
    RECT strip = ControlBounds(Label3);
    SetControlBounds(Label3, 0, 0, ClientWidth, strip.bottom - strip.top);
}

void TAboutDlg::FormPaint(HDC dc)
{
    RECT client{};
    GetClientRect(Handle, &client);
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(BLACK_PEN));
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, 0, 0, client.right, client.bottom);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
}

bool TAboutDlg::IsLink(HWND control) const
{
    return control && (control == lblEMAIL || control == lblHTTP1 || control == LBLHTTP2);
}

void TAboutDlg::lblEMAILClick(HWND label)
{
    VASSERT(IsLink(label), Unit);
    std::string target = WindowText(label);
    if (target.find('@') != std::string::npos)
        target = "mailto:" + target;
    ShellOpen(Handle, target);
}

bool TAboutDlg::OnCommand(int, int code, HWND control)
{
    if (code == STN_CLICKED && IsLink(control)) {
        lblEMAILClick(control);
        return true;
    }
    return false;
}

bool TAboutDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    switch (msg) {
    case WM_CTLCOLORSTATIC: {
        auto control = reinterpret_cast<HWND>(lParam);
        if (control == Label3)
            result = StaticColors(wParam, ColorToRGB(clWhite), ColorToRGB(clBlack), FStripBrush.get());
        else
            result = StaticColors(wParam, IsLink(control) ? RGB(0, 0, 255) : ColorToRGB(clWindowText),
                                  ColorToRGB(Color), BackgroundBrush());
        return true;
    }
    case WM_SETCURSOR:
        return HandCursorOver(reinterpret_cast<HWND>(wParam), {lblEMAIL, lblHTTP1, LBLHTTP2}, result);
    }
    return false;
}
