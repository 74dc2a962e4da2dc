// TTemplateDlg: the frame every dialog of the program is built on.
//
// A fixed-size modal dialog with a client area of 400 x 240 pixels, centred on the screen,
// the button-face background and the "MS Sans Serif" font of 11 pixels, holding
//   Bevel1     a raised box at (8, 8), 385 x 193 (drawn on the dialog, not a window)
//   btnOK      "&OK"     at (240, 208), 75 x 25, id IDOK: the default button (Enter),
//                        closes with mrOk; first in the tab order
//   btnCancel  "&Cancel" at (318, 208), 75 x 25, id IDCANCEL: Escape and the close box
//                        press it; closes with mrCancel; second in the tab order
//
// How to build a dialog on it:
//
//   class TMyDlg : public TTemplateDlg {
//   public:
//       TMyDlg() { Caption = "My caption"; ClientWidth = 208; ClientHeight = 144; }
//       bool Flag = false;                      // the result, read by the caller
//   protected:
//       void FormCreate() override              // controls exist: add yours, preset them
//       {
//           Bevel1.SetBounds(8, 8, 193, 97);
//           SetControlBounds(btnOK, 48, 112, 75, 25);
//           cbxFlag = CreateControl("BUTTON", "Flag", BS_AUTOCHECKBOX | WS_TABSTOP, 24, 24, 169, 17);
//           SetChecked(cbxFlag, Flag);
//       }
//       void FormClose(int result) override     // controls still exist: read them
//       {
//           if (result == mrOk) Flag = IsChecked(cbxFlag);
//       }
//       HWND cbxFlag = nullptr;
//   };
//
//   TMyDlg dlg;                                  // one use, then destroyed
//   if (dlg.ShowModal() == mrOk) use(dlg.Flag);
//
// Places and sizes are client-area pixels. Controls created with CreateControl get the
// dialog's font, a control id (automatic from 100 unless given) and the tab order of
// their creation, after btnOK and btnCancel; SetActiveControl picks the control that has
// the focus when the dialog opens (btnOK otherwise). Window messages reach the virtual
// handlers below; what a handler throws is shown through the application's error display
// (from FormCreate it is passed on by ShowModal instead). The dialog's window is owned by
// the application's main window, which stays disabled while the dialog is shown.
#pragma once

#include "Forms.h"

#include <windows.h>

#include <exception>
#include <string>

enum TModalResult { mrNone = 0, mrOk = IDOK, mrCancel = IDCANCEL };

// A framing line or box painted on a dialog's background.
class TBevel {
public:
    enum TShape { bsBox, bsBottomLine };
    enum TStyle { bsLowered, bsRaised };

    void SetBounds(int left, int top, int width, int height);
    void Paint(HDC dc) const;

    int Left = 0, Top = 0, Width = 0, Height = 0;
    TShape Shape = bsBox;
    TStyle Style = bsRaised;
    bool Visible = true;
};

class TTemplateDlg {
public:
    enum TBorderStyle { bsDialog, bsNone };

    TTemplateDlg();
    virtual ~TTemplateDlg();
    TTemplateDlg(const TTemplateDlg&) = delete;
    TTemplateDlg& operator=(const TTemplateDlg&) = delete;

    // Shows the dialog and returns when it has closed: mrOk or mrCancel. The window is
    // destroyed by then; the dialog object can be read until it goes.
    int ShowModal();
    // Ends the modal state with result (what btnOK and btnCancel do).
    void CloseModal(int result);

    // The dialog's window while it is shown, otherwise zero.
    HWND Handle = nullptr;
    int ModalResult = mrNone;

    // Window settings: set them in the derived constructor (FormCreate may still change
    // the client size; the dialog is sized and centred after it).
    std::string Caption = "dlgTemplate";
    int ClientWidth = 400;
    int ClientHeight = 240;
    TBorderStyle BorderStyle = bsDialog;
    TColor Color = clBtnFace;

    // The inherited controls; the buttons exist from FormCreate until FormClose has run.
    TBevel Bevel1;
    HWND btnOK = nullptr;
    HWND btnCancel = nullptr;

protected:
    // The controls of the frame exist; create and preset the dialog's own controls.
    virtual void FormCreate() {}
    // The modal state ends with result; the controls still exist, read them here.
    virtual void FormClose(int result) { (void)result; }
    // Painting over the background and Bevel1 (the controls paint themselves).
    virtual void FormPaint(HDC dc) { (void)dc; }
    // WM_COMMAND; return true when handled. Unhandled IDOK and IDCANCEL close the dialog.
    virtual bool OnCommand(int id, int code, HWND control);
    // WM_NOTIFY from a control; return true when handled, with result as the answer.
    virtual bool OnNotify(NMHDR& header, LRESULT& result);
    // Any other message, before the frame's own handling; return true when handled.
    virtual bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);

    // A control of this dialog at a client-area rectangle; see the header comment.
    HWND CreateControl(const char* className, const char* text, DWORD style, int left, int top, int width, int height,
                       int id = 0, DWORD exStyle = 0);
    // The same as a Unicode window with a UTF-8 text, for controls that show any text (see
    // CreateUnicodeChildControl).
    HWND CreateUnicodeControl(const wchar_t* className, const std::string& text, DWORD style, int left, int top,
                              int width, int height, int id = 0, DWORD exStyle = 0);
    void SetActiveControl(HWND control) { FActiveControl = control; }
    HFONT Font() const { return FFont.get(); }
    // The background brush (Color).
    HBRUSH BackgroundBrush();

private:
    static INT_PTR CALLBACK DlgProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void InitDialog();
    void Paint();

    TUniqueFont FFont;
    TUniqueBrush FBrush;
    HWND FActiveControl = nullptr;
    int FNextId = 100;
    std::exception_ptr FCreateError;
};
