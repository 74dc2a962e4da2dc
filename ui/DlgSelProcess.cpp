#include "DlgSelProcess.h"

#include "Application.h"
#include "DlgControls.h"
#include "Errors.h"

namespace {

constexpr int PidColumnWidth = 50;
// Wide enough for "64-bit" in the dialog font, with the cell's margins.
constexpr int TypeColumnWidth = 56;

// The PID column keeps its width. The header tells the list view, not the dialog, when
// a divider is dragged (Wine's list view forwards none of it), so the list view's own
// window procedure refuses the drag, the double click on the divider and any other
// change of that column's width.
LRESULT CALLBACK FixedPidColumn(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    if (msg == WM_NOTIFY) {
        const auto& change = *reinterpret_cast<NMHEADERA*>(lParam);
        switch (change.hdr.code) {
        case HDN_BEGINTRACKA:
        case HDN_BEGINTRACKW:
        case HDN_DIVIDERDBLCLICKA:
        case HDN_DIVIDERDBLCLICKW:
            if (change.iItem == 0)
                return TRUE;
            break;
        case HDN_ITEMCHANGINGA:
        case HDN_ITEMCHANGINGW:
            if (change.iItem == 0 && change.pitem && (change.pitem->mask & HDI_WIDTH) &&
                change.pitem->cxy != PidColumnWidth)
                return TRUE;
            break;
        }
    }
    return DefSubclassProc(window, msg, wParam, lParam);
}

} // namespace

TSelProcessDlg::TSelProcessDlg() { Caption = "Attach to process"; }

void TSelProcessDlg::FormCreate()
{
    EnableWindow(btnOK, FALSE);
    lvwProcesses = CreateControl(WC_LISTVIEWA, "",
                                 LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_TABSTOP, 16,
                                 16, 369, 177, 0, WS_EX_CLIENTEDGE);
    const DWORD ex = LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES;
    SendMessageA(lvwProcesses, LVM_SETEXTENDEDLISTVIEWSTYLE, ex, ex);
    SetWindowSubclass(lvwProcesses, FixedPidColumn, 0, 0);
    RECT bounds = ControlBounds(lvwProcesses);
    int fileNameWidth =
        (bounds.right - bounds.left) - PidColumnWidth - TypeColumnWidth - GetSystemMetrics(SM_CXVSCROLL) - 4;
    AddReportColumns(lvwProcesses,
                     {{"PID", PidColumnWidth}, {"File name", fileNameWidth}, {"Type", TypeColumnWidth}});
    // Without a process query there is nothing to list: say so and open empty.
    try {
        ProcessList().Refresh();
        FRows = ProcessList().Snapshot();
    } catch (...) {
        Application().ShowException(std::current_exception());
    }
    SendMessageA(lvwProcesses, LVM_SETITEMCOUNT, FRows.size(), 0);
}

void TSelProcessDlg::FormClose(int result)
{
    int index = SelectedIndex();
    if (result == mrOk && index != -1)
        SelectedProcess = FRows[static_cast<size_t>(index)];
}

int TSelProcessDlg::SelectedIndex() const
{
    int index =
        static_cast<int>(SendMessageA(lvwProcesses, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    return index >= 0 && static_cast<size_t>(index) < FRows.size() ? index : -1;
}

void TSelProcessDlg::lvwProcessesData(NMLVDISPINFOA& info)
{
    LVITEMA& item = info.item;
    if (!(item.mask & LVIF_TEXT) || !item.pszText || item.cchTextMax <= 0)
        return;
    std::string text;
    if (item.iItem >= 0 && static_cast<size_t>(item.iItem) < FRows.size()) {
        const TProcessInfo& process = *FRows[static_cast<size_t>(item.iItem)];
        switch (item.iSubItem) {
        case 0: text = Format("%lu", static_cast<unsigned long>(process.ProcessId)); break;
        case 1: text = process.FileName; break;
        case 2: text = process.Is64 ? "64-bit" : "32-bit"; break;
        }
    }
    lstrcpynA(item.pszText, text.c_str(), item.cchTextMax);
}

void TSelProcessDlg::lvwProcessesChange() { EnableWindow(btnOK, SelectedIndex() != -1); }

bool TSelProcessDlg::OnNotify(NMHDR& header, LRESULT&)
{
    if (header.hwndFrom != lvwProcesses)
        return false;
    switch (header.code) {
    case LVN_GETDISPINFOA:
        lvwProcessesData(reinterpret_cast<NMLVDISPINFOA&>(header));
        return true;
    case LVN_ITEMCHANGED:
        lvwProcessesChange();
        return true;
    }
    return false;
}
