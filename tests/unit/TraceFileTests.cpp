#include "TraceFile.h"
#include "SqlId.h"
#include "TraceRows.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TTraceFileRow CallRow(TTraceAction action, std::string statement, double days)
{
    TTraceFileRow row;
    row.Record.Action = action;
    row.Record.Statement = std::move(statement);
    row.Record.ElapsedDays = days;
    return row;
}

std::vector<TTraceFileRow> HostileRows()
{
    std::vector<TTraceFileRow> rows;
    rows.push_back({"Start", {}});
    auto quoted = CallRow(TTraceAction::Execute, "SELECT '\"\\' FROM t\r\nWHERE x = '\x01\x1f\t' -- \xC3\xA9\xE2\x80\xA8", 1e-9 / 3);
    quoted.Record.Thread = 0xFFFFFFFF;
    quoted.Record.StartMicroseconds = 1234567890123;
    quoted.Record.Result = -1;
    quoted.Record.Rows = 0;
    quoted.Record.CommitsOnSuccess = true;
    quoted.Record.Binds = {{{{":a\"", "'x\ny'"}, {"", ""}}, {{":a\"", "NULL"}}}, 250};
    quoted.Record.Error = "ORA-01403: no data found\n\"\\";
    rows.push_back(quoted);
    auto fetch = CallRow(TTraceAction::Fetch, std::string(70000, 'S'), 0.1234567890123456789);
    fetch.Record.FetchRows = -5;
    rows.push_back(fetch);
    rows.push_back(CallRow(TTraceAction::Connect, "scott@//db/x", 0));
    rows.push_back(CallRow(TTraceAction::Rollback, "", 7.0 / 86400000.0));
    auto lob = CallRow(TTraceAction::LobRead, "SELECT doc FROM t", 1e-9);
    lob.Record.Rows = 4000;
    lob.Record.Note = "Offset 1, piece \"first\"";
    rows.push_back(lob);
    rows.push_back(CallRow(TTraceAction::Detach, "", 2e-9));
    rows.push_back({"Finish", {}});
    return rows;
}

} // namespace

// What is written comes back the same: the same lines when written again, the same cells
// of every row (what the exports are made of), the binds and details the memo shows.
TEST(TraceFile, HostileRowsComeBackAsTheyWereWritten)
{
    TTraceFileHeader header{"C:\\app\\\xC3\xA9 x.exe", 4242, 64, "2024-05-01T09:30:00", "log", "execute,binds", true};
    std::string text = TraceFileHeaderLine(header);
    auto rows = HostileRows();
    for (const auto& row : rows)
        text += TraceFileRowLine(row);
    for (char c : text)
        ASSERT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << "no raw control character in a file";

    TTraceFile file = ParseTraceFile(text);
    EXPECT_FALSE(file.CutShort);
    EXPECT_EQ(TraceFileHeaderLine(file.Header), TraceFileHeaderLine(header));
    ASSERT_EQ(file.Rows.size(), rows.size());
    std::string again = TraceFileHeaderLine(file.Header);
    for (size_t i = 0; i < rows.size(); ++i) {
        again += TraceFileRowLine(file.Rows[i]);
        EXPECT_EQ(file.Rows[i].Mark, rows[i].Mark);
        const TTraceRecord& was = rows[i].Record;
        const TTraceRecord& is = file.Rows[i].Record;
        EXPECT_EQ(is.ElapsedDays, was.ElapsedDays) << "the exact elapsed value, row " << i;
        EXPECT_EQ(is.Thread, was.Thread);
        EXPECT_EQ(is.StartMicroseconds, was.StartMicroseconds);
        TListRow a = TraceRecordRow(was), b = TraceRecordRow(is);
        EXPECT_EQ(b.Caption, a.Caption);
        EXPECT_EQ(b.SubItems, a.SubItems) << "row " << i;
        EXPECT_EQ(b.Note, a.Note);
        EXPECT_EQ(b.BindLines, a.BindLines);
    }
    EXPECT_EQ(again, text);
    // What other readers take from the file as it is: a statement's SQL_ID, a session's label.
    EXPECT_NE(text.find("\"sql_id\":\"" + SqlIdOf("SELECT doc FROM t") + "\""), std::string::npos) << "no SQL_ID of a LOB call";
    EXPECT_NE(text.find("\"sql_id\":\"" + SqlIdOf(rows[2].Record.Statement) + "\""), std::string::npos);
    EXPECT_NE(text.find("\"session\":\"scott@//db/x\""), std::string::npos);
}

TEST(TraceFile, ABadFileIsRefusedNamingItsLineAndACutShortOneKeepsItsWholeLines)
{
    const std::string head = TraceFileHeaderLine({"p.exe", 1, 32, "", "int3", "execute", false});
    const std::string row = TraceFileRowLine(CallRow(TTraceAction::Execute, "SELECT 1 FROM dual", 1e-8));
    struct {
        const char* What;
        std::string Text;
        const char* Message;  // empty: read, with Rows rows
        size_t Rows;
    } cases[] = {
        {"empty", "", "line 1: not a Velloran trace", 0},
        {"text", "Execute\t00:00:01\tOCI_SUCCESS\r\n", "line 1: not a Velloran trace", 0},
        {"other JSON", "{\"format\":\"other\"}\n" + row, "line 1: not a Velloran trace", 0},
        {"newer", "{\"format\":\"velloran-trace\",\"version\":2}\n", "line 1: a trace of version 2", 0},
        {"damaged row", head + row + "{\"action\":\"Execute\",\"statement\":\"x}\n" + row, "line 3: not a line of JSON", 0},
        {"blank line", head + "\n" + row, "line 2: not a line of JSON", 0},
        {"wrong type", head + row + "{\"action\":\"Execute\",\"thread\":\"one\"}\n", "line 3: field \"thread\" has", 0},
        {"unknown action", head + "{\"action\":\"Dance\"}\n", "line 2: unknown action \"Dance\"", 0},
        {"no action", head + "{\"statement\":\"x\"}\n", "line 2: a row without", 0},
        {"not an object", head + row + "[1,2]\n", "line 3: a row is not an object", 0},
        {"bad binds", head + "{\"action\":\"Execute\",\"binds\":[{\"name\":1}]}\n", "line 2: field \"binds\"", 0},
        {"unknown fields", head + "{\"action\":\"Commit\",\"later\":{\"x\":[1]}}\n" + row, "", 2},
        {"cut short", head + row + row.substr(0, row.size() / 2), "", 1},
        {"cut in the header", head.substr(0, 20), "line 1: not a Velloran trace", 0},
    };
    for (const auto& c : cases) {
        std::string message;
        size_t rows = 0;
        try {
            TTraceFile file = ParseTraceFile(c.Text);
            rows = file.Rows.size();
        } catch (const ETraceFileError& e) {
            message = e.what();
        }
        if (*c.Message)
            EXPECT_EQ(message.rfind(c.Message, 0), 0u) << c.What << ": " << message;
        else
            EXPECT_EQ(message, "") << c.What;
        EXPECT_EQ(rows, c.Rows) << c.What;
    }
}
