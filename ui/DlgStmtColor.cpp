#include "DlgStmtColor.h"

#include "DlgControls.h"
#include "DlgSelColors.h"
#include "Errors.h"
#include "Images.h"
#include "IniFile.h"
#include "TraceColors.h"

#include <memory>

// ---------------------------------------------------------------------------
// TColorInfos

namespace {

std::string Key(const char* pattern, int n) { return Format(pattern, n); }

// The profile reader drops the blanks around a value and one pair of quotes enclosing
// it. Quoting a search string that would lose either keeps it as typed, and keeps a
// string of blanks from reading back empty, which would end the list there.
std::string QuotedIfNeeded(const std::string& value)
{
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front();
    if (quoted || blank(value.front()) || blank(value.back()))
        return '"' + value + '"';
    return value;
}

} // namespace

void TColorInfos::LoadFromIni(const TIniFile& ini)
{
    Clear();
    for (int n = 1;; ++n) {
        std::string search = ini.ReadString(Section, Key("SRCHSTR%d", n), "");
        if (search.empty())
            break;
        TColorInfo* rule = Add(std::make_unique<TColorInfo>());
        rule->SearchString = search;
        rule->BackColor = static_cast<TColor>(ini.ReadInteger(Section, Key("BKCOLOR%d", n), 16777215));
        rule->ForeColor = static_cast<TColor>(ini.ReadInteger(Section, Key("FRCOLOR%d", n), 0));
    }
}

void TColorInfos::SaveToIni(TIniFile& ini) const
{
    ini.EraseSection(Section);
    int n = 0;
    for (const auto& rule : *this) {
        if (rule->SearchString.empty())
            continue;
        ++n;
        ini.WriteString(Section, Key("SRCHSTR%d", n), QuotedIfNeeded(rule->SearchString));
        ini.WriteInteger(Section, Key("BKCOLOR%d", n), static_cast<int>(rule->BackColor));
        ini.WriteInteger(Section, Key("FRCOLOR%d", n), static_cast<int>(rule->ForeColor));
    }
}

std::vector<TColorInfo> TColorInfos::Values() const
{
    std::vector<TColorInfo> values;
    for (const auto& rule : *this)
        values.push_back(*rule);
    return values;
}

void TColorInfos::Assign(const std::vector<TColorInfo>& values)
{
    Clear();
    for (const TColorInfo& value : values)
        Add(std::make_unique<TColorInfo>(value));
}

TColorInfos& ColorRules()
{
    static TColorInfos instance;
    return instance;
}

// ---------------------------------------------------------------------------
// TStmtColorDlg

TStmtColorDlg::TStmtColorDlg(TColorInfos& rules, HIMAGELIST images) : FRules(rules), FImages(images)
{
    Caption = "Statement colorize";
}

void TStmtColorDlg::FormCreate()
{
    tbr = CreateControl(TOOLBARCLASSNAMEA, "",
                        TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_NODIVIDER | CCS_NORESIZE | CCS_NOPARENTALIGN, 16, 10,
                        73, 24);
    SendMessageA(tbr, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageA(tbr, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(FImages));
    lvw = CreateControl(WC_LISTVIEWA, "",
                        LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER |
                            WS_TABSTOP,
                        16, 34, 369, 159, 0, WS_EX_CLIENTEDGE);
    const DWORD ex = LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES;
    SendMessageA(lvw, LVM_SETEXTENDEDLISTVIEWSTYLE, ex, ex);
    AddReportColumns(lvw, {{"Search string", 300}, {"Color", 65}});
    CreateActions();
    RefreshList();
}

void TStmtColorDlg::CreateActions()
{
    ActList.Images = FImages;
    auto editEnabled = [this](TAction& action) { action.Enabled = FRules.Count() > 0 && SelectedIndex() != -1; };
    TAction action;
    action.Id = actNew;
    action.Caption = "New rule";
    action.ImageIndex = imgNew;
    action.OnExecute = [this] { EditRule(-1); };
    ActList.Add(action);

    action.Id = actEdit;
    action.Caption = "Edit rule";
    action.ImageIndex = imgEdit;
    action.OnExecute = [this] {
        if (SelectedIndex() != -1)
            EditRule(SelectedIndex());
    };
    action.OnUpdate = editEnabled;
    ActList.Add(action);

    action.Id = actDelete;
    action.Caption = "Delete rule";
    action.ImageIndex = imgDelete;
    action.OnExecute = [this] {
        int index = SelectedIndex();
        if (index == -1)
            return;
        FRules.Delete(index);
        RefreshList();
    };
    action.OnUpdate = editEnabled;
    ActList.Add(action);

    // btnNew, btnEdit, btnDelete; their hints are the actions' captions.
    for (int id : {actNew, actEdit, actDelete}) {
        TBBUTTON button{};
        button.iBitmap = ActList.Find(id)->ImageIndex;
        button.idCommand = id;
        button.fsState = TBSTATE_ENABLED;
        button.fsStyle = BTNS_BUTTON;
        SendMessageA(tbr, TB_ADDBUTTONSA, 1, reinterpret_cast<LPARAM>(&button));
    }
    ActList.BindToolBar(tbr);
}

int TStmtColorDlg::SelectedIndex() const
{
    int index = static_cast<int>(SendMessageA(lvw, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    return index < FRules.Count() ? index : -1;
}

void TStmtColorDlg::RefreshList()
{
    int count = FRules.Count();
    // A selection beyond the new end would point at no rule.
    int selected = static_cast<int>(SendMessageA(lvw, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    if (selected >= count) {
        LVITEMA state{};
        state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(lvw, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
    }
    SendMessageA(lvw, LVM_SETITEMCOUNT, static_cast<WPARAM>(count), 0);
    InvalidateRect(lvw, nullptr, TRUE);
    ActList.UpdateActions();
}

void TStmtColorDlg::EditRule(int index)
{
    TSelColorsDlg dlg;
    if (index != -1) {
        const TColorInfo* rule = FRules.Items(index);
        dlg.SearchString = rule->SearchString;
        dlg.ForeColor = rule->ForeColor;
        dlg.BackColor = rule->BackColor;
    }
    if (dlg.ShowModal() == mrOk) {
        TColorInfo* rule = index == -1 ? FRules.Add(std::make_unique<TColorInfo>()) : FRules.Items(index);
        rule->SearchString = dlg.SearchString;
        rule->ForeColor = dlg.ForeColor;
        rule->BackColor = dlg.BackColor;
    }
    RefreshList();
}

bool TStmtColorDlg::OnCommand(int id, int, HWND)
{
    return id >= actNew && id <= actDelete && ActList.Execute(id);
}

void TStmtColorDlg::lvwData(NMLVDISPINFOA& info)
{
    LVITEMA& item = info.item;
    if (!(item.mask & LVIF_TEXT) || !item.pszText || item.cchTextMax <= 0)
        return;
    const char* text = "";
    if (item.iItem >= 0 && item.iItem < FRules.Count())
        text = item.iSubItem == 0 ? FRules.Items(item.iItem)->SearchString.c_str() : "PREVIEW";
    lstrcpynA(item.pszText, text, item.cchTextMax);
}

LRESULT TStmtColorDlg::lvwCustomDraw(NMLVCUSTOMDRAW& draw)
{
    switch (draw.nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT:
        return CDRF_NOTIFYSUBITEMDRAW;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
        int index = static_cast<int>(draw.nmcd.dwItemSpec);
        if (draw.iSubItem != 1 || index < 0 || index >= FRules.Count())
            return CDRF_DODEFAULT;
        const TColorInfo* rule = FRules.Items(index);
        RECT rect{};
        rect.top = 1;
        rect.left = LVIR_BOUNDS;
        SendMessageA(lvw, LVM_GETSUBITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&rect));
        PaintCell(draw.nmcd.hdc, rect, {rule->ForeColor, rule->BackColor}, "PREVIEW", DT_CENTER, 0);
        return CDRF_SKIPDEFAULT;
    }
    }
    return CDRF_DODEFAULT;
}

bool TStmtColorDlg::OnNotify(NMHDR& header, LRESULT& result)
{
    if (header.hwndFrom == lvw) {
        switch (header.code) {
        case LVN_GETDISPINFOA:
            lvwData(reinterpret_cast<NMLVDISPINFOA&>(header));
            return true;
        case LVN_ITEMCHANGED:
            ActList.UpdateActions();
            return true;
        case NM_DBLCLK:
            ActList.Execute(actEdit);
            return true;
        case NM_CUSTOMDRAW:
            result = lvwCustomDraw(reinterpret_cast<NMLVCUSTOMDRAW&>(header));
            return true;
        }
        return false;
    }
    // The tool bar's hints.
    if (header.code == TTN_GETDISPINFOA || header.code == TTN_GETDISPINFOW) {
        TAction* action = ActList.Find(static_cast<int>(header.idFrom));
        if (!action)
            return false;
        SetToolTipText(header, action->Caption);
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------

bool EditColorRules(TColorInfos& rules, HIMAGELIST images)
{
    const std::vector<TColorInfo> recorded = rules.Values();
    int result = mrCancel;
    try {
        TStmtColorDlg dlg(rules, images);
        result = dlg.ShowModal();
    } catch (...) {
        rules.Assign(recorded);
        throw;
    }
    if (result != mrOk)
        rules.Assign(recorded);
    return result == mrOk;
}
