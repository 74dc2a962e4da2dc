// Runs real debug sessions inside a test: a message-only window on the test's thread
// receives the session's posted messages, the error display records what it is shown.
#pragma once

#include "DebugCore.h"
#include "TestFiles.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct TTraceRow {
    std::string Action;
    double Elapsed;
    int32_t Result;
    std::string Statement;
};

struct TSession {
    // "STARTED", "RECORD" and "FINISHED" in the order they arrived.
    std::vector<std::string> Events;
    std::vector<TTraceRow> Records;
    std::vector<std::string> Errors;
    bool Finished = false;
    DWORD ProcessId = 0;
    DWORD ExitCode = STILL_ACTIVE;
};

class TSessionRunner {
public:
    TSessionRunner();
    ~TSessionRunner();
    TSessionRunner(const TSessionRunner&) = delete;
    TSessionRunner& operator=(const TSessionRunner&) = delete;

    // Starts the thread with the mask and handles its messages until WM_DEBUG_FINISHED or
    // until timeoutMs has passed (then it stops the session and waits for its end).
    // onStarted runs once after WM_DEBUG_STARTED, onRecord after each record.
    TSession Run(std::unique_ptr<TDebugThread> thread, BYTE mask, DWORD timeoutMs = 60000);
    std::function<void(TSessionRunner&)> OnStarted;
    std::function<void(TSessionRunner&, const TTraceRow&)> OnRecord;

    TDebugThread* Thread() const { return FThread.get(); }
    // Handles messages for ms milliseconds.
    void Pump(DWORD ms);

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);

    HWND FWindow = nullptr;
    std::unique_ptr<TDebugThread> FThread;
    TSession FSession;
};

// A run session for a fixture of the bin folder, with arguments.
std::unique_ptr<TRunThread> RunFixture(const std::string& program, const std::vector<std::string>& args = {});

// One line of a fixture's ground-truth log.
struct TTruthCall {
    std::string Kind;  // PREPARE, EXECUTE, FETCH, FREE, LOAD, UNLOAD
    DWORD ThreadId = 0;
    DWORD Handle = 0;
    int32_t Result = 0;
    DWORD Count = 0;      // stmt_len of a prepare, nrows of a fetch
    bool HasText = false; // false for a raw prepare ("-")
    std::string Text;
};
std::vector<TTruthCall> ReadTruth(const std::string& path);

// The records a tracer with this mask must deliver for the calls of one thread, in order.
std::vector<TTraceRow> ExpectedRecords(const std::vector<TTruthCall>& calls, BYTE mask);

// Readable dumps for failure messages.
std::string Describe(const std::vector<TTraceRow>& rows);
