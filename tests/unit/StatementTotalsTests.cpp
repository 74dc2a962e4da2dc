// The totals per statement: records in, the tab-separated file out.
#include "OCITexts.h"
#include "StatementTotals.h"
#include "TestFiles.h"
#include "Utils.h"

#include <gtest/gtest.h>

namespace {

const char* const Header = "Statement\tExecutes\tFetches\tRows\tErrors\tTotal ms\tAverage ms\tMax ms\r\n";

TTraceRecord Record(TTraceAction action, const std::string& statement, double ms, int32_t result = OCI_SUCCESS,
                    int64_t rows = -1)
{
    TTraceRecord record;
    record.Action = action;
    record.Statement = statement;
    record.ElapsedDays = ms / MSecsPerDay;
    record.Result = result;
    record.Rows = rows;
    return record;
}

constexpr TTraceAction Prepare = TTraceAction::Prepare, Execute = TTraceAction::Execute,
                       Fetch = TTraceAction::Fetch;

} // namespace

TEST(StatementTotals, CountsEachStatementOnceWhateverItsLineBreaks)
{
    const TTraceRecord records[] = {
        Record(Prepare, "SELECT a\r\nFROM t", 0.3),
        Record(Execute, "SELECT a\nFROM t", 2.0, OCI_SUCCESS, 0),
        Record(Fetch, "SELECT a\rFROM t", 1.5, OCI_SUCCESS, 10),
        Record(Fetch, "SELECT a\tFROM t", 7.0, OCI_NO_DATA, 3),
        // Not the same text: two blanks.
        Record(Execute, "SELECT a\r\n\nFROM t", 0.06),
        Record(Execute, "UPDATE t SET a = 1", 12.0, OCI_ERROR),
        Record(Execute, "UPDATE t SET a = 1", 13.0, OCI_INVALID_HANDLE, 4),
        Record(Execute, "UPDATE t SET a = 1", 0.0, OCI_SUCCESS_WITH_INFO, 1),
        Record(Prepare, "<unavailable>", 0.4, OCI_ERROR, 99),
        Record(Fetch, "", 3.0, OCI_SUCCESS),
        Record(Fetch, "", -2.0, OCI_SUCCESS, 2),
        // Session rows are no statement's.
        Record(TTraceAction::Connect, "scott@localhost/orclpdb", 50.0),
        Record(TTraceAction::Commit, "scott@localhost/orclpdb", 1.0, OCI_ERROR),
        Record(TTraceAction::Rollback, "", 1.0),
        Record(TTraceAction::Disconnect, "scott@localhost/orclpdb", 2.0),
    };
    TStatementTotals totals;
    for (const TTraceRecord& record : records)
        totals.Add(record);
    EXPECT_EQ(StatementTotalsText(totals), std::string(Header) +
                                               "UPDATE t SET a = 1\t3\t0\t5\t2\t25.0\t8.3\t13.0\r\n"
                                               "SELECT a FROM t\t1\t2\t13\t0\t10.8\t10.8\t7.0\r\n"
                                               "\t0\t2\t2\t0\t5.0\t\t3.0\r\n"
                                               "<unavailable>\t0\t0\t0\t1\t0.4\t\t0.4\r\n"
                                               "SELECT a  FROM t\t1\t0\t0\t0\t0.1\t0.1\t0.1\r\n");
    EXPECT_EQ(totals.Find("SELECT a FROM t"), 0);
    EXPECT_EQ(totals.Find("SELECT a\r\nFROM t"), -1);

    TScratchDir dir;
    SaveStatementTotals(totals, dir.File("totals.txt"));
    EXPECT_EQ(ReadFileBytes(dir.File("totals.txt")), StatementTotalsText(totals));
    totals.Clear();
    EXPECT_EQ(StatementTotalsText(totals), Header);
}

TEST(StatementTotals, AnUpdateReplacesWhatItsRecordAddedAndUnknownSerialsChangeNothing)
{
    auto pending = [](uint64_t serial, TTraceAction action, int64_t rows, int32_t result, bool stillPending) {
        TTraceRecord record = Record(action, "SELECT b FROM u", 4.0, result, rows);
        record.Serial = serial;
        record.Pending = stillPending;
        return record;
    };
    struct TStep {
        bool Update;
        TTraceRecord Record;
        int Index;
        const char* Line;
    } steps[] = {
        {false, pending(1, Execute, -1, OCI_SUCCESS, true), 0, "SELECT b FROM u\t1\t0\t0\t0\t4.0\t4.0\t4.0\r\n"},
        {false, pending(2, Fetch, 10, OCI_SUCCESS, false), 0, "SELECT b FROM u\t1\t1\t10\t0\t8.0\t8.0\t4.0\r\n"},
        // Still pending after its first update, then final with an error found late.
        {true, pending(1, Execute, 5, OCI_SUCCESS, true), 0, "SELECT b FROM u\t1\t1\t15\t0\t8.0\t8.0\t4.0\r\n"},
        {true, pending(1, Execute, 7, OCI_ERROR, false), 0, "SELECT b FROM u\t1\t1\t17\t1\t8.0\t8.0\t4.0\r\n"},
        // Final already: a further update and one of a serial never seen are ignored.
        {true, pending(1, Execute, 100, OCI_SUCCESS, false), -1, "SELECT b FROM u\t1\t1\t17\t1\t8.0\t8.0\t4.0\r\n"},
        {true, pending(2, Fetch, 100, OCI_SUCCESS, false), -1, "SELECT b FROM u\t1\t1\t17\t1\t8.0\t8.0\t4.0\r\n"},
        {true, pending(9, Fetch, 100, OCI_SUCCESS, false), -1, "SELECT b FROM u\t1\t1\t17\t1\t8.0\t8.0\t4.0\r\n"},
    };
    TStatementTotals totals;
    for (const TStep& step : steps) {
        uint64_t version = totals.Version();
        int index = step.Update ? totals.Update(step.Record) : totals.Add(step.Record);
        EXPECT_EQ(index, step.Index) << step.Line;
        EXPECT_EQ(StatementTotalsText(totals), Header + std::string(step.Line));
        EXPECT_EQ(totals.Version() != version, index >= 0) << step.Line;
    }
    // A record pending when the log was cleared is gone with it.
    totals.Add(pending(3, Execute, -1, OCI_SUCCESS, true));
    totals.Clear();
    EXPECT_EQ(totals.Update(pending(3, Execute, 5, OCI_SUCCESS, false)), -1);
    EXPECT_EQ(StatementTotalsText(totals), Header);
}

TEST(StatementTotals, SortsByAnyColumnEitherWayWithTiesInTheOrderFirstSeen)
{
    TStatementTotals totals;
    totals.Add(Record(Execute, "b", 5.0, OCI_SUCCESS, 3));
    totals.Add(Record(Fetch, "a", 9.0, OCI_SUCCESS, 3));
    totals.Add(Record(Execute, "c", 1.0, OCI_ERROR, 1));
    totals.Add(Record(Execute, "c", 1.0, OCI_ERROR, 1));
    struct TCase {
        int Column;
        bool Descending;
        std::vector<int> Order;
    } cases[] = {
        {scStatement, false, {1, 0, 2}}, {scStatement, true, {2, 0, 1}}, {scExecutes, true, {2, 0, 1}},
        {scRows, true, {0, 1, 2}},       {scRows, false, {2, 0, 1}},     {scErrors, true, {2, 0, 1}},
        {scTotalMs, true, {1, 0, 2}},    {scAverageMs, false, {1, 2, 0}}, {scMaxMs, false, {2, 0, 1}},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(totals.Sorted(c.Column, c.Descending), c.Order) << StatementColumns[c.Column].Caption << c.Descending;
}

TEST(StatementTotals, SingleLineTextMakesEachBreakAndTabOneSpace)
{
    const struct {
        const char* Text;
        const char* Line;
    } cases[] = {
        {"a\r\nb", "a b"}, {"a\n\rb", "a  b"}, {"a\r\r\nb", "a  b"}, {"\ta\t", " a "}, {"a\r", "a "}, {"ab", "ab"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SingleLineText(c.Text), c.Line) << c.Text;
        EXPECT_EQ(IsSingleLine(c.Text), std::string(c.Text) == c.Line) << c.Text;
    }
}

// LOB calls count under the statement that delivered their locator, without rows; the
// fetches of implicit results count, with their rows, under the statement that made them.
TEST(StatementTotals, LobCallsAndImplicitResultsCountUnderTheirStatement)
{
    const std::string block = "BEGIN p; END;", query = "SELECT notes FROM r";
    const TTraceRecord records[] = {
        Record(Execute, block, 1.0, OCI_SUCCESS, 0),
        Record(Fetch, block + " (implicit result 1)", 2.0, OCI_SUCCESS, 4),
        Record(Fetch, block + " (implicit result 2)", 3.0, OCI_NO_DATA, 3),
        Record(Execute, query, 1.0, OCI_SUCCESS, 0),
        Record(TTraceAction::LobLength, query, 0.5, OCI_SUCCESS, 1000),
        Record(TTraceAction::LobRead, query, 4.0, OCI_NEED_DATA, 300),
        Record(TTraceAction::LobTrim, query, 0.5, OCI_ERROR, 5),
        // A temporary LOB's call is no statement's.
        Record(TTraceAction::LobWrite, "", 9.0, OCI_SUCCESS, 14),
    };
    TStatementTotals totals;
    for (const TTraceRecord& record : records)
        totals.Add(record);
    ASSERT_EQ(totals.Count(), 2);
    const struct {
        std::string Statement;
        int64_t Fetches, LobCalls, Rows, Errors;
        double TotalMs;
    } expected[] = {{block, 2, 0, 7, 0, 6.0}, {query, 0, 3, 0, 1, 6.0}};
    for (const auto& e : expected) {
        int index = totals.Find(e.Statement);
        ASSERT_GE(index, 0) << e.Statement;
        const TStatementTotal& t = totals.Item(index);
        EXPECT_EQ(std::make_tuple(t.Executes, t.Fetches, t.LobCalls, t.Rows, t.Errors, t.TotalMs),
                  std::make_tuple(int64_t(1), e.Fetches, e.LobCalls, e.Rows, e.Errors, e.TotalMs))
            << e.Statement;
    }
}
