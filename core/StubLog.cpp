#include "StubLog.h"

#include <algorithm>
#include <cstring>

TAddress TStubLog::Make()
{
    // Anywhere will do: the stubs address it absolutely.
    if (!FBase) {
        FBlock = TRemoteBlock::Allocate(FProcess.Handle.get(), TStubLogLayout::Size, PAGE_READWRITE);
        FBase = FBlock.get();
    }
    return FBase;
}

void TStubLog::Read(const TTake& take)
{
    if (FBase)
        Read(FProcess.ReadDword(FBase + TStubLogLayout::HeadOffset), take);
}

void TStubLog::Read(uint32_t head, const TTake& take)
{
    using L = TStubLogLayout;
    if (static_cast<int32_t>(head - FRead) < 0)
        head = FRead;
    if (!FBase || (head == FRead && FUnfinished.empty()))
        return;
    TAddress log = FBase;
    std::vector<unsigned char> bytes;
    TStubLogEntry entry;
    // Entries left half written last time come first: they were begun before the rest.
    std::vector<uint32_t> unfinished;
    unfinished.swap(FUnfinished);
    for (uint32_t number : unfinished) {
        bytes.resize(L::EntrySize);
        FProcess.ReadMemory(L::Entry(log, number), bytes.data(), bytes.size());
        if (Decode(bytes.data(), number, entry))
            take(entry);
        else
            FUnfinished.push_back(number);
    }
    // The new ones, in at most two reads (the log wraps round).
    while (FRead != head) {
        uint32_t first = FRead & (L::EntryCount - 1);
        uint32_t count = std::min(head - FRead, L::EntryCount - first);
        bytes.resize(count * L::EntrySize);
        FProcess.ReadMemory(L::Entry(log, FRead), bytes.data(), bytes.size());
        for (uint32_t i = 0; i < count; ++i, ++FRead) {
            if (Decode(bytes.data() + i * L::EntrySize, FRead, entry))
                take(entry);
            else
                FUnfinished.push_back(FRead);
        }
    }
    // The stubs learn now and then how far they may write; till then the log looks fuller.
    uint32_t tail = FUnfinished.empty() ? FRead : FUnfinished.front();
    if (tail - FTail >= L::EntryCount / 2) {
        FProcess.WriteMemory(log + L::TailOffset, &tail, sizeof(tail));
        FTail = tail;
    }
}

bool TStubLog::Decode(const unsigned char* bytes, uint32_t number, TStubLogEntry& entry)
{
    using L = TStubLogLayout;
    auto field = [bytes](size_t offset, size_t size) {
        uint64_t value = 0;
        std::memcpy(&value, bytes + offset, size);
        return value;
    };
    if (field(L::SeqOffset, 4) != static_cast<uint32_t>(number + 1))
        return false;
    entry.Number = number;
    entry.Page = field(L::PageOffset, 8);
    entry.Slot = static_cast<uint32_t>(field(L::SlotOffset, 4));
    entry.ThreadId = static_cast<DWORD>(field(L::ThreadOffset, 4));
    entry.Sp = field(L::SpOffset, 8);
    std::memcpy(entry.Frame, bytes + L::FrameOffset, sizeof(entry.Frame));
    size_t length = static_cast<size_t>(std::min<uint64_t>(field(L::LengthOffset, 4), L::MaxBytes));
    entry.Bytes.assign(reinterpret_cast<const char*>(bytes + L::BytesOffset), length);
    return true;
}
