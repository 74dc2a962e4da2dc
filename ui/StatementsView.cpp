#include "StatementsView.h"

#include "DlgControls.h"
#include "TraceList.h"

#include <algorithm>
#include <cwchar>

namespace {

constexpr int idStatements = 10;
constexpr UINT_PTR RefreshTimer = 1;
constexpr int ClientWidth = 1100;
constexpr int ClientHeight = 240;

int SelectedLine(HWND list)
{
    return static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

} // namespace

TfrmStatements::TfrmStatements(HWND owner, const TStatementTotals& totals, HFONT font) : FTotals(totals)
{
    RECT place{};
    GetWindowRect(owner, &place);
    // Over the lower part of the main window, where it covers the memo rather than the list.
    CreateHandle("TfrmStatements", "Statements", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, place.left + 40,
                 place.top + 200, ClientWidth, ClientHeight, owner, nullptr, nullptr, GetSysColorBrush(COLOR_BTNFACE));
    RECT r{0, 0, ClientWidth, ClientHeight};
    AdjustWindowRectEx(&r, WS_OVERLAPPEDWINDOW, FALSE, 0);
    SetWindowPos(Handle, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    lvwStatements = CreateUnicodeChildControl(Handle, WC_LISTVIEWW, "",
                                              LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL | LVS_SHOWSELALWAYS |
                                                  WS_TABSTOP,
                                              0, 0, ClientWidth, ClientHeight, idStatements, WS_EX_CLIENTEDGE, font);
    const DWORD ex = LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER;
    SendMessageW(lvwStatements, LVM_SETEXTENDEDLISTVIEWSTYLE, ex, ex);
    int numbers = 0;
    for (const TColumn& column : StatementColumns)
        numbers += column.Width > 0 ? column.Width : 0;
    AddTableColumns(lvwStatements, StatementColumns, std::max(200, ClientWidth - numbers - 24));
    ShowSortMark();
}

void TfrmStatements::Open()
{
    Refresh();
    ShowWindow(Handle, SW_SHOWNORMAL);
    SetTimer(Handle, RefreshTimer, RefreshMs, nullptr);
}

void TfrmStatements::Close()
{
    KillTimer(Handle, RefreshTimer);
    ShowWindow(Handle, SW_HIDE);
}

int TfrmStatements::StatementAt(int line) const
{
    return line >= 0 && line < LineCount() ? FOrder[static_cast<size_t>(line)] : -1;
}

void TfrmStatements::Refresh()
{
    int selected = StatementAt(SelectedLine(lvwStatements));
    FOrder = FTotals.Sorted(FSortColumn, FSortDescending);
    FVersion = FTotals.Version();
    SendMessageW(lvwStatements, LVM_SETITEMCOUNT, FOrder.size(), LVSICF_NOSCROLL);
    InvalidateRect(lvwStatements, nullptr, FALSE);
    // The selection goes with its statement to wherever the order puts it now.
    auto place = std::find(FOrder.begin(), FOrder.end(), selected);
    int line = selected >= 0 && place != FOrder.end() ? static_cast<int>(place - FOrder.begin()) : -1;
    if (line != SelectedLine(lvwStatements)) {
        LVITEMW item{};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = line >= 0 ? item.stateMask : 0;
        SendMessageW(lvwStatements, LVM_SETITEMSTATE, static_cast<WPARAM>(line), reinterpret_cast<LPARAM>(&item));
    }
}

void TfrmStatements::SortBy(int column)
{
    if (column == FSortColumn)
        FSortDescending = !FSortDescending;
    else {
        FSortColumn = column;
        FSortDescending = !IsTextColumn(column);
    }
    ShowSortMark();
    Refresh();
}

void TfrmStatements::ShowSortMark()
{
    auto header = reinterpret_cast<HWND>(SendMessageW(lvwStatements, LVM_GETHEADER, 0, 0));
    for (int column = 0; column < StatementColumnCount; ++column) {
        HDITEMW item{};
        item.mask = HDI_FORMAT;
        SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
        item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
        if (column == FSortColumn)
            item.fmt |= FSortDescending ? HDF_SORTDOWN : HDF_SORTUP;
        SendMessageW(header, HDM_SETITEMW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
    }
}

void TfrmStatements::Choose(int line)
{
    int statement = StatementAt(line);
    if (statement >= 0 && OnStatementChosen)
        OnStatementChosen(statement);
}

LRESULT TfrmStatements::OnNotify(NMHDR& header)
{
    if (header.hwndFrom != lvwStatements)
        return 0;
    switch (header.code) {
    case LVN_GETDISPINFOW: {
        LVITEMW& item = reinterpret_cast<NMLVDISPINFOW&>(header).item;
        if (!(item.mask & LVIF_TEXT) || !item.pszText || item.cchTextMax <= 0)
            return 0;
        int statement = StatementAt(item.iItem);
        std::wstring text;
        if (statement >= 0 && statement < FTotals.Count())
            text = WidePrefix(StatementCellText(FTotals.Item(statement), item.iSubItem),
                              static_cast<size_t>(item.cchTextMax - 1));
        std::wmemcpy(item.pszText, text.data(), text.size());
        item.pszText[text.size()] = L'\0';
        return 0;
    }
    case LVN_COLUMNCLICK:
        SortBy(reinterpret_cast<NMLISTVIEW&>(header).iSubItem);
        return 0;
    case NM_DBLCLK:
        Choose(reinterpret_cast<NMITEMACTIVATE&>(header).iItem);
        return 0;
    case NM_RETURN:
        Choose(SelectedLine(lvwStatements));
        return 0;
    case LVN_KEYDOWN:
        if (reinterpret_cast<NMLVKEYDOWN&>(header).wVKey == VK_ESCAPE)
            Close();
        return 0;
    }
    return 0;
}

LRESULT TfrmStatements::WndProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_NOTIFY:
        return OnNotify(*reinterpret_cast<NMHDR*>(lParam));
    case WM_NOTIFYFORMAT:
        // The list asks while it is made, before its handle is known here: by its id.
        if (lParam == NF_QUERY && GetDlgCtrlID(reinterpret_cast<HWND>(wParam)) == idStatements)
            return NFR_UNICODE;
        break;
    case WM_TIMER:
        if (wParam == RefreshTimer && FVersion != FTotals.Version())
            Refresh();
        return 0;
    case WM_SIZE:
        SetControlBounds(lvwStatements, 0, 0, LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_SETFOCUS:
        SetFocus(lvwStatements);
        return 0;
    case WM_CLOSE:
        Close();
        return 0;
    }
    return DefaultHandler(msg, wParam, lParam);
}
