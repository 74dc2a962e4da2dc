// The trace list's rows are kept by the program, not by the list view: the view is an
// owner-data report list that holds only a row count and asks for the texts of the rows
// it draws. Traces of a million rows are ordinary, so a row is a few text ids, and every
// distinct text (above all the SQL, which repeats) is stored once.
#pragma once

#include "RowExport.h"
#include "TraceColumns.h"

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

// The rows of the trace list: a caption and a sub-item per further column of
// TraceColumns each, in arrival order, and a number the owner keeps with each (the
// window: the row's statement, -1 for none).
class TTraceRows : public TRowSource {
public:
    static constexpr int MaxSubItems = TraceColumnCount - 1;

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
    const std::string& BindLinesText(int index) const;
    const std::string& ServerSqlIdText(int index) const;
    // The SQL id of the text in the row's column (SqlIdOf; of an implicit result, its
    // parent's text), computed once per distinct text.
    const std::string& SqlIdOfCell(int index, int column) const;
    size_t DistinctTexts() const { return FPool.Count(); }
    int32_t Tag(int index) const { return Row(index).Tag; }
    // How long the row's call took (TListRow::Milliseconds).
    float Milliseconds(int index) const { return Row(index).Milliseconds; }
    // The ids of the row's texts, caption first (Text gives them); returns how many.
    int CellIds(int index, uint32_t (&ids)[1 + MaxSubItems]) const;
    const std::string& Text(uint32_t id) const { return FPool.Text(id); }

private:
    // A row's texts by slot: its cells in column order, then its note and its bind lines.
    static constexpr int NoteSlot = 1 + MaxSubItems;
    static constexpr int BindLinesSlot = NoteSlot + 1;
    static constexpr int ServerSqlIdSlot = BindLinesSlot + 1;
    static constexpr int Slots = ServerSqlIdSlot + 1;
    // Most rows have no optional cells, note or binds: a row keeps the ids of its fixed
    // cells, and those of the rest only where one of them is not empty, apart.
    static constexpr int RowCells = FixedTraceColumns();
    struct TExtra {
        uint32_t Ids[Slots - RowCells];
    };
    struct TRow {
        uint32_t Cells[RowCells];
        // 1 + the index of the row's extra cells, 0 for none.
        uint32_t Extra;
        int32_t Tag;
        float Milliseconds;
        uint8_t SubItemCount;
    };
    const TRow& Row(int index) const;
    void Ids(const TRow& row, uint32_t (&ids)[Slots]) const;
    const std::string& SlotText(int index, int slot) const;
    // Interns the texts of row; extra names the slot its extra cells go to, if any (0:
    // a new one).
    TRow Store(const TListRow& row, int32_t tag, uint32_t extra);

    TBlockArray<TRow> FRows;
    TBlockArray<TExtra> FExtras;
    TStringPool FPool;
    bool FOptionalCells = false;
    // SQL ids by text id, as they are asked for.
    mutable std::unordered_map<uint32_t, std::string> FSqlIds;
};

// A statement as the memo shows it: up to its first zero byte, each line break (CR LF,
// a lone CR or a lone LF) made the CR LF that starts a new line of an edit control. Then
// the SQL id line, if any, the lines of its binds (BindMemoLines), and on lines of their
// own the row's note and the error text.
std::string MemoText(const std::string& statement, const std::string& bindLines = "", const std::string& error = "",
                     const std::string& note = "", const std::string& sqlIdLine = "");
// The memo's SQL id line: "SQL_ID a5ks9fhw2v9s1", and " (server: 9babjv8yq8ru3)" after it
// when the server gave the statement another id.
std::string SqlIdLine(const std::string& sqlId, const std::string& serverSqlId);

// At most units UTF-16 units of a UTF-8 text, up to its first zero byte as a C string
// would end; a character that would not fit whole is left out, not cut in half. Only that
// much of the text is converted.
std::wstring WidePrefix(std::string_view text, size_t units);
// The beginning of a text as a list cell shows it, on one line (SingleLineText), long
// enough for units UTF-16 units; text itself where it has no line break or tab, else a
// view of line.
std::string_view CellLine(std::string_view text, size_t units, std::string& line);

