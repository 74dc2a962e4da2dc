#include "DlgTraceMask.h"

static_assert(std::size(TraceMaskBits) == 3, "the dialog's size holds three check boxes");
static_assert(std::size(HookKindNames) == 3, "the dialog's size holds three radio buttons");

TTraceMaskDlg::TTraceMaskDlg(BYTE traceMask, THookKind hooks) : TraceMask(traceMask), Hooks(hooks)
{
    Caption = "Choose actions to trace";
    ClientWidth = 208;
    ClientHeight = 238;
}

void TTraceMaskDlg::FormCreate()
{
    Bevel1.SetBounds(8, 8, 193, 97);
    SetControlBounds(btnOK, 48, 206, 75, 25);
    SetControlBounds(btnCancel, 126, 206, 75, 25);
    const DWORD style = BS_AUTOCHECKBOX | WS_TABSTOP;
    for (size_t i = 0; i < std::size(TraceMaskBits); ++i) {
        const TTraceMaskBit& bit = TraceMaskBits[i];
        CheckBoxes[i] = CreateControl("BUTTON", bit.Caption, style, 24, 24 + 24 * static_cast<int>(i), 169, 17);
        SetChecked(CheckBoxes[i], TraceMask & bit.Bit);
    }
    grpHooks = CreateControl("BUTTON", "Hooks", BS_GROUPBOX, 8, 112, 193, 87);
    for (size_t i = 0; i < std::size(HookKindNames); ++i) {
        const THookKindName& name = HookKindNames[i];
        // The first button starts the radio group and is its tab stop.
        const DWORD radio = BS_AUTORADIOBUTTON | (i == 0 ? WS_GROUP | WS_TABSTOP : 0);
        HookButtons[i] = CreateControl("BUTTON", name.Caption, radio, 24, 130 + 22 * static_cast<int>(i), 169, 17);
        SetChecked(HookButtons[i], Hooks == name.Kind);
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
    for (size_t i = 0; i < std::size(HookKindNames); ++i)
        if (IsChecked(HookButtons[i]))
            Hooks = HookKindNames[i].Kind;
}
