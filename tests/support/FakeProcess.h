// A traced process made of bytes, for testing the bookkeeping without a real one.
#pragma once

#include "Errors.h"
#include "SysProcs.h"

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

class TFakeProcess : public TProcessInfo {
public:
    TFakeProcess() : TProcessInfo(4242, "fake.exe", nullptr) {}

    void Poke(TAddress address, const std::string& bytes)
    {
        for (size_t i = 0; i < bytes.size(); ++i)
            Memory[address + i] = static_cast<BYTE>(bytes[i]);
    }
    template <class T>
    void PokeValue(TAddress address, T value)
    {
        Poke(address, std::string(reinterpret_cast<const char*>(&value), sizeof(value)));
    }
    void PokeDword(TAddress address, uint32_t value) { PokeValue(address, value); }
    BYTE Peek(TAddress address) const { return Memory.at(address); }

    void ReadMemory(TAddress address, void* buffer, size_t size) override
    {
        ++Reads;
        ReadRanges.emplace_back(address, size);
        BYTE* out = static_cast<BYTE*>(buffer);
        for (size_t i = 0; i < size; ++i) {
            auto it = Memory.find(address + i);
            if (it == Memory.end())
                RaiseOSError(ERROR_PARTIAL_COPY);
            out[i] = it->second;
        }
    }

    void WriteMemory(TAddress address, const void* buffer, size_t size) override
    {
        ++Writes;
        for (size_t i = 0; i < size; ++i)
            if (ReadOnly.count(address + i) || !Memory.count(address + i))
                RaiseOSError(ERROR_NOACCESS);
        const BYTE* in = static_cast<const BYTE*>(buffer);
        for (size_t i = 0; i < size; ++i)
            Memory[address + i] = in[i];
    }

    bool IsRunning() override { return Running; }

    bool IsExecutable(TAddress address) override
    {
        for (const auto& [from, to] : Executable)
            if (address >= from && address < to)
                return true;
        return false;
    }

    // As under Wine: a read of a no-access byte gives its bytes, only the pages' state says
    // the program cannot read it.
    TAddress ReadableEnd(TAddress address) override
    {
        TAddress end = address;
        while (Memory.count(end) && !InNoAccess(end))
            ++end;
        return end;
    }
    bool InNoAccess(TAddress address) const
    {
        for (const auto& [from, to] : NoAccess)
            if (address >= from && address < to)
                return true;
        return false;
    }

    std::map<TAddress, BYTE> Memory;
    // [from, to) ranges whose bytes are there but that the program may not read.
    std::vector<std::pair<TAddress, TAddress>> NoAccess;
    std::set<TAddress> ReadOnly;
    // [from, to) ranges of code.
    std::vector<std::pair<TAddress, TAddress>> Executable;
    bool Running = true;
    int Reads = 0;
    // Every read asked for: its address and size.
    std::vector<std::pair<TAddress, size_t>> ReadRanges;
    int Writes = 0;
};
