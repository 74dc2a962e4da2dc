#include "OCIBreaks.h"

#include "Errors.h"

const char* const UnavailableStatement = "<unavailable>";

// ---------------------------------------------------------------------------
// TOCIStatements

int TOCIStatements::IndexOfHandle(DWORD handle) const
{
    if (!FByHandle.count(handle))
        return -1;
    return IndexOfIf([handle](const TOCIStmt& s) { return s.Handle == handle; });
}

TOCIStmt* TOCIStatements::FindHandle(DWORD handle) const
{
    auto it = FByHandle.find(handle);
    return it == FByHandle.end() ? nullptr : it->second;
}

void TOCIStatements::SetText(DWORD handle, const std::string& text)
{
    TOCIStmt* stmt = FindHandle(handle);
    if (!stmt) {
        auto entry = std::make_unique<TOCIStmt>(handle);
        entry->Text = text;
        stmt = Add(std::move(entry));
        FByHandle[handle] = stmt;
        return;
    }
    stmt->Text = text;
}

void TOCIStatements::Delete(int index)
{
    DWORD handle = Items(index)->Handle;
    TOwningList<TOCIStmt>::Delete(index);
    FByHandle.erase(handle);
}

void TOCIStatements::Clear()
{
    TOwningList<TOCIStmt>::Clear();
    FByHandle.clear();
}

TOCIStatements& Statements()
{
    static TOCIStatements instance;
    return instance;
}

// ---------------------------------------------------------------------------
// Records

std::string TOCIStmtFetchData::GetActionText() const { return Format("Fetch (%d)", static_cast<int>(Rows)); }

// ---------------------------------------------------------------------------
// Handlers. A failure while decoding becomes the record's statement; the record is
// timed and posted like any other.

static void StatementFromRegistry(TBreakpointData& data, DWORD handle)
{
    TOCIStmt* stmt = Statements().FindHandle(handle);
    data.Statement = stmt ? stmt->Text : UnavailableStatement;
}

template <class Decode>
static void Decoded(TBreakpointData& data, Decode decode)
{
    try {
        decode();
    } catch (const std::exception& e) {
        data.Statement = ExceptionText(e);
    }
}

void TOCIStmtPrepareBreakpoint::Enter(const CONTEXT& context, TCallFrame& frame)
{
    Data = std::make_unique<TOCIStmtPrepareData>();
    TOCINotifyBreakpoint::Enter(context, frame);
    Decoded(*Data, [&] {
        DWORD length = frame.Word(4);
        DWORD text = frame.Word(3);
        Data->Statement = Process->ReadString(text, length);
        DWORD handle = frame.Word(1);
        Statements().SetText(handle, Data->Statement);
    });
}

void TOCIStmtExecuteBreakpoint::Enter(const CONTEXT& context, TCallFrame& frame)
{
    Data = std::make_unique<TOCIStmtExecuteData>();
    TOCINotifyBreakpoint::Enter(context, frame);
    Decoded(*Data, [&] { StatementFromRegistry(*Data, frame.Word(2)); });
}

void TOCIStmtFetchBreakpoint::Enter(const CONTEXT& context, TCallFrame& frame)
{
    auto record = std::make_unique<TOCIStmtFetchData>();
    TOCIStmtFetchData& fetch = *record;
    Data = std::move(record);
    TOCINotifyBreakpoint::Enter(context, frame);
    Decoded(fetch, [&] {
        StatementFromRegistry(fetch, frame.Word(1));
        fetch.Rows = static_cast<int32_t>(frame.Word(3));
    });
}

void TOCIHandleFreeBreakpoint::Hit(const CONTEXT&, TCallFrame& frame)
{
    int index = Statements().IndexOfHandle(frame.Word(1));
    if (index != -1)
        Statements().Delete(index);
}
