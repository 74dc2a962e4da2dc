// TTraceMaskDlg: which of Prepare, Execute and Fetch the next sessions trace.
#pragma once

#include "DlgTemplate.h"
#include "TraceMask.h"

#include <iterator>

class TTraceMaskDlg : public TTemplateDlg {
public:
    // traceMask: the main window's mask, which the check boxes show when the dialog opens.
    explicit TTraceMaskDlg(BYTE traceMask);

    // After OK: the mask the check boxes give (any combination, none included).
    BYTE TraceMask;

    // One check box per entry of TraceMaskBits, in its order, one below the other.
    HWND CheckBoxes[std::size(TraceMaskBits)] = {};
    HWND& cbxPrepare = CheckBoxes[0];
    HWND& cbxExecute = CheckBoxes[1];
    HWND& cbxFetch = CheckBoxes[2];

protected:
    void FormCreate() override;
    void FormClose(int result) override;
};
