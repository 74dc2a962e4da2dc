// Repeats the multi-thread scenarios many times under the tracer and counts the rows it
// got wrong or lost against each run's ground-truth log: threads and the process ending
// inside calls, calls nested inside calls, four threads through prepare, execute and
// fetch, and ten threads plus short-lived ones while the program's own exceptions fly.
// Each scenario runs on both entry-point paths: the usual library, whose first
// instructions the tracer carries out, and stepped/OCI.DLL, whose must be stepped.
//
// The tracer is either this program's own session (the engine in-process, as the window
// runs it) or, with --tool, a capture tool binary run as
//   TOOL --trace prepare,execute,fetch --output FILE -- PROGRAM -log LOG ...
// whose TSV rows are read back, so that other builds of the capture tool (an older
// release's) can be measured the same way.
//
//   trace_stress [--runs N] [--tool PATH] [--scenario NAME,...] [--path emulated|stepped]
//                [--fixtures DIR] [--timeout SEC] [--keep DIR] [--examples N] [--hooks int3|fast|log]
//                [--quiet]
//
// Every statement text is unique per call, so each row names its call. Lost rows: rows
// the calls in the log should have given that were not delivered. Wrong rows: rows
// delivered that no call made (another call's SQL or result, a call made twice, ...).
// A failed run: the program did not end as the scenario does, the tracer showed an
// error or did not finish in time. Exit status 0 when nothing was lost or wrong and no
// run failed, 1 otherwise, 2 for a usage error.
#include "CommandLine.h"
#include "Errors.h"
#include "OCITexts.h"
#include "HookKinds.h"
#include "SessionRunner.h"
#include "Utils.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr TTraceMask AllActions = TraceMaskPrepare | TraceMaskExecute | TraceMaskFetch;

// The program's end that says it ran through: its exit code and a line it printed.
constexpr const char* CompleteMarker = "stress-run: complete";

struct TScenario {
    const char* Name;
    const char* What;
    const char* Program;    // ocirun.exe runs Script; others get Arguments
    const char* Script;     // {DLL} becomes the path's library
    const char* Arguments;  // for other programs, split at blanks; {DLL} as above
    DWORD ExitCode;
    const char* Marker;
};

// The issue's multi-thread scenarios. Texts carry {T} and {I}: unique per call.
const TScenario Scenarios[] = {
    {"endings", "threads and the process ending inside calls, thread ids used again", "ocirun.exe",
     R"(load {DLL}
alloc L
prepare L BEGIN sleep_long; END; /*vt sleep=5000*/
terminate L 200
alloc X
prepare X BEGIN leave_thread; END; /*vt callback=3 sleep=10*/
spawn 30
  exitthreadcb X
  alloc T
  prepare T SELECT {T} AS spawned FROM ending /*vt rows=1 result=1*/
  execute T
  check 1
  fetchall T 1
  check 100
  free T
end
threads 3
  alloc S
  repeat 40
    prepare S SELECT {T} AS t, {I} AS i FROM ending /*vt sleep=5 rows=1 result={T}*/
    execute S
    check {T}
    fetchall S 1
  end
  free S
end
waitall
alloc Q
repeat 20
  exitthreadcb X
  prepare Q SELECT {I} AS returned FROM ending /*vt sleep=5 result=1*/
  terminate Q 400
  sleep 40
end
waitall
threads 4
  alloc S
  repeat 8
    exitthreadcb X
    prepare S SELECT {T} AS t, {I} AS i, 'after exit' FROM ending /*vt rows=1*/
    execute S
    check 0
    fetchall S 1
    check 100
  end
  free S
end
print stress-run: complete
alloc E
prepare E BEGIN leave_process; END; /*vt callback=7 sleep=10*/
exitcb E 7
)",
     "", 7, CompleteMarker},
    {"nested", "calls inside calls, 9 deep, 10 threads at one call site", "nestrun.exe", "",
     "-dll {DLL} -threads 10 -rounds 2 -depth 9", 0, "nestrun: done"},
    {"fetch4", "four threads through prepare, execute and fetch", "ocirun.exe",
     R"(load {DLL}
threads 4
  alloc S
  repeat 40
    prepare S SELECT {T} AS t, {I} AS i FROM fetched /*vt rows=2*/
    execute S
    check 0
    fetch S 1
    check 0
    fetchall S 2
    check 100
  end
  free S
end
print stress-run: complete
)",
     "", 0, CompleteMarker},
    {"patches", "ten threads and 100 short-lived ones, av, int3 and debug output", "ocirun.exe",
     R"(load {DLL}
spawn 100
  alloc T
  prepare T SELECT {T} AS spawned FROM patched /*vt result=1*/
  execute T
  check 1
  free T
end
threads 10
  alloc S
  repeat 20
    prepare S SELECT {T} AS t, {I} AS i FROM patched /*vt rows=1*/
    execute S
    check 0
    av 1
    fetchall S 1
    check 100
    int3 1
    ods 1
  end
  free S
end
waitall
print stress-run: complete
)",
     "", 0, CompleteMarker},
};

struct TPath {
    const char* Name;
    const char* Library;
};
const TPath Paths[] = {{"emulated", "OCI.DLL"}, {"stepped", "stepped/OCI.DLL"}};

struct TOptions {
    int Runs = 50;
    std::string Tool;
    std::set<std::string> Scenarios;
    std::set<std::string> Paths;
    std::string Fixtures;
    DWORD TimeoutMs = 180000;
    std::string Keep;
    int Examples = 5;
    bool Quiet = false;
    THookKind Hooks = DefaultHookKind;
};

using TRowKey = std::tuple<std::string, int32_t, std::string>;

std::string RowText(const TRowKey& row)
{
    return std::get<0>(row) + " | " + OCIResultText(std::get<1>(row)) + " | " + std::get<2>(row);
}

// What the tracer delivered in one run.
struct TTraced {
    std::vector<TTraceRow> Rows;
    std::vector<std::string> Problems;  // errors shown, a timeout, a wrong program end
};

double Seconds()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// A result as the exports write it, back to its code: OCI_SUCCESS, ..., unknown(N).
bool ParseResult(const std::string& text, int32_t& code)
{
    static const int32_t known[] = {0, 1, 99, 100, -1, -2, -3123, -24200};
    for (int32_t k : known)
        if (OCIResultText(k) == text) {
            code = k;
            return true;
        }
    if (text.rfind("unknown(", 0) == 0 && text.size() > 9 && text.back() == ')') {
        char* end = nullptr;
        long n = std::strtol(text.c_str() + 8, &end, 10);
        if (*end == ')') {
            code = static_cast<int32_t>(n);
            return true;
        }
    }
    return false;
}

// The capture tool's TSV: Start, rows of Action, Time, Result, Statement, Finish.
void ParseToolOutput(const std::string& tsv, TTraced& traced)
{
    std::istringstream in(tsv);
    std::string line;
    bool started = false, finished = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line == "Start") {
            started = true;
            continue;
        }
        if (line == "Finish") {
            finished = true;
            continue;
        }
        std::vector<std::string> f = SplitTabs(line);
        int32_t result = 0;
        if (f.size() != 4 || !ParseResult(f[2], result)) {
            traced.Problems.push_back("unreadable row: " + line);
            continue;
        }
        TTraceRow& row = traced.Rows.emplace_back();
        row.Action = f[0];
        row.Elapsed = 0;
        row.Result = result;
        row.Statement = f[3];
    }
    if (!started || !finished)
        traced.Problems.push_back(started ? "no Finish row" : "no Start row");
}

// Runs the capture tool on the program and waits for it, its output in outFile.
TTraced RunTool(const TOptions& options, const std::vector<std::string>& program, const std::string& traceFile,
                const std::string& outFile, std::string& programOutput)
{
    TTraced traced;
    std::vector<std::string> args{options.Tool, "--trace", "prepare,execute,fetch", "--output", traceFile};
    // Only a choice other than the default is passed on: a tool of before the choice runs too.
    if (options.Hooks != DefaultHookKind)
        args.insert(args.end(), {"--hooks", HookKindWord(options.Hooks)});
    args.push_back("--");
    args.insert(args.end(), program.begin(), program.end());
    std::string line = JoinCommandLine(args);
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE out = CreateFileA(outFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE nul = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                             nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = out;
    startup.hStdError = out;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
        traced.Problems.push_back("cannot start " + options.Tool);
    } else {
        if (WaitForSingleObject(info.hProcess, options.TimeoutMs) != WAIT_OBJECT_0) {
            traced.Problems.push_back("the capture tool did not finish in time: ended");
            TerminateProcess(info.hProcess, 99);
            WaitForSingleObject(info.hProcess, 20000);
        }
        DWORD code = 0;
        GetExitCodeProcess(info.hProcess, &code);
        if (code != 0)
            traced.Problems.push_back(Format("the capture tool ended with %lu", static_cast<unsigned long>(code)));
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
    }
    CloseHandle(out);
    CloseHandle(nul);
    programOutput = ReadFileBytes(outFile);
    ParseToolOutput(ReadFileBytes(traceFile), traced);
    return traced;
}

// Runs the program under this process's own session.
TTraced RunInProcess(const TOptions& options, const std::vector<std::string>& program, const std::string& outFile,
                     DWORD& exitCode, std::string& programOutput)
{
    TTraced traced;
    // The program's console output goes to a file: it inherits these standard handles.
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE out = CreateFileA(outFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE oldOut = GetStdHandle(STD_OUTPUT_HANDLE), oldErr = GetStdHandle(STD_ERROR_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, out);
    SetStdHandle(STD_ERROR_HANDLE, out);
    TSessionRunner runner;
    runner.Hooks = options.Hooks;
    TSession session = runner.Run(JoinCommandLine(program), AllActions, options.TimeoutMs);
    SetStdHandle(STD_OUTPUT_HANDLE, oldOut);
    SetStdHandle(STD_ERROR_HANDLE, oldErr);
    CloseHandle(out);
    programOutput = ReadFileBytes(outFile);
    traced.Rows = session.Records;
    for (const std::string& e : session.Errors)
        traced.Problems.push_back("error shown: " + e);
    if (!session.Finished)
        traced.Problems.push_back("the session did not finish");
    exitCode = session.ExitCode;
    return traced;
}

std::vector<TRowKey> Sorted(const std::vector<TTraceRow>& rows)
{
    std::vector<TRowKey> out;
    for (const TTraceRow& r : rows)
        out.emplace_back(r.Action, r.Result, r.Statement);
    std::sort(out.begin(), out.end());
    return out;
}

// The rows the calls of the log must give. The log is in the order calls returned,
// across threads: a handle freed by one thread and allocated again by another can be
// prepared there before the first thread has logged its free. Such a free, logged
// after another thread's prepare of the handle, is about the earlier statement: it is
// left out. Statements used by threads other than the one that prepared them (a call
// in a thread of its own) keep their text.
std::vector<TRowKey> Expected(const std::vector<TTruthCall>& truth)
{
    std::map<uint64_t, DWORD> preparedBy;
    std::vector<TTruthCall> calls;
    for (const TTruthCall& c : truth) {
        if (c.Kind == "PREPARE" || c.Kind == "PREPARE2")
            preparedBy[c.Handle] = c.ThreadId;
        if (c.Kind == "FREE") {
            auto it = preparedBy.find(c.Handle);
            if (it != preparedBy.end() && it->second != c.ThreadId)
                continue;
            preparedBy.erase(c.Handle);
        }
        calls.push_back(c);
    }
    return Sorted(ExpectedRecords(calls, AllActions));
}

struct TCount {
    int Runs = 0;
    long Calls = 0;
    long Lost = 0;
    long Wrong = 0;
    int Failed = 0;
    double Seconds = 0;
    std::vector<std::string> Examples;
};

std::vector<std::string> SplitWords(const std::string& text)
{
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

std::vector<std::string> SplitList(const std::string& text)
{
    std::vector<std::string> items;
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, ',');)
        if (!item.empty())
            items.push_back(item);
    return items;
}

void RunOnce(const TOptions& options, const TScenario& scenario, const TPath& path, int runIndex, TCount& count)
{
    TScratchDir dir;
    const std::string logFile = dir.File("truth.log"), scriptFile = dir.File("script.txt"),
                      traceFile = dir.File("trace.tsv"), outFile = dir.File("output.txt");
    std::vector<std::string> program{options.Fixtures + "\\" + scenario.Program, "-log", logFile};
    if (*scenario.Script) {
        WriteFileBytes(scriptFile, ReplaceAll(scenario.Script, "{DLL}", path.Library));
        program.push_back(scriptFile);
    } else {
        for (const std::string& w : SplitWords(ReplaceAll(scenario.Arguments, "{DLL}", path.Library)))
            program.push_back(w);
    }

    double start = Seconds();
    std::string output;
    DWORD exitCode = STILL_ACTIVE;
    TTraced traced = options.Tool.empty() ? RunInProcess(options, program, outFile, exitCode, output)
                                          : RunTool(options, program, traceFile, outFile, output);
    double elapsed = Seconds() - start;
    // The capture tool does not tell the program's exit code: its last words tell how it ended.
    if (!options.Tool.empty())
        exitCode = output.find(scenario.Marker) != std::string::npos ? scenario.ExitCode : 0xFFFFFFFF;
    if (exitCode != scenario.ExitCode) {
        if (options.Tool.empty())
            traced.Problems.push_back(Format("the program ended with %lu, not %lu", static_cast<unsigned long>(exitCode),
                                             static_cast<unsigned long>(scenario.ExitCode)));
        else
            traced.Problems.push_back(std::string("the program did not print \"") + scenario.Marker + "\"");
    }

    auto want = Expected(ReadTruth(logFile)), got = Sorted(traced.Rows);
    std::vector<TRowKey> lost, wrong;
    std::set_difference(want.begin(), want.end(), got.begin(), got.end(), std::back_inserter(lost));
    std::set_difference(got.begin(), got.end(), want.begin(), want.end(), std::back_inserter(wrong));

    ++count.Runs;
    count.Calls += static_cast<long>(want.size());
    count.Lost += static_cast<long>(lost.size());
    count.Wrong += static_cast<long>(wrong.size());
    count.Seconds += elapsed;
    if (!traced.Problems.empty())
        ++count.Failed;
    std::string where = Format("%s/%s run %d", scenario.Name, path.Name, runIndex + 1);
    auto example = [&](const std::string& text) {
        if (static_cast<int>(count.Examples.size()) < options.Examples)
            count.Examples.push_back(where + ": " + text);
    };
    for (const auto& w : wrong)
        example("wrong: " + RowText(w));
    for (const auto& l : lost)
        example("lost: " + RowText(l));
    for (const auto& p : traced.Problems)
        example("failed: " + p);
    if (!options.Quiet)
        std::printf("  %-24s %5zu calls %4zu lost %4zu wrong %s %6.1f s\n", where.c_str(), want.size(), lost.size(),
                    wrong.size(), traced.Problems.empty() ? "      " : "FAILED", elapsed);
    std::fflush(stdout);

    if (!options.Keep.empty() && (!lost.empty() || !wrong.empty() || !traced.Problems.empty())) {
        // The run's files, to look at: the script, the program's log and output, and the
        // rows as delivered (tool TSV or the session's rows).
        std::string base = Format("%s\\%s-%s-run%d-", options.Keep.c_str(), scenario.Name, path.Name, runIndex + 1);
        CopyFileA(logFile.c_str(), (base + "truth.log").c_str(), FALSE);
        CopyFileA(outFile.c_str(), (base + "output.txt").c_str(), FALSE);
        if (*scenario.Script)
            CopyFileA(scriptFile.c_str(), (base + "script.txt").c_str(), FALSE);
        if (!options.Tool.empty())
            CopyFileA(traceFile.c_str(), (base + "trace.tsv").c_str(), FALSE);
        else
            WriteFileBytes(base + "rows.txt", Describe(traced.Rows));
        std::string notes;
        for (const auto& w : wrong)
            notes += "wrong: " + RowText(w) + "\n";
        for (const auto& l : lost)
            notes += "lost: " + RowText(l) + "\n";
        for (const auto& p : traced.Problems)
            notes += "failed: " + p + "\n";
        WriteFileBytes(base + "counts.txt", notes);
    }
}

const char* const Usage =
    "usage: trace_stress [--runs N] [--tool PATH] [--scenario NAME,...] [--path emulated|stepped]\n"
    "                    [--fixtures DIR] [--timeout SEC] [--keep DIR] [--examples N] [--hooks int3|fast|log]\n"
    "                    [--quiet]\n"
    "scenarios: endings, nested, fetch4, patches (default: all); paths: emulated, stepped (default: both)\n";

bool ParseOptions(int argc, char** argv, TOptions& options)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--quiet") {
            options.Quiet = true;
            continue;
        }
        if (i + 1 >= argc)
            return false;
        std::string value = argv[++i];
        char* end = nullptr;
        long n = std::strtol(value.c_str(), &end, 10);
        bool number = !value.empty() && *end == 0 && n >= 0;
        if (arg == "--runs" && number && n > 0)
            options.Runs = static_cast<int>(n);
        else if (arg == "--tool")
            options.Tool = value;
        else if (arg == "--fixtures")
            options.Fixtures = value;
        else if (arg == "--timeout" && number && n > 0)
            options.TimeoutMs = static_cast<DWORD>(n) * 1000;
        else if (arg == "--keep")
            options.Keep = value;
        else if (arg == "--examples" && number)
            options.Examples = static_cast<int>(n);
        else if (arg == "--hooks" && HookKindOfWord(value))
            options.Hooks = *HookKindOfWord(value);
        else if (arg == "--scenario" || arg == "--path") {
            for (const std::string& item : SplitList(value)) {
                bool known = false;
                if (arg == "--scenario")
                    for (const TScenario& s : Scenarios)
                        known = known || item == s.Name;
                else
                    for (const TPath& p : Paths)
                        known = known || item == p.Name;
                if (!known)
                    return false;
                (arg == "--scenario" ? options.Scenarios : options.Paths).insert(item);
            }
        } else
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    TOptions options;
    if (!ParseOptions(argc, argv, options)) {
        std::fputs(Usage, stderr);
        return 2;
    }
    if (options.Fixtures.empty())
        options.Fixtures = BinDir();
    if (!options.Keep.empty())
        CreateDirectoryA(options.Keep.c_str(), nullptr);

    std::printf("tracer: %s, hooks %s; fixtures: %s; %d runs per scenario and path\n",
                options.Tool.empty() ? "in-process session" : options.Tool.c_str(), HookKindWord(options.Hooks),
                options.Fixtures.c_str(), options.Runs);
    for (const TScenario& scenario : Scenarios)
        if (options.Scenarios.empty() || options.Scenarios.count(scenario.Name))
            std::printf("  %-8s %s\n", scenario.Name, scenario.What);
    std::fflush(stdout);
    double start = Seconds();
    std::vector<std::tuple<const TScenario*, const TPath*, TCount>> results;
    for (const TScenario& scenario : Scenarios) {
        if (!options.Scenarios.empty() && !options.Scenarios.count(scenario.Name))
            continue;
        for (const TPath& path : Paths) {
            if (!options.Paths.empty() && !options.Paths.count(path.Name))
                continue;
            TCount count;
            for (int run = 0; run < options.Runs; ++run)
                RunOnce(options, scenario, path, run, count);
            results.emplace_back(&scenario, &path, count);
        }
    }
    double elapsed = Seconds() - start;

    std::printf("\n%-10s %-9s %5s %8s %6s %6s %7s %9s\n", "scenario", "path", "runs", "calls", "lost", "wrong",
                "failed", "s/run");
    TCount total;
    for (const auto& [scenario, path, count] : results) {
        std::printf("%-10s %-9s %5d %8ld %6ld %6ld %7d %9.1f\n", scenario->Name, path->Name, count.Runs, count.Calls,
                    count.Lost, count.Wrong, count.Failed, count.Runs ? count.Seconds / count.Runs : 0.0);
        total.Runs += count.Runs;
        total.Calls += count.Calls;
        total.Lost += count.Lost;
        total.Wrong += count.Wrong;
        total.Failed += count.Failed;
    }
    std::printf("%-10s %-9s %5d %8ld %6ld %6ld %7d %8.0fs\n", "total", "", total.Runs, total.Calls, total.Lost,
                total.Wrong, total.Failed, elapsed);
    bool anyExample = false;
    for (const auto& [scenario, path, count] : results) {
        for (const std::string& e : count.Examples) {
            if (!anyExample)
                std::printf("\nexamples (at most %d per scenario and path):\n", options.Examples);
            anyExample = true;
            std::printf("  %s\n", e.c_str());
        }
    }
    std::fflush(stdout);
    return total.Lost || total.Wrong || total.Failed ? 1 : 0;
}
