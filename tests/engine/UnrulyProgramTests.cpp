// Programs that do what well-behaved clients do not: forwarded entry points, their own
// breakpoints and exceptions, calls left by an exception or a long jump, threads ending
// inside calls, hundreds of short-lived threads while patches are lifted. Every call is
// counted against the program's own log: each exactly once, with its own SQL and result.
// Each runs on both entry-point paths: the usual prologues, whose first instruction the
// tracer carries out, and a library whose entries start with one that must be stepped.
#include "SessionRunner.h"

#include "Errors.h"
#include "VelloranBuild.h"
#include "Utils.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

constexpr TTraceMask AllActions = TraceMaskPrepare | TraceMaskExecute | TraceMaskFetch;

using TScriptRun = TFixtureRun;

// The two paths: "load" of the usual library, or of the one that must be stepped.
struct TPath {
    const char* Name;
    const char* Library;
};
const TPath Paths[] = {{"emulated", "OCI.DLL"}, {"stepped", "stepped/OCI.DLL"}};

TScriptRun RunScript(std::string script, const TPath& path, TTraceMask mask = AllActions)
{
    return RunScriptText(ReplaceAll(script, "{DLL}", path.Library), mask, true, "ocirun.exe", 120000);
}

// The rows, sorted: threads interleave, but every row names its call.
std::vector<TRowKey> Sorted(const std::vector<TTraceRow>& rows)
{
    std::vector<TRowKey> out = RowKeys(rows);
    std::sort(out.begin(), out.end());
    return out;
}

// Counts for the failure message: rows the program's calls should have made but were
// not delivered, and rows delivered that no call made (or with another call's SQL).
std::string Counts(const std::vector<TTraceRow>& traced, const std::vector<TTraceRow>& expected)
{
    auto a = Sorted(traced), b = Sorted(expected);
    std::vector<TRowKey> lost, wrong;
    std::set_difference(b.begin(), b.end(), a.begin(), a.end(), std::back_inserter(lost));
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(wrong));
    std::string text = std::to_string(expected.size()) + " calls, " + std::to_string(lost.size()) + " lost, " +
                       std::to_string(wrong.size()) + " wrong";
    for (const auto& w : wrong)
        text += "\n  wrong: " + std::get<0>(w) + " | " + std::to_string(std::get<1>(w)) + " | " + std::get<2>(w);
    return text;
}

void ExpectEveryCallOnce(const TScriptRun& run, const std::string& what)
{
    auto expected = ExpectedRecords(run.Truth, AllActions);
    EXPECT_TRUE(run.Session.Errors.empty()) << what << ": " << run.Session.Errors.front();
    EXPECT_EQ(Sorted(run.Session.Records), Sorted(expected)) << what << ": " << Counts(run.Session.Records, expected);
}

} // namespace

// OCIStmtFetch forwarded to OTHER.DLL: traced where OTHER implements it, and nothing is
// written into the forwarder string or anywhere else (the program checks its memory).
// OCIStmtFetch2, forwarded to an export OTHER.DLL lacks, is a warning, not an error.
TEST(UnrulyPrograms, AForwardedEntryIsTracedWhereItIsImplementedAndNothingElseIsWritten)
{
    std::string script = ReadFileBytes(BinDir() + "\\..\\..\\fixtures\\scripts\\forward.txt");
    ASSERT_FALSE(script.empty());
    TScriptRun run = RunScript(script, Paths[0]);
    ExpectEveryCallOnce(run, "forward");
    EXPECT_EQ(run.Session.Warnings,
              std::vector<std::string>{
                  "OCIStmtFetch2 is forwarded to OTHER.DLL.OCIStmtFetch2, which OTHER.DLL does not export: it is not traced."});
    EXPECT_EQ(run.Session.ExitCode, 0u) << "the program found its memory changed";
    EXPECT_GE(std::count_if(run.Session.Records.begin(), run.Session.Records.end(),
                            [](const TTraceRow& r) { return r.Action.rfind("Fetch", 0) == 0; }),
              2)
        << Describe(run.Session.Records);
}

// The program's own int3s and access violations reach its own handlers, first chance,
// as they would without a debugger; a debug output flood passes; the version read of
// OCI.DLL before it is loaded is no load to trace.
TEST(UnrulyPrograms, TheProgramsOwnExceptionsReachItsHandlersAndAVersionReadIsNoLoad)
{
    for (const TPath& path : Paths) {
        TScriptRun run = RunScript("versioninfo {DLL}\nint3 60\nav 20\nods 200\nload {DLL}\nalloc S\n"
                                   "repeat 20\nprepare S SELECT {I} FROM dual /*vt rows=1*/\nexecute S\nint3 2\n"
                                   "av 1\nfetchall S 1\nend\nfree S\n",
                                   path);
        EXPECT_EQ(run.Session.ExitCode, 0u) << path.Name << ": the program's handler missed some";
        ExpectEveryCallOnce(run, path.Name);
        EXPECT_EQ(run.Session.Records.size(), 20u * 4u) << path.Name;
    }
}

// Calls left by a C++ exception or a long jump out of a callback never return; the calls
// after them, at the same stack depth, show their own SQL with their own result.
TEST(UnrulyPrograms, CallsLeftByAnExceptionOrALongJumpLeaveLaterRowsExact)
{
    // Wine 8 ends a 64-bit program whose C++ exception crosses from one module into
    // another while any debugger is attached (a ten-line debugger that passes every
    // exception on does the same): there only the long jump is tried. With hooks through
    // stubs (fast or logged) the 32-bit clients' exceptions (unwound by DWARF tables)
    // cannot pass the stub's frame, which has none, any more than they could pass a real
    // OCI library's frames: only the long jump is tried there too.
    const bool stubs = DefaultHooks() != THookKind::Breakpoint;
    const std::string thrown = (VELLORAN_BITS == 64 && !UsingFixtures32()) || stubs ? "" : "throwcb C\n";
    for (const TPath& path : Paths) {
        TScriptRun run = RunScript("load {DLL}\nalloc C\nalloc S\n"
                                   "prepare C BEGIN callback; END; /*vt callback=3*/\n"
                                   "repeat 12\n" +
                                   thrown +
                                   "prepare S SELECT {I} AS after_throw FROM dual /*vt result=1*/\nexecute S\n"
                                   "longjmpcb C\n"
                                   "prepare S SELECT {I} AS after_jump FROM dual /*vt result=0*/\nexecute S\n"
                                   "end\n",
                                   path);
        EXPECT_EQ(run.Session.ExitCode, 0u) << path.Name;
        ExpectEveryCallOnce(run, path.Name);
        EXPECT_EQ(run.Session.Records.size(), 1u + 12u * 4u) << path.Name << "\n" << Describe(run.Session.Records);
    }
}

// Threads ending inside calls (ExitThread from a callback, TerminateThread while asleep
// in a call) while others call; the process ending inside a call.
TEST(UnrulyPrograms, ThreadsAndTheProcessEndingInsideCallsCostNoOtherRow)
{
    for (const TPath& path : Paths) {
        TScriptRun run = RunScript("load {DLL}\nalloc C\nalloc L\n"
                                   "prepare C BEGIN callback; END; /*vt callback=9*/\n"
                                   "prepare L BEGIN sleep_long; END; /*vt sleep=5000*/\n"
                                   "exitthreadcb C\nterminate L 300\n"
                                   "threads 3\nalloc S\nrepeat 30\n"
                                   "prepare S SELECT {T} AS t, {I} AS i FROM dual /*vt rows=1 result={T}*/\n"
                                   "execute S\nfetchall S 1\nend\nend\n"
                                   "exitthreadcb C\nwaitall\n"
                                   "prepare C BEGIN last; END; /*vt callback=5*/\nexitcb C 5\n",
                                   path);
        EXPECT_EQ(run.Session.ExitCode, 5u) << path.Name << ": the process ends inside the last call";
        ExpectEveryCallOnce(run, path.Name);
    }
}

// Ten threads calling while two hundred short-lived threads come and go and exceptions
// and debug output fly: while a patch is lifted for a step every other thread stays
// frozen, new ones too, so no call passes unseen.
TEST(UnrulyPrograms, NoCallPassesWhileAPatchIsLiftedWhateverElseHappens)
{
    for (const TPath& path : Paths) {
        TScriptRun run = RunScript("load {DLL}\n"
                                   "spawn 200\nalloc T\nprepare T SELECT {T} AS spawned FROM dual /*vt result=1*/\n"
                                   "execute T\nfree T\nend\n"
                                   "threads 10\nalloc S\nrepeat 20\n"
                                   "prepare S SELECT {T} AS t, {I} AS i FROM dual /*vt rows=1*/\n"
                                   "execute S\nav 1\nfetch S 1\nods 2\nint3 1\nend\nend\n"
                                   "waitall\n",
                                   path);
        EXPECT_EQ(run.Session.ExitCode, 0u) << path.Name;
        ExpectEveryCallOnce(run, path.Name);
        EXPECT_EQ(run.Session.Records.size(), 200u * 2u + 10u * 20u * 3u) << path.Name;
    }
}
