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
#include <string>
#include <string_view>
#include <unordered_map>

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

// The rows of the trace list: a caption and up to three sub-items each, in arrival order.
class TTraceRows : public TRowSource {
public:
    static constexpr int MaxSubItems = 3;

    // Appends a row and returns its index.
    int Add(const TListRow& row);
    void Clear();

    int RowCount() const override { return static_cast<int>(FRows.size()); }
    void GetRow(int index, TListRow& row) const override;
    // From the distinct texts, not the rows.
    bool AllAscii() const override;
    int SubItemCount(int index) const;
    // Column 0 is the caption, column k the k-th sub-item; "" beyond the row's sub-items.
    const std::string& CellText(int index, int column) const;
    size_t DistinctTexts() const { return FPool.Count(); }

private:
    struct TRow {
        uint32_t Cells[1 + MaxSubItems];
        uint8_t SubItemCount;
    };
    const TRow& Row(int index) const;

    std::deque<TRow> FRows;
    TStringPool FPool;
};

// A statement as the memo shows it: up to its first zero byte, each line break (CR LF,
// a lone CR or a lone LF) made the CR LF that starts a new line of an edit control.
std::string MemoText(const std::string& statement);

// At most units UTF-16 units of a UTF-8 text, up to its first zero byte as a C string
// would end; a character that would not fit whole is left out, not cut in half. Only that
// much of the text is converted.
std::wstring WidePrefix(std::string_view text, size_t units);

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

// What a paint of the list reads of it once, at its start, for all the rows it paints.
struct TPaintState {
    TColumns Columns;
    HFONT Font = nullptr;
    // Reads the columns and the font from the list.
    void Read(HWND list);
};

// The report list with its columns, a Unicode window: owner data, grid lines, whole-row selection,
// one selected row, read-only, headers that do not sort.
HWND Create(HWND parent, int id, HFONT font);
// The parent passes every LVN_ITEMCHANGED of the list here, so that the list knows its
// selected row without asking itself (see TraceList.cpp), and a row whose selection
// changed is repainted whole.
void ItemChanged(HWND list, const NMLISTVIEW& change);
// Tells the view the new row count after rows were appended. While the last row was in
// view it scrolls to the new last row; otherwise neither the view nor the selection moves.
void RowsAppended(HWND list, int oldCount, int newCount);
// Answers LVN_GETDISPINFOW from the rows (their UTF-8 texts in UTF-16). The list asks in
// UTF-16 when its parent answers its WM_NOTIFYFORMAT with NFR_UNICODE (see NotifyFormat).
void GetDispInfo(const TTraceRows& rows, NMLVDISPINFOW& info);
// The paint state of a list made by Create (nullptr for any other window).
TPaintState* PaintStateOf(HWND list);
// The answer to WM_NOTIFYFORMAT for the list's parent: how the control with the id of the
// list (it asks while it is being created) is to notify.
constexpr LRESULT NotifyFormat = NFR_UNICODE;

} // namespace TraceListView
