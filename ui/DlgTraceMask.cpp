#include "DlgTraceMask.h"

static_assert(TraceMaskBits[6].Bit == TraceMaskConnect && TraceMaskBits[7].Bit == TraceMaskCommit,
              "cbxConnect and cbxCommit name their kinds");

namespace {

// The check boxes one below the other in the bevel (the kinds, then cbxHideValues), the
// hooks' group box below it, the buttons at the bottom: each place follows from the
// number of check boxes.
constexpr int RowHeight = 24;
constexpr int FirstRow = 24;
constexpr int BoxRows = static_cast<int>(std::size(TraceMaskBits)) + 1;
// The radio buttons stand closer, one per hook kind.
constexpr int RadioHeight = 22;
constexpr int HooksHeight = 21 + RadioHeight * static_cast<int>(std::size(HookKindNames));
constexpr int BevelHeight = 25 + RowHeight * BoxRows;
constexpr int HooksTop = 8 + BevelHeight + 7;
constexpr int ButtonsTop = HooksTop + HooksHeight + 7;

} // namespace

TTraceMaskDlg::TTraceMaskDlg(TTraceMask traceMask, THookKind hooks, bool hideValues)
    : TraceMask(traceMask), Hooks(hooks), HideValues(hideValues)
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
        int top = FirstRow + RowHeight * static_cast<int>(i);
        CheckBoxes[i] = CreateControl("BUTTON", bit.Caption, style, 24, top, 169, 17);
        SetChecked(CheckBoxes[i], TraceMask & bit.Bit);
    }
    cbxHideValues =
        CreateControl("BUTTON", HideValuesCaption, style, 24, FirstRow + RowHeight * (BoxRows - 1), 169, 17);
    SetChecked(cbxHideValues, HideValues);
    grpHooks = CreateControl("BUTTON", "Hooks", BS_GROUPBOX, 8, HooksTop, 193, HooksHeight);
    for (size_t i = 0; i < std::size(HookKindNames); ++i) {
        const THookKindName& name = HookKindNames[i];
        // The first button starts the radio group and is its tab stop.
        const DWORD radio = BS_AUTORADIOBUTTON | (i == 0 ? WS_GROUP | WS_TABSTOP : 0);
        const int top = HooksTop + 18 + RadioHeight * static_cast<int>(i);
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
    HideValues = IsChecked(cbxHideValues);
    for (size_t i = 0; i < std::size(HookKindNames); ++i)
        if (IsChecked(HookButtons[i]))
            Hooks = HookKindNames[i].Kind;
}
