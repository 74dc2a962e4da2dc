// The trace list's rows are kept by the program, not by the list view: the view is an
// owner-data report list that holds only a row count and asks for the texts of the rows
// it draws. Traces of a million rows are ordinary, so a row is a few text ids, and every
// distinct text (above all the SQL, which repeats) is stored once.
#pragma once

#include "RowExport.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Texts stored once each, found by content; an id stays valid until Clear. Id 0 is "".
class TStringPool {
public:
    TStringPool();
    uint32_t Intern(std::string_view text);
    const std::string& Text(uint32_t id) const { return FTexts[id]; }
    size_t Count() const { return FTexts.size(); }
    void Clear();

private:
    std::deque<std::string> FTexts;
    std::unordered_map<std::string_view, uint32_t> FIds;
};

// Values appended in blocks of many thousands: one never moves once stored, and the heap
// sees one large allocation per block. (A deque asks for a small block every dozen rows;
// among the many freed texts of records, Wine's heap takes microseconds to find one.)
template <class T, size_t BlockSize = 16384>
class TBlockArray {
public:
    size_t size() const { return FSize; }
    T& operator[](size_t index) { return FBlocks[index / BlockSize][index % BlockSize]; }
    const T& operator[](size_t index) const { return FBlocks[index / BlockSize][index % BlockSize]; }
    void push_back(const T& value)
    {
        if (FSize / BlockSize == FBlocks.size())
            FBlocks.emplace_back(new T[BlockSize]);
        (*this)[FSize++] = value;
    }
    // Gives all the memory back.
    void clear()
    {
        FBlocks.clear();
        FBlocks.shrink_to_fit();
        FSize = 0;
    }

private:
    std::vector<std::unique_ptr<T[]>> FBlocks;
    size_t FSize = 0;
};

// The rows of the trace list: a caption and up to six sub-items each, in arrival order,
// and a number the owner keeps with each (the window: the row's statement, -1 for none).
class TTraceRows : public TRowSource {
public:
    static constexpr int MaxSubItems = 6;

    // Appends a row and returns its index.
    int Add(const TListRow& row, int32_t tag = -1);
    // Replaces the texts and the number of the row at index.
    void Set(int index, const TListRow& row, int32_t tag = -1);
    void Clear();

    int RowCount() const override { return static_cast<int>(FRows.size()); }
    void GetRow(int index, TListRow& row) const override;
    // From the distinct texts, not the rows.
    bool AllAscii() const override;
    // Remembered as rows are stored.
    bool AnyOptionalCells() const override { return FOptionalCells; }
    int SubItemCount(int index) const;
    // Column 0 is the caption, column k the k-th sub-item; "" beyond the row's sub-items.
    const std::string& CellText(int index, int column) const;
    const std::string& NoteText(int index) const;
    size_t DistinctTexts() const { return FPool.Count(); }
    int32_t Tag(int index) const { return Row(index).Tag; }
    // The ids of the row's texts, caption first (Text gives them); returns how many.
    int CellIds(int index, uint32_t (&ids)[1 + MaxSubItems]) const;
    const std::string& Text(uint32_t id) const { return FPool.Text(id); }

private:
    // Most rows have no detail cells and no note: a row keeps the ids of its first cells,
    // and those of the rest only where one of them is not empty, apart.
    static constexpr int RowCells = 4;
    static constexpr int ExtraCells = 1 + MaxSubItems - RowCells;
    struct TExtra {
        uint32_t Cells[ExtraCells];
        uint32_t Note;
    };
    struct TRow {
        uint32_t Cells[RowCells];
        // 1 + the index of the row's extra cells, 0 for none.
        uint32_t Extra;
        int32_t Tag;
        uint8_t SubItemCount;
    };
    const TRow& Row(int index) const;
    // The ids of the row's cells in column order; the note's last.
    void Ids(const TRow& row, uint32_t (&ids)[2 + MaxSubItems]) const;
    // Interns the texts of row; extra names the slot its extra cells go to, if any (0:
    // a new one).
    TRow Store(const TListRow& row, int32_t tag, uint32_t extra);

    TBlockArray<TRow> FRows;
    TBlockArray<TExtra> FExtras;
    TStringPool FPool;
    bool FOptionalCells = false;
};

// A statement as the memo shows it: up to its first zero byte, each line break (CR LF,
// a lone CR or a lone LF) made the CR LF that starts a new line of an edit control. Then,
// on lines of their own, each bind of binds (a Binds cell: each row of an array execute
// on a line), the row's note and the error text.
std::string MemoText(const std::string& statement, const std::string& binds = "", const std::string& error = "",
                     const std::string& note = "");

// At most units UTF-16 units of a UTF-8 text, up to its first zero byte as a C string
// would end; a character that would not fit whole is left out, not cut in half. Only that
// much of the text is converted.
std::wstring WidePrefix(std::string_view text, size_t units);
// The beginning of a text as a list cell shows it, on one line (SingleLineText), long
// enough for units UTF-16 units; text itself where it has no line break or tab, else a
// view of line.
std::string_view CellLine(std::string_view text, size_t units, std::string& line);

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
// Index of the Statement column, and of the first of the detail columns after it.
constexpr int StatementColumn = 3;
constexpr int FirstDetailColumn = 4;
constexpr int ColumnCount = 7;
// Gives the detail columns of the kinds in mask (TraceMaskRows, ...Binds, ...Errors)
// their widths, where they have none yet; true when any column changed.
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
