// TTraceMaskDlg: which of Prepare, Execute and Fetch the next sessions trace.
#pragma once

#include "DlgTemplate.h"

class TTraceMaskDlg : public TTemplateDlg {
public:
    // traceMask: the main window's mask, which the check boxes show when the dialog opens.
    explicit TTraceMaskDlg(BYTE traceMask);

    // After OK: the mask the check boxes give (any combination, none included).
    BYTE TraceMask;

    HWND cbxPrepare = nullptr;
    HWND cbxExecute = nullptr;
    HWND cbxFetch = nullptr;

protected:
    void FormCreate() override;
    void FormClose(int result) override;
};
