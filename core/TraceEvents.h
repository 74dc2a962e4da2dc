// The seam between the debugging engine and its clients (the window, the capture tool,
// the tests): what a session reports, as values. The engine calls these on its own
// thread; a client that owns windows receives them through TEventQueue on its own.
#pragma once

#include "TraceRecord.h"

#include <windows.h>

#include <string>

class ITraceEvents {
public:
    virtual ~ITraceEvents() = default;
    // The traced process exists: its id and image name.
    virtual void SessionStarted(DWORD processId, const std::string& image) = 0;
    virtual void TraceRecord(TTraceRecord record) = 0;
    // A record delivered before, completed since: the same serial, the whole record as it
    // now stands.
    virtual void TraceRecordUpdated(TTraceRecord record) = 0;
    // A failure, as the text the user is shown.
    virtual void SessionError(const std::string& text) = 0;
    // Something worth telling the user that does not mean the session went wrong (an
    // entry point that cannot be traced): shown without stopping anyone.
    virtual void SessionWarning(const std::string& text) = 0;
    // The session's last word, also of a session that failed to start. exitCode is the
    // traced process's, or STILL_ACTIVE when it did not end with the session.
    virtual void SessionFinished(DWORD exitCode) = 0;
    // Records a client holds back to spare its thread a wake-up per record: quiet, the
    // program has fallen quiet and they all go out now; else those held long enough do.
    virtual void Flush(bool /*quiet*/ = true) {}
};
