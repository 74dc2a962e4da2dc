// The LOB calls (see LobCalls.h): their bookkeeping and the tracer's handlers of them.
#include "LobCalls.h"

#include "OCIBreaks.h"
#include "OCITexts.h"
#include "TraceMask.h"
#include "Utils.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t SQLT_CLOB = 112;
constexpr uint32_t SQLT_BLOB = 113;
constexpr uint32_t SQLT_BFILEE = 114;
constexpr uint32_t SQLT_CFILEE = 115;

// No fetch hands out more rows than this at once: a larger count is garbage, and only
// this many locators of it are looked at.
constexpr uint32_t MaxLocatorRows = 4096;

const char* const PieceNames[] = {"one", "first", "next", "last"};

} // namespace

bool IsLobType(uint32_t dty)
{
    return dty == SQLT_CLOB || dty == SQLT_BLOB || dty == SQLT_BFILEE || dty == SQLT_CFILEE;
}

std::string LobNote(const TLobCall& call, int64_t chars)
{
    std::string note;
    auto add = [&note](const std::string& part) { note += (note.empty() ? "" : ", ") + part; };
    if (call.Offset >= 0)
        add(Format("offset %lld", static_cast<long long>(call.Offset)));
    if (call.Piece >= 0)
        add(call.Piece < 4 ? std::string("piece ") + PieceNames[call.Piece] : Format("piece %d", call.Piece));
    if (call.CharAmount && chars >= 0)
        add(Format("%lld characters", static_cast<long long>(chars)));
    return note;
}

// ---------------------------------------------------------------------------
// TLobLocators

void TLobLocators::Defined(TAddress stmt, uint32_t position, TAddress array, bool lob)
{
    auto found = FDefines.find(stmt);
    if (found != FDefines.end()) {
        auto& defines = found->second.Defines;
        defines.erase(std::remove_if(defines.begin(), defines.end(),
                                     [position](const TDefine& d) { return d.Position == position; }),
                      defines.end());
    }
    if (lob && array)
        FDefines[stmt].Defines.push_back(TDefine{position, array});
    else if (found != FDefines.end() && found->second.Defines.empty())
        FDefines.erase(found);
    // Locators handed out before may now belong elsewhere: they are looked for again.
    FLocators.clear();
}

void TLobLocators::Fetched(TAddress stmt, uint32_t rows)
{
    auto found = FDefines.find(stmt);
    if (found != FDefines.end())
        found->second.Rows = std::clamp(std::max(found->second.Rows, rows), 1u, MaxLocatorRows);
}

void TLobLocators::Forget(TAddress stmt)
{
    if (FDefines.erase(stmt))
        FLocators.clear();
}

std::string TLobLocators::StatementOf(TAddress locator, const TReadPointers& read, const TTextOf& textOf)
{
    if (!locator)
        return {};
    auto known = FLocators.find(locator);
    if (known != FLocators.end())
        return known->second;
    std::vector<TAddress> pointers;
    for (const auto& [stmt, defines] : FDefines) {
        for (const TDefine& define : defines.Defines) {
            if (!read(define.Array, defines.Rows, pointers))
                continue;
            std::string text = textOf(stmt);
            for (TAddress pointer : pointers)
                if (pointer)
                    FLocators[pointer] = text;
        }
    }
    known = FLocators.find(locator);
    return known != FLocators.end() ? known->second : std::string();
}

// ---------------------------------------------------------------------------
// The tracer's handlers

std::unique_ptr<TCallData> TOCITracer::DefineEntered(IHookHost& /*host*/, const TOCIEntry& entry, TCallFrame& frame)
{
    TOCICallArgs arg(entry, frame);
    FLobs.Defined(arg(TOCIArg::Handle), arg.Dword(TOCIArg::Position), arg(TOCIArg::Value),
                  IsLobType(arg.Dword(TOCIArg::Type) & 0xFFFF));
    return nullptr;
}

// Only the call's arguments are read here: the amounts it moved are read at its return.
std::unique_ptr<TCallData> TOCITracer::LobEntered(IHookHost& /*host*/, const TOCIEntry& entry, TCallFrame& frame)
{
    auto data = NewCall(entry, frame);
    Decoded(data->Record, [&] {
        TOCICallArgs arg(entry, frame);
        TLobCall& lob = data->Lob;
        // An argument 4 bytes wide has garbage above them on x64.
        auto number = [&](TOCIArg which) {
            int n = entry.Arg(which);
            uint64_t value = arg(which);
            return static_cast<int64_t>(entry.Args.Wide & (1u << n) ? value : value & 0xFFFFFFFFu);
        };
        lob.Locator = arg(TOCIArg::Locator);
        lob.Amount = arg(TOCIArg::Amount);
        lob.CharAmount = arg(TOCIArg::CharAmount);
        lob.WideAmount = entry.Call == TOCICall::Lob2;
        if (entry.Arg(TOCIArg::Offset))
            lob.Offset = number(TOCIArg::Offset);
        if (entry.Arg(TOCIArg::Piece))
            lob.Piece = static_cast<int>(arg.Dword(TOCIArg::Piece) & 0xFF);
        if (entry.Arg(TOCIArg::NewLength))
            lob.NewLength = number(TOCIArg::NewLength);
    });
    return Kept(std::move(data));
}

void TOCITracer::LobReturned(IHookHost& host, TCallData& callData, uint32_t result, int64_t elapsedTicks)
{
    TOCICallData& data = Finished(callData, result, elapsedTicks);
    TTraceRecord& record = data.Record;
    const TLobCall& lob = data.Lob;
    TSafeReader reader(host.TargetProcess());
    // An amount that cannot be read leaves its cell empty.
    auto amount = [&](TAddress at) -> int64_t {
        uint64_t value = 0;
        if (!at || !reader.Read(at, &value, lob.WideAmount ? 8 : 4))
            return -1;
        return static_cast<int64_t>(value & 0x7FFFFFFFFFFFFFFFull);
    };
    record.Rows = lob.NewLength >= 0 ? lob.NewLength : amount(lob.Amount);
    record.Note = LobNote(lob, amount(lob.CharAmount));
    const size_t pointerSize = PointerSize(host);
    auto read = [&](TAddress array, uint32_t count, std::vector<TAddress>& pointers) {
        std::string bytes;
        if (!reader.Read(array, count * pointerSize, bytes))
            return false;
        pointers.assign(count, 0);
        for (uint32_t i = 0; i < count; ++i)
            std::memcpy(&pointers[i], bytes.data() + i * pointerSize, pointerSize);
        return true;
    };
    record.Statement = FLobs.StatementOf(lob.Locator, read, [this](TAddress stmt) {
        TOCIStmt* known = Statements.FindHandle(stmt);
        return known ? known->Text : std::string();
    });
    Deliver(data);
}
