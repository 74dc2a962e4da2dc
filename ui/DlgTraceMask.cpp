#include "DlgTraceMask.h"

static_assert(std::size(TraceMaskBits) == 3, "the dialog's size holds three check boxes");

TTraceMaskDlg::TTraceMaskDlg(BYTE traceMask) : TraceMask(traceMask)
{
    Caption = "Choose actions to trace";
    ClientWidth = 208;
    ClientHeight = 144;
}

void TTraceMaskDlg::FormCreate()
{
    Bevel1.SetBounds(8, 8, 193, 97);
    SetControlBounds(btnOK, 48, 112, 75, 25);
    SetControlBounds(btnCancel, 126, 112, 75, 25);
    const DWORD style = BS_AUTOCHECKBOX | WS_TABSTOP;
    for (size_t i = 0; i < std::size(TraceMaskBits); ++i) {
        const TTraceMaskBit& bit = TraceMaskBits[i];
        CheckBoxes[i] = CreateControl("BUTTON", bit.Caption, style, 24, 24 + 24 * static_cast<int>(i), 169, 17);
        SetChecked(CheckBoxes[i], TraceMask & bit.Bit);
    }
}

void TTraceMaskDlg::FormClose(int result)
{
    if (result != mrOk)
        return;
    TraceMask = 0;
    for (size_t i = 0; i < std::size(TraceMaskBits); ++i)
        if (IsChecked(CheckBoxes[i]))
            TraceMask |= TraceMaskBits[i].Bit;
}
