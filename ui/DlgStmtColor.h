// Statement colour rules: the program's rule list, its place in the settings file, and
// the dialog that edits it ("Statement colorize").
#pragma once

#include "Actions.h"
#include "DlgTemplate.h"
#include "Forms.h"
#include "OwningList.h"

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

class TIniFile;

// One rule: rows holding SearchString (case-sensitive) in any cell take these colours.
class TColorInfo {
public:
    TColor BackColor = clWhite;
    TColor ForeColor = clBlack;
    std::string SearchString;
};

// The rules in priority order: the first rule that matches a row wins.
class TColorInfos : public TOwningList<TColorInfo> {
public:
    static constexpr const char* Section = "SRCH_CLR";

    // Replaces the rules by those of section SRCH_CLR: rule n is read while SRCHSTRn is
    // there and not empty.
    void LoadFromIni(const TIniFile& ini);
    // Rewrites section SRCH_CLR; no rules leave no section. A rule with an empty search
    // string is left out: written, its empty SRCHSTRn would end the list at the next
    // start and lose the rules after it (it colours nothing anyway).
    void SaveToIni(TIniFile& ini) const;

    // The rules by value, and the list made exactly that again: what the rules dialog
    // takes back when it is cancelled.
    std::vector<TColorInfo> Values() const;
    void Assign(const std::vector<TColorInfo>& values);
};

// The program's one colour rule list.
TColorInfos& ColorRules();

// Edits the rules of a list in place; the caller takes the changes back unless it ends
// with OK (see EditColorRules).
class TStmtColorDlg : public TTemplateDlg {
public:
    // images: the main window's IML (6 new, 9 edit, 7 delete); it stays the caller's.
    TStmtColorDlg(TColorInfos& rules, HIMAGELIST images);

    enum { actNew = 200, actEdit, actDelete };

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

private:
    void CreateActions();
    void lvwData(NMLVDISPINFOA& info);
    LRESULT lvwCustomDraw(NMLVCUSTOMDRAW& draw);

    TColorInfos& FRules;
    HIMAGELIST FImages;
};

// Opens the rules dialog on rules; any result other than OK makes the rules exactly
// what they were before. Returns true on OK.
bool EditColorRules(TColorInfos& rules, HIMAGELIST images);
