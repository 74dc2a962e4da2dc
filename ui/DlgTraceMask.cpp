#include "DlgTraceMask.h"

#include "DebugCore.h"

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
    cbxPrepare = CreateControl("BUTTON", "Prepare (OCIStmtPrepare)", style, 24, 24, 169, 17);
    cbxExecute = CreateControl("BUTTON", "Execute (OCIStmtExecute)", style, 24, 48, 169, 17);
    cbxFetch = CreateControl("BUTTON", "Fetch (OCIStmtFetch)", style, 24, 72, 169, 17);
    SetChecked(cbxPrepare, TraceMask & TraceMaskPrepare);
    SetChecked(cbxExecute, TraceMask & TraceMaskExecute);
    SetChecked(cbxFetch, TraceMask & TraceMaskFetch);
}

void TTraceMaskDlg::FormClose(int result)
{
    if (result != mrOk)
        return;
    TraceMask = 0;
    if (IsChecked(cbxPrepare))
        TraceMask |= TraceMaskPrepare;
    if (IsChecked(cbxExecute))
        TraceMask |= TraceMaskExecute;
    if (IsChecked(cbxFetch))
        TraceMask |= TraceMaskFetch;
}
