#include "TraceFilter.h"

#include "StatementTotals.h"
#include "Utils.h"

#include <windows.h>

#include <algorithm>

namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::wstring WideLower(std::string_view text)
{
    std::wstring wide = Utf8ToWide(text);
    if (!wide.empty())
        CharLowerBuffW(wide.data(), static_cast<DWORD>(wide.size()));
    return wide;
}

} // namespace

// ---------------------------------------------------------------------------
// TTextMatcher

TTextMatcher::TTextMatcher(std::string_view needle) : FNeedle(needle), FAscii(IsAscii(needle))
{
    FLower.resize(FNeedle.size());
    std::transform(FNeedle.begin(), FNeedle.end(), FLower.begin(), AsciiLower);
    FWideLower = WideLower(FNeedle);
}

bool TTextMatcher::Matches(std::string_view text) const
{
    if (FNeedle.empty())
        return true;
    text = text.substr(0, text.find('\0'));
    std::string line;
    if (!IsSingleLine(text)) {
        line = SingleLineText(text);
        text = line;
    }
    if (FAscii && IsAscii(text)) {
        auto same = [](char a, char b) { return AsciiLower(a) == b; };
        return std::search(text.begin(), text.end(), FLower.begin(), FLower.end(), same) != text.end();
    }
    return WideLower(text).find(FWideLower) != std::wstring::npos;
}

bool TTextMatcher::Narrows(const TTextMatcher& older) const
{
    return FWideLower.find(older.FWideLower) != std::wstring::npos;
}

// ---------------------------------------------------------------------------
// TTraceFilter

void TTraceFilter::SetText(std::string_view text)
{
    if (std::optional<double> least = SlowerThanMs(text)) {
        bool narrowing = FMode == TMode::Slower && *least >= FSlowerThan;
        FMatcher = TTextMatcher();
        FMode = TMode::Slower;
        FSlowerThan = *least;
        FStatement = -1;
        Refilter(narrowing);
        return;
    }
    TTextMatcher matcher(text);
    bool narrowing = FMode == TMode::Text && matcher.Narrows(FMatcher);
    FMatcher = std::move(matcher);
    FMode = FMatcher.Empty() ? TMode::All : TMode::Text;
    FStatement = -1;
    Refilter(narrowing);
}

void TTraceFilter::SetStatement(int32_t statement, std::function<int32_t(int32_t)> group)
{
    FMatcher = TTextMatcher();
    FMode = TMode::Statement;
    FStatement = statement;
    FGroup = std::move(group);
    Refilter(false);
}

void TTraceFilter::Refilter(bool narrowing)
{
    FTextMatches.clear();
    if (FMode == TMode::All) {
        FShown.clear();
        FShown.shrink_to_fit();
        FChecked = FRows.RowCount();
        return;
    }
    // A text typed on needs only the rows the shorter one showed.
    if (narrowing) {
        FShown.erase(std::remove_if(FShown.begin(), FShown.end(), [this](int row) { return !Shows(row); }),
                     FShown.end());
        return;
    }
    FShown.clear();
    FChecked = 0;
    RowsAdded();
}

void TTraceFilter::RowsAdded()
{
    int count = FRows.RowCount();
    if (FMode != TMode::All)
        for (int row = FChecked; row < count; ++row)
            if (Shows(row))
                FShown.push_back(row);
    FChecked = count;
}

bool TTraceFilter::TextMatches(uint32_t id)
{
    if (id >= FTextMatches.size())
        FTextMatches.resize(FRows.DistinctTexts(), 0);
    uint8_t& known = FTextMatches[id];
    if (known == 0)
        known = FMatcher.Matches(FRows.Text(id)) ? 2 : 1;
    return known == 2;
}

bool TTraceFilter::Shows(int row)
{
    switch (FMode) {
    case TMode::All:
        return true;
    case TMode::Statement:
        return (FGroup ? FGroup(FRows.Tag(row)) : FRows.Tag(row)) == FStatement;
    case TMode::Slower:
        // Rows of no call have a negative time: none of them took that long.
        return FRows.Milliseconds(row) >= 0 && FRows.Milliseconds(row) >= static_cast<float>(FSlowerThan);
    case TMode::Text:
        break;
    }
    uint32_t ids[1 + TTraceRows::MaxSubItems];
    int count = FRows.CellIds(row, ids);
    for (int k = 0; k < count; ++k)
        if (TextMatches(ids[k]))
            return true;
    return false;
}

bool TTraceFilter::RowChanged(int row)
{
    // Rows not yet looked at are looked at as they are when RowsAdded comes to them.
    if (FMode == TMode::All || row >= FChecked)
        return false;
    auto place = std::lower_bound(FShown.begin(), FShown.end(), row);
    bool shown = place != FShown.end() && *place == row;
    if (Shows(row) == shown)
        return false;
    if (shown)
        FShown.erase(place);
    else
        FShown.insert(place, row);
    return true;
}

void TTraceFilter::Clear()
{
    FShown.clear();
    FTextMatches.clear();
    FChecked = 0;
}

int TTraceFilter::RowCount() const
{
    return FMode == TMode::All ? FRows.RowCount() : static_cast<int>(FShown.size());
}

void TTraceFilter::GetRow(int index, TListRow& row) const { FRows.GetRow(RowOf(index), row); }

bool TTraceFilter::AllAscii() const { return FMode == TMode::All ? FRows.AllAscii() : TRowSource::AllAscii(); }

bool TTraceFilter::AnyOptionalCells() const
{
    return FMode == TMode::All ? FRows.AnyOptionalCells() : TRowSource::AnyOptionalCells();
}

int TTraceFilter::IndexOf(int row) const
{
    if (FMode == TMode::All)
        return row >= 0 && row < FRows.RowCount() ? row : -1;
    auto place = std::lower_bound(FShown.begin(), FShown.end(), row);
    return place != FShown.end() && *place == row ? static_cast<int>(place - FShown.begin()) : -1;
}
