#include "TraceFile.h"

#include "Errors.h"
#include "OCITexts.h"
#include "SqlId.h"
#include "TransactionCalls.h"
#include "Utils.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <iterator>
#include <sstream>

using nlohmann::json;
// Written in the order the fields are set, so that a line reads from its action on.
using TOrderedJson = nlohmann::ordered_json;

namespace {

constexpr const char* FormatName = "velloran-trace";
constexpr int FormatVersion = 1;

constexpr const char* ActionWords[] = {"Prepare", "Execute",  "Fetch",    "Connect", "Disconnect", "Commit",
                                       "Rollback", "LobRead",  "LobWrite", "LobLength", "LobTrim",   "Ping",
                                       "Begin",    "PrepareCommit", "Forget", "Detach"};
static_assert(std::size(ActionWords) == static_cast<size_t>(TTraceAction::Detach) + 1);

// The rows of a session rather than of a statement: their statement cell is the session's
// label.
bool IsSessionAction(TTraceAction action)
{
    return action == TTraceAction::Connect || action == TTraceAction::Disconnect || action == TTraceAction::Commit ||
           action == TTraceAction::Rollback;
}

// The rows of a statement, as the statements view counts them: its calls and its LOB calls.
bool IsStatementAction(TTraceAction action)
{
    return action <= TTraceAction::Fetch || (action >= TTraceAction::LobRead && action <= TTraceAction::LobTrim);
}

// Bytes that are not UTF-8 (they should not reach a record) become U+FFFD rather than
// failing the whole file.
std::string Dumped(const TOrderedJson& value)
{
    return value.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

TOrderedJson BindsJson(const TBindRows& binds)
{
    TOrderedJson rows = TOrderedJson::array();
    for (const auto& row : binds.Rows) {
        TOrderedJson items = TOrderedJson::array();
        for (const TBindItem& item : row)
            items.push_back({{"name", item.Name}, {"value", item.Value}});
        rows.push_back(std::move(items));
    }
    return rows;
}

// Reading: every field is checked for its type, and a wrong one names itself.
[[noreturn]] void Refuse(const std::string& what) { throw ETraceFileError(what); }

template <class T>
T Field(const json& object, const char* name, T fallback)
{
    auto found = object.find(name);
    if (found == object.end() || found->is_null())
        return fallback;
    try {
        return found->get<T>();
    } catch (const json::exception&) {
        Refuse(std::string("field \"") + name + "\" has the wrong type");
    }
}

TTraceAction ActionOf(const std::string& word)
{
    for (size_t k = 0; k < std::size(ActionWords); ++k)
        if (word == ActionWords[k])
            return static_cast<TTraceAction>(k);
    Refuse("unknown action \"" + word + "\"");
}

TBindRows BindsOf(const json& row)
{
    TBindRows binds;
    auto found = row.find("binds");
    if (found == row.end())
        return binds;
    if (!found->is_array())
        Refuse("field \"binds\" has the wrong type");
    for (const json& items : *found) {
        if (!items.is_array())
            Refuse("field \"binds\" has the wrong type");
        auto& out = binds.Rows.emplace_back();
        for (const json& item : items) {
            if (!item.is_object())
                Refuse("field \"binds\" has the wrong type");
            out.push_back({Field<std::string>(item, "name", ""), Field<std::string>(item, "value", "")});
        }
    }
    binds.RowCount = Field<uint32_t>(row, "bind_rows", static_cast<uint32_t>(binds.Rows.size()));
    return binds;
}

TTraceFileRow RowOf(const json& row)
{
    if (!row.is_object())
        Refuse("a row is not an object");
    TTraceFileRow out;
    out.Mark = Field<std::string>(row, "mark", "");
    if (!out.Mark.empty())
        return out;
    TTraceRecord& record = out.Record;
    auto action = row.find("action");
    if (action == row.end())
        Refuse("a row without \"action\" or \"mark\"");
    record.Action = ActionOf(Field<std::string>(row, "action", ""));
    record.FetchRows = Field<int32_t>(row, "fetch_rows", 0);
    record.Thread = Field<DWORD>(row, "thread", 0);
    record.StartMicroseconds = Field<int64_t>(row, "start_us", 0);
    double days = Field<double>(row, "elapsed_days", NAN);
    record.ElapsedDays = std::isnan(days) ? Field<double>(row, "elapsed_us", 0) / (MSecsPerDay * 1000) : days;
    record.Result = Field<int32_t>(row, "result", 0);
    record.Statement = Field<std::string>(row, "statement", "");
    record.CommitsOnSuccess = Field<bool>(row, "commits", false);
    record.Rows = Field<int64_t>(row, "rows", -1);
    record.Binds = BindsOf(row);
    record.Error = Field<std::string>(row, "error", "");
    record.Note = Field<std::string>(row, "note", "");
    return out;
}

TTraceFileHeader HeaderOf(const json& line)
{
    if (!line.is_object() || Field<std::string>(line, "format", "") != FormatName)
        Refuse("not a Velloran trace");
    int version = Field<int>(line, "version", 0);
    if (version < 1 || version > FormatVersion)
        Refuse("a trace of version " + std::to_string(version) + ", this program reads version " +
               std::to_string(FormatVersion));
    TTraceFileHeader header;
    header.Program = Field<std::string>(line, "program", "");
    header.ProcessId = Field<DWORD>(line, "pid", 0);
    header.Bits = Field<int>(line, "bits", 0);
    header.Started = Field<std::string>(line, "started", "");
    header.Hooks = Field<std::string>(line, "hooks", "");
    header.Trace = Field<std::string>(line, "trace", "");
    header.HideValues = Field<bool>(line, "hide_values", false);
    return header;
}

} // namespace

std::string TraceFileHeaderLine(const TTraceFileHeader& header)
{
    TOrderedJson line = {{"format", FormatName},     {"version", FormatVersion},  {"program", header.Program},
                 {"pid", header.ProcessId},  {"bits", header.Bits},       {"started", header.Started},
                 {"hooks", header.Hooks},    {"trace", header.Trace},     {"hide_values", header.HideValues}};
    return Dumped(line);
}

std::string TraceFileRowLine(const TTraceFileRow& row)
{
    TTraceFileWriter writer;
    return writer.RowLine(row);
}

const std::string& TTraceFileWriter::SqlIdOfText(const std::string& statement)
{
    auto found = FSqlIds.find(statement);
    if (found == FSqlIds.end())
        found = FSqlIds.emplace(statement, SqlIdOf(statement)).first;
    return found->second;
}

std::string TTraceFileWriter::RowLine(const TTraceFileRow& row)
{
    if (!row.Mark.empty())
        return Dumped(TOrderedJson{{"mark", row.Mark}});
    const TTraceRecord& record = row.Record;
    TOrderedJson line = TOrderedJson::object();
    line["action"] = ActionWords[static_cast<size_t>(record.Action)];
    if (record.Action == TTraceAction::Fetch)
        line["fetch_rows"] = record.FetchRows;
    line["thread"] = record.Thread;
    line["start_us"] = record.StartMicroseconds;
    line["elapsed_us"] = std::llround(record.ElapsedDays * MSecsPerDay * 1000);
    // The exact value, from which the Time cell is written.
    line["elapsed_days"] = record.ElapsedDays;
    line["result"] = record.Result;
    line["result_name"] = OCIResultText(record.Result);
    line["statement"] = record.Statement;
    // Read back from the statement; there for other readers of the file.
    // The SQL_ID of the statement the statements view counts the row under.
    if (IsStatementAction(record.Action) && !record.Statement.empty())
        line["sql_id"] = SqlIdOfText(std::string(WithoutImplicitResult(record.Statement)));
    else if (IsSessionAction(record.Action) && !record.Statement.empty())
        line["session"] = record.Statement;
    if (record.CommitsOnSuccess)
        line["commits"] = true;
    if (record.Rows >= 0)
        line["rows"] = record.Rows;
    if (!record.Binds.Empty()) {
        line["binds"] = BindsJson(record.Binds);
        line["bind_rows"] = record.Binds.RowCount;
    }
    if (!record.Error.empty())
        line["error"] = record.Error;
    if (!record.Note.empty())
        line["note"] = record.Note;
    return Dumped(line);
}

TTraceFile ParseTraceFile(const std::string& text)
{
    TTraceFile file;
    size_t start = 0;
    for (int number = 1; start < text.size(); ++number) {
        size_t end = text.find('\n', start);
        bool complete = end != std::string::npos;
        std::string_view line(text.data() + start, (complete ? end : text.size()) - start);
        start = complete ? end + 1 : text.size();
        try {
            json value = json::parse(line);
            if (number == 1)
                file.Header = HeaderOf(value);
            else
                file.Rows.push_back(RowOf(value));
        } catch (const std::exception& e) {
            // A capture cut short leaves its last line unfinished: the lines before it hold.
            if (!complete && number > 1 && dynamic_cast<const json::parse_error*>(&e)) {
                file.CutShort = true;
                break;
            }
            bool notJson = dynamic_cast<const json::parse_error*>(&e) != nullptr;
            std::string what = !notJson ? e.what() : number == 1 ? "not a Velloran trace" : "not a line of JSON";
            throw ETraceFileError("line " + std::to_string(number) + ": " + what);
        }
    }
    if (text.empty())
        throw ETraceFileError("line 1: not a Velloran trace");
    return file;
}

TTraceFile LoadTraceFile(const std::string& fileName)
{
    std::ifstream in(fileName, std::ios::binary);
    if (!in)
        throw std::runtime_error("Unable to open " + fileName);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return ParseTraceFile(text);
}

std::string TraceKindWords(TTraceMask mask)
{
    std::string words;
    for (const TTraceMaskBit& bit : TraceMaskBits)
        if (mask & bit.Bit) {
            if (!words.empty())
                words += ',';
            words += bit.Word;
        }
    return words;
}

std::string TraceStartedNow()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return Format("%04u-%02u-%02uT%02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                  now.wSecond);
}
