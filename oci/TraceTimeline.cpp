#include "TraceTimeline.h"

#include "OCITexts.h"
#include "SqlId.h"
#include "Utils.h"

#include <nlohmann/json.hpp>

#include <cmath>

using json = nlohmann::ordered_json;

namespace {

// Strings are escaped by the library: no raw control character reaches the file.
std::string Text(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

json Metadata(const char* name, DWORD pid, DWORD tid, const std::string& value)
{
    return {{"name", name}, {"ph", "M"}, {"pid", pid}, {"tid", tid}, {"args", {{"name", value}}}};
}

} // namespace

TTimelineWriter::TTimelineWriter(DWORD processId, const std::string& program)
    : FProcessId(processId), FProgram(program)
{
}

std::string TTimelineWriter::Head() const
{
    return "{\"displayTimeUnit\":\"ms\",\"traceEvents\":[\n" +
           Text(Metadata("process_name", FProcessId, 0, ExtractFileName(FProgram)));
}

const std::string& TTimelineWriter::SqlIdOfText(const std::string& statement)
{
    auto found = FSqlIds.find(statement);
    if (found == FSqlIds.end())
        found = FSqlIds.emplace(statement, SqlIdOf(statement)).first;
    return found->second;
}

std::string TTimelineWriter::Event(const TTraceRecord& record)
{
    std::string text;
    if (FThreads.insert(record.Thread).second)
        text += ",\n" + Text(Metadata("thread_name", FProcessId, record.Thread,
                                      "Thread " + std::to_string(record.Thread)));
    json args = {{"statement", record.Statement}, {"result", OCIResultText(record.Result)}};
    bool statementRow = record.Action == TTraceAction::Prepare || record.Action == TTraceAction::Execute ||
                        record.Action == TTraceAction::Fetch;
    if (statementRow && !record.Statement.empty())
        args["sql_id"] = SqlIdOfText(record.Statement);
    if (record.Rows >= 0)
        args["rows"] = record.Rows;
    if (!record.Binds.Empty())
        args["binds"] = BindsText(record.Binds);
    if (!record.Error.empty())
        args["error"] = record.Error;
    json event = {{"name", ActionText(record)},
                  {"ph", "X"},
                  {"ts", record.StartMicroseconds},
                  {"dur", std::llround(record.ElapsedDays * MSecsPerDay * 1000)},
                  {"pid", FProcessId},
                  {"tid", record.Thread},
                  {"args", std::move(args)}};
    return text + ",\n" + Text(event);
}
