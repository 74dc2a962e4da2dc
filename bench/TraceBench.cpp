// What tracing costs: the bare debug event round trip of this platform, the cost of one
// traced OCI call with each trace mask and 1 or 4 calling threads, their ratio, and the
// calls lost (made by the client, not delivered by the tracer).
//
//   trace_bench [--fixtures=32] [ITERATIONS]
//
// ITERATIONS (default 600) is the number of prepare, execute and fetch triples. The
// tracer is this build's; the traced client is of the same bitness, or with
// --fixtures=32 (in the 64-bit build) the 32-bit one.
#include "CommandLine.h"
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

// The smallest debugger: every event continued at once. Returns seconds per event.
double BareEventCost(int events)
{
    auto run = [](int n) {
        std::string line = JoinCommandLine({FixtureDir() + "\\odsloop.exe", std::to_string(n)});
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
            DWORD status = code == EXCEPTION_DEBUG_EVENT &&
                                   event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT
                               ? DBG_EXCEPTION_NOT_HANDLED
                               : DBG_CONTINUE;
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

std::string Script(int iterations, int threads)
{
    std::string body = "repeat " + std::to_string(iterations / threads) +
                       "\nprepare S SELECT {T} FROM dual /*vt rows=1000000*/\nexecute S\nfetch S 10\nend\n";
    if (threads > 1)
        body = "threads " + std::to_string(threads) + "\nalloc S\n" + body + "end\n";
    else
        body = "alloc S\n" + body;
    return "load\n" + body;
}

struct TMeasure {
    double Seconds;
    size_t Records;
};

TMeasure RunTraced(const std::string& scriptFile, BYTE mask)
{
    TSessionRunner runner;
    double start = Seconds();
    TSession s = runner.Run(FixtureCommand("ocirun.exe", {scriptFile}), mask, 600000);
    double elapsed = Seconds() - start;
    if (!s.Errors.empty() || s.ExitCode != 0)
        std::fprintf(stderr, "traced run failed: %s (exit %lu)\n", s.Errors.empty() ? "" : s.Errors[0].c_str(),
                     static_cast<unsigned long>(s.ExitCode));
    return {elapsed, s.Records.size()};
}

} // namespace

int main(int argc, char** argv)
{
    ReadFixtureOption(argc, argv);
    int iterations = argc > 1 ? std::atoi(argv[1]) : 600;
    std::printf("tracer %d-bit, client %d-bit\n", static_cast<int>(sizeof(void*) * 8),
                UsingFixtures32() || sizeof(void*) == 4 ? 32 : 64);
    iterations -= iterations % 4;
    double bare = BareEventCost(3000);
    std::printf("bare debug event round trip: %.1f us (3000 output-string events)\n\n", bare * 1e6);
    std::printf("%-8s %-22s %8s %9s %10s %12s %7s %6s\n", "threads", "mask", "calls", "records", "traced s",
                "per call us", "ratio", "lost");

    struct {
        BYTE Mask;
        const char* Name;
    } masks[] = {{TraceMaskPrepare, "prepare"},
                 {TraceMaskExecute, "execute"},
                 {TraceMaskFetch, "fetch"},
                 {TraceMaskPrepare | TraceMaskExecute | TraceMaskFetch, "prepare,execute,fetch"}};
    for (int threads : {1, 4}) {
        std::string scriptFile = TempFile("bench" + std::to_string(threads) + ".txt");
        WriteFileBytes(scriptFile, Script(iterations, threads));
        double plain = 0;
        for (int i = 0; i < 3; ++i)
            plain += RunPlain(JoinCommandLine({FixtureDir() + "\\ocirun.exe", scriptFile}));
        plain /= 3;
        for (const auto& m : masks) {
            size_t calls = 0;
            for (BYTE bit : {TraceMaskPrepare, TraceMaskExecute, TraceMaskFetch})
                if (m.Mask & bit)
                    calls += static_cast<size_t>(iterations);
            // The median of three runs: Wine's scheduling makes single runs vary.
            TMeasure runs[3] = {RunTraced(scriptFile, m.Mask), RunTraced(scriptFile, m.Mask), RunTraced(scriptFile, m.Mask)};
            std::sort(std::begin(runs), std::end(runs), [](const TMeasure& a, const TMeasure& b) { return a.Seconds < b.Seconds; });
            TMeasure traced = runs[1];
            for (const TMeasure& run : runs)
                traced.Records = std::min(traced.Records, run.Records);
            double perCall = (traced.Seconds - plain) / static_cast<double>(calls);
            std::printf("%-8d %-22s %8zu %9zu %10.2f %12.1f %7.1f %6lld\n", threads, m.Name, calls, traced.Records,
                        traced.Seconds, perCall * 1e6, perCall / bare,
                        static_cast<long long>(calls) - static_cast<long long>(traced.Records));
        }
        std::printf("%-8d %-22s untraced run: %.2f s\n", threads, "", plain);
        DeleteFileA(scriptFile.c_str());
    }
    std::printf("\nper call: (median traced run - untraced run) / traced calls; ratio: per call / bare event;\n"
                "lost: calls made - records delivered (worst of the three runs)\n");
    return 0;
}
