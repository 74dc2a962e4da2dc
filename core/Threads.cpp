#include "Threads.h"

#include "Errors.h"

#include <algorithm>

namespace {
constexpr const char* Unit = "SysProcs";
}

void TThreadInfo::DropCallsAtOrBelow(TAddress sp, std::vector<TAddress>& dropped)
{
    while (!Calls.empty() && Calls.back().EntrySp <= sp) {
        dropped.push_back(Calls.back().ReturnAddress);
        Calls.pop_back();
    }
}

bool TThreadInfo::PopReturn(TAddress address, TAddress sp, TCallInFlight& call, std::vector<TAddress>& dropped)
{
    // The call entered nearest below the stack pointer of the return: calls of this
    // thread at the same return address deeper in the stack were left by an unwind.
    size_t found = Calls.size();
    for (size_t i = Calls.size(); i-- > 0;)
        if (Calls[i].ReturnAddress == address && Calls[i].EntrySp < sp) {
            if (found == Calls.size() || Calls[i].EntrySp > Calls[found].EntrySp)
                found = i;
        }
    if (found == Calls.size())
        return false;
    TakeCall(found, call, dropped);
    return true;
}

bool TThreadInfo::PopCall(TAddress entrySp, TCallInFlight& call, std::vector<TAddress>& dropped)
{
    size_t found = Calls.size();
    while (found-- > 0)
        if (Calls[found].EntrySp == entrySp && Calls[found].ReturnAddress == 0)
            break;
    if (found == static_cast<size_t>(-1))
        return false;
    TakeCall(found, call, dropped);
    return true;
}

void TThreadInfo::TakeCall(size_t index, TCallInFlight& call, std::vector<TAddress>& dropped)
{
    for (size_t j = Calls.size(); --j > index;)
        dropped.push_back(Calls[j].ReturnAddress);
    call = std::move(Calls[index]);
    Calls.resize(index);
}

TThreadInfo* TThreadInfos::AddThread(DWORD threadId, HANDLE handle)
{
    VASSERT(IndexOfThread(threadId) == -1, Unit);
    return Add(std::make_unique<TThreadInfo>(threadId, handle));
}

int TThreadInfos::IndexOfThread(DWORD threadId) const
{
    return IndexOfIf([threadId](const TThreadInfo& t) { return t.ThreadId == threadId; });
}

void TThreadInfos::RemoveThread(DWORD threadId) { Delete(IndexOfThread(threadId)); }

TThreadInfo* TThreadInfos::ThreadById(DWORD threadId) const { return Items(IndexOfThread(threadId)); }

TThreadInfo* TThreadInfos::FindThread(DWORD threadId) const
{
    int index = IndexOfThread(threadId);
    return index == -1 ? nullptr : Items(index);
}

bool TThreadInfos::AnyStepping() const
{
    return std::any_of(begin(), end(), [](const auto& t) { return t->PendingAddress != 0; });
}
