#include "DlgTraceMask.h"

namespace {
// The check boxes stand a row apart from the top of the bevel down.
constexpr int RowHeight = 24;
constexpr int FirstRow = 24;
constexpr int BoxRows = static_cast<int>(std::size(TraceMaskBits)) + 1;  // and cbxHideValues
// The radio buttons stand closer, one per hook kind.
constexpr int RadioHeight = 22;
constexpr int RadioRows = static_cast<int>(std::size(HookKindNames));
} // namespace

TTraceMaskDlg::TTraceMaskDlg(BYTE traceMask, THookKind hooks, bool hideValues)
    : TraceMask(traceMask), Hooks(hooks), HideValues(hideValues)
{
    Caption = "Choose actions to trace";
    ClientWidth = 208;
    ClientHeight = 100 + RowHeight * BoxRows + RadioHeight * RadioRows;
}

void TTraceMaskDlg::FormCreate()
{
    const int bevelHeight = 25 + RowHeight * BoxRows;
    const int hooksTop = 15 + bevelHeight;
    const int hooksHeight = 21 + RadioHeight * RadioRows;
    const int buttonsTop = hooksTop + hooksHeight + 7;
    Bevel1.SetBounds(8, 8, 193, bevelHeight);
    SetControlBounds(btnOK, 48, buttonsTop, 75, 25);
    SetControlBounds(btnCancel, 126, buttonsTop, 75, 25);
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
    grpHooks = CreateControl("BUTTON", "Hooks", BS_GROUPBOX, 8, hooksTop, 193, hooksHeight);
    for (size_t i = 0; i < std::size(HookKindNames); ++i) {
        const THookKindName& name = HookKindNames[i];
        // The first button starts the radio group and is its tab stop.
        const DWORD radio = BS_AUTORADIOBUTTON | (i == 0 ? WS_GROUP | WS_TABSTOP : 0);
        HookButtons[i] =
            CreateControl("BUTTON", name.Caption, radio, 24, hooksTop + 18 + RadioHeight * static_cast<int>(i), 169, 17);
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
