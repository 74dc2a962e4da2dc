// The trace mask: which kinds of calls a session traces. One table serves the
// capture tool's command line, the settings file and the trace options dialog, so that an
// action added here shows up in all three.
#pragma once

#include <windows.h>

// Bits of a trace mask.
constexpr BYTE TraceMaskPrepare = 1;
constexpr BYTE TraceMaskExecute = 2;
constexpr BYTE TraceMaskFetch = 4;
constexpr BYTE TraceMaskConnect = 64;
constexpr BYTE TraceMaskCommit = 128;

struct TTraceMaskBit {
    BYTE Bit;
    // The word of the capture tool's --trace list.
    const char* Word;
    // The key in section TraceMaskSection of the settings file ("1" or "0").
    const char* SettingsKey;
    // Whether a settings file without the key traces the action.
    bool Default;
    // The check box of the trace options dialog.
    const char* Caption;
};

constexpr const char* TraceMaskSection = "TRACEOPT";

inline constexpr TTraceMaskBit TraceMaskBits[] = {
    {TraceMaskPrepare, "prepare", "TRACE_PREPARE", false, "Prepare (OCIStmtPrepare)"},
    {TraceMaskExecute, "execute", "TRACE_EXECUTE", true, "Execute (OCIStmtExecute)"},
    {TraceMaskFetch, "fetch", "TRACE_FETCH", false, "Fetch (OCIStmtFetch)"},
    {TraceMaskConnect, "connect", "TRACE_CONNECT", false, "Connect and Disconnect"},
    {TraceMaskCommit, "commit", "TRACE_COMMIT", false, "Commit and Rollback"},
};

// The mask of a settings file without a trace section, and of a command line without --trace.
constexpr BYTE DefaultTraceMask = [] {
    BYTE mask = 0;
    for (const TTraceMaskBit& bit : TraceMaskBits)
        if (bit.Default)
            mask |= bit.Bit;
    return mask;
}();
