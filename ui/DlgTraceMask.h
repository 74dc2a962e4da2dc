// TTraceMaskDlg: which kinds of calls the next sessions trace, and how they hook entry
// points.
#pragma once

#include "DlgTemplate.h"
#include "HookKinds.h"
#include "TraceMask.h"

#include <iterator>

class TTraceMaskDlg : public TTemplateDlg {
public:
    // traceMask, hooks: the main window's, which the controls show when the dialog opens.
    explicit TTraceMaskDlg(BYTE traceMask, THookKind hooks = DefaultHookKind);

    // After OK: the mask the check boxes give (any combination, none included).
    BYTE TraceMask;
    // After OK: the kind of the checked radio button.
    THookKind Hooks;

    // One check box per entry of TraceMaskBits, in its order, one below the other.
    HWND CheckBoxes[std::size(TraceMaskBits)] = {};
    HWND& cbxPrepare = CheckBoxes[0];
    HWND& cbxExecute = CheckBoxes[1];
    HWND& cbxFetch = CheckBoxes[2];
    HWND& cbxConnect = CheckBoxes[3];
    HWND& cbxCommit = CheckBoxes[4];
    // The group box "Hooks" below them, with one radio button per entry of HookKindNames.
    HWND grpHooks = nullptr;
    HWND HookButtons[std::size(HookKindNames)] = {};
    HWND& rbnBreakpoint = HookButtons[0];
    HWND& rbnFast = HookButtons[1];

protected:
    void FormCreate() override;
    void FormClose(int result) override;
};
