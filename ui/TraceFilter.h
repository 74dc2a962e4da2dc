// Which rows of the trace list are shown: all of them, those with a cell that contains a
// text (the filter box), or those of one statement (a line of the statements view
// double-clicked). The list view shows the rows shown, and Save log writes them.
//
// A million rows are filtered in a few milliseconds: whether a text matches is worked out
// once per distinct text of the row store, and a row is then matched by its texts' ids.
#pragma once

#include "TraceList.h"
#include "TraceRows.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A case-insensitive search for a text within texts as a list cell shows them: on one line
// (SingleLineText) and up to a zero byte. Both are UTF-8; letters beyond ASCII are
// compared in the system's lower case.
class TTextMatcher {
public:
    explicit TTextMatcher(std::string_view needle = {});
    bool Empty() const { return FNeedle.empty(); }
    const std::string& Needle() const { return FNeedle; }
    bool Matches(std::string_view text) const;
    // Whether every text this matcher finds is one that older finds too.
    bool Narrows(const TTextMatcher& older) const;

private:
    std::string FNeedle;
    bool FAscii = true;
    std::string FLower;
    std::wstring FWideLower;
};

class TTraceFilter : public TRowSource {
public:
    enum class TMode { All, Text, Statement, Slower };

    explicit TTraceFilter(const TTraceRows& rows) : FRows(rows) {}

    TMode Mode() const { return FMode; }
    // Rows with a cell that contains text; "" shows every row; ">=N ms" the calls that took
    // at least N milliseconds.
    void SetText(std::string_view text);
    // Rows whose number (TTraceRows::Tag) is statement, or, given group, whose number's
    // group is.
    void SetStatement(int32_t statement, std::function<int32_t(int32_t)> group = {});
    int32_t Statement() const { return FStatement; }
    void ShowAll() { SetText({}); }

    // Takes in the rows appended to the store since the last call.
    void RowsAdded();
    // The stored row changed: it is shown or not by what it holds now. Returns whether that
    // changed.
    bool RowChanged(int row);
    // The store was emptied.
    void Clear();

    // The rows shown.
    int RowCount() const override;
    void GetRow(int index, TListRow& row) const override;
    bool AllAscii() const override;
    bool AnyOptionalCells() const override;
    // The stored row shown at index, and the place where a stored row is shown (-1: not).
    int RowOf(int index) const { return FMode == TMode::All ? index : FShown[static_cast<size_t>(index)]; }
    int IndexOf(int row) const;
    const TTraceRows& Rows() const { return FRows; }

private:
    bool Shows(int row);
    bool TextMatches(uint32_t id);
    void Refilter(bool narrowing);

    const TTraceRows& FRows;
    TMode FMode = TMode::All;
    TTextMatcher FMatcher;
    int32_t FStatement = -1;
    double FSlowerThan = 0;
    std::function<int32_t(int32_t)> FGroup;
    // By text id: 0 not yet known, 1 no match, 2 a match.
    std::vector<uint8_t> FTextMatches;
    // The stored rows shown, ascending (not kept while every row is shown).
    std::vector<int> FShown;
    // Rows of the store looked at so far.
    int FChecked = 0;
};
