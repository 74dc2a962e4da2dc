// The totals per statement: records in, the tab-separated file out.
#include "OCITexts.h"
#include "SqlId.h"
#include "StatementTotals.h"
#include "TestFiles.h"
#include "Utils.h"

#include <gtest/gtest.h>

#include <cctype>

namespace {

const char* const Header = "Statement\tExecutes\tFetches\tRows\tErrors\tTotal ms\tAverage ms\tMax ms\tP50 ms\tP95 "
                          "ms\tP99 ms\tSQL_ID\tTexts\tLongest run\tHint\tLOB calls\r\n";

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
    // The SQL_ID is of the first text as it was sent, line breaks and all.
    EXPECT_EQ(StatementTotalsText(totals),
              std::string(Header) + "UPDATE t SET a = 1\t3\t0\t5\t2\t25.000\t8.333\t13.000\t12.000\t13.000\t13.000\t" +
                  SqlIdOf("UPDATE t SET a = 1") + "\t1\t3\t\t0\r\n" +
                  "SELECT a FROM t\t1\t2\t13\t0\t10.800\t10.800\t7.000\t2.000\t2.000\t2.000\t" +
                  SqlIdOf("SELECT a\r\nFROM t") + "\t1\t1\t\t0\r\n" + "\t0\t2\t2\t0\t5.000\t\t3.000\t\t\t\t\t1\t0\t\t0\r\n" +
                  "<unavailable>\t0\t0\t0\t1\t0.400\t\t0.400\t\t\t\t" + SqlIdOf("<unavailable>") + "\t1\t0\t\t0\r\n" +
                  "SELECT a  FROM t\t1\t0\t0\t0\t0.060\t0.060\t0.060\t0.060\t0.060\t0.060\t" +
                  SqlIdOf("SELECT a\r\n\nFROM t") + "\t1\t1\t\t0\r\n");
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
        {false, pending(1, Execute, -1, OCI_SUCCESS, true), 0, "SELECT b FROM u\t1\t0\t0\t0\t4.000\t4.000\t4.000\r\n"},
        {false, pending(2, Fetch, 10, OCI_SUCCESS, false), 0, "SELECT b FROM u\t1\t1\t10\t0\t8.000\t8.000\t4.000\r\n"},
        // Still pending after its first update, then final with an error found late.
        {true, pending(1, Execute, 5, OCI_SUCCESS, true), 0, "SELECT b FROM u\t1\t1\t15\t0\t8.000\t8.000\t4.000\r\n"},
        {true, pending(1, Execute, 7, OCI_ERROR, false), 0, "SELECT b FROM u\t1\t1\t17\t1\t8.000\t8.000\t4.000\r\n"},
        // Final already: a further update and one of a serial never seen are ignored.
        {true, pending(1, Execute, 100, OCI_SUCCESS, false), -1, "SELECT b FROM u\t1\t1\t17\t1\t8.000\t8.000\t4.000\r\n"},
        {true, pending(2, Fetch, 100, OCI_SUCCESS, false), -1, "SELECT b FROM u\t1\t1\t17\t1\t8.000\t8.000\t4.000\r\n"},
        {true, pending(9, Fetch, 100, OCI_SUCCESS, false), -1, "SELECT b FROM u\t1\t1\t17\t1\t8.000\t8.000\t4.000\r\n"},
    };
    const std::string Tail = "\t4.000\t4.000\t4.000\t" + SqlIdOf("SELECT b FROM u") + "\t1\t1\t\t0";
    TStatementTotals totals;
    for (const TStep& step : steps) {
        uint64_t version = totals.Version();
        int index = step.Update ? totals.Update(step.Record) : totals.Add(step.Record);
        EXPECT_EQ(index, step.Index) << step.Line;
        // One execute of 4 ms, whatever its updates: its run and its percentiles count it once.
        std::string line = step.Line;
        EXPECT_EQ(StatementTotalsText(totals), Header + line.insert(line.size() - 2, Tail));
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

TEST(StatementTotals, PercentilesAreNearestRankOverTimesAddedAndTakenBack)
{
    const struct {
        std::vector<double> Added;
        std::vector<double> Removed;
        double P50, P95, P99;
    } cases[] = {
        {{15, 20, 35, 40, 50}, {}, 35, 50, 50},
        {{50, 40, 35, 20, 15}, {}, 35, 50, 50},
        {{7}, {}, 7, 7, 7},
        {{}, {}, -1, -1, -1},
        {{1, 2}, {}, 1, 2, 2},
        {{3, 1, 2, 9}, {9, 1}, 2, 3, 3},
        {{4, 4, 4, 1}, {4}, 4, 4, 4},
        {{5}, {5}, -1, -1, -1},
    };
    for (const auto& c : cases) {
        TExecuteTimes times;
        // Asked between the additions too: what came since is sorted in.
        for (size_t i = 0; i < c.Added.size(); ++i) {
            times.Add(c.Added[i]);
            if (i == 1)
                times.Percentile(50);
        }
        for (double ms : c.Removed)
            times.Remove(ms);
        EXPECT_EQ(times.Percentile(50), c.P50) << c.Added.size() << " " << c.Removed.size();
        EXPECT_EQ(times.Percentile(95), c.P95) << c.Added.size() << " " << c.Removed.size();
        EXPECT_EQ(times.Percentile(99), c.P99) << c.Added.size() << " " << c.Removed.size();
    }
    TExecuteTimes hundred;
    for (int ms = 100; ms >= 1; --ms)
        hundred.Add(ms);
    EXPECT_EQ(hundred.Percentile(50), 50);
    EXPECT_EQ(hundred.Percentile(95), 95);
    EXPECT_EQ(hundred.Percentile(99), 99);
}

namespace {

// An execute on a thread: "a" runs statement a; a capital letter makes the execute a
// Prepare; a digit after the letter is its bind's value.
TTraceRecord Step(DWORD thread, const std::string& step)
{
    TTraceRecord record = Record(isupper(step[0]) ? Prepare : Execute, std::string(1, char(tolower(step[0]))), 1);
    record.Thread = thread;
    if (step.size() > 1)
        record.Binds.Rows.push_back({{":v", step.substr(1)}});
    return record;
}

} // namespace

TEST(StatementTotals, LongestRunsPerThreadAndTheirHints)
{
    auto repeat = [](const std::string& step, int times) {
        std::vector<std::string> steps(static_cast<size_t>(times), step);
        return steps;
    };
    auto varied = [](int times) {
        std::vector<std::string> steps;
        for (int i = 0; i < times; ++i)
            steps.push_back("a" + std::to_string(i % 2));
        return steps;
    };
    struct TCase {
        const char* Name;
        std::vector<std::string> Thread1, Thread2;
        int64_t RunA;
        const char* HintA;
    } cases[] = {
        {"ten, two values", varied(10), {}, 10, "N+1"},
        {"ten, one value", repeat("a1", 10), {}, 10, "same values"},
        {"ten, no binds", repeat("a", 10), {}, 10, "same values"},
        {"nine", varied(9), {}, 9, ""},
        {"broken by b", {"a1", "a2", "a3", "b", "a4", "a5"}, {}, 3, ""},
        {"a prepare of b breaks nothing", {"a1", "a2", "B", "a3"}, {}, 3, ""},
        {"other thread's executes between", varied(10), repeat("b", 10), 10, "N+1"},
        {"same values, then a longer varied run", {"a1", "a1", "b", "a1", "a2", "a1"}, {}, 3, ""},
    };
    for (const TCase& c : cases) {
        TStatementTotals totals;
        // The threads' calls interleaved one by one.
        for (size_t i = 0; i < std::max(c.Thread1.size(), c.Thread2.size()); ++i) {
            if (i < c.Thread1.size())
                totals.Add(Step(1, c.Thread1[i]));
            if (i < c.Thread2.size())
                totals.Add(Step(2, c.Thread2[i]));
        }
        const TStatementTotal& a = totals.Item(totals.Find("a"));
        EXPECT_EQ(a.LongestRun, c.RunA) << c.Name;
        EXPECT_EQ(HintText(a), c.HintA) << c.Name;
        EXPECT_EQ(StatementCellText(a, scHint), c.HintA) << c.Name;
    }
    // Ten of eleven with other values: the hint of the longest run.
    TStatementTotals totals;
    for (const char* step : {"a1", "a1", "a1", "b"})
        totals.Add(Step(1, step));
    for (const std::string& step : varied(11))
        totals.Add(Step(1, step));
    EXPECT_EQ(HintText(totals.Item(totals.Find("a"))), "N+1");
    EXPECT_EQ(totals.Sorted(scHint, true), (std::vector<int>{0, 1}));
    EXPECT_EQ(totals.Sorted(scLongestRun, false), (std::vector<int>{1, 0}));
}

TEST(StatementTotals, GroupsByShapeOrTextAndSwitchesBetweenThem)
{
    const char* const texts[] = {
        "select * from t where a = 1", "SELECT * FROM t WHERE a = 2", "select * from t where a = 1",
        "select *\r\n from t where a = 1", "select * from t where a in (1, 2)", "select * from t where a = 3",
    };
    TStatementTotals totals;
    std::vector<int> indexes;
    for (const char* text : texts)
        indexes.push_back(totals.Add(Record(Execute, text, 2.0, OCI_SUCCESS, 1)));
    EXPECT_EQ(indexes, (std::vector<int>{0, 1, 0, 2, 3, 4}));
    EXPECT_EQ(totals.Count(), 5);
    uint64_t version = totals.Version();
    totals.SetGrouping(TStatementGrouping::Shape);
    EXPECT_NE(totals.Version(), version);
    ASSERT_EQ(totals.Count(), 2);
    std::vector<int> groups;
    for (int index : indexes)
        groups.push_back(totals.GroupOf(index));
    EXPECT_EQ(groups, (std::vector<int>{0, 0, 0, 0, 1, 0}));
    EXPECT_EQ(totals.Find("select * from t where a = ?"), 0);
    EXPECT_EQ(totals.Find("select * from t where a = 1"), -1);
    // The group's SQL_ID is its first text's; its texts are the distinct one-line ones; the
    // run goes on across texts of one shape.
    EXPECT_EQ(StatementTotalsText(totals),
              std::string(Header) + "select * from t where a = ?\t5\t0\t5\t0\t10.000\t2.000\t2.000\t2.000\t2.000\t2.000\t" +
                  SqlIdOf(texts[0]) + "\t4\t4\t\t0\r\n" +
                  "select * from t where a in (?+)\t1\t0\t1\t0\t2.000\t2.000\t2.000\t2.000\t2.000\t2.000\t" +
                  SqlIdOf(texts[4]) + "\t1\t1\t\t0\r\n");
    totals.SetGrouping(TStatementGrouping::Text);
    EXPECT_EQ(totals.Count(), 5);
    EXPECT_EQ(totals.GroupOf(3), 3);
    EXPECT_EQ(totals.Item(2).SqlId, SqlIdOf(texts[3]));
    EXPECT_EQ(totals.Item(0).LongestRun, 1);
}
