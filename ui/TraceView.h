// The trace view: lvwTrace, the memo memSQL below it with the splitter between them, and
// the filter box with its label; the rows of the trace, the totals per statement and the
// rows still waiting for their update. The main window owns one and lays it out; any
// window can be its parent, as long as it passes its messages to Message first.
#pragma once

#include "ColorInfos.h"
#include "Forms.h"
#include "PendingRecords.h"
#include "StatementTotals.h"
#include "TraceFilter.h"
#include "TraceList.h"
#include "TraceRecordStore.h"

#include <windows.h>

#include <functional>
#include <string>

// Child window ids of the main window.
enum TControlId : int { idToolBar = 10, idTrace, idSQL, idSplitter, idStatusBar, idFilter, idFilterLabel };

class TTraceView {
public:
    // Makes the controls as children of parent in font (the memo in memoFont); rows are
    // painted in the colours of rules.
    TTraceView(HWND parent, HFONT font, HFONT memoFont, const TColorInfos& rules);
    TTraceView(const TTraceView&) = delete;
    TTraceView& operator=(const TTraceView&) = delete;

    HWND lvwTrace = nullptr;
    HWND memSQL = nullptr;
    TSplitter Splitter1;
    // The filter box, and its label ("Filter:", or "Statement:" while the rows of one
    // statement are shown).
    HWND edtFilter = nullptr;
    HWND lblFilter = nullptr;

    // The rows of the trace, each with the index of its statement in Totals; lvwTrace shows
    // those that TraceFilter lets through.
    TTraceRows TraceRows;
    TTraceFilter TraceFilter{TraceRows};
    // Totals per statement over every row of the trace, whatever the filter.
    TStatementTotals Totals;
    // The record of each row of TraceRows (a row appended without one: a mark), to save the
    // trace whole.
    TTraceRecordStore Records;

    // The rows shown or stored changed in number.
    std::function<void()> OnRowsShown;
    // The filter's label changed its width: the filter box is to be placed anew.
    std::function<void()> OnFilterResized;

    // The parent's messages, first: true (and the answer in result) for one of the view's.
    bool Message(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // The filter box and its label in the band of height band along the parent's top, at
    // the right of width, no further left than minLeft.
    void PlaceFilter(int minLeft, int width, int band);
    // The list, the splitter and the memo in the strip from top, height high.
    void PlacePanes(int top, int width, int height);

    // Appends a row (stored; the list learns of it with the next ShowRows, posted) and
    // returns its index.
    int AppendRow(const TListRow& row, int32_t statement = -1);
    // Brings lvwTrace's row count up to the rows stored.
    void ShowRows();
    // A trace record becomes a row; an update of one waiting changes it in place.
    void AddRecord(const TTraceRecord& record);
    void UpdateRecord(const TTraceRecord& record);
    // Gives the detail columns of the kinds in mask their room.
    void ShowDetailColumns(unsigned mask);
    // Every row goes, with the totals and the memo.
    void Clear();

    // The filter: the rows whose cells contain text, case-insensitive ("": every row), as
    // the filter box does; the rows of one statement of Totals, as a line of the statements
    // view chosen does.
    void FilterText(const std::string& text);
    void FilterStatement(int statement);
    // How the totals group statements; a statement shown by the filter is let go.
    void SetGrouping(TStatementGrouping grouping);
    // The stored row the memo shows (the focused row if it is selected), or -1.
    int MemoRow() const;
    // The selected rows as tab-delimited text, as Save log writes them; "" for none.
    std::string SelectedText() const;

    // Handlers of lvwTrace: an item changed (item: the row concerned, or -1), the
    // control was resized.
    void lvwTraceChange(int item);
    void lvwTraceResize();

    static constexpr int SplitterHeight = 3;
    static constexpr int InitialMemoHeight = 89;
    // The Statement column's least width while detail columns are shown.
    static constexpr int MinStatementWidth = 240;

private:
    LRESULT OnNotify(NMHDR& header);
    void edtFilterChange();
    void SplitterMoved(int top);
    // Shows the rows the filter now lets through, the stored row keep (the one the user
    // was on, -1 for none) still selected and in view if it is one of them.
    void ShowFiltered(int keep);
    void ShowFilterLabel(const char* text);
    // The memo: the statement of a stored row, or nothing for -1.
    void ShowMemo(int row);
    void RowsShown();

    HWND FParent;
    const TColorInfos& FRules;
    TPendingRecords<int> FPendingRows;
    int FMemoHeight = InitialMemoHeight;
    // Where PlacePanes last put the panes.
    int FPanesTop = 0;
    int FPanesWidth = 0;
    int FPanesHeight = 0;
    bool FShowRowsPosted = false;
    bool FMemoCheckPosted = false;
    // While the view sets the filter box's text itself (a statement chosen).
    bool FSettingFilterText = false;
};
