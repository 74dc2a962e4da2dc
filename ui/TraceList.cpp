#include "TraceList.h"

#include "DlgControls.h"
#include "TraceFilter.h"
#include "Forms.h"
#include "TraceMask.h"

#include <algorithm>
#include <climits>
#include <cwchar>
#include <iterator>

// ---------------------------------------------------------------------------
// The list view

namespace TraceListView {

namespace {

// What the list keeps beside the list view: its one selected row, its focused row, and
// what the paint under way has read of it.
//
// Wine's owner-data list view unselects the old row by visiting every row of the list
// (half a second at a million rows) whenever a row is selected while another one is,
// but skips that when no row is selected. So the list drops its one selected row itself
// (one row, at once) before a click or a navigation key moves the selection, and puts
// it back when a key moved nothing. The parent's notifications keep the rows' indexes;
// SelectedRow is -1 while no row or several rows are selected.
struct TListState {
    int SelectedRow = -1;
    int FocusedRow = -1;
    TPaintState Paint;
};

const UINT_PTR SubclassId = 1;
const char* const StateProperty = "VelloranTraceList";

void SetRowSelected(HWND list, int row, bool selected)
{
    LVITEMA item{};
    item.stateMask = LVIS_SELECTED;
    item.state = selected ? LVIS_SELECTED : 0;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

// A click or a key that leaves only the row it comes to selected: not one that adds rows
// to the selection or takes them out (with Ctrl or Shift held).
bool MovesSelection(UINT msg, WPARAM wParam)
{
    switch (msg) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        return !(wParam & (MK_CONTROL | MK_SHIFT));
    case WM_KEYDOWN:
        if ((GetKeyState(VK_CONTROL) | GetKeyState(VK_SHIFT)) & 0x8000)
            return false;
        return wParam == VK_UP || wParam == VK_DOWN || wParam == VK_PRIOR || wParam == VK_NEXT || wParam == VK_HOME ||
               wParam == VK_END;
    }
    return false;
}

LRESULT CALLBACK ListProc(HWND list, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data)
{
    auto* state = reinterpret_cast<TListState*>(data);
    switch (msg) {
    case LVM_DELETEALLITEMS:
        state->SelectedRow = -1;
        state->FocusedRow = -1;
        break;
    case LVM_SETITEMCOUNT:
        if (state->SelectedRow >= static_cast<int>(wParam))
            state->SelectedRow = -1;
        if (state->FocusedRow >= static_cast<int>(wParam))
            state->FocusedRow = -1;
        break;
    case LVM_INSERTCOLUMNA:
    case LVM_INSERTCOLUMNW:
    case LVM_SETCOLUMNA:
    case LVM_SETCOLUMNW:
    case LVM_DELETECOLUMN:
        state->Paint.FormatsRead = false;
        break;
    case WM_NCDESTROY:
        RemoveWindowSubclass(list, ListProc, SubclassId);
        RemovePropA(list, StateProperty);
        delete state;
        return DefSubclassProc(list, msg, wParam, lParam);
    }
    if (!MovesSelection(msg, wParam) || state->SelectedRow < 0)
        return DefSubclassProc(list, msg, wParam, lParam);
    int before = state->SelectedRow;
    SetRowSelected(list, before, false);
    LRESULT result = DefSubclassProc(list, msg, wParam, lParam);
    if (msg == WM_KEYDOWN && state->SelectedRow < 0 && IsWindow(list))
        SetRowSelected(list, before, true);
    return result;
}

// The list view repaints a row whose selection changed from 2 pixels right of its left
// edge, where the custom drawing paints the row from its edge: the strip would keep the
// old colours until the next full paint. So the whole row, edge to edge.
void InvalidateRow(HWND list, int row)
{
    RECT rect{};
    rect.left = LVIR_BOUNDS;
    if (!SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&rect)))
        return;
    RECT client{};
    GetClientRect(list, &client);
    rect.left = client.left;
    rect.right = std::max(rect.right, client.right);
    InvalidateRect(list, &rect, FALSE);
}

TListState* StateOf(HWND list)
{
    // A property rather than GetWindowSubclass, which the 64-bit import library lacks.
    return static_cast<TListState*>(GetPropA(list, StateProperty));
}

UINT TextAlignment(int format)
{
    switch (format & LVCFMT_JUSTIFYMASK) {
    case LVCFMT_RIGHT:
        return DT_RIGHT;
    case LVCFMT_CENTER:
        return DT_CENTER;
    }
    return DT_LEFT;
}

} // namespace

HWND Create(HWND parent, int id, HFONT font)
{
    // WS_CLIPCHILDREN: the list paints around its header, so a repaint of the whole list
    // does not repaint the header too (a third of the time of such a repaint under Wine).
    HWND list = CreateUnicodeChildControl(parent, WC_LISTVIEWW, "",
                                   LVS_REPORT | LVS_OWNERDATA | LVS_NOSORTHEADER | WS_TABSTOP |
                                       WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                                   0, 0, 0, 0, id, WS_EX_CLIENTEDGE, font);
    const DWORD ex = LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER;
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, ex, ex);
    AddTableColumns(list, TraceColumns);
    auto* state = new TListState;
    if (SetWindowSubclass(list, ListProc, SubclassId, reinterpret_cast<DWORD_PTR>(state)))
        SetPropA(list, StateProperty, state);
    else
        delete state;
    return list;
}

bool ShowDetailColumns(HWND list, unsigned mask)
{
    bool changed = false;
    for (const TColumn& c : TraceColumns)
        if (c.Optional && (mask & c.Kinds) && SendMessageW(list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(c.Id), 0) == 0) {
            SendMessageW(list, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(c.Id), MAKELPARAM(c.Width, 0));
            changed = true;
        }
    return changed;
}

const std::string& TShownTexts::Key(int width, std::string_view text)
{
    FKey.assign(reinterpret_cast<const char*>(&width), sizeof(width));
    FKey.append(text);
    return FKey;
}

const std::wstring* TShownTexts::Find(int width, std::string_view text)
{
    auto found = FShown.find(Key(width, text));
    return found != FShown.end() ? &found->second : nullptr;
}

void TShownTexts::Add(int width, std::string_view text, std::wstring shown)
{
    if (FShown.size() >= MaxCount)
        FShown.clear();
    FShown.insert_or_assign(Key(width, text), std::move(shown));
}

void TPaintState::Read(HWND list, HDC dc)
{
    auto header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    // The columns' alignments are asked for only after columns change (a quarter of a
    // millisecond a column under Wine, at every paint otherwise).
    Columns.Count = std::clamp(static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)), 0, TColumns::MaxCount);
    for (int column = 0; column < Columns.Count; ++column) {
        // Where the header shows the column is where the list paints its cells.
        RECT rect{};
        SendMessageW(header, HDM_GETITEMRECT, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&rect));
        Columns.Left[column] = rect.left;
        Columns.Right[column] = rect.right;
        if (FormatsRead)
            continue;
        LVCOLUMNW info{};
        info.mask = LVCF_FMT;
        Columns.Align[column] = SendMessageW(list, LVM_GETCOLUMNW, static_cast<WPARAM>(column),
                                             reinterpret_cast<LPARAM>(&info))
                                    ? TextAlignment(info.fmt)
                                    : DT_LEFT;
    }
    FormatsRead = true;
    HFONT oldFont = Font;
    int oldWidths[std::size(CharWidths)];
    std::copy(std::begin(CharWidths), std::end(CharWidths), oldWidths);
    Font = reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0));
    HGDIOBJ selected = Font ? SelectObject(dc, Font) : nullptr;
    if (!GetCharWidth32W(dc, 0, 127, CharWidths))
        std::fill(std::begin(CharWidths), std::end(CharWidths), 0);
    if (selected)
        SelectObject(dc, selected);
    if (Font != oldFont || !std::equal(std::begin(CharWidths), std::end(CharWidths), oldWidths))
        ShownTexts.Clear();
    FirstRow = {};
    FirstRow.left = LVIR_BOUNDS;
    if (!SendMessageW(list, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&FirstRow)))
        FirstRow = {};
    // A paint reaches the rows in view; whether each is selected is asked of the list once
    // here (a handful of rows, at a tenth of a millisecond each), unless none is, all are,
    // or the one that is is known.
    Selected.clear();
    FirstSelectable = 0;
    int selectedRows = static_cast<int>(SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0));
    int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    if (selectedRows > 0 && selectedRows == rows) {
        Selected.push_back(true);
        FirstSelectable = -1;
    } else if (TListState* state = StateOf(list);
               selectedRows == 1 && state && state->SelectedRow >= 0 && IsRowSelected(list, state->SelectedRow)) {
        // The one selected row is known without asking of each row in view.
        FirstSelectable = state->SelectedRow;
        Selected.push_back(true);
    } else if (selectedRows > 0) {
        FirstSelectable = static_cast<int>(SendMessageW(list, LVM_GETTOPINDEX, 0, 0));
        int last = std::min(rows, FirstSelectable + static_cast<int>(SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0)) + 2);
        for (int row = FirstSelectable; row < last; ++row)
            Selected.push_back(IsRowSelected(list, row));
    }
}

bool TPaintState::IsSelected(int row) const
{
    if (FirstSelectable < 0)
        return !Selected.empty();
    int k = row - FirstSelectable;
    return k >= 0 && k < static_cast<int>(Selected.size()) && Selected[static_cast<size_t>(k)];
}

RECT TPaintState::RowRect(int row) const
{
    RECT rect = FirstRow;
    long long offset = static_cast<long long>(row) * (FirstRow.bottom - FirstRow.top);
    OffsetRect(&rect, 0, static_cast<int>(std::clamp<long long>(offset, INT_MIN / 2, INT_MAX / 2)));
    return rect;
}

TPaintState* PaintStateOf(HWND list)
{
    TListState* state = StateOf(list);
    return state ? &state->Paint : nullptr;
}

void ItemChanged(HWND list, const NMLISTVIEW& change)
{
    TListState* state = StateOf(list);
    if (!state || !(change.uChanged & LVIF_STATE))
        return;
    bool wasFocused = change.uOldState & LVIS_FOCUSED;
    bool isFocused = change.uNewState & LVIS_FOCUSED;
    if (isFocused && change.iItem >= 0)
        state->FocusedRow = change.iItem;
    else if (wasFocused && !isFocused && (change.iItem < 0 || change.iItem == state->FocusedRow))
        state->FocusedRow = -1;

    bool wasSelected = change.uOldState & LVIS_SELECTED;
    bool isSelected = change.uNewState & LVIS_SELECTED;
    if (wasSelected == isSelected)
        return;
    // An owner-data list reports rows selected or unselected all at once as item -1.
    if (change.iItem < 0) {
        state->SelectedRow = -1;
        InvalidateRect(list, nullptr, FALSE);
    } else if (isSelected) {
        InvalidateRow(list, change.iItem);
        state->SelectedRow = SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0) == 1 ? change.iItem : -1;
    } else {
        InvalidateRow(list, change.iItem);
        if (change.iItem == state->SelectedRow)
            state->SelectedRow = -1;
    }
}

void RangeChanged(HWND list)
{
    if (TListState* state = StateOf(list))
        state->SelectedRow = -1;
    InvalidateRect(list, nullptr, FALSE);
}

int FocusedRow(HWND list)
{
    TListState* state = StateOf(list);
    return state ? state->FocusedRow : -1;
}

bool IsRowSelected(HWND list, int row)
{
    return row >= 0 && (SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) & LVIS_SELECTED);
}

std::vector<int> SelectedRows(HWND list)
{
    int selected = static_cast<int>(SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0));
    int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    std::vector<int> rows;
    rows.reserve(static_cast<size_t>(std::max(0, selected)));
    if (selected == count) {
        for (int row = 0; row < count; ++row)
            rows.push_back(row);
        return rows;
    }
    int row = -1;
    while (static_cast<int>(rows.size()) < selected &&
           (row = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(row), LVNI_SELECTED))) >= 0)
        rows.push_back(row);
    return rows;
}

namespace {

// Wine's owner-data list sets the state of every row one by one when asked to set them all,
// and invalidates each row as it goes (a trip to the display server each: half a minute
// for a million rows) unless it is not redrawing. A row count or a scroll costs it
// milliseconds of scroll bar and painting too. So changes of many rows are made with the
// list's redrawing off, and it is repainted once at the end.
class TRedrawOff {
public:
    explicit TRedrawOff(HWND list) : FList(list) { SendMessageW(FList, WM_SETREDRAW, FALSE, 0); }
    ~TRedrawOff()
    {
        SendMessageW(FList, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(FList, nullptr, FALSE);
    }
    TRedrawOff(const TRedrawOff&) = delete;
    TRedrawOff& operator=(const TRedrawOff&) = delete;

private:
    HWND FList;
};

// Unselects every row; unselecting them all visits every row under Wine, so one row known
// to be the only one selected is unselected by itself.
void UnselectAll(HWND list)
{
    TListState* state = StateOf(list);
    if (state && state->SelectedRow >= 0)
        SetRowSelected(list, state->SelectedRow, false);
    if (SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0) > 0)
        SetRowSelected(list, -1, false);
}

void SelectAndFocus(HWND list, int row)
{
    LVITEMW item{};
    item.stateMask = item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    SendMessageW(list, LVM_SETSELECTIONMARK, 0, row);
}

} // namespace

void SetAllSelected(HWND list, bool selected)
{
    TRedrawOff off(list);
    if (selected)
        SetRowSelected(list, -1, true);
    else
        UnselectAll(list);
}

void SelectOnly(HWND list, int row)
{
    UnselectAll(list);
    if (row >= 0)
        SelectAndFocus(list, row);
}

void ShowNewRows(HWND list, int count, int row)
{
    TRedrawOff off(list);
    UnselectAll(list);
    if (TListState* state = StateOf(list); state && state->FocusedRow >= 0) {
        LVITEMW item{};
        item.stateMask = LVIS_FOCUSED;
        SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(state->FocusedRow), reinterpret_cast<LPARAM>(&item));
    }
    SendMessageW(list, LVM_SETITEMCOUNT, static_cast<WPARAM>(count), LVSICF_NOSCROLL);
    if (row >= 0)
        SelectAndFocus(list, row);
    if (row >= 0 || count > 0)
        SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row >= 0 ? row : count - 1), FALSE);
}

void RowsAppended(HWND list, int oldCount, int newCount)
{
    int top = static_cast<int>(SendMessageA(list, LVM_GETTOPINDEX, 0, 0));
    int perPage = static_cast<int>(SendMessageA(list, LVM_GETCOUNTPERPAGE, 0, 0));
    bool followTail = oldCount == 0 || top + perPage >= oldCount;
    SendMessageA(list, LVM_SETITEMCOUNT, static_cast<WPARAM>(newCount), LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
    if (followTail && newCount > 0)
        SendMessageA(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(newCount - 1), FALSE);
}

void GetDispInfo(const TTraceFilter& shown, NMLVDISPINFOW& info)
{
    LVITEMW& item = info.item;
    if (!(item.mask & LVIF_TEXT) || !item.pszText || item.cchTextMax <= 0)
        return;
    if (item.iItem < 0 || item.iItem >= shown.RowCount()) {
        item.pszText[0] = L'\0';
        return;
    }
    // Only what fits is converted: a statement of a megabyte is asked for a cell at a time.
    auto units = static_cast<size_t>(item.cchTextMax - 1);
    std::string line;
    std::wstring wide = WidePrefix(CellLine(shown.Rows().CellText(shown.RowOf(item.iItem), item.iSubItem), units, line), units);
    std::wmemcpy(item.pszText, wide.data(), wide.size());
    item.pszText[wide.size()] = L'\0';
}

} // namespace TraceListView
