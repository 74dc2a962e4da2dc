// One traced call as it travels from the debug thread to whoever shows it: a plain
// value, copied or moved, owned by nobody in particular.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// One value an execute ran with: ":lo", "100"; ":name", "'a'".
struct TBindItem {
    std::string Name;
    std::string Value;
};

// The values of an execute, bind by bind in bind order: one row of items for each row of
// the execute shown (an array execute shows its first few), and how many rows it had.
struct TBindRows {
    std::vector<std::vector<TBindItem>> Rows;
    uint32_t RowCount = 0;
    bool Empty() const { return Rows.empty(); }
};

// The Binds cell: "name=value" per bind joined by ", ", the rows joined by "; ", then
// "; ... (N rows)" when the execute had more rows than are shown.
std::string BindsText(const TBindRows& binds);
// The binds as the memo shows them: a line per bind, or, of an execute of several rows,
// a line per row and the count of rows on a line of its own; lines start with CR LF.
std::string BindMemoLines(const TBindRows& binds);

enum class TTraceAction : uint8_t {
    Prepare,
    Execute,
    Fetch,
    Connect,
    Disconnect,
    Commit,
    Rollback,
    // Round trips beyond statements: LOB calls, pings, the calls of a distributed
    // transaction's branch.
    LobRead,
    LobWrite,
    LobLength,
    LobTrim,
    Ping,
    Begin,
    PrepareCommit,
    Forget,
    Detach,
};

struct TTraceRecord {
    TTraceAction Action = TTraceAction::Execute;
    // Performance-counter ticks at the call's entry.
    int64_t StartTicks = 0;
    // From the entry to the return, in days (see TimeStampDays).
    double ElapsedDays = 0.0;
    int32_t Result = 0;
    // Rows asked for, of a fetch.
    int32_t FetchRows = 0;
    // The SQL text as UTF-8, or the text of the error that kept it from being read. Of a
    // session's rows (connect, disconnect, commit, rollback) its label, "user@connect".
    std::string Statement;
    // An execute whose mode commits the transaction when it succeeds.
    bool CommitsOnSuccess = false;
    // Numbers a session's records from 1 in the order they are first delivered. A record
    // delivered again as an update (ITraceEvents::TraceRecordUpdated) keeps its number.
    uint64_t Serial = 0;
    // The rows the call delivered (a fetch) or processed (an execute), as the program read
    // them; the bytes a LOB call moved (its length, the length it trimmed to); -1 while
    // that is not known.
    int64_t Rows = -1;
    // The values the call ran with (UTF-8); BindsText writes the Binds cell of them.
    TBindRows Binds;
    // The error or warning text the program read for the call (UTF-8).
    std::string Error;
    // What the memo says below the row besides (a LOB call's offset and piece, a
    // read-only branch); empty for nothing.
    std::string Note;
    // What the program does after the call may still complete the record (its rows, its
    // error text): an update with the same serial follows, the last one not pending.
    bool Pending = false;
    // The thread that made the call.
    DWORD Thread = 0;
    // The call's entry in microseconds since the session started (StartTicks measured
    // from the tracer's start).
    int64_t StartMicroseconds = 0;
    // The SQL id the program read back after an execute (OCI_ATTR_SQL_ID), as the server
    // gave it; empty when it read none.
    std::string ServerSqlId;
};
