// Records that the program may still complete. A call's error text and its rows are not
// known when it returns: the program asks for them afterwards (OCIErrorGet, OCIAttrGet),
// and the tracer reads what the program is told. So a record whose result left an error
// or warning (errors traced), or an execute or fetch (rows traced), is delivered pending,
// and updates follow as the program's reads complete it.
//
// The rule, per thread of the program (each thread waits for at most one record):
// - A record waits for its error text when errors are traced and its result is not
//   OCI_SUCCESS; OCIErrorGet of record 1 on the call's error handle, by the same thread,
//   ends that wait: with the text read, or empty when the answer is OCI_NO_DATA. A call
//   with no buffer, or of another record number, changes nothing.
// - An execute or fetch waits for its rows when rows are traced; OCIAttrGet of the same
//   statement by the same thread ends that wait: a fetch takes OCI_ATTR_ROWS_FETCHED, or
//   the growth of OCI_ATTR_ROW_COUNT (OCI_ATTR_UB8_ROW_COUNT) since the last one read of
//   the statement after its execute; an execute takes OCI_ATTR_ROW_COUNT or
//   OCI_ATTR_UB8_ROW_COUNT.
// - An execute of a statement prepared asking for its SQL id (rows traced) waits for it
//   too; OCIAttrGet of OCI_ATTR_SQL_ID of the same statement by the same thread ends that
//   wait, with the id read or none.
// - The waits end, whatever was read, at the thread's next statement call (a prepare,
//   execute or fetch the tracer sees), at the thread's end and at the session's end. A free
//   of the error handle ends the wait for error text, a free or release of the statement
//   the wait for rows. Bind calls end nothing.
// Each completion sends an update; the last one, once both waits have ended, is not
// pending. A record that was never pending gets no update.
#pragma once

#include "SysProcs.h"
#include "TraceEvents.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <unordered_map>

// The statement attributes that tell rows.
constexpr uint32_t OCI_ATTR_ROW_COUNT = 9;
constexpr uint32_t OCI_ATTR_ROWS_FETCHED = 197;
constexpr uint32_t OCI_ATTR_UB8_ROW_COUNT = 457;
constexpr uint32_t OCI_HTYPE_STMT = 4;
constexpr uint32_t OCI_ATTR_SQL_ID = 504;
constexpr uint32_t OCI_PREP2_GET_SQL_ID = 0x2000;
inline constexpr uint32_t RowAttributes[] = {OCI_ATTR_ROW_COUNT, OCI_ATTR_ROWS_FETCHED, OCI_ATTR_UB8_ROW_COUNT};
// The statement attributes a stub lets through: those that tell rows, and the SQL id.
inline constexpr uint32_t ReadAttributes[] = {OCI_ATTR_ROW_COUNT, OCI_ATTR_ROWS_FETCHED, OCI_ATTR_UB8_ROW_COUNT,
                                              OCI_ATTR_SQL_ID};

class TOCIWaits {
public:
    explicit TOCIWaits(ITraceEvents& events) : FEvents(events) {}

    // Delivers a record of thread's call on statement stmt (0: none) reporting on
    // errorHandle, pending when it waits for error text or rows.
    void Deliver(TTraceRecord record, DWORD thread, TAddress errorHandle, TAddress stmt, bool waitsError,
                 bool waitsRows, bool waitsSqlId = false);
    // Whether thread's record waits for what a read would tell: OCIErrorGet of errorHandle,
    // OCIAttrGet of stmt.
    bool WaitsForError(DWORD thread, TAddress errorHandle) const;
    bool WaitsForRows(DWORD thread, TAddress stmt) const;
    bool WaitsForSqlId(DWORD thread, TAddress stmt) const;
    // The program read record 1 of errorHandle: text, or none at all (nullptr: OCI_NO_DATA).
    void ErrorRead(DWORD thread, TAddress errorHandle, const std::string* text);
    // The program read a row attribute of stmt.
    void RowsRead(DWORD thread, TAddress stmt, uint32_t attribute, uint64_t value);
    // The program read the SQL id of stmt: id, or none at all (nullptr).
    void SqlIdRead(DWORD thread, TAddress stmt, const std::string* id);
    // An execute of stmt begins: its row count starts from 0.
    void Executed(TAddress stmt) { FRowCounts.erase(stmt); }

    void StatementCall(DWORD thread) { Finish(thread); }
    void ThreadEnded(DWORD thread) { Finish(thread); }
    void HandleFreed(TAddress handle);
    void SessionEnding();

private:
    struct TWait {
        TTraceRecord Record;
        TAddress ErrorHandle = 0;
        TAddress Statement = 0;
        bool Error = false;
        bool Rows = false;
        bool SqlId = false;
    };
    // Sends the record as it stands; drops the wait once nothing more can come.
    void Update(std::unordered_map<DWORD, TWait>::iterator wait);
    void Finish(DWORD thread);

    ITraceEvents& FEvents;
    std::unordered_map<DWORD, TWait> FWaits;
    // Per statement, OCI_ATTR_ROW_COUNT as last read since its execute.
    std::unordered_map<TAddress, uint64_t> FRowCounts;
};
