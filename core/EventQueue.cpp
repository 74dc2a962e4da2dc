#include "EventQueue.h"

void TEventQueue::Push(TEvent event)
{
    bool record = event.Kind == TKind::Record || event.Kind == TKind::Update;
    {
        std::lock_guard<std::mutex> lock(FLock);
        FQueue.push_back(std::move(event));
    }
    Post(record);
}

void TEventQueue::Flush(bool quiet) { Post(!quiet); }

void TEventQueue::Post(bool hold)
{
    bool post;
    {
        std::lock_guard<std::mutex> lock(FLock);
        DWORD now = GetTickCount();
        post = !FPosted && !FQueue.empty() && !(hold && now - FLastPost < FHoldMs);
        if (post) {
            FPosted = true;
            FLastPost = now;
        }
    }
    // A post that fails (the queue of the window's thread is full) is retried by the
    // next event; the final one must arrive.
    if (post && !PostMessageA(FWindow, FMessage, 0, 0)) {
        std::lock_guard<std::mutex> lock(FLock);
        FPosted = false;
    }
}

void TEventQueue::SessionStarted(DWORD processId, const std::string& image)
{
    TEvent event{TKind::Started, processId, {}};
    event.Record.Statement = image;
    Push(std::move(event));
}

void TEventQueue::TraceRecord(TTraceRecord record) { Push(TEvent{TKind::Record, 0, std::move(record)}); }

void TEventQueue::TraceRecordUpdated(TTraceRecord record) { Push(TEvent{TKind::Update, 0, std::move(record)}); }

void TEventQueue::SessionError(const std::string& text)
{
    TEvent event{TKind::Error, 0, {}};
    event.Record.Statement = text;
    Push(std::move(event));
}

void TEventQueue::SessionWarning(const std::string& text)
{
    TEvent event{TKind::Warning, 0, {}};
    event.Record.Statement = text;
    Push(std::move(event));
}

void TEventQueue::SessionFinished(DWORD exitCode)
{
    // The last event: its message must not be lost to a full queue.
    Push(TEvent{TKind::Finished, exitCode, {}});
    for (int attempt = 0; attempt < 100; ++attempt) {
        {
            std::lock_guard<std::mutex> lock(FLock);
            if (FPosted)
                return;
            FPosted = true;
        }
        if (PostMessageA(FWindow, FMessage, 0, 0))
            return;
        {
            std::lock_guard<std::mutex> lock(FLock);
            FPosted = false;
        }
        Sleep(50);
    }
}

void TEventQueue::Deliver(ITraceEvents& target)
{
    // An error shown in a message box runs a message loop that may bring this message
    // again: the outer call goes on with what arrives meanwhile, so the order holds.
    if (FDelivering)
        return;
    FDelivering = true;
    struct TReset {
        bool& Flag;
        ~TReset() { Flag = false; }
    } reset{FDelivering};
    for (;;) {
        std::vector<TEvent> taken;
        {
            std::lock_guard<std::mutex> lock(FLock);
            taken.swap(FQueue);
            FPosted = false;
        }
        if (taken.empty())
            return;
        for (TEvent& event : taken) {
            switch (event.Kind) {
            case TKind::Started: target.SessionStarted(event.Number, event.Record.Statement); break;
            case TKind::Record: target.TraceRecord(std::move(event.Record)); break;
            case TKind::Update: target.TraceRecordUpdated(std::move(event.Record)); break;
            case TKind::Error: target.SessionError(event.Record.Statement); break;
            case TKind::Warning: target.SessionWarning(event.Record.Statement); break;
            case TKind::Finished: target.SessionFinished(event.Number); break;
            }
        }
    }
}

void TEventQueue::Discard()
{
    std::lock_guard<std::mutex> lock(FLock);
    FQueue.clear();
    FPosted = false;
}
