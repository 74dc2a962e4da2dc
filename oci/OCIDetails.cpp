// The details of calls the tracer reads besides their rows: the binds a statement is
// given and their values at each execute, the error texts and row counts the program
// reads after a call (see OCIWaits.h for when a record waits for them).
#include "OCIBreaks.h"

#include "BindValues.h"
#include "OCITexts.h"
#include "TraceMask.h"

#include <algorithm>
#include <iterator>
#include <optional>

namespace {

// A bind call from its entry to its return, which tells the bind handle.
class TBindCallData : public TCallData {
public:
    TAddress Statement = 0;
    TAddress Out = 0;
    TOCIBind Bind;
};

// An OCIErrorGet or OCIAttrGet that may complete a record: where its answer goes.
class TReadCallData : public TCallData {
public:
    DWORD Thread = 0;
    TAddress Handle = 0;
    TAddress Buffer = 0;
    uint32_t BufferSize = 0;
    uint32_t Attribute = 0;
    // OCIAttrGet's size out pointer.
    TAddress Size = 0;
};

// Of a placeholder at most this much is read: the longest name Oracle takes.
constexpr uint32_t MaxNameBytes = 128;
// Of an error text, at most this much is read: messages are a few hundred bytes.
constexpr uint32_t MaxErrorBytes = 8192;
// A SQL id is 13 characters; a longer answer is cut there.
constexpr uint32_t MaxSqlIdBytes = 64;

// A text read from the program's memory ends at its first NUL (two zero bytes at an even
// offset in UTF-16).
std::string UpToNul(const std::string& bytes, bool wide) { return bytes.substr(0, NulEnd(bytes, wide)); }

// The SQL id comes back as a pointer to the library's text and its size in bytes, in the
// statement's encoding; none when either cannot be read.
std::optional<std::string> ReadSqlId(TSafeReader& reader, const TReadCallData& data, size_t pointerSize, bool wide)
{
    uint64_t text = 0;
    uint32_t size = 0;
    std::string bytes;
    if (!data.Buffer || !data.Size || !reader.Read(data.Buffer, &text, pointerSize) || !text ||
        !reader.Read(data.Size, &size, 4) || !size || !reader.Read(text, std::min(size, MaxSqlIdBytes), bytes))
        return std::nullopt;
    return TextToUtf8(UpToNul(bytes, wide), wide);
}

} // namespace

std::unique_ptr<TCallData> TOCITracer::BindEntered(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame)
{
    TOCICallArgs arg(entry, frame);
    auto data = std::make_unique<TBindCallData>();
    TSafeReader reader(host.TargetProcess());
    bool second = entry.Call == TOCICall::Bind2;
    TOCIBind& bind = data->Bind;
    data->Statement = arg(TOCIArg::Handle);
    data->Out = arg(TOCIArg::Out);
    bind.Wide = FWide.count(data->Statement) != 0;
    if (entry.Arg(TOCIArg::Position)) {
        bind.Name = BindName(static_cast<uint32_t>(arg(TOCIArg::Position)));
    } else {
        TAddress name = arg(TOCIArg::Name);
        auto length = static_cast<int32_t>(arg(TOCIArg::NameLength));
        // Up to the length given (none: up to the NUL), and in any case up to the first NUL.
        std::string bytes;
        bool read = length > 0 ? reader.Read(name, std::min<uint32_t>(length, MaxNameBytes), bytes)
                               : !(bytes = reader.ReadPrefix(name, MaxNameBytes)).empty();
        bytes = UpToNul(bytes, bind.Wide);
        std::string text = TextToUtf8(bytes, bind.Wide);
        bool control = std::any_of(text.begin(), text.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
        bind.Name = BindName(read && !bytes.empty() && !control ? &text : nullptr);
    }
    bind.Value = arg(TOCIArg::Value);
    bind.Size = second ? static_cast<int64_t>(arg(TOCIArg::Size)) : static_cast<int32_t>(arg(TOCIArg::Size));
    bind.Type = static_cast<uint16_t>(arg(TOCIArg::Type));
    bind.Indicator = arg(TOCIArg::Indicator);
    bind.Lengths = arg(TOCIArg::AltLength);
    bind.LengthSize = second ? 4 : 2;
    bind.AtExecute = (static_cast<uint32_t>(arg(TOCIArg::Mode)) & OCI_DATA_AT_EXEC) != 0;
    return data;
}

void TOCITracer::BindReturned(IHookHost& host, TCallData& callData, uint32_t result, int64_t /*elapsedTicks*/)
{
    auto& data = static_cast<TBindCallData&>(callData);
    if (!OCISucceeded(static_cast<int32_t>(result)))
        return;
    TSafeReader reader(host.TargetProcess());
    uint64_t handle = 0;
    if (!data.Out || !reader.Read(data.Out, &handle, PointerSize(host)))
        return;
    data.Bind.Handle = handle;
    FBinds.Add(data.Statement, data.Bind);
}

std::unique_ptr<TCallData> TOCITracer::BindArrayEntered(IHookHost& /*host*/, const TOCIEntry& entry,
                                                        TCallFrame& frame)
{
    TOCICallArgs arg(entry, frame);
    FBinds.SetSkips(arg(TOCIArg::Handle), arg.Dword(TOCIArg::ValueSkip), arg.Dword(TOCIArg::IndicatorSkip),
                    arg.Dword(TOCIArg::LengthSkip));
    return nullptr;
}

std::unique_ptr<TCallData> TOCITracer::BindDynamicEntered(IHookHost& /*host*/, const TOCIEntry& entry,
                                                          TCallFrame& frame)
{
    FBinds.SetAtExecute(OCIArgument(entry, frame, TOCIArg::Handle));
    return nullptr;
}

std::unique_ptr<TCallData> TOCITracer::ErrorGetEntered(IHookHost& /*host*/, const TOCIEntry& entry,
                                                       TCallFrame& frame)
{
    TOCICallArgs arg(entry, frame);
    TAddress handle = arg(TOCIArg::Handle);
    // Record 1 is the call's error; the others complete nothing.
    if (arg.Dword(TOCIArg::Record) != 1 || !FWaits.WaitsForError(frame.ThreadId, handle))
        return nullptr;
    auto data = std::make_unique<TReadCallData>();
    data->Thread = frame.ThreadId;
    data->Handle = handle;
    data->Buffer = arg(TOCIArg::Buffer);
    data->BufferSize = arg.Dword(TOCIArg::BufferSize);
    return data;
}

void TOCITracer::ErrorGetReturned(IHookHost& host, TCallData& callData, uint32_t code, int64_t /*elapsedTicks*/)
{
    auto& data = static_cast<TReadCallData&>(callData);
    auto result = static_cast<int32_t>(code);
    // The program asked with nothing to take the text: it may ask again.
    if (result == OCI_NO_DATA)
        FWaits.ErrorRead(data.Thread, data.Handle, nullptr);
    if (!OCISucceeded(result) || !data.Buffer || !data.BufferSize)
        return;
    // Of a buffer where a password lies nothing is read: the text is read with what
    // follows it in the buffer, and only then cut at its end.
    if (FSessions.Passwords.Overlaps(data.Buffer, std::min(data.BufferSize, MaxErrorBytes))) {
        FWaits.ErrorRead(data.Thread, data.Handle, nullptr);
        return;
    }
    TSafeReader reader(host.TargetProcess());
    bool wide = FWide.count(data.Handle) != 0;
    std::string text =
        TextToUtf8(UpToNul(reader.ReadPrefix(data.Buffer, std::min(data.BufferSize, MaxErrorBytes)), wide), wide);
    text.erase(text.find_last_not_of(" \t\r\n") + 1);
    text = ControlCharactersAsBlanks(text);
    FWaits.ErrorRead(data.Thread, data.Handle, &text);
}

std::unique_ptr<TCallData> TOCITracer::AttrGetEntered(IHookHost& /*host*/, const TOCIEntry& entry, TCallFrame& frame)
{
    TOCICallArgs arg(entry, frame);
    TAddress handle = arg(TOCIArg::Handle);
    uint32_t attribute = arg.Dword(TOCIArg::AttrType);
    if (arg.Dword(TOCIArg::HandleType) != OCI_HTYPE_STMT)
        return nullptr;
    bool sqlId = attribute == OCI_ATTR_SQL_ID && FWaits.WaitsForSqlId(frame.ThreadId, handle);
    bool rows = std::find(std::begin(RowAttributes), std::end(RowAttributes), attribute) != std::end(RowAttributes) &&
                FWaits.WaitsForRows(frame.ThreadId, handle);
    if (!sqlId && !rows)
        return nullptr;
    auto data = std::make_unique<TReadCallData>();
    data->Thread = frame.ThreadId;
    data->Handle = handle;
    data->Buffer = arg(TOCIArg::Attribute);
    data->Attribute = attribute;
    data->Size = arg(TOCIArg::Size);
    return data;
}

void TOCITracer::AttrGetReturned(IHookHost& host, TCallData& callData, uint32_t result, int64_t /*elapsedTicks*/)
{
    auto& data = static_cast<TReadCallData&>(callData);
    if (data.Attribute == OCI_ATTR_SQL_ID) {
        std::optional<std::string> id;
        if (OCISucceeded(static_cast<int32_t>(result))) {
            TSafeReader reader(host.TargetProcess());
            id = ReadSqlId(reader, data, PointerSize(host), FWide.count(data.Handle) != 0);
        }
        FWaits.SqlIdRead(data.Thread, data.Handle, id ? &*id : nullptr);
        return;
    }
    if (static_cast<int32_t>(result) != OCI_SUCCESS)
        return;
    TSafeReader reader(host.TargetProcess());
    uint64_t value = 0;
    if (reader.Read(data.Buffer, &value, data.Attribute == OCI_ATTR_UB8_ROW_COUNT ? 8 : 4))
        FWaits.RowsRead(data.Thread, data.Handle, data.Attribute, value);
}

TBindRows TOCITracer::ExecuteBinds(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame, TAddress stmt)
{
    TSafeReader reader(host.TargetProcess());
    return FBinds.Items(reader, stmt, OCIArgument32(entry, frame, TOCIArg::Iters),
                        OCIArgument32(entry, frame, TOCIArg::RowOffset), FHideValues, FSessions.Passwords);
}
