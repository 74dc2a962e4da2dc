// The trace mask: which kinds of calls a session traces (statements, sessions,
// transactions), and which details of the calls it reads besides (bind values, error
// texts, rows). One table serves the capture tool's command line, the settings file and
// the trace options dialog, so that a kind added here shows up in all three.
#pragma once

#include <cstdint>

// A set of kinds, one bit each: room for 32 of them. Settings files store each kind under
// a key of its own, so a wider mask reads the files of a narrower one as they were.
using TTraceMask = uint32_t;

// Bits of a trace mask.
constexpr TTraceMask TraceMaskPrepare = 1;
constexpr TTraceMask TraceMaskExecute = 2;
constexpr TTraceMask TraceMaskFetch = 4;
constexpr TTraceMask TraceMaskBinds = 8;
constexpr TTraceMask TraceMaskErrors = 16;
constexpr TTraceMask TraceMaskRows = 32;
constexpr TTraceMask TraceMaskConnect = 64;
constexpr TTraceMask TraceMaskCommit = 128;
constexpr TTraceMask TraceMaskLobs = 256;
// The kinds that fill the Rows, Binds and Error cells.
constexpr TTraceMask TraceMaskDetails = TraceMaskBinds | TraceMaskErrors | TraceMaskRows;

struct TTraceMaskBit {
    TTraceMask Bit;
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
    {TraceMaskBinds, "binds", "TRACE_BINDS", false, "Binds (OCIBindByName/Pos)"},
    {TraceMaskErrors, "errors", "TRACE_ERRORS", false, "Errors (OCIErrorGet)"},
    {TraceMaskRows, "rows", "TRACE_ROWS", false, "Rows (OCIAttrGet)"},
    {TraceMaskConnect, "connect", "TRACE_CONNECT", false, "Connect and Disconnect"},
    {TraceMaskCommit, "commit", "TRACE_COMMIT", false, "Commit and Rollback"},
    {TraceMaskLobs, "lobs", "TRACE_LOBS", false, "LOBs (OCILob*)"},
};

// The --trace word for every kind of the table.
constexpr const char* TraceMaskAllWord = "all";
constexpr TTraceMask TraceMaskAll = [] {
    TTraceMask mask = 0;
    for (const TTraceMaskBit& bit : TraceMaskBits)
        mask |= bit.Bit;
    return mask;
}();

// The setting that shows every bound value as "?" (names stay): for programs that bind
// personal data. Not a kind of the mask: it changes what the Binds cell says, not what is
// traced.
constexpr const char* HideValuesSettingsKey = "HIDE_VALUES";
constexpr const char* HideValuesCaption = "Hide bound values";

// The mask of a settings file without a trace section, and of a command line without --trace.
constexpr TTraceMask DefaultTraceMask = [] {
    TTraceMask mask = 0;
    for (const TTraceMaskBit& bit : TraceMaskBits)
        if (bit.Default)
            mask |= bit.Bit;
    return mask;
}();

// Every kind of the table is one bit of its own.
static_assert([] {
    TTraceMask seen = 0;
    for (const TTraceMaskBit& bit : TraceMaskBits) {
        if (!bit.Bit || (bit.Bit & (bit.Bit - 1)) || (seen & bit.Bit))
            return false;
        seen |= bit.Bit;
    }
    return true;
}());
