// Pings, the branch calls of distributed transactions and implicit results (see
// TransactionCalls.h), and the tracer's handlers of them.
#include "TransactionCalls.h"

#include "OCIBreaks.h"
#include "OCITexts.h"
#include "Utils.h"

#include <cstring>

const char* const ReadOnlyBranchNote = "read-only: no commit needed";

namespace {

const struct {
    uint32_t Bit;
    const char* Name;
} TransFlags[] = {
    {0x1, "new"},           {0x2, "join"},        {0x4, "resume"},       {0x100, "readonly"},
    {0x400, "serializable"}, {0x10000, "loose"}, {0x20000, "tight"},   {0x01000000, "two-phase"},
};

std::string Hex(const char* bytes, size_t size)
{
    std::string text;
    for (size_t i = 0; i < size; ++i)
        text += Format("%02X", static_cast<unsigned char>(bytes[i]));
    return text;
}

} // namespace

std::string TransFlagsText(uint32_t flags)
{
    std::string text;
    for (const auto& flag : TransFlags)
        if (flags & flag.Bit) {
            text += (text.empty() ? "" : ", ") + std::string(flag.Name);
            flags &= ~flag.Bit;
        }
    if (flags)
        text += (text.empty() ? "" : ", ") + Format("0x%X", flags);
    return text;
}

std::string XidText(const std::string& bytes)
{
    if (bytes.size() < XidHeaderBytes)
        return {};
    int32_t header[3];
    std::memcpy(header, bytes.data(), sizeof header);
    const int32_t gtrid = header[1], bqual = header[2];
    if (gtrid < 0 || bqual < 0 || gtrid > 64 || bqual > 64 || XidHeaderBytes + gtrid + bqual > bytes.size())
        return {};
    const char* data = bytes.data() + XidHeaderBytes;
    return Format("XID %d, gtrid %s, bqual %s", static_cast<int>(header[0]), Hex(data, gtrid).c_str(),
                  Hex(data + gtrid, bqual).c_str());
}

std::string BranchText(uint32_t flags, const std::string& xid)
{
    std::string text = TransFlagsText(flags);
    if (!xid.empty())
        text += (text.empty() ? "" : "; ") + xid;
    return text;
}

std::string ImplicitResultSuffix(int n) { return Format(" (implicit result %d)", n); }

std::string_view WithoutImplicitResult(std::string_view text)
{
    constexpr std::string_view head = " (implicit result ";
    if (text.empty() || text.back() != ')')
        return text;
    size_t at = text.rfind(head);
    if (at == std::string_view::npos)
        return text;
    std::string_view number = text.substr(at + head.size(), text.size() - 1 - at - head.size());
    if (number.empty() || number.find_first_not_of("0123456789") != std::string_view::npos)
        return text;
    return text.substr(0, at);
}

// ---------------------------------------------------------------------------
// TBranches

void TBranches::XidSet(TAddress trans, const std::string& xid)
{
    if (xid.empty())
        FXids.erase(trans);
    else
        FXids[trans] = xid;
}

std::string TBranches::XidOf(TAddress svc) const
{
    auto trans = FTrans.find(svc);
    if (trans == FTrans.end())
        return {};
    auto xid = FXids.find(trans->second);
    return xid != FXids.end() ? xid->second : std::string();
}

void TBranches::Forget(TAddress handle)
{
    FTrans.erase(handle);
    FXids.erase(handle);
    FResults.erase(handle);
}

// ---------------------------------------------------------------------------
// The tracer's handlers

// The XID is read at the set: the program may build it on its stack and write over it
// right after.
void TOCITracer::XidSet(TCallFrame& frame, TAddress trans, TAddress value)
{
    std::string xid;
    try {
        std::string header = frame.Bytes(value, XidHeaderBytes);
        int32_t lengths[3];
        std::memcpy(lengths, header.data(), sizeof lengths);
        if (lengths[1] >= 0 && lengths[2] >= 0 && lengths[1] + lengths[2] <= static_cast<int32_t>(XidDataBytes))
            xid = XidText(frame.Bytes(value, XidHeaderBytes + lengths[1] + lengths[2]));
    } catch (const EOSError&) {
        // An XID that cannot be read is not known: the branch's rows show its flags alone.
    }
    FBranches.XidSet(trans, xid);
}

std::unique_ptr<TCallData> TOCITracer::BranchEntered(IHookHost& /*host*/, const TOCIEntry& entry, TCallFrame& frame)
{
    auto data = NewCall(entry, frame);
    Decoded(data->Record, [&] {
        TOCICallArgs arg(entry, frame);
        data->Session.Svc = arg(TOCIArg::Handle);
        data->Record.Statement = BranchText(arg.Dword(TOCIArg::Mode), FBranches.XidOf(data->Session.Svc));
    });
    return Kept(std::move(data));
}

void TOCITracer::BranchPrepared(IHookHost& /*host*/, TCallData& callData, uint32_t result, int64_t elapsedTicks)
{
    TOCICallData& data = Finished(callData, result, elapsedTicks);
    if (data.Record.Result == OCI_SUCCESS_WITH_INFO)
        data.Record.Note = ReadOnlyBranchNote;
    Deliver(data);
}

std::unique_ptr<TCallData> TOCITracer::NextResultEntered(IHookHost& /*host*/, const TOCIEntry& entry,
                                                         TCallFrame& frame)
{
    TOCICallArgs arg(entry, frame);
    auto data = NewCall(entry, frame);
    data->Statement = arg(TOCIArg::Handle);
    data->Out = arg(TOCIArg::Out);
    return data;
}

// A child handed out shows its parent's text, numbered; OCI_NO_DATA hands out none.
void TOCITracer::NextResultReturned(IHookHost& host, TCallData& callData, uint32_t result, int64_t elapsedTicks)
{
    TOCICallData& data = Finished(callData, result, elapsedTicks);
    if (data.Record.Result == OCI_NO_DATA)
        FBranches.Executed(data.Statement);
    if (data.Record.Result != OCI_SUCCESS || !data.Out)
        return;
    TAddress child = 0;
    TSafeReader reader(host.TargetProcess());
    if (!reader.Read(data.Out, &child, PointerSize(host)) || !child)
        return;
    TOCIStmt* parent = Statements.FindHandle(data.Statement);
    std::string text = parent ? parent->Text : UnavailableStatement;
    Statements.SetText(child, text + ImplicitResultSuffix(FBranches.NextResult(data.Statement)));
    FBinds.Forget(child);
    FLobs.Forget(child);
    if (FWide.count(data.Statement))
        FWide.insert(child);
}
