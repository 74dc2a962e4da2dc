#include "DlgSelColors.h"

#include "DlgControls.h"

#include <commdlg.h>

TSelColorsDlg::TSelColorsDlg()
{
    Caption = "Choose colors";
    ClientHeight = 200;
}

void TSelColorsDlg::FormCreate()
{
    Bevel1.SetBounds(8, 8, 385, 153);
    SetControlBounds(btnOK, 240, 168, 75, 25);
    SetControlBounds(btnCancel, 318, 168, 75, 25);
    Label1 = CreateControl("STATIC", "Search string", SS_LEFT, 16, 24, 120, 13);
    // Any text can be typed: the search string is kept as UTF-8, like the rows it is
    // looked for in.
    edt = CreateUnicodeControl(L"EDIT", SearchString, ES_AUTOHSCROLL | WS_TABSTOP, 16, 40, 369, 21, 0,
                               WS_EX_CLIENTEDGE);
    Label2 = CreateControl("STATIC", "Foreground color", SS_LEFT, 16, 72, 84, 13);
    // The swatches take clicks (SS_NOTIFY) and are painted in their colour through
    // WM_CTLCOLORSTATIC; they hold no text.
    lblFore = CreateControl("STATIC", "", SS_NOTIFY, 104, 72, 97, 13);
    Label4 = CreateControl("STATIC", "Background color", SS_LEFT, 208, 72, 84, 13);
    lblBack = CreateControl("STATIC", "", SS_NOTIFY, 296, 72, 88, 13);
    lblSample = CreateControl("STATIC", "SAMPLE", SS_CENTER | SS_CENTERIMAGE, 130, 100, 140, 40);
    FSampleFont = CreatePixelFont("Arial", 35);
    SendMessageA(lblSample, WM_SETFONT, reinterpret_cast<WPARAM>(FSampleFont.get()), FALSE);
    for (HWND label : {Label1, Label2, Label4})
        AutoSizeLabel(label);
    UpdateSample();
    SetActiveControl(edt);
}

void TSelColorsDlg::FormClose(int result)
{
    if (result == mrOk)
        SearchString = WindowTextUtf8(edt);
}

void TSelColorsDlg::UpdateSample()
{
    FForeBrush.reset(CreateSolidBrush(ColorToRGB(ForeColor)));
    FBackBrush.reset(CreateSolidBrush(ColorToRGB(BackColor)));
    for (HWND control : {lblFore, lblBack, lblSample})
        if (control)
            InvalidateRect(control, nullptr, TRUE);
}

TColor& TSelColorsDlg::SwatchColor(HWND swatch) { return swatch == lblFore ? ForeColor : BackColor; }

HBRUSH TSelColorsDlg::SwatchBrush(HWND swatch) { return swatch == lblFore ? FForeBrush.get() : FBackBrush.get(); }

void TSelColorsDlg::lblForeClick(HWND swatch)
{
    CHOOSECOLORA dlg{};
    dlg.lStructSize = sizeof(dlg);
    dlg.hwndOwner = Handle;
    dlg.rgbResult = ColorToRGB(SwatchColor(swatch));
    dlg.lpCustColors = FCustomColors;
    dlg.Flags = CC_RGBINIT | CC_ANYCOLOR;
    if (!ChooseColorA(&dlg))
        return;
    SwatchColor(swatch) = dlg.rgbResult & 0x00FFFFFF;
    UpdateSample();
}

bool TSelColorsDlg::OnCommand(int, int code, HWND control)
{
    if (code == STN_CLICKED && control && (control == lblFore || control == lblBack)) {
        lblForeClick(control);
        return true;
    }
    return false;
}

bool TSelColorsDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    switch (msg) {
    case WM_CTLCOLORSTATIC: {
        auto control = reinterpret_cast<HWND>(lParam);
        if (control == lblFore || control == lblBack) {
            result = reinterpret_cast<LRESULT>(SwatchBrush(control));
            return true;
        }
        if (control == lblSample) {
            result = StaticColors(wParam, ColorToRGB(ForeColor), ColorToRGB(BackColor), FBackBrush.get());
            return true;
        }
        return false;
    }
    case WM_SETCURSOR:
        return HandCursorOver(reinterpret_cast<HWND>(wParam), {lblFore, lblBack}, result);
    }
    return false;
}
