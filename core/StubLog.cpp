#include "StubLog.h"

#include "Errors.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {
constexpr const char* Unit = "DebugCore";
}

TStubLogRef TStubLog::Make(uint32_t entries)
{
    // Anywhere will do: the stubs address it absolutely.
    if (!FBlock) {
        VASSERT(entries >= 2 && (entries & (entries - 1)) == 0, Unit);
        FBlock = TSharedBlock::Map(FProcess.Handle.get(), TStubLogLayout::Size(entries), FLow);
        FEntries = entries;
    }
    return Ref();
}

volatile uint32_t& TStubLog::Word(size_t offset) const
{
    return *reinterpret_cast<volatile uint32_t*>(FBlock.Local() + offset);
}

size_t TStubLog::Read(const TTake& take)
{
    return FBlock ? Read(Word(TStubLogLayout::HeadOffset), take) : 0;
}

size_t TStubLog::Read(uint32_t head, const TTake& take)
{
    if (static_cast<int32_t>(head - FRead) < 0)
        head = FRead;
    if (!FBlock || (head == FRead && FUnfinished.empty()))
        return 0;
    size_t taken = 0;
    TStubLogEntry entry;
    // Entries left half written last time come first: they were begun before the rest.
    std::vector<uint32_t> unfinished;
    unfinished.swap(FUnfinished);
    for (uint32_t number : unfinished) {
        if (Decode(number, entry)) {
            take(entry);
            ++taken;
        } else {
            FUnfinished.push_back(number);
        }
    }
    for (; FRead != head; ++FRead) {
        if (Decode(FRead, entry)) {
            take(entry);
            ++taken;
        } else {
            FUnfinished.push_back(FRead);
        }
    }
    // The stubs may write again where every entry before has been read, and not before.
    std::atomic_thread_fence(std::memory_order_release);
    Word(TStubLogLayout::TailOffset) = FUnfinished.empty() ? FRead : FUnfinished.front();
    return taken;
}

bool TStubLog::Decode(uint32_t number, TStubLogEntry& entry) const
{
    using L = TStubLogLayout;
    const unsigned char* bytes = FBlock.Local() + (L::Entry(0, number, FEntries));
    auto field = [bytes](size_t offset, size_t size) {
        uint64_t value = 0;
        std::memcpy(&value, bytes + offset, size);
        return value;
    };
    if (*reinterpret_cast<const volatile uint32_t*>(bytes + L::SeqOffset) != static_cast<uint32_t>(number + 1))
        return false;
    // The stub writes the sequence word last; nothing of the entry may be read before it.
    std::atomic_thread_fence(std::memory_order_acquire);
    entry.Return = field(L::KindOffset, 4) == L::KindReturn;
    entry.Page = field(L::PageOffset, 8);
    entry.Slot = static_cast<uint32_t>(field(L::SlotOffset, 4));
    entry.ThreadId = static_cast<DWORD>(field(L::ThreadOffset, 4));
    entry.Sp = field(L::SpOffset, 8);
    std::memcpy(entry.Frame, bytes + L::FrameOffset, sizeof(entry.Frame));
    size_t length = static_cast<size_t>(std::min<uint64_t>(field(L::LengthOffset, 4), L::MaxBytes));
    entry.Bytes.assign(reinterpret_cast<const char*>(bytes + L::BytesOffset), length);
    return true;
}
