// The trace list's rows are kept by the program, not by the list view: the view is an
// owner-data report list that holds only a row count and asks for the texts of the rows
// it draws. Traces of a million rows are ordinary, so a row is a few text ids, and every
// distinct text (above all the SQL, which repeats) is stored once.
#pragma once

#include "TraceRowStore.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class TTraceFilter;

// The list view side of lvwTrace.
namespace TraceListView {

// The columns as a paint needs them, by index: where the header shows each in a row whose
// left edge is 0, and its text alignment (DT_LEFT, DT_RIGHT or DT_CENTER).
struct TColumns {
    static constexpr int MaxCount = 8;
    int Count = 0;
    int Left[MaxCount] = {};
    int Right[MaxCount] = {};
    UINT Align[MaxCount] = {};
};

// What DrawText showed of texts in cells, by the cell's width and the text: the text
// itself, or its beginning and an ellipsis; no more than a few thousand of them.
class TShownTexts {
public:
    // What was shown of text in a cell width pixels wide, nullptr if that is not known.
    const std::wstring* Find(int width, std::string_view text);
    void Add(int width, std::string_view text, std::wstring shown);
    void Clear() { FShown.clear(); }

private:
    static constexpr size_t MaxCount = 4096;
    const std::string& Key(int width, std::string_view text);
    std::unordered_map<std::string, std::wstring> FShown;
    std::string FKey;
};

// What a paint of the list reads of it once, at its start, for all the rows it paints.
struct TPaintState {
    TColumns Columns;
    HFONT Font = nullptr;
    // The bounds of row 0 (LVIR_BOUNDS), however far it is scrolled out of view; empty
    // while the list has no rows. The rows of a report list are of one height, one below
    // the other, so every row's bounds follow from them.
    RECT FirstRow{};
    // The selected rows among those the paint may reach.
    int FirstSelectable = 0;
    std::vector<bool> Selected;
    // The advance widths of the font's characters 0 to 127 (all 0 where the font did not
    // say), for cutting a long text down to the part a cell can show.
    int CharWidths[128] = {};
    // Kept from paint to paint while the font and its widths stay the same, so that a long
    // text is cut to its cell with an ellipsis once, not at every paint: DrawText finds
    // where by measuring the text over and over.
    TShownTexts ShownTexts;
    // Whether Columns.Align holds the alignments of the columns as they are (the list
    // clears it when a column is inserted, set or deleted).
    bool FormatsRead = false;
    // Reads the columns, the font, the rows' geometry and the selection from the list, and
    // the character widths from dc with the list's font selected.
    void Read(HWND list, HDC dc);
    // The bounds of a row (LVIR_BOUNDS) as the list itself gives them.
    RECT RowRect(int row) const;
    bool IsSelected(int row) const;
};

// The report list with its columns, a Unicode window: owner data, grid lines, whole-row selection,
// any number of selected rows, read-only, headers that do not sort. The columns after
// Statement (Rows, Binds, Error) take no room until ShowDetailColumns gives them some.
HWND Create(HWND parent, int id, HFONT font);
// Index of the Statement column, and of the first of the detail (optional) columns after it.
constexpr int StatementColumn = tcStatement;
constexpr int FirstDetailColumn = FixedTraceColumns();
constexpr int ColumnCount = TraceColumnCount;
// Gives the detail columns of the kinds in mask (TraceColumns' Kinds) their widths, where
// they have none yet; true when any column changed.
bool ShowDetailColumns(HWND list, unsigned mask);
// The parent passes every LVN_ITEMCHANGED and LVN_ODSTATECHANGED of the list here, so that
// the list knows its focused row and its one selected row without asking itself (see
// TraceList.cpp), and a row whose selection changed is repainted whole.
void ItemChanged(HWND list, const NMLISTVIEW& change);
void RangeChanged(HWND list);
// The row with the focus (-1: none), and whether a row is selected.
int FocusedRow(HWND list);
bool IsRowSelected(HWND list, int row);
// The selected rows, in list order.
std::vector<int> SelectedRows(HWND list);
// Selects or unselects every row.
void SetAllSelected(HWND list, bool selected);
// Unselects every row, then selects and focuses row (none for -1).
void SelectOnly(HWND list, int row);
// Shows count rows in place of those before, none of them selected but row, which is
// selected, focused and scrolled into view; for row -1 the last row is in view, so that the
// list follows the rows that arrive.
void ShowNewRows(HWND list, int count, int row);
// Tells the view the new row count after rows were appended. While the last row was in
// view it scrolls to the new last row; otherwise neither the view nor the selection moves.
void RowsAppended(HWND list, int oldCount, int newCount);
// Answers LVN_GETDISPINFOW from the rows shown (their UTF-8 texts on one line, in UTF-16).
// The list asks in UTF-16 when its parent answers its WM_NOTIFYFORMAT with NFR_UNICODE
// (see NotifyFormat).
void GetDispInfo(const TTraceFilter& shown, NMLVDISPINFOW& info);
// The paint state of a list made by Create (nullptr for any other window).
TPaintState* PaintStateOf(HWND list);
// The answer to WM_NOTIFYFORMAT for the list's parent: how the control with the id of the
// list (it asks while it is being created) is to notify.
constexpr LRESULT NotifyFormat = NFR_UNICODE;

} // namespace TraceListView
