// The calls of today's client libraries traced end to end: the statement cache
// (OCIStmtPrepare2, OCIStmtRelease), the second fetch and UTF-16 environments, each
// client checked against its own log of what it called.
#include "SessionRunner.h"

#include "Errors.h"
#include "Utils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace {

constexpr TTraceMask AllActions = TraceMaskPrepare | TraceMaskExecute | TraceMaskFetch;

using TClientRun = TFixtureRun;

TClientRun RunClient(const std::string& program, std::vector<std::string> args, TTraceMask mask, bool emulate = true)
{
    return RunLogged(program, std::move(args), mask, emulate);
}

TClientRun RunScript(const std::string& script, TTraceMask mask, bool emulate = true)
{
    return RunScriptText(script, mask, emulate);
}

std::vector<TRowKey> Rows(const std::vector<TTraceRow>& rows) { return RowKeys(rows); }

// Where two row lists part, for failure messages.
std::string FirstDifference(const std::vector<TTraceRow>& traced, const std::vector<TTraceRow>& expected)
{
    for (size_t i = 0; i < std::max(traced.size(), expected.size()); ++i) {
        std::vector<TTraceRow> a(traced.begin() + std::min(i, traced.size()), traced.begin() + std::min(i + 1, traced.size()));
        std::vector<TTraceRow> b(expected.begin() + std::min(i, expected.size()),
                                 expected.begin() + std::min(i + 1, expected.size()));
        if (Rows(a) != Rows(b))
            return "row " + std::to_string(i) + ": traced " + Describe(a) + " expected " + Describe(b);
    }
    return "";
}

size_t Count(const std::vector<TTraceRow>& rows, const std::string& action)
{
    size_t n = 0;
    for (const TTraceRow& r : rows)
        n += r.Action.rfind(action, 0) == 0;
    return n;
}

} // namespace

// The two reference client libraries' call sequences, narrow, UTF-8 and UTF-16: every
// prepare, execute and fetch shows with its SQL, in both entry-point paths.
TEST(ClientLibraries, ReplayedCallSequencesShowEveryRowWithItsSql)
{
    for (const char* program : {"replay1.exe", "replay2.exe"}) {
        for (std::vector<std::string> mode : {std::vector<std::string>{}, {"-utf8"}, {"-utf16"}}) {
            for (bool emulate : {true, false}) {
                std::string what = std::string(program) + (mode.empty() ? "" : " " + mode[0]) + (emulate ? "" : " (stepped)");
                TClientRun run = RunClient(program, mode, AllActions, emulate);
                EXPECT_TRUE(run.Session.Errors.empty()) << what << ": " << run.Session.Errors.front();
                EXPECT_EQ(run.Session.ExitCode, 0u) << what << ": the client's own checks";
                auto expected = ExpectedRecords(run.Truth, AllActions);
                EXPECT_EQ(Rows(run.Session.Records), Rows(expected)) << what << "\n" << FirstDifference(run.Session.Records, expected);
                // The reference sequence: two prepares and executes (one failing), one fetch.
                EXPECT_EQ(Count(run.Session.Records, "Prepare"), 2u) << what;
                EXPECT_EQ(Count(run.Session.Records, "Execute"), 2u) << what;
                EXPECT_EQ(Count(run.Session.Records, "Fetch ("), 1u) << what;
                for (const TTraceRow& r : run.Session.Records)
                    EXPECT_NE(r.Statement, "<unavailable>") << what << ": " << r.Action;
            }
        }
    }
}

// Prepare, release and prepare again handing out the same handle with other SQL; by key
// alone; a failed prepare; ORA errors; UTF-16 and UTF-8 text: the statement cache script,
// every row exact. (Its closing part, four threads sharing one statement cache, is left
// out: their log lines cannot tell which release came before which prepare. The test of
// threads below gives each its own service context.)
TEST(ClientLibraries, TheStatementCacheIsFollowedThroughReuseKeysAndFailures)
{
    // The fixtures' scripts, from the bin folder of a build tree in the repository.
    std::string script = ReadFileBytes(BinDir() + "\\..\\..\\fixtures\\scripts\\cache.txt");
    size_t threads = script.find("\nthreads ");
    ASSERT_NE(threads, std::string::npos);
    script = script.substr(0, threads + 1);
    for (TTraceMask mask : {AllActions, TraceMaskExecute, TraceMaskFetch}) {
        for (bool emulate : {true, false}) {
            TClientRun run = RunScript(script, mask, emulate);
            EXPECT_TRUE(run.Session.Errors.empty()) << run.Session.Errors.front();
            EXPECT_EQ(run.Session.ExitCode, 0u);
            auto expected = ExpectedRecords(run.Truth, mask);
            // Pointers the client passed raw show what reading them gave: a read error or,
            // for no text and an unknown key, "<unavailable>".
            for (size_t i = 0; i < std::min(expected.size(), run.Session.Records.size()); ++i)
                if (expected[i].Statement == "(raw)") {
                    std::string& shown = run.Session.Records[i].Statement;
                    EXPECT_TRUE(shown.rfind("System Error.  Code: ", 0) == 0 || shown == "<unavailable>") << shown;
                    shown = "(raw)";
                }
            EXPECT_EQ(Rows(run.Session.Records), Rows(expected))
                << int(mask) << (emulate ? "" : " (stepped)") << "\n" << FirstDifference(run.Session.Records, expected);
            if (mask == AllActions) {
                EXPECT_GE(run.Session.Records.size(), 30u);
            }
        }
    }
}

// An older library without the newer entry points is traced as before, without a word.
TEST(ClientLibraries, AnOlderLibraryWithoutTheNewEntriesIsTracedAsBefore)
{
    TClientRun run = RunScript("load classic/OCI.DLL\nalloc S\nprepare S SELECT 1 FROM dual /*vt rows=2*/\n"
                               "execute S\nfetchall S 1\nfree S\n",
                               AllActions);
    EXPECT_TRUE(run.Session.Errors.empty()) << run.Session.Errors.front();
    EXPECT_EQ(Rows(run.Session.Records), Rows(ExpectedRecords(run.Truth, AllActions)));
    EXPECT_EQ(run.Session.Records.size(), 5u) << Describe(run.Session.Records);
}

// Four threads, each with its own service context, mixing the classic calls and the
// cached ones: every call delivered once, with its own SQL and result.
TEST(ClientLibraries, ThreadsMixingClassicAndCachedCallsKeepTheirOwnCalls)
{
    const std::string script = "load\nenv E\nalloc ERR E error\n"
                               "threads 4\n"
                               "svc C E ERR\n"
                               "alloc S\n"
                               "repeat 15\n"
                               "prepare S SELECT {T} AS classic_{I} FROM dual /*vt rows=2 result={T}*/\n"
                               "execute S\n"
                               "fetch S 5\n"
                               "prepare2 P C SELECT {T} AS cached_{I} FROM dual /*vt rows=1*/\n"
                               "execute P\n"
                               "fetch2 P 5\n"
                               "release P\n"
                               "end\n"
                               "end\n";
    for (bool emulate : {true, false}) {
        TClientRun run = RunScript(script, AllActions, emulate);
        EXPECT_TRUE(run.Session.Errors.empty()) << run.Session.Errors.front();
        EXPECT_EQ(run.Session.ExitCode, 0u);
        // Each thread's calls in its own order.
        auto [expected, traced] = RowsByThread(run.Truth, run.Session.Records, AllActions);
        ASSERT_EQ(expected.size(), 4u);
        for (const auto& [thread, rows] : expected) {
            EXPECT_EQ(rows.size(), 15u * 6u);
            EXPECT_EQ(Rows(traced[thread]), Rows(rows)) << "thread " << thread << (emulate ? "" : " (stepped)");
        }
        EXPECT_EQ(traced.size(), 4u) << "no row without its thread's SQL";
    }
}
