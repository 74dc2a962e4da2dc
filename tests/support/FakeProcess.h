// A traced process made of bytes, for testing the bookkeeping without a real one.
#pragma once

#include "Errors.h"
#include "SysProcs.h"

#include <map>
#include <set>
#include <string>
#include <vector>

class TFakeProcess : public TProcessInfo {
public:
    TFakeProcess() : TProcessInfo(4242, "fake.exe", nullptr) {}

    void Poke(DWORD address, const std::string& bytes)
    {
        for (size_t i = 0; i < bytes.size(); ++i)
            Memory[address + static_cast<DWORD>(i)] = static_cast<BYTE>(bytes[i]);
    }
    void PokeDword(DWORD address, DWORD value)
    {
        Poke(address, std::string(reinterpret_cast<const char*>(&value), 4));
    }
    BYTE Peek(DWORD address) const { return Memory.at(address); }

    void ReadMemory(DWORD address, void* buffer, DWORD size) override
    {
        ++Reads;
        BYTE* out = static_cast<BYTE*>(buffer);
        for (DWORD i = 0; i < size; ++i) {
            auto it = Memory.find(address + i);
            if (it == Memory.end())
                RaiseOSError(ERROR_PARTIAL_COPY);
            out[i] = it->second;
        }
    }

    void WriteMemory(DWORD address, const void* buffer, DWORD size) override
    {
        ++Writes;
        for (DWORD i = 0; i < size; ++i)
            if (ReadOnly.count(address + i) || !Memory.count(address + i))
                RaiseOSError(ERROR_NOACCESS);
        const BYTE* in = static_cast<const BYTE*>(buffer);
        for (DWORD i = 0; i < size; ++i)
            Memory[address + i] = in[i];
    }

    bool IsRunning() override { return Running; }

    std::map<DWORD, BYTE> Memory;
    std::set<DWORD> ReadOnly;
    bool Running = true;
    int Reads = 0;
    int Writes = 0;
};
