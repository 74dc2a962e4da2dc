#include "TraceSession.h"

#include "Application.h"
#include "Errors.h"
#include "OCIBreaks.h"

namespace {
constexpr const char* Unit = "Main";
constexpr UINT WM_SESSION_EVENTS = WM_APP + 64;
}

void ISessionClient::SessionError(const std::string& text) { Application().ShowErrorText(text); }

TTraceSession::TTraceSession(ISessionClient& client) : FClient(client)
{
    FWindow = CreateMessageWindow("VelloranSessionEvents", WindowProc, this);
    FQueue = std::make_unique<TEventQueue>(FWindow, WM_SESSION_EVENTS);
}

TTraceSession::~TTraceSession()
{
    End();
    DestroyWindow(FWindow);
}

LRESULT CALLBACK TTraceSession::WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<TTraceSession*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self && msg == WM_SESSION_EVENTS) {
        self->FQueue->Deliver(*self);
        return 0;
    }
    return DefWindowProcA(window, msg, wParam, lParam);
}

void TTraceSession::Begin(std::unique_ptr<TDebugThread> thread)
{
    VASSERT(!FThread, Unit);
    thread->EmulatePrologues = EmulatePrologues;
    thread->Hooks = Hooks;
    thread->LogEntries = LogEntries;
    FThread = std::move(thread);
    FThread->Start();
}

void TTraceSession::Run(const std::string& commandLine, TTraceMask mask, const std::string& currentDirectory)
{
    Begin(std::make_unique<TRunThread>(commandLine, std::make_unique<TOCITracer>(mask, *FQueue, HideValues), *FQueue,
                                       currentDirectory));
}

void TTraceSession::Attach(std::shared_ptr<TProcessInfo> process, TTraceMask mask)
{
    Begin(std::make_unique<TAttachThread>(std::move(process),
                                          std::make_unique<TOCITracer>(mask, *FQueue, HideValues), *FQueue));
}

void TTraceSession::Stop()
{
    if (FThread)
        FThread->Terminate();
}

void TTraceSession::End()
{
    // An attach session detaches and leaves its program running; a run session's program
    // ends with it.
    FThread.reset();
    FQueue->Discard();
}

void TTraceSession::SessionStarted(DWORD processId, const std::string& image)
{
    FClient.SessionStarted(processId, image);
    FClient.SessionMark("Start");
}

void TTraceSession::TraceRecord(TTraceRecord record) { FClient.SessionRecord(record); }

void TTraceSession::TraceRecordUpdated(TTraceRecord record) { FClient.SessionRecordUpdated(record); }

void TTraceSession::SessionError(const std::string& text) { FClient.SessionError(text); }

void TTraceSession::SessionWarning(const std::string& text) { FClient.SessionWarning(text); }

void TTraceSession::SessionFinished(DWORD exitCode)
{
    FCallStops = FThread ? FThread->CallStops() : 0;
    FThread.reset();
    FClient.SessionFinished(exitCode);
    FClient.SessionMark("Finish");
}
