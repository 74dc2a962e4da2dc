// The dialog that edits the statement colour rules ("Statement colorize").
#pragma once

#include "Actions.h"
#include "ColorInfos.h"
#include "DlgTemplate.h"
#include "Forms.h"

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

// Edits the rules of a list in place; the caller takes the changes back unless it ends
// with OK (see EditColorRules).
class TStmtColorDlg : public TTemplateDlg {
public:
    // images: the main window's IML (6 new, 9 edit, 7 delete); it stays the caller's.
    TStmtColorDlg(TColorInfos& rules, HIMAGELIST images);

    enum { actNew = 200, actEdit, actDelete };
    enum { idRules = 300 };

    HWND lvw = nullptr;
    HWND tbr = nullptr;
    TActionList ActList;

    // Sets the row count of lvw to the number of rules and repaints it.
    void RefreshList();
    // Edits rule index in a TSelColorsDlg, or appends a new rule for -1; then RefreshList.
    void EditRule(int index);
    // The selected row of lvw, or -1.
    int SelectedIndex() const;

protected:
    void FormCreate() override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(NMHDR& header, LRESULT& result) override;
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void CreateActions();
    void lvwData(NMLVDISPINFOW& info);
    LRESULT lvwCustomDraw(NMLVCUSTOMDRAW& draw);

    TColorInfos& FRules;
    HIMAGELIST FImages;
};

// Opens the rules dialog on rules; any result other than OK makes the rules exactly
// what they were before. Returns true on OK.
bool EditColorRules(TColorInfos& rules, HIMAGELIST images);
