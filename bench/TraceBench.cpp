// What tracing costs: the bare debug event round trip of this platform, then for each way
// of hooking entry points (int3 breakpoints, jumps to stubs that report entry and return
// by an exception, and stubs that log calls without stopping), each trace mask and 1 or 4
// calling threads, the cost of one traced OCI call, its ratio to the bare event, the calls
// lost (made by the client, not delivered by the tracer) and the calls that stopped the
// program at a stub. One run measures every mechanism; then a burst of 40,000 calls from
// one thread with logged hooks. Then what reading bind values, error texts and rows adds:
// the calls with a bind and a read of the rows fetched per triple, traced without and with
// those kinds.
//
//   trace_bench [--fixtures=32] [--logged | --details] [ITERATIONS]
//
// --logged: the bare event and logged hooks only; --details: the bare event and the rows
// of the details only.
// ITERATIONS (default 600) is the number of prepare, execute and fetch triples; logged
// hooks, whose calls cost far less than the session's own start and end, run 20 times as
// many and are measured as the difference to a run of ITERATIONS / 10 (traced and
// untraced alike), so that what starting and ending costs drops out. The tracer is this
// build's; the traced client is of the same bitness, or with --fixtures=32 (in the 64-bit
// build) the 32-bit one.
#include "CommandLine.h"
#include "HookKinds.h"
#include "SessionRunner.h"
#include "Utils.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

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

// Runs a command line without a debugger and waits for it.
double RunPlain(const std::string& commandLine)
{
    std::string line = commandLine;
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    double start = Seconds();
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        std::fprintf(stderr, "cannot start %s\n", commandLine.c_str());
        std::exit(1);
    }
    WaitForSingleObject(info.hProcess, INFINITE);
    double elapsed = Seconds() - start;
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    return elapsed;
}

// The kinds of event odsloop raises, as it names them.
enum class TLoopEvent { OutputString, Raise, Breakpoint };
constexpr DWORD LoopExceptionCode = 0xE0564C4F;

// The smallest debugger: every event continued at once, after a read of the thread's
// context where readContext says so. Returns seconds per event of the kind asked for.
double BareEventCost(int events, TLoopEvent kind = TLoopEvent::OutputString, bool readContext = false)
{
    const char* kindWord = kind == TLoopEvent::Raise ? "raise" : kind == TLoopEvent::Breakpoint ? "int3" : "ods";
    auto run = [&](int n) {
        std::string line = JoinCommandLine({FixtureDir() + "\\odsloop.exe", std::to_string(n), kindWord});
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        double start = Seconds();
        CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS, nullptr, nullptr,
                       &startup, &info);
        DEBUG_EVENT event;
        for (;;) {
            WaitForDebugEvent(&event, INFINITE);
            DWORD code = event.dwDebugEventCode;
            if (code == CREATE_PROCESS_DEBUG_EVENT && event.u.CreateProcessInfo.hFile)
                CloseHandle(event.u.CreateProcessInfo.hFile);
            if (code == LOAD_DLL_DEBUG_EVENT && event.u.LoadDll.hFile)
                CloseHandle(event.u.LoadDll.hFile);
            DWORD exception = code == EXCEPTION_DEBUG_EVENT ? event.u.Exception.ExceptionRecord.ExceptionCode : 0;
            bool breakpoint = exception == EXCEPTION_BREAKPOINT || exception == 0x4000001F;
            bool counted = kind == TLoopEvent::OutputString ? code == OUTPUT_DEBUG_STRING_EVENT
                           : kind == TLoopEvent::Raise      ? exception == LoopExceptionCode
                                                            : breakpoint;
            if (readContext && counted && event.dwThreadId == info.dwThreadId) {
#ifdef _WIN64
                if (UsingFixtures32()) {
                    WOW64_CONTEXT context{};
                    context.ContextFlags = WOW64_CONTEXT_CONTROL | WOW64_CONTEXT_INTEGER;
                    Wow64GetThreadContext(info.hThread, &context);
                } else
#endif
                {
                    CONTEXT context{};
                    context.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
                    GetThreadContext(info.hThread, &context);
                }
            }
            bool foreign = code == EXCEPTION_DEBUG_EVENT && !breakpoint && exception != LoopExceptionCode;
            DWORD status = foreign ? DBG_EXCEPTION_NOT_HANDLED : DBG_CONTINUE;
            ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
            if (code == EXIT_PROCESS_DEBUG_EVENT)
                break;
        }
        double elapsed = Seconds() - start;
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
        return elapsed;
    };
    // The difference of two runs removes the cost of starting and ending the process.
    double few = run(10);
    double many = run(events + 10);
    return (many - few) / events;
}

// details: a bind before each execute and the rows fetched read after each fetch, as
// client libraries do, for the binds, errors and rows kinds to find.
std::string Script(int iterations, int threads, bool details = false)
{
    std::string body = "repeat " + std::to_string(iterations / threads) +
                       (details ? "\nprepare S SELECT {T} FROM dual WHERE x = :x /*vt rows=1000000*/\nbind S :x 7"
                                  "\nexecute S\nfetch S 10\nattrget S 197\nend\n"
                                : "\nprepare S SELECT {T} FROM dual /*vt rows=1000000*/\nexecute S\nfetch S 10\nend\n");
    if (threads > 1)
        body = "threads " + std::to_string(threads) + "\nalloc S\n" + body + "end\n";
    else
        body = "alloc S\n" + body;
    return "load\n" + body;
}

struct TMeasure {
    double Seconds;
    size_t Records;
    uint64_t Stops = 0;
};

TMeasure RunTraced(const std::string& scriptFile, TTraceMask mask, THookKind hooks)
{
    TSessionRunner runner;
    runner.Hooks = hooks;
    double start = Seconds();
    TSession s = runner.Run(FixtureCommand("ocirun.exe", {scriptFile}), mask, 600000);
    double elapsed = Seconds() - start;
    if (!s.Errors.empty() || s.ExitCode != 0)
        std::fprintf(stderr, "traced run failed: %s (exit %lu)\n", s.Errors.empty() ? "" : s.Errors[0].c_str(),
                     static_cast<unsigned long>(s.ExitCode));
    return {elapsed, s.Records.size(), s.CallStops};
}

double Median3(double a, double b, double c) { return std::max(std::min(a, b), std::min(std::max(a, b), c)); }

// Three untraced runs of a script: their median, or their mean.
double PlainRun(const std::string& scriptFile, bool mean = false)
{
    double runs[3];
    for (double& run : runs)
        run = RunPlain(JoinCommandLine({FixtureDir() + "\\ocirun.exe", scriptFile}));
    return mean ? (runs[0] + runs[1] + runs[2]) / 3 : Median3(runs[0], runs[1], runs[2]);
}

// Of three traced runs, the median by seconds; records and stops the worst of the three.
TMeasure MedianOf(TMeasure (&runs)[3])
{
    std::sort(std::begin(runs), std::end(runs), [](const TMeasure& a, const TMeasure& b) { return a.Seconds < b.Seconds; });
    TMeasure median = runs[1];
    for (const TMeasure& run : runs) {
        median.Records = std::min(median.Records, run.Records);
        median.Stops = std::max(median.Stops, run.Stops);
    }
    return median;
}

TMeasure MedianRun(const std::string& scriptFile, TTraceMask mask, THookKind hooks)
{
    TMeasure runs[3];
    for (TMeasure& run : runs)
        run = RunTraced(scriptFile, mask, hooks);
    return MedianOf(runs);
}

const TTraceMask AllActions = TraceMaskPrepare | TraceMaskExecute | TraceMaskFetch;

// The masks each bench runs through: one action at a time, then all three.
const struct {
    TTraceMask Mask;
    const char* Name;
} ActionMasks[] = {{TraceMaskPrepare, "prepare"},
                   {TraceMaskExecute, "execute"},
                   {TraceMaskFetch, "fetch"},
                   {AllActions, "prepare,execute,fetch"}};

// How many of the three actions a mask traces: the rows a triple makes.
int Actions(TTraceMask mask)
{
    int actions = 0;
    for (TTraceMask bit : {TraceMaskPrepare, TraceMaskExecute, TraceMaskFetch})
        actions += (mask & bit) != 0;
    return actions;
}

// Logged hooks: calls per mask, the untraced and traced runs of a long and a short script,
// the difference per call.
void RunLogged(int iterations, double bare)
{
    std::printf("\nlogged hooks: per call = ((traced - untraced) of %d triples - the same of %d triples) / calls between\n",
                iterations * 20, iterations / 10);
    std::printf("%-6s %-8s %-22s %8s %9s %12s %7s %6s %6s\n", "hooks", "threads", "mask", "calls", "records",
                "per call us", "ratio", "lost", "stops");
    for (int threads : {1, 4}) {
        std::string longFile = TempFile("benchlong.txt"), shortFile = TempFile("benchshort.txt");
        const int longTriples = iterations * 20, shortTriples = iterations / 10;
        WriteFileBytes(longFile, Script(longTriples, threads));
        WriteFileBytes(shortFile, Script(shortTriples, threads));
        double plain = PlainRun(longFile) - PlainRun(shortFile);
        for (const auto& m : ActionMasks) {
            int actions = Actions(m.Mask);
            TMeasure longRun = MedianRun(longFile, m.Mask, THookKind::Log);
            TMeasure shortRun = MedianRun(shortFile, m.Mask, THookKind::Log);
            size_t calls = static_cast<size_t>(longTriples - longTriples % threads) * actions;
            size_t between = static_cast<size_t>(longTriples - shortTriples) * actions;
            double perCall = (longRun.Seconds - shortRun.Seconds - plain) / static_cast<double>(between);
            std::printf("%-6s %-8d %-22s %8zu %9zu %12.2f %7.3f %6lld %6llu\n", "log", threads, m.Name, calls,
                        longRun.Records, perCall * 1e6, perCall / bare,
                        static_cast<long long>(calls) - static_cast<long long>(longRun.Records),
                        static_cast<unsigned long long>(longRun.Stops));
            std::fflush(stdout);
        }
        DeleteFileA(longFile.c_str());
        DeleteFileA(shortFile.c_str());
    }
}

// One thread making 40,000 calls as fast as it can (a prepare, then executes), every one
// a row: the log fills faster than anywhere else.
void RunBurst()
{
    const int executes = 39999;
    std::string file = TempFile("benchburst.txt");
    WriteFileBytes(file, "load\nalloc S\nprepare S SELECT 1 FROM dual\nrepeat " + std::to_string(executes) +
                             "\nexecute S\nend\n");
    double plain = PlainRun(file);
    TMeasure traced = MedianRun(file, AllActions, THookKind::Log);
    const long long calls = executes + 1;
    std::printf("\nburst, logged hooks, 1 thread: %lld calls, untraced %.3f s, traced %.3f s (median of 3), "
                "%.2f us per call more, %zu records, lost %lld, stops %llu\n",
                calls, plain, traced.Seconds, (traced.Seconds - plain) / static_cast<double>(calls) * 1e6,
                traced.Records, calls - static_cast<long long>(traced.Records),
                static_cast<unsigned long long>(traced.Stops));
    DeleteFileA(file.c_str());
}

// One row per mechanism for a script traced with a mask: the median of three runs (Wine's
// scheduling makes single runs vary; the mechanisms take turns, so that a change of the
// machine's load meanwhile weighs on both alike), the cost per traced call against the
// untraced run, its ratio to the bare event, calls lost, and fast against int3.
void MeasureMask(const std::string& scriptFile, double plain, int threads, TTraceMask mask, const char* name, int iterations,
                 double bare)
{
    const THookKind mechanisms[] = {THookKind::Breakpoint, THookKind::Fast};
    size_t calls = static_cast<size_t>(iterations) * Actions(mask);
    TMeasure runs[2][3];
    for (int i = 0; i < 3; ++i)
        for (int h = 0; h < 2; ++h)
            runs[h][i] = RunTraced(scriptFile, mask, mechanisms[h]);
    double int3PerCall = 0;
    for (int h = 0; h < 2; ++h) {
        TMeasure traced = MedianOf(runs[h]);
        double perCall = (traced.Seconds - plain) / static_cast<double>(calls);
        std::string versus = "-";
        if (mechanisms[h] == THookKind::Breakpoint)
            int3PerCall = perCall;
        else if (int3PerCall > 0)
            versus = Format("%.2f", perCall / int3PerCall);
        std::printf("%-6s %-8d %-22s %8zu %9zu %10.2f %12.1f %7.1f %6lld %8s\n", HookKindWord(mechanisms[h]), threads,
                    name, calls, traced.Records, traced.Seconds, perCall * 1e6, perCall / bare,
                    static_cast<long long>(calls) - static_cast<long long>(traced.Records), versus.c_str());
        std::fflush(stdout);
    }
}

void PrintHeader()
{
    std::printf("%-6s %-8s %-22s %8s %9s %10s %12s %7s %6s %8s\n", "hooks", "threads", "mask", "calls", "records",
                "traced s", "per call us", "ratio", "lost", "vs int3");
}

// What reading binds, errors and rows adds: the same calls with a bind before each
// execute and the rows read after each fetch, traced without and with those kinds.
void MeasureDetails(int iterations, double bare)
{
    std::string detailFile = TempFile("bench-details.txt");
    WriteFileBytes(detailFile, Script(iterations, 1, true));
    double detailPlain = PlainRun(detailFile, true);
    std::printf("\nwith a bind and a read of the rows fetched per triple (untraced run %.2f s):\n", detailPlain);
    PrintHeader();
    MeasureMask(detailFile, detailPlain, 1, AllActions, "prepare,execute,fetch", iterations, bare);
    MeasureMask(detailFile, detailPlain, 1, AllActions | TraceMaskErrors | TraceMaskRows, "... and errors,rows",
                iterations, bare);
    MeasureMask(detailFile, detailPlain, 1, AllActions | TraceMaskBinds, "... and binds", iterations, bare);
    MeasureMask(detailFile, detailPlain, 1, TraceMaskAll, "all", iterations, bare);
    DeleteFileA(detailFile.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    ReadFixtureOption(argc, argv);
    std::string only = argc > 1 && std::string(argv[1]).rfind("--", 0) == 0 ? argv[1] : "";
    bool loggedOnly = only == "--logged", detailsOnly = only == "--details";
    if (loggedOnly || detailsOnly) {
        --argc;
        ++argv;
    }
    int iterations = argc > 1 ? std::atoi(argv[1]) : 600;
    std::printf("tracer %d-bit, client %d-bit\n", static_cast<int>(sizeof(void*) * 8),
                UsingFixtures32() || sizeof(void*) == 4 ? 32 : 64);
    iterations -= iterations % 4;
    double bare = BareEventCost(3000);
    std::printf("bare debug event round trip: %.1f us (3000 output-string events)\n", bare * 1e6);
    if (loggedOnly) {
        RunLogged(iterations, bare);
        RunBurst();
        return 0;
    }
    if (detailsOnly) {
        MeasureDetails(iterations, bare);
        return 0;
    }
    // What the two mechanisms' reports cost by themselves: a stub's raised exception, a
    // breakpoint, and either with the context read that breakpoints need.
    std::printf("other events, us each (1000 of each): raised exception %.1f, breakpoint %.1f; with a context "
                "read: output string %.1f, raised exception %.1f, breakpoint %.1f\n",
                BareEventCost(1000, TLoopEvent::Raise) * 1e6, BareEventCost(1000, TLoopEvent::Breakpoint) * 1e6,
                BareEventCost(1000, TLoopEvent::OutputString, true) * 1e6,
                BareEventCost(1000, TLoopEvent::Raise, true) * 1e6,
                BareEventCost(1000, TLoopEvent::Breakpoint, true) * 1e6);

    // The client's scripts and their untraced runs, once for both mechanisms.
    const int threadCounts[] = {1, 4};
    std::string scriptFiles[2];
    double plain[2] = {};
    for (int t = 0; t < 2; ++t) {
        scriptFiles[t] = TempFile("bench" + std::to_string(threadCounts[t]) + ".txt");
        WriteFileBytes(scriptFiles[t], Script(iterations, threadCounts[t]));
        plain[t] = PlainRun(scriptFiles[t], true);
    }
    std::printf("untraced run: %.2f s (1 thread), %.2f s (4 threads)\n\n", plain[0], plain[1]);
    PrintHeader();

    // A first traced run, not counted: the first session of a process may pay for more
    // than tracing (loading, Wine's first use of the debug calls).
    RunTraced(scriptFiles[0], TraceMaskExecute, THookKind::Breakpoint);
    for (int t = 0; t < 2; ++t)
        for (const auto& m : ActionMasks)
            MeasureMask(scriptFiles[t], plain[t], threadCounts[t], m.Mask, m.Name, iterations, bare);

    MeasureDetails(iterations, bare);
    for (const std::string& scriptFile : scriptFiles)
        DeleteFileA(scriptFile.c_str());
    RunLogged(iterations, bare);
    RunBurst();
    std::printf("\nhooks: int3 = breakpoints, fast = jumps to stubs\n"
                "per call: (median traced run - untraced run) / traced calls; ratio: per call / bare event;\n"
                "lost: calls made - records delivered (worst of the three runs);\n"
                "vs int3: fast per call / int3 per call, same threads and mask;\n"
                "log = stubs that log calls; stops: calls that stopped the program (worst of three)\n");
    return 0;
}
