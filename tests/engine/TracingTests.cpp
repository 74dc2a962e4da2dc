// OCI calls traced end to end: fixture clients run under the real debug thread, and
// what the tracer delivers is compared with each client's own log of its calls.
#include "SessionRunner.h"
#include "VelloranBuild.h"

#include "HookKinds.h"
#include "ProcessList.h"

#include "Errors.h"
#include "Utils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

namespace {

constexpr TTraceMask AllActions = TraceMaskPrepare | TraceMaskExecute | TraceMaskFetch;

using TScriptRun = TFixtureRun;

TScriptRun RunScript(const std::string& script, TTraceMask mask, bool emulate = true, const std::string& program = "ocirun.exe")
{
    return RunScriptText(script, mask, emulate, program);
}

// The records without their times, for comparing with the expected ones.
std::vector<TRowKey> Rows(const std::vector<TTraceRow>& rows) { return RowKeys(rows); }

double Millis(double days) { return days * MSecsPerDay; }

const char* const LifecycleScript = R"(load
alloc A
alloc B
sethandle N 0x1234
execute N
prepare A SELECT a FROM t /*vt rows=3*/
execute A
fetch A 2
fetch A 2
fetch A 2
prepare B UPDATE t SET x = 1 /*vt result=1*/
execute B
prepare A SELECT again FROM t /*vt rows=1*/
execute A
fetchall A 10
free A
execute A
fetch A 10
execute B
free B
)";

} // namespace

// Each mask, with first instructions carried out by the tracer and with single steps.
TEST(Tracing, RecordsFollowTheMaskAndTheRegistry)
{
    for (bool emulate : {true, false}) {
        for (TTraceMask mask = 0; mask <= AllActions; ++mask) {
            TScriptRun run = RunScript(LifecycleScript, mask, emulate);
            auto expected = ExpectedRecords(run.Truth, mask);
            EXPECT_TRUE(run.Session.Errors.empty()) << run.Session.Errors.front();
            EXPECT_EQ(run.Session.ExitCode, 0u);
            EXPECT_EQ(Rows(run.Session.Records), Rows(expected))
                << "mask " << int(mask) << (emulate ? "" : " (stepping)") << "\ngot:\n"
                << Describe(run.Session.Records) << "expected:\n"
                << Describe(expected);
        }
    }
}

TEST(Tracing, ExpectedRecordsCoverTheInterestingCases)
{
    // A check of the model the other tests rely on, against the lifecycle script.
    TScriptRun run = RunScript(LifecycleScript, AllActions);
    auto rows = run.Session.Records;
    ASSERT_GE(rows.size(), 14u);
    EXPECT_EQ(rows[0].Action, "Execute");
    EXPECT_EQ(rows[0].Statement, "<unavailable>") << "a never-prepared handle";
    EXPECT_EQ(rows[0].Result, -2);
    auto last = rows.end() - 1;
    EXPECT_EQ(last->Action, "Execute");
    EXPECT_EQ(last->Statement, "UPDATE t SET x = 1 /*vt result=1*/");
    EXPECT_EQ((last - 1)->Action, "Fetch (10)");
    EXPECT_EQ((last - 1)->Statement, "<unavailable>") << "a freed handle";
    // Prepare untraced: the next execute still shows its text.
    TScriptRun executesOnly = RunScript(LifecycleScript, TraceMaskExecute);
    ASSERT_GE(executesOnly.Session.Records.size(), 3u);
    EXPECT_EQ(executesOnly.Session.Records[1].Statement, "SELECT a FROM t /*vt rows=3*/");
}

// Narrow text arrives whole as UTF-8: byte for byte where it is UTF-8 already, else read
// in the system's code page.
TEST(Tracing, StatementTextsArriveWhole)
{
    TScriptRun run = RunScript("load\nalloc S\n"
                               "prepare S SELECT a\\r\\nFROM t\\nWHERE b = 'x\\0y'\\t\\xFF\n"
                               "execute S\n"
                               "prepare S \n"
                               "execute S\n"
                               "prepare S SELECT 'Gr\\xC3\\xBC\\xC3\\x9Fe' FROM dual\n"
                               "execute S\n",
                               AllActions);
    ASSERT_EQ(run.Session.Records.size(), 6u) << Describe(run.Session.Records);
    wchar_t y = 0;
    MultiByteToWideChar(CP_ACP, 0, "\xFF", 1, &y, 1);
    char ansiY[8] = {};
    int n = WideCharToMultiByte(CP_UTF8, 0, &y, 1, ansiY, sizeof(ansiY), nullptr, nullptr);
    const std::string text = std::string("SELECT a\r\nFROM t\nWHERE b = 'x\0y'\t", 33) + std::string(ansiY, n);
    EXPECT_EQ(run.Session.Records[0].Statement, text);
    EXPECT_EQ(run.Session.Records[1].Statement, text);
    EXPECT_EQ(run.Session.Records[2].Statement, "") << "stmt_len 0";
    EXPECT_EQ(run.Session.Records[3].Statement, "");
    EXPECT_EQ(run.Session.Records[4].Statement, "SELECT 'Gr\xC3\xBC\xC3\x9F" "e' FROM dual");
    EXPECT_EQ(run.Session.Records[5].Statement, run.Session.Records[4].Statement);
}

TEST(Tracing, UnreadableTextsBecomeTheErrorTextAndTheSessionGoesOn)
{
    TScriptRun run = RunScript("load\nalloc S\n"
                               "prepare S SELECT old FROM t\n"
                               "prepare_raw S unmapped 10\n"
                               "execute S\n"
                               "prepare_raw S valid 0xFFFFFFF0\n"
                               "prepare_raw S null 5\n"
                               "execute S\n",
                               AllActions);
    EXPECT_TRUE(run.Session.Errors.empty());
    const auto& r = run.Session.Records;
    ASSERT_EQ(r.size(), 6u) << Describe(r);
    EXPECT_EQ(r[1].Action, "Prepare");
    EXPECT_EQ(r[1].Statement.rfind("System Error.  Code: ", 0), 0u) << r[1].Statement;
    EXPECT_EQ(r[2].Statement, "SELECT old FROM t") << "a failed read keeps the handle's old text";
    EXPECT_EQ(r[3].Statement, EOSError(ERROR_NOT_ENOUGH_MEMORY).what()) << "a garbage length is survived";
    EXPECT_EQ(r[4].Statement.rfind("System Error.  Code: ", 0), 0u);
    EXPECT_EQ(r[5].Statement, "SELECT old FROM t");

    // The same prepares untraced, feeding only the registry: the program runs on as well.
    TScriptRun executes = RunScript("load\nalloc S\nprepare S SELECT old FROM t\n"
                                    "prepare_raw S unmapped 10\nexecute S\n"
                                    "prepare_raw S valid 0xFFFFFFF0\nprepare_raw S null 5\nexecute S\n"
                                    "prepare S SELECT new FROM t\nexecute S\n",
                                    TraceMaskExecute);
    EXPECT_TRUE(executes.Session.Errors.empty());
    EXPECT_EQ(executes.Session.ExitCode, 0u);
    ASSERT_EQ(executes.Session.Records.size(), 3u) << Describe(executes.Session.Records);
    EXPECT_EQ(executes.Session.Records[0].Statement, "SELECT old FROM t");
    EXPECT_EQ(executes.Session.Records[1].Statement, "SELECT old FROM t");
    EXPECT_EQ(executes.Session.Records[2].Statement, "SELECT new FROM t");
}

TEST(Tracing, ReturnCodesAndElapsedTimes)
{
    TScriptRun run = RunScript("load\nalloc S\n"
                               "prepare S /*vt result=0 sleep=40*/\nexecute S\n"
                               "prepare S /*vt result=1*/\nexecute S\n"
                               "prepare S /*vt result=99*/\nexecute S\n"
                               "prepare S /*vt result=100*/\nexecute S\n"
                               "prepare S /*vt result=-1 sleep=25*/\nexecute S\n"
                               "prepare S /*vt result=-2*/\nexecute S\n"
                               "prepare S /*vt result=-3123*/\nexecute S\n"
                               "prepare S /*vt result=-24200*/\nexecute S\n"
                               "prepare S /*vt result=-12*/\nexecute S\n"
                               "prepare S /*vt prepresult=2 prepsleep=30 rows=2 fetchsleep=20*/\nexecute S\nfetchall S 1\n",
                               AllActions);
    std::vector<std::pair<std::string, int32_t>> got;
    for (const auto& r : run.Session.Records)
        got.emplace_back(r.Action, r.Result);
    std::vector<std::pair<std::string, int32_t>> want = {
        {"Prepare", 0}, {"Execute", 0},     {"Prepare", 0}, {"Execute", 1},      {"Prepare", 0},
        {"Execute", 99}, {"Prepare", 0},    {"Execute", 100}, {"Prepare", 0},    {"Execute", -1},
        {"Prepare", 0}, {"Execute", -2},    {"Prepare", 0}, {"Execute", -3123},  {"Prepare", 0},
        {"Execute", -24200}, {"Prepare", 0}, {"Execute", -12}, {"Prepare", 2},   {"Execute", 0},
        {"Fetch (1)", 0}, {"Fetch (1)", 0}, {"Fetch (1)", 100}};
    ASSERT_EQ(got, want) << Describe(run.Session.Records);
    const auto& r = run.Session.Records;
    EXPECT_GE(Millis(r[1].Elapsed), 40.0);
    EXPECT_GE(Millis(r[9].Elapsed), 25.0);
    EXPECT_GE(Millis(r[18].Elapsed), 30.0);
    EXPECT_GE(Millis(r[20].Elapsed), 20.0);
    EXPECT_GE(Millis(r[21].Elapsed), 20.0);
    EXPECT_GE(Millis(r[22].Elapsed), 20.0);
}

TEST(Tracing, OCIDllIsRecognisedByItsFileNameOnly)
{
    struct {
        const char* Path;
        size_t Records;
    } cases[] = {{"lower/oci.dll", 2}, {"other/OCI.DLL", 2}, {"long/XOCI.DLL", 0}};
    for (const auto& c : cases) {
        TScriptRun run = RunScript(std::string("load ") + c.Path + "\nalloc S\nprepare S SELECT 1 FROM dual\nexecute S\n",
                                   AllActions);
        EXPECT_EQ(run.Session.Records.size(), c.Records) << c.Path;
        EXPECT_TRUE(run.Session.Errors.empty()) << c.Path;
        EXPECT_EQ(run.Session.ExitCode, 0u) << c.Path;
    }
}

TEST(Tracing, AnOCIDllWithoutAnEntryPointEndsTheSession)
{
    TScriptRun run = RunScript("load noexport/OCI.DLL\nalloc S\nprepare S SELECT 1 FROM dual\n", AllActions);
    EXPECT_EQ(run.Session.Events, (std::vector<std::string>{"STARTED", "FINISHED"}));
    ASSERT_EQ(run.Session.Errors.size(), 1u);
    EXPECT_EQ(run.Session.Errors[0], EOSError(ERROR_PROC_NOT_FOUND).what());
}

// A second OCI.DLL (another copy, or the same one loaded again after an unload) is
// traced like the first: the trace goes on.
TEST(Tracing, EveryOCIDllLoadedAsCodeIsTracedAndTheTraceGoesOnAfterAnUnload)
{
    for (bool emulate : {true, false}) {
        TScriptRun run = RunScript("load\nalloc S\nprepare S SELECT 1 FROM dual\nexecute S\n"
                                   "unload\nload\nalloc T\nprepare T SELECT 2 FROM dual\nexecute T\nfetch T 5\n"
                                   "load other/OCI.DLL\nalloc U\nprepare U SELECT 3 FROM dual\nexecute U\n"
                                   "unload\nalloc V\nprepare V SELECT 4 FROM dual\nexecute V\n",
                                   AllActions, emulate);
        EXPECT_TRUE(run.Session.Errors.empty()) << run.Session.Errors.front();
        EXPECT_EQ(Rows(run.Session.Records), Rows(ExpectedRecords(run.Truth, AllActions)))
            << Describe(run.Session.Records);
        EXPECT_EQ(run.Session.Records.size(), 9u);
        EXPECT_EQ(run.Session.ExitCode, 0u);
    }
}

TEST(Tracing, OCIDllUnloadedWhileACallIsUnderWayGivesNoRecordForIt)
{
    TScriptRun run = RunScript("load\nalloc S\nalloc L\nprepare S SELECT quick FROM t\nexecute S\n"
                               "prepare L SELECT slow FROM t /*vt sleep=60000*/\n"
                               "execute_async L\nsleep 300\nunload\nsleep 200\nexit 7\n",
                               TraceMaskExecute);
    EXPECT_TRUE(run.Session.Errors.empty()) << run.Session.Errors.front();
    ASSERT_EQ(run.Session.Records.size(), 1u) << Describe(run.Session.Records);
    EXPECT_EQ(run.Session.Records[0].Statement, "SELECT quick FROM t");
    EXPECT_EQ(run.Session.ExitCode, 7u) << "the client must run on to its own end";
}

TEST(Tracing, AProgramLinkedAgainstOCIIsTracedFromItsFirstCall)
{
    std::string logFile = TempFile("linked.log");
    TSessionRunner runner;
    TSession s = runner.Run(FixtureCommand("ocilinked.exe", {"-log", logFile}), AllActions);
    auto expected = ExpectedRecords(ReadTruth(logFile), AllActions);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(Rows(s.Records), Rows(expected)) << Describe(s.Records);
    EXPECT_EQ(s.Records.front().Action, "Prepare");
    DeleteFileA(logFile.c_str());
}

// Four threads through one call site, with their own statements, results and sleeps:
// every call is delivered once, with its own thread's statement, result and time. Mixed,
// the same call instruction also reaches a function of the program's own, whose returns
// run into the patch kept at the return site between OCI calls.
TEST(Tracing, ThreadsTracedConcurrentlyKeepTheirOwnCalls)
{
    struct {
        bool Emulate;
        bool Mixed;
    } cases[] = {{true, false}, {false, false}, {true, true}, {false, true}};
    for (const auto& c : cases) {
        const bool emulate = c.Emulate;
        std::string logFile = TempFile(std::string("callsite") + (emulate ? "1" : "2") + (c.Mixed ? "m" : "") + ".log");
        TSessionRunner runner;
        runner.EmulatePrologues = emulate;
        std::vector<std::string> args{"-log", logFile, "-n", "60"};
        if (c.Mixed)
            args.push_back("-mixed");
        TSession s = runner.Run(FixtureCommand("callsite.exe", args), TraceMaskExecute);
        auto truth = ReadTruth(logFile);
        DeleteFileA(logFile.c_str());
        SCOPED_TRACE(std::string(emulate ? "" : "stepping ") + (c.Mixed ? "mixed" : "OCI only"));
        EXPECT_TRUE(s.Errors.empty()) << s.Errors.front();
        EXPECT_EQ(s.ExitCode, 0u) << "the program's own results must stay right";

        // Per statement: the result the client saw, and how many calls it made.
        std::map<DWORD, std::string> texts;
        std::map<std::string, std::multiset<int32_t>> made;
        for (const auto& c : truth) {
            if (c.Kind == "PREPARE")
                texts[c.Handle] = c.Text;
            else if (c.Kind == "EXECUTE")
                made[texts[c.Handle]].insert(c.Result);
        }
        std::map<std::string, std::multiset<int32_t>> traced;
        for (const auto& r : s.Records)
            traced[r.Statement].insert(r.Result);
        EXPECT_EQ(made.size(), 4u);
        EXPECT_EQ(s.Records.size(), c.Mixed ? 4u * 40 : 4u * 60) << "one row for each OCI call, none for the others";
        EXPECT_EQ(traced, made) << "calls lost or mixed up between threads";
    }
}

TEST(Tracing, AnAttachPicksUpTheLoadedOCIDllAndTracesFromThenOn)
{
    std::string ready = TempFile("attach-ready");
    std::string stop = TempFile("attach-stop");
    DeleteFileA(ready.c_str());
    DeleteFileA(stop.c_str());
    std::vector<std::string> args{FixtureDir() + "\\attachee.exe", "-ready", ready, "-stop", stop, "-timeout", "60"};
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION child{};
    std::string line = "\"" + args[0] + "\" -ready \"" + ready + "\" -stop \"" + stop + "\" -timeout 60";
    ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child));
    CloseHandle(child.hThread);
    for (int i = 0; i < 2000 && GetFileAttributesA(ready.c_str()) == INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(10);

    ProcessList().Refresh();
    auto record = ProcessList().FindProcess(child.dwProcessId);
    ASSERT_TRUE(record);
    TSessionRunner runner;
    runner.OnRecord = [](TSessionRunner& r, const TTraceRow&) {
        static int n = 0;
        if (++n == 60)
            r.Stop();
    };
    TSession s = runner.Attach(record, AllActions);
    EXPECT_TRUE(s.Errors.empty());
    ASSERT_GE(s.Records.size(), 60u);
    // The attachee prepares before each execute, so once a prepare has been seen every
    // execute and fetch shows real text; before it only "<unavailable>" is possible.
    auto firstPrepare = std::find_if(s.Records.begin(), s.Records.end(), [](const TTraceRow& r) { return r.Action == "Prepare"; });
    ASSERT_NE(firstPrepare, s.Records.end());
    for (auto it = firstPrepare; it != s.Records.end(); ++it)
        EXPECT_NE(it->Statement, "<unavailable>") << it->Action;

    WriteFileBytes(stop, "stop");
    WaitForSingleObject(child.hProcess, 20000);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(child.hProcess, &code);
    if (code == STILL_ACTIVE)
        TerminateProcess(child.hProcess, 99);
    CloseHandle(child.hProcess);
    EXPECT_EQ(code, 0u);
    DeleteFileA(ready.c_str());
    DeleteFileA(stop.c_str());
}

// Calls made while the program goes on without an event reach the window all the same:
// the program waits for a file that the test makes only once it has the calls' rows.
// Logged hooks deliver them without stopping the program once. The time from letting the
// program go on after its prepare to the fetch's row is printed: it bounds how late a row
// comes (the program's own 10 ms poll of the file and two calls included).
TEST(Tracing, RowsArriveWhileTheProgramRunsOn)
{
    std::string go = TempFile("rowsgo"), gate = TempFile("rowsgate");
    DeleteFileA(go.c_str());
    DeleteFileA(gate.c_str());
    std::string script = "load\nalloc S\nprepare S SELECT 1 FROM dual /*vt rows=1*/\nwaitfile " + go +
                         "\nexecute S\nfetch S 1\nwaitfile " + gate + "\nfree S\n";
    std::string scriptFile = TempFile("rowsgate.txt");
    WriteFileBytes(scriptFile, script);
    TSessionRunner runner;
    size_t before = 0;
    LARGE_INTEGER frequency, released{}, arrived{};
    QueryPerformanceFrequency(&frequency);
    runner.OnRecord = [&](TSessionRunner&, const TTraceRow&) {
        if (++before == 1) {
            QueryPerformanceCounter(&released);
            WriteFileBytes(go, "go");
        } else if (before == 3) {
            QueryPerformanceCounter(&arrived);
            WriteFileBytes(gate, "go");
        }
    };
    TSession s = runner.Run(FixtureCommand("ocirun.exe", {scriptFile}), AllActions);
    DeleteFileA(go.c_str());
    DeleteFileA(gate.c_str());
    DeleteFileA(scriptFile.c_str());
    EXPECT_TRUE(s.Errors.empty()) << s.Errors.front();
    EXPECT_EQ(s.ExitCode, 0u) << "the program waited in vain: the rows came only at its end";
    ASSERT_EQ(s.Records.size(), 3u);
    std::printf("hooks %s: execute and fetch rows in %.1f ms after the program went on\n",
                HookKindWord(runner.Hooks),
                1000.0 * static_cast<double>(arrived.QuadPart - released.QuadPart) / static_cast<double>(frequency.QuadPart));
    if (runner.Hooks == THookKind::Log) {
        EXPECT_EQ(s.CallStops, 0u) << "no call stopped the program";
    }
}

// A log far too small for four threads' calls fills again and again: a thread that finds
// it full raises to have it read. Every call still arrives once, in its thread's order,
// and entries stay matched to their returns. Logged hooks only (the others log no returns).
TEST(Tracing, AFullLogHoldsAThreadUpAndLosesNoCall)
{
    if (DefaultHooks() != THookKind::Log)
        GTEST_SKIP() << "for logged hooks";
    const std::string script = "load\nthreads 4\nalloc S\nrepeat 25\n"
                               "prepare S SELECT {T} AS n_{I} FROM dual /*vt rows=2 result={T}*/\n"
                               "execute S\nfetch S 5\nend\nend\n";
    std::string scriptFile = TempFile("fulllog.txt"), logFile = TempFile("fulllog.log");
    WriteFileBytes(scriptFile, script);
    for (uint32_t entries : {2u, 16u}) {
        SCOPED_TRACE("log of " + std::to_string(entries) + " entries");
        TSessionRunner runner;
        runner.LogEntries = entries;
        TSession s = runner.Run(FixtureCommand("ocirun.exe", {"-log", logFile, scriptFile}), AllActions);
        std::vector<TTruthCall> truth = ReadTruth(logFile);
        EXPECT_TRUE(s.Errors.empty()) << s.Errors.front();
        EXPECT_EQ(s.ExitCode, 0u);
        EXPECT_GT(s.CallStops, 0u) << "the log never filled";
        // Each thread's rows in its own order.
        auto [expected, traced] = RowsByThread(truth, s.Records, AllActions);
        ASSERT_EQ(expected.size(), 4u);
        EXPECT_EQ(traced.size(), 4u) << "no row without its thread's SQL";
        for (const auto& [thread, rows] : expected) {
            EXPECT_EQ(rows.size(), 25u * 3u);
            EXPECT_EQ(Rows(traced[thread]), Rows(rows)) << "thread " << thread;
        }
    }
    DeleteFileA(scriptFile.c_str());
    DeleteFileA(logFile.c_str());
}
