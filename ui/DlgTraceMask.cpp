#include "DlgTraceMask.h"

static_assert(std::size(HookKindNames) == 2, "the dialog's size holds two radio buttons");

namespace {

// The check boxes one below the other in the bevel, the hooks' group box below it, the
// buttons at the bottom: each place follows from the number of check boxes.
constexpr int CheckBoxCount = static_cast<int>(std::size(TraceMaskBits));
constexpr int BevelHeight = 25 + 24 * CheckBoxCount;
constexpr int HooksTop = 8 + BevelHeight + 7;
constexpr int ButtonsTop = HooksTop + 65 + 7;

} // namespace

TTraceMaskDlg::TTraceMaskDlg(BYTE traceMask, THookKind hooks) : TraceMask(traceMask), Hooks(hooks)
{
    Caption = "Choose actions to trace";
    ClientWidth = 208;
    ClientHeight = ButtonsTop + 25 + 7;
}

void TTraceMaskDlg::FormCreate()
{
    Bevel1.SetBounds(8, 8, 193, BevelHeight);
    SetControlBounds(btnOK, 48, ButtonsTop, 75, 25);
    SetControlBounds(btnCancel, 126, ButtonsTop, 75, 25);
    const DWORD style = BS_AUTOCHECKBOX | WS_TABSTOP;
    for (size_t i = 0; i < std::size(TraceMaskBits); ++i) {
        const TTraceMaskBit& bit = TraceMaskBits[i];
        CheckBoxes[i] = CreateControl("BUTTON", bit.Caption, style, 24, 24 + 24 * static_cast<int>(i), 169, 17);
        SetChecked(CheckBoxes[i], TraceMask & bit.Bit);
    }
    grpHooks = CreateControl("BUTTON", "Hooks", BS_GROUPBOX, 8, HooksTop, 193, 65);
    for (size_t i = 0; i < std::size(HookKindNames); ++i) {
        const THookKindName& name = HookKindNames[i];
        // The first button starts the radio group and is its tab stop.
        const DWORD radio = BS_AUTORADIOBUTTON | (i == 0 ? WS_GROUP | WS_TABSTOP : 0);
        const int top = HooksTop + 18 + 22 * static_cast<int>(i);
        HookButtons[i] = CreateControl("BUTTON", name.Caption, radio, 24, top, 169, 17);
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
