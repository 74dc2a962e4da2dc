// Two runs compared: which statements came, went and changed, and in what order.
#include "SqlId.h"
#include "TraceCompare.h"
#include "Utils.h"

#include <gtest/gtest.h>

namespace {

struct TRun {
    const char* Statement;
    double Ms;
};

struct TCompareCase {
    const char* Name;
    TStatementGrouping Grouping;
    std::vector<TRun> Before;
    std::vector<TRun> After;
    // The lines after the header, without their SQL_ID (the second cell, checked apart).
    std::vector<std::string> Lines;
};

std::string Line(const std::string& statement, const std::string& sqlId, const std::string& rest)
{
    return statement + '\t' + sqlId + '\t' + rest + "\r\n";
}

TStatementTotals Totals(const std::vector<TRun>& runs, TStatementGrouping grouping)
{
    std::vector<TTraceFileRow> rows{{"Start", {}}};
    for (const TRun& run : runs) {
        TTraceFileRow& row = rows.emplace_back();
        row.Record.Action = TTraceAction::Execute;
        row.Record.Statement = run.Statement;
        row.Record.ElapsedDays = run.Ms / MSecsPerDay;
    }
    rows.push_back({"Finish", {}});
    TStatementTotals totals;
    AddTraceRows(totals, rows);
    totals.SetGrouping(grouping);
    return totals;
}

} // namespace

TEST(TraceCompare, WritesNewGoneAndRatiosByTheLargestDifferenceFirst)
{
    const TStatementGrouping Text = TStatementGrouping::Text, Shape = TStatementGrouping::Shape;
    const TCompareCase cases[] = {
        {"ratios, the largest difference first whichever way it goes",
         Text,
         {{"A", 4.0}, {"B", 10.0}, {"C", 1.0}, {"B", 10.0}},
         {{"C", 1.0}, {"A", 5.0}, {"B", 3.0}, {"C", 0.5}},
         {"B\t2\t1\t20.000\t3.000\tx0.15", "A\t1\t1\t4.000\t5.000\tx1.25", "C\t1\t2\t1.000\t1.500\tx1.50"}},
        {"new and gone; equal differences keep the before run's order, then the after run's",
         Text,
         {{"old", 3.0}, {"same", 3.0}},
         {{"same", 3.0}, {"fresh", 3.0}, {"fresher", 0.25}},
         {"old\t1\t0\t3.000\t0.000\tgone", "fresh\t0\t1\t0.000\t3.000\tnew", "fresher\t0\t1\t0.000\t0.250\tnew",
          "same\t1\t1\t3.000\t3.000\tx1.00"}},
        {"no time before: no ratio, unless none after either",
         Text,
         {{"zero", 0.0}, {"both", 0.0}},
         {{"zero", 2.0}, {"both", 0.0}},
         {"zero\t1\t1\t0.000\t2.000\t", "both\t1\t1\t0.000\t0.000\tx1.00"}},
        {"by shape, literals apart run together",
         Shape,
         {{"select a from t where b = 1", 1.0}, {"select a from t where b = 2", 1.0}},
         {{"select a from t where b = 7", 6.0}},
         {"select a from t where b = ?\t2\t1\t2.000\t6.000\tx3.00"}},
    };
    for (const TCompareCase& c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<TStatementChange> changes =
            CompareTotals(Totals(c.Before, c.Grouping), Totals(c.After, c.Grouping));
        std::string expected =
            "Statement\tSQL_ID\tExecutes before\tExecutes after\tTotal ms before\tTotal ms after\tChange\r\n";
        ASSERT_EQ(changes.size(), c.Lines.size());
        for (size_t k = 0; k < changes.size(); ++k) {
            size_t tab = c.Lines[k].find('\t');
            expected += Line(c.Lines[k].substr(0, tab), changes[k].SqlId, c.Lines[k].substr(tab + 1));
        }
        EXPECT_EQ(ComparisonText(changes), expected);
    }
}

TEST(TraceCompare, TheSqlIdIsTheBeforeRunsFirstTextsOrTheNewOnes)
{
    std::vector<TStatementChange> changes =
        CompareTotals(Totals({{"select 1 from dual", 1.0}}, TStatementGrouping::Shape),
                      Totals({{"select 2 from dual", 3.0}, {"delete from t", 1.0}}, TStatementGrouping::Shape));
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].SqlId, SqlIdOf("select 1 from dual"));
    EXPECT_EQ(changes[1].SqlId, SqlIdOf("delete from t"));
}
