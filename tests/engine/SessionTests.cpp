// Debug sessions against real fixture programs: starting, ending, stopping, attaching
// and passing on what is not the tracer's own.
#include "SessionRunner.h"

#include "ProcessList.h"

#include "CommandLine.h"
#include "Errors.h"
#include "Handles.h"
#include "Utils.h"

#include <gtest/gtest.h>

namespace {

using TEvents = std::vector<std::string>;

bool ProcessEndsWithin(DWORD pid, DWORD ms)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process)
        return true;  // already gone
    bool ended = WaitForSingleObject(process, ms) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

// A fixture started normally (not under the tracer), killed if the test leaves early.
class TChildProcess {
public:
    explicit TChildProcess(const std::vector<std::string>& args)
    {
        std::vector<std::string> all{FixtureDir() + "\\" + args[0]};
        all.insert(all.end(), args.begin() + 1, args.end());
        std::string line = JoinCommandLine(all);
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &FInfo))
            RaiseLastOSError();
        CloseHandle(FInfo.hThread);
    }
    ~TChildProcess()
    {
        if (WaitForSingleObject(FInfo.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(FInfo.hProcess, 99);
        CloseHandle(FInfo.hProcess);
    }
    DWORD Pid() const { return FInfo.dwProcessId; }
    // The exit code, or STILL_ACTIVE if it did not end within ms.
    DWORD WaitExit(DWORD ms)
    {
        WaitForSingleObject(FInfo.hProcess, ms);
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(FInfo.hProcess, &code);
        return code;
    }

private:
    PROCESS_INFORMATION FInfo{};
};

bool WaitForFile(const std::string& path, DWORD ms)
{
    DWORD until = GetTickCount() + ms;
    while (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (static_cast<LONG>(until - GetTickCount()) <= 0)
            return false;
        Sleep(10);
    }
    return true;
}

} // namespace

TEST(Session, ProgramWithoutOCIGivesStartedThenFinishedAndNothingElse)
{
    TSessionRunner runner;
    TSession s = runner.Run(FixtureCommand("nooci.exe"), TraceMaskPrepare | TraceMaskExecute | TraceMaskFetch);
    EXPECT_EQ(s.Events, (TEvents{"STARTED", "FINISHED"}));
    EXPECT_TRUE(s.Errors.empty()) << s.Errors.front();
    EXPECT_EQ(s.ExitCode, 0u);
}

TEST(Session, MissingExecutableShowsTheSystemErrorOnceAndFinishesWithoutStarting)
{
    TSessionRunner runner;
    TSession s = runner.Run(FixtureCommand("no-such-program.exe"), TraceMaskExecute);
    EXPECT_EQ(s.Events, (TEvents{"FINISHED"}));
    ASSERT_EQ(s.Errors.size(), 1u);
    EXPECT_EQ(s.Errors[0], EOSError(ERROR_FILE_NOT_FOUND).what());
}

TEST(Session, ExceptionsThatAreNotOursGoBackToTheProgram)
{
    struct {
        const char* Mode;
        DWORD ExitCode;
    } cases[] = {
        {"int3", EXCEPTION_BREAKPOINT},               // nobody handles it: it ends as it would alone
        {"av-handled", 0},                            // its own handler recovers
        {"av-unhandled", EXCEPTION_ACCESS_VIOLATION}, // nobody handles it: the program ends
    };
    for (const auto& c : cases) {
        TSessionRunner runner;
        TSession s = runner.Run(FixtureCommand("exceptions.exe", {c.Mode}), TraceMaskExecute, 30000);
        EXPECT_EQ(s.Events, (TEvents{"STARTED", "FINISHED"})) << c.Mode;
        EXPECT_TRUE(s.Errors.empty()) << c.Mode << ": " << (s.Errors.empty() ? "" : s.Errors[0]);
        EXPECT_EQ(s.ExitCode, c.ExitCode) << c.Mode;
    }
}

TEST(Session, StopInARunSessionEndsTheProgram)
{
    TSessionRunner runner;
    runner.OnRecord = [](TSessionRunner& r, const TTraceRow&) { r.Stop(); };
    TSession s = runner.Run(
        FixtureCommand("ocirun.exe", {"-e", "load; alloc S; prepare S SELECT 1 FROM dual; execute S; sleep 60000"}),
        TraceMaskExecute);
    ASSERT_TRUE(s.Finished);
    EXPECT_EQ(s.Events, (TEvents{"STARTED", "RECORD", "FINISHED"}));
    EXPECT_TRUE(s.Errors.empty()) << s.Errors.front();
    ASSERT_NE(s.ProcessId, 0u);
    EXPECT_TRUE(ProcessEndsWithin(s.ProcessId, 10000)) << "the traced program must end with a run session";
}

namespace {

// The bytes of memory the process may run that no module of it holds.
uint64_t PrivateCodeBytes(DWORD pid)
{
    TUniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid));
    uint64_t bytes = 0;
    MEMORY_BASIC_INFORMATION info{};
    for (TAddress at = 0x10000; process && VirtualQueryEx(process.get(), AddressPointer(at), &info, sizeof(info));) {
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE &&
            (info.Protect & (PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE)))
            bytes += info.RegionSize;
        TAddress next = PointerAddress(info.BaseAddress) + info.RegionSize;
        if (next <= at)
            break;
        at = next;
    }
    return bytes;
}

} // namespace

// Attach to a running client, trace it, stop, and let it check itself: its code bytes
// must be as before and it must go on working; with breakpoints, nothing of ours stays in
// its memory. Both entry-point paths are covered: first instructions carried out by the
// tracer (or run out of line), and single steps over them.
TEST(Session, StopInAnAttachSessionLeavesTheProgramRunningUnharmed)
{
    for (bool emulate : {true, false}) {
        std::string ready = TempFile(emulate ? "ready1" : "ready2");
        std::string stop = TempFile(emulate ? "stop1" : "stop2");
        DeleteFileA(ready.c_str());
        DeleteFileA(stop.c_str());
        // Three threads through the same call sites: a thread returning where others will
        // return too passes the patch there by a step or out of line.
        TChildProcess child({"attachee.exe", "-ready", ready, "-stop", stop, "-timeout", "60", "-threads", "3"});
        ASSERT_TRUE(WaitForFile(ready, 20000)) << "the attachee did not come up";

        ProcessList().Refresh();
        auto record = ProcessList().FindProcess(child.Pid());
        ASSERT_TRUE(record);
        TSessionRunner runner;
        int seen = 0;
        runner.OnRecord = [&seen](TSessionRunner& r, const TTraceRow&) {
            if (++seen == 400)
                r.Stop();
        };
        runner.EmulatePrologues = emulate;
        uint64_t codeBefore = PrivateCodeBytes(child.Pid());
        TSession s = runner.Attach(record, TraceMaskPrepare | TraceMaskExecute | TraceMaskFetch);
        EXPECT_TRUE(s.Errors.empty()) << s.Errors.front();
        ASSERT_GE(s.Records.size(), 400u);
        EXPECT_EQ(s.Events.front(), "STARTED");
        EXPECT_EQ(s.Events.back(), "FINISHED");
        if (runner.Hooks == THookKind::Breakpoint) {
            EXPECT_EQ(PrivateCodeBytes(child.Pid()), codeBefore) << "memory of ours left behind";
        }

        WriteFileBytes(stop, "stop");
        EXPECT_EQ(child.WaitExit(20000), 0u) << "the attachee found its code or its results changed (emulate "
                                             << emulate << ")";
        DeleteFileA(ready.c_str());
        DeleteFileA(stop.c_str());
    }
}

// Statements that sleep in the library: when the session lets go, calls are under way.
// They return through whatever the tracer left for them and give the program its own
// results; the entry points have their own bytes back.
TEST(Session, StopInAnAttachSessionLetsCallsUnderWayFinish)
{
    std::string ready = TempFile("ready3");
    std::string stop = TempFile("stop3");
    DeleteFileA(ready.c_str());
    DeleteFileA(stop.c_str());
    TChildProcess child({"attachee.exe", "-ready", ready, "-stop", stop, "-timeout", "60", "-sleep", "80"});
    ASSERT_TRUE(WaitForFile(ready, 20000)) << "the attachee did not come up";

    ProcessList().Refresh();
    auto record = ProcessList().FindProcess(child.Pid());
    ASSERT_TRUE(record);
    TSessionRunner runner;
    runner.OnRecord = [](TSessionRunner& r, const TTraceRow& row) {
        if (row.Action == "Prepare")
            r.Stop();  // the execute that follows sleeps
    };
    TSession s = runner.Attach(record, TraceMaskPrepare | TraceMaskExecute | TraceMaskFetch);
    EXPECT_TRUE(s.Errors.empty()) << s.Errors.front();
    EXPECT_EQ(s.Events.back(), "FINISHED");

    WriteFileBytes(stop, "stop");
    EXPECT_EQ(child.WaitExit(20000), 0u) << "the attachee found its code or its results changed";
    DeleteFileA(ready.c_str());
    DeleteFileA(stop.c_str());
}

TEST(Session, AttachToAProcessThatCannotBeDebuggedFailsBeforeStarting)
{
    // The tracer's own process cannot be its own debuggee.
    ProcessList().Refresh();
    auto self = ProcessList().FindProcess(GetCurrentProcessId());
    ASSERT_TRUE(self);
    TSessionRunner runner;
    TSession s = runner.Attach(self, TraceMaskExecute, 20000);
    EXPECT_EQ(s.Events, (TEvents{"FINISHED"}));
    ASSERT_EQ(s.Errors.size(), 1u);
    EXPECT_EQ(s.Errors[0].rfind("System Error.  Code: ", 0), 0u) << s.Errors[0];
}

TEST(Session, AttachToAProcessThatHasEndedMeanwhileFailsBeforeStarting)
{
    TChildProcess child({"nooci.exe"});
    ProcessList().Refresh();
    auto record = ProcessList().FindProcess(child.Pid());
    ASSERT_TRUE(record) << "listed while it ran";
    ASSERT_EQ(child.WaitExit(30000), 0u);
    TSessionRunner runner;
    TSession s = runner.Attach(record, TraceMaskExecute, 20000);
    EXPECT_EQ(s.Events, (TEvents{"FINISHED"}));
    ASSERT_EQ(s.Errors.size(), 1u);
    EXPECT_EQ(s.Errors[0], "Process " + std::to_string(child.Pid()) + " has ended.");
}
