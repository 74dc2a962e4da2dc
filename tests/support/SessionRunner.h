// Runs real debug sessions inside a test: a message-only window on the test's thread
// receives the session's posted messages, the error display records what it is shown.
#pragma once

#include "TraceSession.h"
#include "TraceMask.h"
#include "TestFiles.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

// How sessions hook entry points unless a runner is told otherwise: int3 breakpoints,
// or with --hooks=fast the jumps to stubs (see TDebugThread::Hooks). The engine tests run
// once in each mode.
THookKind DefaultHooks();
// Takes --hooks=int3 and --hooks=fast (the words of HookKinds.h) out of the arguments and
// makes the last one the default; false, and the default unchanged, when a value is neither.
bool ReadHooksOption(int& argc, char** argv);

struct TTraceRow {
    std::string Action;
    double Elapsed;
    int32_t Result;
    std::string Statement;
    uint64_t Serial = 0;
    int64_t Rows = -1;
    std::string Binds;
    std::string Error;
    // As the record last stood: its last update not pending.
    bool Pending = false;
    bool CommitsOnSuccess = false;
    // The memo's own note (TTraceRecord::Note).
    std::string Note = {};
    // The SQL id the program read back (TTraceRecord::ServerSqlId).
    std::string ServerSqlId = {};
};

struct TSession {
    // "STARTED", "RECORD" and "FINISHED" in the order they arrived.
    std::vector<std::string> Events;
    std::vector<TTraceRow> Records;
    std::vector<std::string> Errors;
    std::vector<std::string> Warnings;
    bool Finished = false;
    std::string Image;
    DWORD ProcessId = 0;
    DWORD ExitCode = STILL_ACTIVE;
    // Calls that stopped the program at a stub.
    uint64_t CallStops = 0;
};

// Runs one session at a time through the program's own session control, as the window
// and the capture tool do, and keeps what it reported.
class TSessionRunner : private ISessionClient {
public:
    TSessionRunner();
    ~TSessionRunner() override;
    TSessionRunner(const TSessionRunner&) = delete;
    TSessionRunner& operator=(const TSessionRunner&) = delete;

    // Starts a run or attach session with the mask and handles its events until the
    // "Finish" row or until timeoutMs has passed (then it stops the session and waits
    // for its end). OnStarted runs once after the "Start" row, OnRecord after each record.
    TSession Run(const std::string& commandLine, TTraceMask mask, DWORD timeoutMs = 60000);
    TSession Attach(std::shared_ptr<TProcessInfo> process, TTraceMask mask, DWORD timeoutMs = 60000);
    std::function<void(TSessionRunner&)> OnStarted;
    std::function<void(TSessionRunner&, const TTraceRow&)> OnRecord;
    // Asks the running session to end.
    void Stop() { FControl.Stop(); }
    // Whether the tracer carries out simple first instructions (else it steps them).
    bool EmulatePrologues = true;
    // How entry points are hooked; the process-wide default (see DefaultHooks) unless a
    // test or a bench chooses.
    THookKind Hooks = DefaultHooks();
    // Bound values show as "?".
    bool HideValues = false;
    // The size of the log of logged hooks (see TDebugThread::LogEntries).
    uint32_t LogEntries = 0;
    // Handles messages for ms milliseconds.
    void Pump(DWORD ms);

private:
    TSession Wait(DWORD timeoutMs);
    void SessionMark(const std::string& caption) override;
    void SessionRecord(const TTraceRecord& record) override;
    // Replaces the row of the same serial.
    void SessionRecordUpdated(const TTraceRecord& record) override;
    void SessionStarted(DWORD processId, const std::string& image) override;
    void SessionError(const std::string& text) override;
    void SessionWarning(const std::string& text) override;
    void SessionFinished(DWORD exitCode) override;

    TSession FSession;
    TTraceSession FControl;
};

// Where the fixture programs are: the bin folder, or in the 64-bit tree, when the tests
// run with --fixtures=32, the 32-bit tree's (a 64-bit tracer traces 32-bit programs).
std::string FixtureDir();
bool UsingFixtures32();
// Takes --fixtures=32 out of the arguments.
void ReadFixtureOption(int& argc, char** argv);

// The command line of a fixture program, with arguments.
std::string FixtureCommand(const std::string& program, const std::vector<std::string>& args = {});

// One line of a fixture's ground-truth log.
struct TTruthCall {
    // PREPARE, PREPARE2, EXECUTE, FETCH, FETCH2, FREE, RELEASE, ENV, LOAD, UNLOAD
    std::string Kind;
    DWORD ThreadId = 0;
    uint64_t Handle = 0;
    int32_t Result = 0;
    DWORD Count = 0;      // stmt_len of a prepare, nrows of a fetch
    bool HasText = false; // false for a raw prepare ("-")
    // The text as the client passed it (UTF-16 bytes in a UTF-16 environment).
    std::string Text;
    std::string Key;
    bool Utf16 = false;
    // Every field of the line, the kind first: for the kinds not read into the above.
    std::vector<std::string> Fields = {};
};
std::vector<TTruthCall> ReadTruth(const std::string& path);
// The fields of a TAB-separated line (of a log or of the capture tool's output).
std::vector<std::string> SplitTabs(const std::string& line);

// The statement text as UTF-8: UTF-16 text converted, narrow text taken as UTF-8 where it
// is valid UTF-8 and as the system code page's text where not.
std::string ShownText(const std::string& bytes, bool utf16);

// The records a tracer with this mask must deliver for the calls of one thread, in order.
std::vector<TTraceRow> ExpectedRecords(const std::vector<TTruthCall>& calls, TTraceMask mask);

// The rows a run must deliver and those it did, each by the thread that made them, for
// scripts that put the thread's digit right after "SELECT " ('?' for rows without it).
struct TRowsByThread {
    std::map<char, std::vector<TTraceRow>> Expected, Traced;
};
TRowsByThread RowsByThread(const std::vector<TTruthCall>& truth, const std::vector<TTraceRow>& records, TTraceMask mask);

// A fixture's session under the tracer with the fixture's own log of its calls.
struct TFixtureRun {
    TSession Session;
    std::vector<TTruthCall> Truth;
};
// program runs with -log FILE before args; emulate: see TSessionRunner::EmulatePrologues.
TFixtureRun RunLogged(const std::string& program, std::vector<std::string> args, TTraceMask mask, bool emulate = true,
                      DWORD timeoutMs = 60000);
// An ocirun script given as text (or another script client's).
TFixtureRun RunScriptText(const std::string& script, TTraceMask mask, bool emulate = true,
                          const std::string& program = "ocirun.exe", DWORD timeoutMs = 60000);

// Rows without their times, for comparing with the expected ones.
using TRowKey = std::tuple<std::string, int32_t, std::string>;
std::vector<TRowKey> RowKeys(const std::vector<TTraceRow>& rows);

// Readable dumps for failure messages.
std::string Describe(const std::vector<TTraceRow>& rows);
