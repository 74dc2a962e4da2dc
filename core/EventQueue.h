// Carries a session's events from the debug thread to the thread that owns the windows:
// the engine side queues values, and the first event of a burst posts one message to
// the owner's window, whose handler then takes the whole queue at once. Records that
// follow a message by less than the hold time wait for the next one, or for Flush: a steady
// stream of records wakes the owner's thread once per hold time, not once per record.
#pragma once

#include "TraceEvents.h"

#include <windows.h>

#include <mutex>
#include <vector>

class TEventQueue : public ITraceEvents {
public:
    TEventQueue(HWND window, UINT message, DWORD holdMs = DefaultHoldMs)
        : FWindow(window), FMessage(message), FHoldMs(holdMs)
    {
    }

    // Any thread.
    void SessionStarted(DWORD processId, const std::string& image) override;
    void TraceRecord(TTraceRecord record) override;
    void TraceRecordUpdated(TTraceRecord record) override;
    void SessionError(const std::string& text) override;
    void SessionWarning(const std::string& text) override;
    void SessionFinished(DWORD exitCode) override;
    void Flush(bool quiet = true) override;
    static constexpr DWORD DefaultHoldMs = 15;

    // The window's thread: hands every queued event to target, in order. Events queued
    // while target works wait for the next message.
    void Deliver(ITraceEvents& target);
    // Forgets what is queued.
    void Discard();

private:
    enum class TKind : uint8_t { Started, Record, Update, Error, Warning, Finished };
    struct TEvent {
        TKind Kind;
        DWORD Number = 0;
        // Its Statement holds the image name, or the text of an error or a warning.
        TTraceRecord Record;
    };
    void Push(TEvent event);
    // Posts the message unless one is on its way, nothing is queued, or (hold) the last
    // one went less than the hold time ago.
    void Post(bool hold);

    HWND FWindow;
    UINT FMessage;
    DWORD FHoldMs;
    std::mutex FLock;
    std::vector<TEvent> FQueue;
    bool FPosted = false;
    DWORD FLastPost = 0;
    bool FDelivering = false;
};
