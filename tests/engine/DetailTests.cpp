// The details of calls traced end to end: the values bound, the error texts and the rows
// the programs read back, in the cells of their rows.
#include "SessionRunner.h"

#include "Utils.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

constexpr TTraceMask Statements = TraceMaskPrepare | TraceMaskExecute | TraceMaskFetch;

TFixtureRun RunClient(const std::string& program, std::vector<std::string> args, TTraceMask mask, bool hideValues = false)
{
    static int serial = 0;
    std::string logFile = TempFile("details" + std::to_string(++serial) + ".log");
    args.insert(args.begin(), {"-log", logFile});
    TSessionRunner runner;
    runner.HideValues = hideValues;
    TFixtureRun run{runner.Run(FixtureCommand(program, args), mask), ReadTruth(logFile)};
    DeleteFileA(logFile.c_str());
    return run;
}

// The executes and fetches of a run, in order.
std::vector<TTraceRow> Calls(const std::vector<TTraceRow>& rows)
{
    std::vector<TTraceRow> calls;
    for (const TTraceRow& r : rows)
        if (r.Action == "Execute" || r.Action.rfind("Fetch", 0) == 0)
            calls.push_back(r);
    return calls;
}

std::string Joined(const std::vector<std::string>& names, const std::vector<std::string>& values)
{
    std::string text;
    for (size_t i = 0; i < names.size(); ++i)
        text += (i ? ", " : "") + names[i] + "=" + values[i];
    return text;
}

struct TCells {
    std::string Binds;
    int64_t Rows;
    std::string Error;
};

// What bindclient's executes and its fetch show (see fixtures/programs/bindclient.cpp).
std::vector<TCells> BindClientCells(bool utf16, bool hidden)
{
    const std::vector<std::string> names = {"i1",  "i2",  "i4",  "i8",  "u8",  "num", "vnu", "flt", "bfl",
                                            "bdb", "ibd", "chr", "str", "afc", "avc",
                                            "vcs", "lvc", "bin", "lvb", "dat", "odt", "bol", "ts",  "cur", "nul"};
    std::vector<std::string> values = {"-5", "300", "123456", "9007199254740993", "18446744073709551615", "1.5",
                                       "100", "2.5", "-0.125", "1.5", "-2.5", "'O''Brien Gr\xC3\xBC\xC3\x9F" "e'",
                                       "'abc'", "'ab   '", "'xyz'", "'hello'", "'world'", "HEXTORAW('0A1B2C')",
                                       "HEXTORAW('FF00')", "DATE '2024-02-29 13:45:07'",
                                       "DATE '2024-02-29 13:45:07'", "TRUE", "<TIMESTAMP>", "<CURSOR>", "NULL"};
    std::vector<std::string> byName, byPosition;
    for (size_t i = 0; i < names.size(); ++i) {
        byName.push_back(":" + names[i]);
        byPosition.push_back(":" + std::to_string(i + 1));
    }
    auto v = [hidden](std::string value) { return hidden ? std::string("?") : value; };
    if (hidden)
        for (std::string& value : values)
            value = "?";
    std::string huge = "'" + std::string(200, 'x') + "...' (" + (utf16 ? "1073741823" : "2147483647") + " characters)";
    return {
        {Joined(byName, values), -1, ""},
        {Joined(byPosition, values), -1, ""},
        {":1=" + v("1") + ", :name=" + v("'a'") + "; :1=" + v("2") + ", :name=" + v("'bb'") + "; :1=" + v("3") +
             ", :name=" + v("NULL") + "; ... (4 rows)",
         4, ""},
        {":doc=" + v("<at execute>") + ", :note=" + v("<at execute>") + ", :k=" + v("1"), -1, ""},
        {":bad=" + v("<unreadable>") + ", :resv=" + v("<unreadable>") + ", :noacc=" + v("<unreadable>") +
             ", :huge=" + v(huge) + ", :big=" + v("'tail'"),
         -1, ""},
        {":id=" + v("5"), -1, "ORA-00942: table or view does not exist"},
        {"", -1, "ORA-24347: Warning of a NULL column in an aggregate function"},
        {":lo=" + v("100"), -1, ""},
        {"", 3, ""},
    };
}

} // namespace

// Every decoded type by name and by position (both generations of bind calls), an array
// execute, values handed over at execute time, buffers that must not be shown, an error
// and a warning, rows: each cell as the program's calls make it, in a narrow and in a
// UTF-16 environment; without the detail kinds the cells stay empty and nothing waits.
TEST(Details, EveryBoundValueErrorTextAndRowCountReachesItsCell)
{
    for (bool utf16 : {false, true})
        for (TTraceMask mask : {TraceMaskAll, Statements}) {
            SCOPED_TRACE(std::string(utf16 ? "UTF-16" : "narrow") + ", mask " + std::to_string(mask));
            TFixtureRun run = RunClient("bindclient.exe", utf16 ? std::vector<std::string>{"-utf16"} : std::vector<std::string>{}, mask);
            ASSERT_TRUE(run.Session.Errors.empty()) << run.Session.Errors.front();
            EXPECT_EQ(run.Session.ExitCode, 0u) << "the client's own checks";
            EXPECT_EQ(RowKeys(run.Session.Records), RowKeys(ExpectedRecords(run.Truth, Statements)));
            std::vector<TTraceRow> calls = Calls(run.Session.Records);
            std::vector<TCells> expected = BindClientCells(utf16, false);
            ASSERT_EQ(calls.size(), expected.size()) << Describe(run.Session.Records);
            for (size_t i = 0; i < calls.size(); ++i) {
                bool details = mask & TraceMaskDetails;
                EXPECT_EQ(calls[i].Binds, details ? expected[i].Binds : "") << i;
                EXPECT_EQ(calls[i].Rows, details ? expected[i].Rows : -1) << i;
                EXPECT_EQ(calls[i].Error, details ? expected[i].Error : "") << i;
            }
            for (const TTraceRow& r : run.Session.Records)
                EXPECT_FALSE(r.Pending) << r.Action << " " << r.Statement << ": its last word was pending";
        }
}

// Users trace programs that bind personal data: with values hidden, every value is "?".
TEST(Details, HiddenValuesKeepOnlyTheNames)
{
    TFixtureRun run = RunClient("bindclient.exe", {}, TraceMaskExecute | TraceMaskBinds, true);
    ASSERT_TRUE(run.Session.Errors.empty()) << run.Session.Errors.front();
    std::vector<TTraceRow> calls = Calls(run.Session.Records);
    std::vector<TCells> expected = BindClientCells(false, true);
    ASSERT_EQ(calls.size() + 1, expected.size()) << "the fetch is not traced";
    for (size_t i = 0; i < calls.size(); ++i)
        EXPECT_EQ(calls[i].Binds, expected[i].Binds) << i;
}

// The two reference client libraries' sequences: the query's bind (by name without a
// colon and with one, VARNUM and a 4-byte integer), the rows of their fetch (rows
// fetched, and the growth of the row count), the text of the error they read back.
TEST(Details, ReplayedClientsShowTheirBindTheirRowsAndTheErrorText)
{
    for (const char* program : {"replay1.exe", "replay2.exe"})
        for (std::vector<std::string> mode : {std::vector<std::string>{}, {"-utf16"}}) {
            SCOPED_TRACE(std::string(program) + (mode.empty() ? "" : " " + mode[0]));
            TFixtureRun run = RunClient(program, mode, TraceMaskAll);
            ASSERT_TRUE(run.Session.Errors.empty()) << run.Session.Errors.front();
            EXPECT_EQ(run.Session.ExitCode, 0u);
            std::vector<TTraceRow> calls = Calls(run.Session.Records);
            ASSERT_EQ(calls.size(), 3u) << Describe(run.Session.Records);
            EXPECT_EQ(calls[0].Binds, ":lo=100");
            EXPECT_EQ(calls[1].Action, program == std::string("replay1.exe") ? "Fetch (100)" : "Fetch (20)");
            EXPECT_EQ(calls[1].Rows, 3);
            EXPECT_EQ(calls[2].Error, "ORA-00942: table or view does not exist");
            EXPECT_EQ(calls[2].Result, -1);
        }
}
