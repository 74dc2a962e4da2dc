#include "TraceView.h"

#include "DlgControls.h"
#include "Errors.h"
#include "TraceColors.h"
#include "TraceRows.h"
#include "Utils.h"

namespace {

const char* const Unit = "Main";
const UINT_PTR FilterSubclassId = 1;

// Brings lvwTrace's row count up to the rows stored. Posted behind the records already
// queued: a row count change costs the list view milliseconds (its scroll bar is redrawn),
// so a burst of records is shown with one.
constexpr UINT WM_SHOW_ROWS = WM_APP + 1;
// Shows in the memo the row the selection has settled on, if any.
constexpr UINT WM_CHECK_MEMO = WM_APP + 2;

// Escape empties the box, and neither Escape nor Enter rings the bell of a one-line edit.
LRESULT CALLBACK FilterBoxProc(HWND edit, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    switch (msg) {
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE) {
            SetWindowTextW(edit, L"");
            return 0;
        }
        break;
    case WM_CHAR:
        if (wParam == VK_ESCAPE || wParam == VK_RETURN)
            return 0;
        break;
    case WM_NCDESTROY:
        RemoveWindowSubclass(edit, FilterBoxProc, FilterSubclassId);
        break;
    }
    return DefSubclassProc(edit, msg, wParam, lParam);
}

// Some rows of the list, in the order given: what Copy writes.
class TChosenRows : public TRowSource {
public:
    TChosenRows(const TRowSource& rows, const std::vector<int>& chosen) : FRows(rows), FChosen(chosen) {}
    int RowCount() const override { return static_cast<int>(FChosen.size()); }
    void GetRow(int index, TListRow& row) const override { FRows.GetRow(FChosen[static_cast<size_t>(index)], row); }

private:
    const TRowSource& FRows;
    const std::vector<int>& FChosen;
};

} // namespace

TTraceView::TTraceView(HWND parent, HFONT font, HFONT memoFont, const TColorInfos& rules)
    : FParent(parent), FRules(rules)
{
    lblFilter = CreateChildControl(parent, "STATIC", "Filter:", SS_LEFT | SS_NOPREFIX, 0, 0, 0, 0, idFilterLabel, 0,
                                   font);
    AutoSizeLabel(lblFilter);
    edtFilter = CreateUnicodeChildControl(parent, L"EDIT", "", ES_AUTOHSCROLL | WS_TABSTOP, 0, 0, 0, 0, idFilter,
                                          WS_EX_CLIENTEDGE, font);
    SetWindowSubclass(edtFilter, FilterBoxProc, FilterSubclassId, 0);
    lvwTrace = TraceListView::Create(parent, idTrace, font);
    Splitter1.Create(parent, idSplitter);
    Splitter1.OnMoved = [this](int top) { SplitterMoved(top); };
    // A Unicode edit: it holds the statement's UTF-8 text whole, whatever the code page.
    memSQL = CreateUnicodeChildControl(parent, L"EDIT", "",
                                       ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL | WS_TABSTOP, 0, 0,
                                       0, 0, idSQL, WS_EX_CLIENTEDGE, memoFont);
}

// ---------------------------------------------------------------------------
// Layout

void TTraceView::PlaceFilter(int minLeft, int width, int band)
{
    RECT label = ControlBounds(lblFilter);
    int labelWidth = label.right - label.left;
    int filterLeft = std::max<int>(minLeft + labelWidth, width - 4 - 260);
    SetControlBounds(edtFilter, filterLeft, 4, std::max(0, width - 4 - filterLeft), band - 8);
    SetControlBounds(lblFilter, filterLeft - 6 - labelWidth, (band - (label.bottom - label.top)) / 2, labelWidth,
                     label.bottom - label.top);
}

void TTraceView::PlacePanes(int top, int width, int height)
{
    FPanesTop = top;
    FPanesWidth = width;
    FPanesHeight = height;
    int memo = std::min(FMemoHeight, std::max(0, height - SplitterHeight));
    int listHeight = std::max(0, height - SplitterHeight - memo);
    SetControlBounds(lvwTrace, 0, top, width, listHeight);
    SetControlBounds(Splitter1.Handle, 0, top + listHeight, width, SplitterHeight);
    SetControlBounds(memSQL, 0, top + height - memo, width, memo);
    lvwTraceResize();
}

void TTraceView::SplitterMoved(int top)
{
    // Either pane keeps at least a few lines.
    const int minimum = 30;
    int bottom = FPanesTop + FPanesHeight;
    int memo = bottom - top - SplitterHeight;
    memo = std::min(memo, FPanesHeight - SplitterHeight - minimum);
    FMemoHeight = std::max(minimum, memo);
    PlacePanes(FPanesTop, FPanesWidth, FPanesHeight);
}

void TTraceView::lvwTraceResize()
{
    RECT r{};
    GetWindowRect(lvwTrace, &r);
    int others = 0;
    bool details = false;
    for (const TColumn& column : TraceColumns) {
        if (column.Id == tcStatement)
            continue;
        int width = static_cast<int>(SendMessageA(lvwTrace, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column.Id), 0));
        others += width;
        details = details || (column.Optional && width > 0);
    }
    int w = (r.right - r.left) - others - GetSystemMetrics(SM_CXVSCROLL) - 4;
    // Beside the detail columns the statement keeps room to be read: the list scrolls
    // sideways instead.
    if (details)
        w = std::max(w, MinStatementWidth);
    if (w > 0)
        SendMessageA(lvwTrace, LVM_SETCOLUMNWIDTH, tcStatement, MAKELPARAM(w, 0));
}

void TTraceView::ShowDetailColumns(unsigned mask)
{
    if (TraceListView::ShowDetailColumns(lvwTrace, mask))
        lvwTraceResize();
}

// ---------------------------------------------------------------------------
// Rows

void TTraceView::RowsShown()
{
    if (OnRowsShown)
        OnRowsShown();
}

int TTraceView::AppendRow(const TListRow& row, int32_t statement)
{
    int index = TraceRows.Add(row, statement);
    Records.AddMark(row.Caption);
    TraceFilter.RowsAdded();
    if (!FShowRowsPosted && PostMessageA(FParent, WM_SHOW_ROWS, 0, 0))
        FShowRowsPosted = true;
    return index;
}

void TTraceView::ShowRows()
{
    FShowRowsPosted = false;
    int shown = static_cast<int>(SendMessageA(lvwTrace, LVM_GETITEMCOUNT, 0, 0));
    if (shown != TraceFilter.RowCount())
        TraceListView::RowsAppended(lvwTrace, shown, TraceFilter.RowCount());
    RowsShown();
}

void TTraceView::AddRecord(const TTraceRecord& record)
{
    int index = AppendRow(TraceRecordRow(record), Totals.Add(record));
    Records.Set(index, record);
    FPendingRows.Delivered(record, index);
}

// A row completed after it was shown changes in place; a row the log no longer holds
// (cleared meanwhile, or never added) is left alone.
void TTraceView::UpdateRecord(const TTraceRecord& record)
{
    std::optional<int> pending = FPendingRows.Updated(record);
    if (!pending)
        return;
    int index = *pending;
    int statement = Totals.Update(record);
    TraceRows.Set(index, TraceRecordRow(record), statement >= 0 ? statement : TraceRows.Tag(index));
    Records.Set(index, record);
    // What the row holds now may take it into the rows shown or out of them.
    int keep = MemoRow();
    if (TraceFilter.RowChanged(index)) {
        ShowFiltered(keep);
        return;
    }
    int shown = TraceFilter.IndexOf(index);
    if (shown < 0)
        return;
    SendMessageA(lvwTrace, LVM_REDRAWITEMS, static_cast<WPARAM>(shown), static_cast<LPARAM>(shown));
    if (TraceListView::IsRowSelected(lvwTrace, shown))
        lvwTraceChange(shown);
}

void TTraceView::Clear()
{
    TraceRows.Clear();
    Records.Clear();
    TraceFilter.Clear();
    Totals.Clear();
    FPendingRows.Clear();
    // The statement shown is gone with the totals; a text stays and filters what comes.
    if (TraceFilter.Mode() == TTraceFilter::TMode::Statement)
        FilterText("");
    SendMessageA(lvwTrace, LVM_DELETEALLITEMS, 0, 0);
    SendMessageA(lvwTrace, LVM_SETITEMCOUNT, 0, 0);
    SetWindowTextUtf8(memSQL, "");
    RowsShown();
}

std::string TTraceView::SelectedText() const
{
    std::vector<int> lines = TraceListView::SelectedRows(lvwTrace);
    return lines.empty() ? std::string() : ItemsAsText(TChosenRows(TraceFilter, lines), '\t');
}

// ---------------------------------------------------------------------------
// The memo

void TTraceView::lvwTraceChange(int item)
{
    // With several rows selected the memo shows the one the user came to last, which has
    // the focus.
    int row = item >= 0 && TraceListView::IsRowSelected(lvwTrace, item) && item < TraceFilter.RowCount()
                  ? TraceFilter.RowOf(item)
                  : MemoRow();
    // A click unselects the old row before it selects the new one: the memo is emptied
    // once the selection has settled with no row to show, not in between.
    if (row < 0) {
        if (!FMemoCheckPosted && PostMessageA(FParent, WM_CHECK_MEMO, 0, 0))
            FMemoCheckPosted = true;
        return;
    }
    ShowMemo(row);
}

void TTraceView::ShowMemo(int row)
{
    bool statement = row >= 0 && row < TraceRows.RowCount() && TraceRows.SubItemCount(row) >= tcStatement;
    std::string text;
    if (statement) {
        // Only a row of a statement (not a session's label) has a SQL id.
        std::string sqlId = TraceRows.Tag(row) >= 0 ? SqlIdLine(TraceRows.SqlIdOfCell(row, tcStatement),
                                                                TraceRows.ServerSqlIdText(row))
                                                    : std::string();
        text = MemoText(TraceRows.CellText(row, tcStatement), TraceRows.BindLinesText(row),
                        TraceRows.CellText(row, tcError), TraceRows.NoteText(row), sqlId);
    }
    // A click raises up to three changes (the old row unselected and unfocused, the new one
    // selected), and an edit control lays out all its lines anew whenever its text is set,
    // milliseconds under Wine: the memo's text is set only when it changes.
    if (WindowTextUtf8(memSQL) != text)
        SetWindowTextUtf8(memSQL, text);
}

int TTraceView::MemoRow() const
{
    int focused = TraceListView::FocusedRow(lvwTrace);
    if (focused < 0 || focused >= TraceFilter.RowCount() || !TraceListView::IsRowSelected(lvwTrace, focused))
        return -1;
    return TraceFilter.RowOf(focused);
}

// ---------------------------------------------------------------------------
// The filter

void TTraceView::edtFilterChange()
{
    if (!FSettingFilterText)
        FilterText(WindowTextUtf8(edtFilter));
}

void TTraceView::ShowFilterLabel(const char* text)
{
    SetWindowTextA(lblFilter, text);
    AutoSizeLabel(lblFilter);
    if (OnFilterResized)
        OnFilterResized();
}

void TTraceView::FilterText(const std::string& text)
{
    int keep = MemoRow();
    if (WindowTextUtf8(edtFilter) != text) {
        FSettingFilterText = true;
        SetWindowTextUtf8(edtFilter, text);
        FSettingFilterText = false;
    }
    if (WindowText(lblFilter) != "Filter:")
        ShowFilterLabel("Filter:");
    TraceFilter.SetText(text);
    ShowFiltered(keep);
}

void TTraceView::SetGrouping(TStatementGrouping grouping)
{
    // A statement shown is one of the other grouping's.
    if (grouping != Totals.Grouping() && TraceFilter.Mode() == TTraceFilter::TMode::Statement)
        FilterText("");
    Totals.SetGrouping(grouping);
}

void TTraceView::FilterStatement(int statement)
{
    VASSERT(statement >= 0 && statement < Totals.Count(), Unit);
    int keep = MemoRow();
    // The box names the statement; typing in it filters by text again.
    FSettingFilterText = true;
    SetWindowTextUtf8(edtFilter, Totals.Item(statement).Statement);
    FSettingFilterText = false;
    ShowFilterLabel("Statement:");
    TraceFilter.SetStatement(statement, [this](int32_t text) { return Totals.GroupOf(text); });
    ShowFiltered(keep);
}

void TTraceView::ShowFiltered(int keep)
{
    int line = keep >= 0 ? TraceFilter.IndexOf(keep) : -1;
    TraceListView::ShowNewRows(lvwTrace, TraceFilter.RowCount(), line);
    lvwTraceChange(line);
    RowsShown();
}

// ---------------------------------------------------------------------------
// Messages

LRESULT TTraceView::OnNotify(NMHDR& header)
{
    switch (header.code) {
    case LVN_GETDISPINFOW:
        TraceListView::GetDispInfo(TraceFilter, reinterpret_cast<NMLVDISPINFOW&>(header));
        return 0;
    case LVN_ODSTATECHANGED:
        TraceListView::RangeChanged(lvwTrace);
        lvwTraceChange(-1);
        return 0;
    case LVN_ITEMCHANGED: {
        auto& change = reinterpret_cast<NMLISTVIEW&>(header);
        TraceListView::ItemChanged(lvwTrace, change);
        // Raised by changes of selection and focus only: rows that arrive meanwhile leave
        // the memo alone.
        lvwTraceChange(change.iItem);
        return 0;
    }
    case NM_CUSTOMDRAW:
        return TraceListCustomDraw(reinterpret_cast<NMLVCUSTOMDRAW&>(header), FRules, TraceFilter);
    }
    return 0;
}

bool TTraceView::Message(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    result = 0;
    switch (msg) {
    case WM_SHOW_ROWS:
        ShowRows();
        return true;
    case WM_CHECK_MEMO:
        FMemoCheckPosted = false;
        ShowMemo(MemoRow());
        return true;
    case WM_COMMAND:
        if (LOWORD(wParam) != idFilter)
            return false;
        if (HIWORD(wParam) == EN_CHANGE)
            edtFilterChange();
        return true;
    case WM_NOTIFY:
        if (reinterpret_cast<NMHDR*>(lParam)->hwndFrom != lvwTrace)
            return false;
        result = OnNotify(*reinterpret_cast<NMHDR*>(lParam));
        return true;
    case WM_NOTIFYFORMAT:
        // lvwTrace asks while it is made, before its handle is known here: by its id.
        if (lParam != NF_QUERY || GetDlgCtrlID(reinterpret_cast<HWND>(wParam)) != idTrace)
            return false;
        result = TraceListView::NotifyFormat;
        return true;
    case WM_CTLCOLORSTATIC:
        // A read-only memo still reads as a text field: window colours, not the dialog face.
        if (reinterpret_cast<HWND>(lParam) != memSQL)
            return false;
        SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOW));
        SetTextColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOWTEXT));
        result = reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
        return true;
    }
    return false;
}
