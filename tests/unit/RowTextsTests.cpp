// The texts of a trace row (time, result) and the trace list's row store: what the window
// shows, without a window.
#include "Errors.h"
#include "TraceFilter.h"
#include "TraceList.h"
#include "TraceRows.h"
#include "Utils.h"

#include <gtest/gtest.h>

namespace {

constexpr double Ms = 1.0 / MSecsPerDay;

} // namespace

TEST(TraceTexts, ElapsedTimeLeavesOutZeroParts)
{
    struct {
        double Elapsed;
        const char* Text;
    } cases[] = {
        {0, ""},
        {7 * Ms, "07"},
        {250 * Ms, "250"},
        {1500 * Ms, "01:500"},
        {2000 * Ms, "02"},
        {(60000 + 3) * Ms, "01:03"},
        {(3600000 + 2 * 60000 + 3000 + 4) * Ms, "01:02:03:04"},
        {-250 * Ms, "250"},
        {(86400000.0 + 5) * Ms, "05"},
        {0.4 * Ms, ""},
        {0.6 * Ms, "01"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ElapsedTimeText(c.Elapsed), c.Text) << c.Elapsed / Ms << " ms";
}

TEST(TraceTexts, ResultCodesByName)
{
    struct {
        int32_t Code;
        const char* Text;
    } cases[] = {{0, "OCI_SUCCESS"},       {1, "OCI_SUCCESS_WITH_INFO"}, {99, "OCI_NEED_DATA"},
                 {100, "OCI_NO_DATA"},      {-1, "OCI_ERROR"},            {-2, "OCI_INVALID_HANDLE"},
                 {-3123, "OCI_STILL_EXECUTING"}, {-24200, "OCI_CONTINUE"}, {2, "unknown(2)"},
                 {-12, "unknown(-12)"}};
    for (const auto& c : cases)
        EXPECT_EQ(OCIResultText(c.Code), c.Text);
}

TEST(TraceRows, RepeatedTextsAreStoredOnceAndRowsComeBackWhole)
{
    TTraceRows rows;
    const std::string sql(2000, 'x');
    for (int i = 0; i < 1000; ++i)
        rows.Add(TListRow{"Execute", {"07", "OCI_SUCCESS", sql}});
    rows.Add(TListRow{"Finish", {}});
    // "", "Execute", "07", "OCI_SUCCESS", the SQL, "Finish".
    EXPECT_EQ(rows.DistinctTexts(), 6u);
    TListRow row;
    rows.GetRow(500, row);
    EXPECT_EQ(row.Caption, "Execute");
    EXPECT_EQ(row.SubItems, (std::vector<std::string>{"07", "OCI_SUCCESS", sql}));
    rows.GetRow(1000, row);
    EXPECT_EQ(row.Caption, "Finish");
    EXPECT_TRUE(row.SubItems.empty());
    EXPECT_EQ(rows.CellText(1000, 3), "");
    EXPECT_THROW(rows.GetRow(1001, row), EListError);
    EXPECT_TRUE(rows.AllAscii());
    rows.Add(TListRow{"Execute", {"07", "OCI_SUCCESS", "SELECT 'ü'"}});
    EXPECT_FALSE(rows.AllAscii());
    rows.Clear();
    EXPECT_EQ(rows.RowCount(), 0);
    EXPECT_EQ(rows.DistinctTexts(), 1u);
    EXPECT_TRUE(rows.AllAscii());
}

TEST(TraceRows, MemoTextBreaksLinesAtEveryKindOfLineBreakAndEndsAtZero)
{
    const struct {
        std::string Statement;
        std::string Memo;
    } cases[] = {
        {"a\r\nb", "a\r\nb"},
        {"a\nb", "a\r\nb"},
        {"a\rb", "a\r\nb"},
        {"a\n\nb", "a\r\n\r\nb"},
        {"a\r\rb", "a\r\n\r\nb"},
        {"a\n\rb", "a\r\n\r\nb"},
        {std::string("a\0b", 3), "a"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MemoText(c.Statement), c.Memo) << c.Statement;
}

// The memo: the SQL, then each bind on a line of its own (an array execute's rows a line
// each), then the error text. Separators inside quoted values split nothing.
TEST(TraceRows, MemoShowsTheStatementThenItsBindsThenItsError)
{
    const struct {
        TBindRows Binds;
        std::string Error, Memo;
    } cases[] = {
        {{}, "", "SELECT 1"},
        {{{{{":lo", "100"}}}, 1}, "", "SELECT 1\r\n:lo=100"},
        {{{{{":a", "'x, y; z'"}, {":b", "NULL"}, {":c", "HEXTORAW('0A')"}}}, 1},
         "",
         "SELECT 1\r\n:a='x, y; z'\r\n:b=NULL\r\n:c=HEXTORAW('0A')"},
        {{{{{":a", "'it''s, ok'"}, {":b", "2"}}}, 1}, "", "SELECT 1\r\n:a='it''s, ok'\r\n:b=2"},
        {{{{{":1", "1"}, {":2", "'a'"}}, {{":1", "2"}, {":2", "'b'"}}}, 5},
         "",
         "SELECT 1\r\n:1=1, :2='a'\r\n:1=2, :2='b'\r\n... (5 rows)"},
        {{{{{":lo", "1"}}}, 1}, "ORA-00942: table or view does not exist", "SELECT 1\r\n:lo=1\r\nORA-00942: table or view does not exist"},
        {{}, "ORA-1\nline two", "SELECT 1\r\nORA-1\r\nline two"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MemoText("SELECT 1", BindMemoLines(c.Binds), c.Error), c.Memo) << BindsText(c.Binds) << " / " << c.Error;
}

// A row of a record: the seven cells, Rows empty while not known.
TEST(TraceRows, ARecordsRowHasItsSevenCells)
{
    TTraceRecord record;
    record.Action = TTraceAction::Fetch;
    record.FetchRows = 100;
    record.Result = 100;
    record.Statement = "SELECT 1";
    TListRow row = TraceRecordRow(record);
    EXPECT_EQ(row.Caption, "Fetch (100)");
    EXPECT_EQ(row.SubItems, (std::vector<std::string>{"", "OCI_NO_DATA", "SELECT 1", "", "", ""}));
    EXPECT_FALSE(HasOptionalCells(row));
    record.Rows = 0;
    record.Binds = TBindRows{{{{":a", "1"}}}, 1};
    record.Error = "ORA-01403: no data found";
    row = TraceRecordRow(record);
    EXPECT_EQ(row.SubItems, (std::vector<std::string>{"", "OCI_NO_DATA", "SELECT 1", "0", ":a=1", "ORA-01403: no data found"}));
    EXPECT_TRUE(HasOptionalCells(row)) << "0 rows is a value";

    // Stored and read back, whether the row came with its detail cells and note or got
    // them, or lost them, in place.
    TTraceRows rows;
    rows.Add(TraceRecordRow(TTraceRecord{}));
    EXPECT_FALSE(rows.AnyOptionalCells());
    int at = rows.Add(TListRow{"Start", {}});
    rows.Set(at, row);
    EXPECT_TRUE(rows.AnyOptionalCells()) << "a row completed in place counts";
    record.CommitsOnSuccess = true;
    int noted = rows.Add(TraceRecordRow(record));
    rows.Add(TListRow{"Finish", {}});
    TListRow back;
    for (int index : {at, noted}) {
        rows.GetRow(index, back);
        EXPECT_EQ(back.SubItems, row.SubItems);
        EXPECT_EQ(rows.CellText(index, 6), "ORA-01403: no data found");
    }
    EXPECT_EQ(rows.NoteText(at), "");
    EXPECT_EQ(rows.NoteText(noted), CommitsOnSuccessNote);
    rows.Set(noted, TListRow{"Execute", {"", "OCI_SUCCESS", "SELECT 2"}});
    rows.GetRow(noted, back);
    EXPECT_EQ(back.SubItems, (std::vector<std::string>{"", "OCI_SUCCESS", "SELECT 2"}));
    EXPECT_EQ(back.Note, "");
    EXPECT_EQ(rows.CellText(noted, 5), "");
    rows.GetRow(at, back);
    EXPECT_EQ(back.SubItems[4], ":a=1") << "other rows keep theirs";
    EXPECT_EQ(rows.CellText(noted + 1, 0), "Finish");
    rows.Clear();
    EXPECT_FALSE(rows.AnyOptionalCells());
}

TEST(TraceRows, TheListIsAnsweredInUtf16WholeCharactersUpToItsRoom)
{
    TTraceRows rows;
    rows.Add(TListRow{"Execute", {"07", "OCI_SUCCESS", "SELECT 'Grüße, 東京' FROM dual"}});
    rows.Add(TListRow{"Execute", {"", "", "clef \xF0\x9D\x84\x9E end"}});
    rows.Add(TListRow{"Execute", {"", "", std::string("before\0after", 12)}});
    rows.Add(TListRow{"Execute", {"", "", "bad \xFF byte"}});
    rows.Add(TListRow{"Execute", {"", "", "SELECT a,\r\n\tb\nFROM t\rWHERE 1 = 1"}});
    const struct {
        int Row;
        int Column;
        int Room;  // cchTextMax
        std::wstring Expected;
    } cases[] = {
        {0, 3, 260, L"SELECT 'Gr\u00FC\u00DFe, \u6771\u4EAC' FROM dual"},
        {0, 0, 260, L"Execute"},
        {0, 3, 13, L"SELECT 'Gr\u00FC\u00DF"},
        {1, 3, 260, L"clef \U0001D11E end"},
        // The clef is two UTF-16 units: with room for only one of them it is left out.
        {1, 3, 7, L"clef "},
        {1, 3, 8, L"clef \U0001D11E"},
        {2, 3, 260, L"before"},
        {3, 3, 260, L"bad \uFFFD byte"},
        // Line breaks and tabs show as blanks, each CR LF as one.
        {4, 3, 260, L"SELECT a,  b FROM t WHERE 1 = 1"},
        {4, 3, 12, L"SELECT a,  "},
        {7, 0, 260, L""},
    };
    for (const auto& c : cases) {
        std::wstring buffer(static_cast<size_t>(c.Room), L'#');
        NMLVDISPINFOW info{};
        info.item.mask = LVIF_TEXT;
        info.item.iItem = c.Row;
        info.item.iSubItem = c.Column;
        info.item.pszText = buffer.data();
        info.item.cchTextMax = c.Room;
        TraceListView::GetDispInfo(TTraceFilter(rows), info);
        EXPECT_EQ(std::wstring(buffer.c_str()), c.Expected) << c.Row << "/" << c.Column << " in " << c.Room;
    }
}

// The memo's SQL id line: the id computed from the row's text, the server's beside it only
// when the server gave another; the row store keeps the server's id with the row.
TEST(TraceRows, TheMemoShowsTheSqlIdAndTheServersOnlyWhenItDiffers)
{
    const struct {
        const char* Server;
        const char* Line;
    } cases[] = {
        {"", "SQL_ID a5ks9fhw2v9s1"},
        {"a5ks9fhw2v9s1", "SQL_ID a5ks9fhw2v9s1"},
        {"9babjv8yq8ru3", "SQL_ID a5ks9fhw2v9s1 (server: 9babjv8yq8ru3)"},
    };
    TTraceRows rows;
    for (const auto& c : cases) {
        TTraceRecord record;
        record.Statement = "select * from dual";
        record.ServerSqlId = c.Server;
        int at = rows.Add(TraceRecordRow(record), 0);
        std::string line = SqlIdLine(rows.SqlIdOfCell(at, tcStatement), rows.ServerSqlIdText(at));
        EXPECT_EQ(line, c.Line) << c.Server;
        EXPECT_EQ(MemoText(record.Statement, "\r\n:a=1", "", "", line),
                  "select * from dual\r\n" + std::string(c.Line) + "\r\n:a=1");
    }
}

// ">=N ms" in the filter box shows the calls that took at least N ms, and no row of no
// call; any other text is searched for as before.
TEST(TraceFilter, SlowCallsAreThoseThatTookAtLeastTheTimeTyped)
{
    const struct {
        const char* Text;
        double Least;  // -1: not a slow-calls filter
    } parses[] = {
        {">=5 ms", 5},    {" >= 2.5MS ", 2.5}, {">=0.042ms", 0.042}, {">=.5 ms", 0.5}, {">= ms", -1},
        {">=5", -1},      {"=5 ms", -1},       {">=1.2.3 ms", -1},   {">=-5 ms", -1},  {">=5 mss", -1},
    };
    for (const auto& c : parses) {
        std::optional<double> least = SlowerThanMs(c.Text);
        EXPECT_EQ(least.value_or(-1), c.Least) << c.Text;
    }

    TTraceRows rows;
    rows.Add(TListRow{"Start", {}});
    for (double ms : {0.5, 2.5, 5.0, 12.0}) {
        TListRow row{"Execute", {"", "OCI_SUCCESS", "SELECT 1 -- >=5 ms"}};
        row.Milliseconds = ms;
        rows.Add(row);
    }
    rows.Add(TListRow{"Finish", {"", "", ">=5 ms"}});
    TTraceFilter filter(rows);
    const struct {
        const char* Text;
        std::vector<int> Shown;
    } filters[] = {{">=5 ms", {3, 4}}, {">=2.5 ms", {2, 3, 4}}, {">=12.5ms", {}}, {">=0 ms", {1, 2, 3, 4}},
                   {">=5", {1, 2, 3, 4, 5}}, {"Start", {0}}};
    for (const auto& c : filters) {
        filter.SetText(c.Text);
        std::vector<int> shown;
        for (int k = 0; k < filter.RowCount(); ++k)
            shown.push_back(filter.RowOf(k));
        EXPECT_EQ(shown, c.Shown) << c.Text;
    }
}
