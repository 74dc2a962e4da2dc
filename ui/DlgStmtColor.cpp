#include "DlgStmtColor.h"

#include "DlgControls.h"
#include "DlgSelColors.h"
#include "Errors.h"
#include "Images.h"
#include "TraceColors.h"
#include "Utils.h"

#include <memory>

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
    // The search strings are UTF-8: a Unicode list, asking for its texts in UTF-16.
    lvw = CreateUnicodeControl(WC_LISTVIEWW, "",
                               LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER |
                                   WS_TABSTOP,
                               16, 34, 369, 159, idRules, WS_EX_CLIENTEDGE);
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

void TStmtColorDlg::lvwData(NMLVDISPINFOW& info)
{
    LVITEMW& item = info.item;
    if (!(item.mask & LVIF_TEXT) || !item.pszText || item.cchTextMax <= 0)
        return;
    std::wstring text;
    if (item.iItem >= 0 && item.iItem < FRules.Count())
        text = item.iSubItem == 0 ? Utf8ToWide(FRules.Items(item.iItem)->SearchString) : L"PREVIEW";
    lstrcpynW(item.pszText, text.c_str(), item.cchTextMax);
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

bool TStmtColorDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    // lvw asks while it is made, before its handle is known here: by its id.
    if (msg == WM_NOTIFYFORMAT && lParam == NF_QUERY && GetDlgCtrlID(reinterpret_cast<HWND>(wParam)) == idRules) {
        result = NFR_UNICODE;
        return true;
    }
    return false;
}

bool TStmtColorDlg::OnNotify(NMHDR& header, LRESULT& result)
{
    if (header.hwndFrom == lvw) {
        switch (header.code) {
        case LVN_GETDISPINFOW:
            lvwData(reinterpret_cast<NMLVDISPINFOW&>(header));
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
