// Session control shared by the window, the capture tool and the tests: starts a run or
// attach session with the OCI tracer, stops it, and hands its events to a client on the
// client's own thread, with the "Start" and "Finish" rows around the records.
#pragma once

#include "DebugCore.h"
#include "EventQueue.h"
#include "SysProcs.h"
#include "TraceMask.h"
#include "TraceRecord.h"

#include <windows.h>

#include <memory>
#include <string>

class ISessionClient {
public:
    virtual ~ISessionClient() = default;
    // A row of its own for the session's beginning and end: "Start", "Finish".
    virtual void SessionMark(const std::string& caption) = 0;
    virtual void SessionRecord(const TTraceRecord& record) = 0;
    // A record given before (the same Serial), completed since.
    virtual void SessionRecordUpdated(const TTraceRecord& record) = 0;
    // Before the "Start" row.
    virtual void SessionStarted(DWORD /*processId*/, const std::string& /*image*/) {}
    // Shown through the application's error display unless a client does otherwise.
    virtual void SessionError(const std::string& text);
    // A warning: the session goes on and ends well; each client shows it its own way,
    // never as an error.
    virtual void SessionWarning(const std::string& text) = 0;
    // After the session's thread has ended, before the "Finish" row.
    virtual void SessionFinished(DWORD /*exitCode*/) {}
};

class TTraceSession : private ITraceEvents {
public:
    // Events reach client through a message-only window of the calling thread: any
    // message loop of that thread delivers them, modal ones too.
    explicit TTraceSession(ISessionClient& client);
    // Ends a session still running (see End).
    ~TTraceSession() override;
    TTraceSession(const TTraceSession&) = delete;
    TTraceSession& operator=(const TTraceSession&) = delete;

    // Starts a session; the one before must have finished. A run starts its program in
    // currentDirectory (empty: the caller's current folder).
    void Run(const std::string& commandLine, TTraceMask mask, const std::string& currentDirectory = {});
    void Attach(std::shared_ptr<TProcessInfo> process, TTraceMask mask);
    // Asks the session to end: a run session's program ends with it, an attached one runs
    // on. The "Finish" row follows when it has ended.
    void Stop();
    // Stops the session, waits for its end and drops what it has not yet delivered.
    void End();
    bool Active() const { return FThread != nullptr; }
    // Calls of the last session that stopped the program at a stub (see
    // TDebugThread::CallStops), known once it has finished.
    uint64_t CallStops() const { return FCallStops; }
    // The engine's side of the session's events, callable from any thread: what is
    // given here reaches the client exactly as the debug thread's events do.
    ITraceEvents& Queue() { return *FQueue; }

    // Simple first instructions of entry points are carried out by the tracer; tests
    // turn it off to exercise the stepping path.
    bool EmulatePrologues = true;
    // How the session hooks entry points (see TDebugThread::Hooks).
    THookKind Hooks = THookKind::Breakpoint;
    // Bound values show as "?" (their names stay).
    bool HideValues = false;
    // See TDebugThread::LogEntries.
    uint32_t LogEntries = 0;

private:
    void Begin(std::unique_ptr<TDebugThread> thread);
    static LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

    // ITraceEvents, on the client's thread.
    void SessionStarted(DWORD processId, const std::string& image) override;
    void TraceRecord(TTraceRecord record) override;
    void TraceRecordUpdated(TTraceRecord record) override;
    void SessionError(const std::string& text) override;
    void SessionWarning(const std::string& text) override;
    void SessionFinished(DWORD exitCode) override;

    ISessionClient& FClient;
    HWND FWindow = nullptr;
    std::unique_ptr<TEventQueue> FQueue;
    std::unique_ptr<TDebugThread> FThread;
    uint64_t FCallStops = 0;
};
