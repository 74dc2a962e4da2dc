// OCI call tracing: the statement registry and the breakpoints on the four OCI
// entry points with the trace records they make.
#pragma once

#include "SysProcs.h"

#include <cstdint>
#include <string>
#include <unordered_map>

// OCI return codes.
constexpr int32_t OCI_SUCCESS = 0;
constexpr int32_t OCI_SUCCESS_WITH_INFO = 1;
constexpr int32_t OCI_NEED_DATA = 99;
constexpr int32_t OCI_NO_DATA = 100;
constexpr int32_t OCI_ERROR = -1;
constexpr int32_t OCI_INVALID_HANDLE = -2;
constexpr int32_t OCI_STILL_EXECUTING = -3123;
constexpr int32_t OCI_CONTINUE = -24200;

// ---------------------------------------------------------------------------
// Statement registry: the SQL text last prepared on each statement handle.

class TOCIStmt {
public:
    explicit TOCIStmt(DWORD handle) : Handle(handle) {}
    DWORD Handle;
    std::string Text;
};

class TOCIStatements : public TOwningList<TOCIStmt> {
public:
    int IndexOfHandle(DWORD handle) const;
    TOCIStmt* FindHandle(DWORD handle) const;
    // Records text for handle, adding an entry at the end for a handle not yet known.
    void SetText(DWORD handle, const std::string& text);
    void Delete(int index);
    void Clear();

private:
    // Index by handle, so that a program that leaves many handles open costs no scan per call.
    std::unordered_map<DWORD, TOCIStmt*> FByHandle;
};

// The one statement registry of the program.
TOCIStatements& Statements();

// ---------------------------------------------------------------------------
// Trace records

class TOCIStmtPrepareData : public TBreakpointData {
public:
    std::string GetActionText() const override { return "Prepare"; }
};

class TOCIStmtExecuteData : public TBreakpointData {
public:
    std::string GetActionText() const override { return "Execute"; }
};

class TOCIStmtFetchData : public TBreakpointData {
public:
    std::string GetActionText() const override;
    int32_t Rows = 0;
};

// ---------------------------------------------------------------------------
// Entry breakpoints. Argument n of a call is word n of its call frame (word 0 is the
// return address).

// OCIStmtPrepare(stmtp, errhp, stmt, stmt_len, language, mode). Armed whatever the
// trace mask, because the registry needs every prepared text.
class TOCIStmtPrepareBreakpoint : public TOCINotifyBreakpoint {
public:
    using TOCINotifyBreakpoint::TOCINotifyBreakpoint;
    void Enter(const CONTEXT& context, TCallFrame& frame) override;
    void ApplyEnabled() override { Arm(); }
};

// OCIStmtExecute(svchp, stmtp, errhp, iters, rowoff, snap_in, snap_out, mode).
class TOCIStmtExecuteBreakpoint : public TOCINotifyBreakpoint {
public:
    using TOCINotifyBreakpoint::TOCINotifyBreakpoint;
    void Enter(const CONTEXT& context, TCallFrame& frame) override;
};

// OCIStmtFetch(stmtp, errhp, nrows, orientation, mode).
class TOCIStmtFetchBreakpoint : public TOCINotifyBreakpoint {
public:
    using TOCINotifyBreakpoint::TOCINotifyBreakpoint;
    void Enter(const CONTEXT& context, TCallFrame& frame) override;
};

// OCIHandleFree(hndlp, type): drops the handle from the registry; makes no record.
class TOCIHandleFreeBreakpoint : public TOCIBreakpoint {
public:
    using TOCIBreakpoint::TOCIBreakpoint;
    void Hit(const CONTEXT& context, TCallFrame& frame) override;
};

// "<unavailable>" for a handle the registry does not know.
extern const char* const UnavailableStatement;
