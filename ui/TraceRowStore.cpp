#include "TraceRowStore.h"

#include "Errors.h"
#include "SqlId.h"
#include "StatementTotals.h"
#include "TransactionCalls.h"
#include "Utils.h"

#include <algorithm>
#include <iterator>

namespace {
// Its assertions name the unit the rows began in.
const char* const Unit = "TraceList";
}

// ---------------------------------------------------------------------------
// TStringPool

TStringPool::TStringPool() { Clear(); }

uint32_t TStringPool::Intern(std::string_view text)
{
    auto found = FIds.find(text);
    if (found != FIds.end())
        return found->second;
    auto id = static_cast<uint32_t>(FTexts.size());
    // A deque never moves its elements, so the key may view the stored string.
    const std::string& stored = FTexts.emplace_back(text);
    FIds.emplace(std::string_view(stored), id);
    return id;
}

void TStringPool::Clear()
{
    FIds.clear();
    FTexts.clear();
    FTexts.emplace_back();
    FIds.emplace(std::string_view(FTexts.front()), 0);
}

// ---------------------------------------------------------------------------
// TTraceRows

TTraceRows::TRow TTraceRows::Store(const TListRow& row, int32_t tag, uint32_t extra)
{
    VASSERT(row.SubItems.size() <= MaxSubItems, Unit);
    uint32_t ids[Slots] = {};
    ids[0] = FPool.Intern(row.Caption);
    for (size_t k = 0; k < row.SubItems.size(); ++k)
        ids[k + 1] = FPool.Intern(row.SubItems[k]);
    ids[NoteSlot] = FPool.Intern(row.Note);
    ids[BindLinesSlot] = FPool.Intern(row.BindLines);
    ids[ServerSqlIdSlot] = FPool.Intern(row.ServerSqlId);
    TRow stored{};
    stored.Tag = tag;
    stored.Milliseconds = static_cast<float>(row.Milliseconds);
    stored.SubItemCount = static_cast<uint8_t>(row.SubItems.size());
    std::copy(ids, ids + RowCells, stored.Cells);
    if (extra != 0 || std::any_of(ids + RowCells, std::end(ids), [](uint32_t id) { return id != 0; })) {
        TExtra cells{};
        std::copy(ids + RowCells, std::end(ids), cells.Ids);
        if (extra == 0) {
            FExtras.push_back(cells);
            extra = static_cast<uint32_t>(FExtras.size());
        } else
            FExtras[extra - 1] = cells;
        stored.Extra = extra;
    }
    FOptionalCells = FOptionalCells || HasOptionalCells(row);
    return stored;
}

void TTraceRows::Ids(const TRow& row, uint32_t (&ids)[Slots]) const
{
    std::copy(std::begin(row.Cells), std::end(row.Cells), ids);
    std::fill(ids + RowCells, std::end(ids), 0);
    if (row.Extra != 0) {
        const TExtra& extra = FExtras[row.Extra - 1];
        std::copy(std::begin(extra.Ids), std::end(extra.Ids), ids + RowCells);
    }
}

int TTraceRows::Add(const TListRow& row, int32_t tag)
{
    FRows.push_back(Store(row, tag, 0));
    return RowCount() - 1;
}

void TTraceRows::Set(int index, const TListRow& row, int32_t tag)
{
    // A row that had extra cells keeps their slot, so that updates take no more room.
    uint32_t extra = Row(index).Extra;
    FRows[static_cast<size_t>(index)] = Store(row, tag, extra);
}

int TTraceRows::CellIds(int index, uint32_t (&ids)[1 + MaxSubItems]) const
{
    const TRow& stored = Row(index);
    uint32_t all[Slots];
    Ids(stored, all);
    std::copy(all, all + 1 + MaxSubItems, ids);
    return 1 + stored.SubItemCount;
}

void TTraceRows::Clear()
{
    FRows.clear();
    FExtras.clear();
    FPool.Clear();
    FSqlIds.clear();
    FOptionalCells = false;
}

const TTraceRows::TRow& TTraceRows::Row(int index) const
{
    if (index < 0 || index >= RowCount())
        throw EListError(index);
    return FRows[static_cast<size_t>(index)];
}

void TTraceRows::GetRow(int index, TListRow& row) const
{
    const TRow& stored = Row(index);
    uint32_t ids[Slots];
    Ids(stored, ids);
    row.Caption = FPool.Text(ids[0]);
    row.SubItems.resize(stored.SubItemCount);
    for (int k = 0; k < stored.SubItemCount; ++k)
        row.SubItems[static_cast<size_t>(k)] = FPool.Text(ids[k + 1]);
    row.Note = FPool.Text(ids[NoteSlot]);
    row.BindLines = FPool.Text(ids[BindLinesSlot]);
    row.ServerSqlId = FPool.Text(ids[ServerSqlIdSlot]);
    row.Milliseconds = stored.Milliseconds;
}

bool TTraceRows::AllAscii() const
{
    for (size_t id = 0; id < FPool.Count(); ++id)
        if (!IsAscii(FPool.Text(static_cast<uint32_t>(id))))
            return false;
    return true;
}

int TTraceRows::SubItemCount(int index) const { return Row(index).SubItemCount; }

const std::string& TTraceRows::CellText(int index, int column) const
{
    const TRow& stored = Row(index);
    if (column < 0 || column > stored.SubItemCount)
        return FPool.Text(0);
    return SlotText(index, column);
}

const std::string& TTraceRows::SlotText(int index, int slot) const
{
    const TRow& stored = Row(index);
    if (slot < RowCells)
        return FPool.Text(stored.Cells[slot]);
    return stored.Extra == 0 ? FPool.Text(0) : FPool.Text(FExtras[stored.Extra - 1].Ids[slot - RowCells]);
}

const std::string& TTraceRows::NoteText(int index) const { return SlotText(index, NoteSlot); }

const std::string& TTraceRows::BindLinesText(int index) const { return SlotText(index, BindLinesSlot); }

const std::string& TTraceRows::ServerSqlIdText(int index) const { return SlotText(index, ServerSqlIdSlot); }

const std::string& TTraceRows::SqlIdOfCell(int index, int column) const
{
    uint32_t ids[Slots];
    Ids(Row(index), ids);
    uint32_t id = ids[column];
    auto known = FSqlIds.find(id);
    if (known == FSqlIds.end())
        known = FSqlIds.emplace(id, SqlIdOf(WithoutImplicitResult(FPool.Text(id)))).first;
    return known->second;
}

std::wstring WidePrefix(std::string_view text, size_t units)
{
    text = text.substr(0, text.find('\0'));
    // No character takes more than four bytes.
    if (text.size() / 4 > units)
        text = text.substr(0, units * 4);
    std::wstring wide = Utf8ToWide(text);
    if (wide.size() > units) {
        size_t n = units;
        if (n > 0 && IS_HIGH_SURROGATE(wide[n - 1]))
            --n;
        wide.resize(n);
    }
    return wide;
}

std::string_view CellLine(std::string_view text, size_t units, std::string& line)
{
    text = text.substr(0, text.find('\0'));
    if (IsSingleLine(text))
        return text;
    // No character takes more than four bytes, and a line break at most two.
    line = SingleLineText(text.substr(0, 4 * units + 4));
    return line;
}

// Up to the first zero byte, every line break a CR LF.
static std::string MemoLines(const std::string& statement)
{
    std::string text;
    text.reserve(statement.size() + 16);
    for (size_t i = 0; i < statement.size() && statement[i] != '\0'; ++i) {
        char c = statement[i];
        if (c == '\r' || c == '\n') {
            text += "\r\n";
            if (c == '\r' && i + 1 < statement.size() && statement[i + 1] == '\n')
                ++i;
        } else {
            text += c;
        }
    }
    return text;
}

std::string SqlIdLine(const std::string& sqlId, const std::string& serverSqlId)
{
    std::string line = "SQL_ID " + sqlId;
    if (!serverSqlId.empty() && serverSqlId != sqlId)
        line += " (server: " + serverSqlId + ")";
    return line;
}

std::string MemoText(const std::string& statement, const std::string& bindLines, const std::string& error,
                     const std::string& note, const std::string& sqlIdLine)
{
    std::string text = MemoLines(statement);
    if (!sqlIdLine.empty())
        text += "\r\n" + sqlIdLine;
    text += bindLines;
    if (!note.empty())
        text += "\r\n" + note;
    if (!error.empty())
        text += "\r\n" + MemoLines(error);
    return text;
}
