// TTraceMaskDlg: which kinds of calls and which of their details the next sessions trace,
// whether bound values are hidden, and how the sessions hook entry points.
#pragma once

#include "DlgTemplate.h"
#include "HookKinds.h"
#include "TraceMask.h"

#include <iterator>

class TTraceMaskDlg : public TTemplateDlg {
public:
    // traceMask, hooks, hideValues: the main window's, which the controls show when the
    // dialog opens.
    explicit TTraceMaskDlg(TTraceMask traceMask, THookKind hooks = DefaultHookKind, bool hideValues = false);

    // After OK: the mask the check boxes give (any combination, none included).
    TTraceMask TraceMask;
    // After OK: the kind of the checked radio button.
    THookKind Hooks;
    // After OK: whether cbxHideValues is checked.
    bool HideValues;

    // One check box per entry of TraceMaskBits, in its order, one below the other.
    HWND CheckBoxes[std::size(TraceMaskBits)] = {};
    HWND& cbxPrepare = CheckBoxes[0];
    HWND& cbxExecute = CheckBoxes[1];
    HWND& cbxFetch = CheckBoxes[2];
    HWND& cbxConnect = CheckBoxes[6];
    HWND& cbxCommit = CheckBoxes[7];
    // Below them: every bound value shown as "?".
    HWND cbxHideValues = nullptr;
    // The group box "Hooks" below that, with one radio button per entry of HookKindNames.
    HWND grpHooks = nullptr;
    HWND HookButtons[std::size(HookKindNames)] = {};
    HWND& rbnBreakpoint = HookButtons[0];
    HWND& rbnFast = HookButtons[1];
    HWND& rbnLog = HookButtons[2];

protected:
    void FormCreate() override;
    void FormClose(int result) override;
};
