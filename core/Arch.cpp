#include "Arch.h"

#include "Errors.h"

#include <cstring>

namespace {
constexpr const char* Unit = "DebugCore";
}

// ---------------------------------------------------------------------------
// TThreadContext

TThreadContext::TThreadContext(HANDLE thread, bool wow64) : FThread(thread), FWow64(wow64)
{
    std::memset(&FContext, 0, sizeof(FContext));
#ifdef _WIN64
    std::memset(&FWowContext, 0, sizeof(FWowContext));
#endif
#ifndef _WIN64
    VASSERT(!wow64, Unit);
#endif
}

bool TThreadContext::Is64() const
{
#ifdef _WIN64
    return !FWow64;
#else
    return false;
#endif
}

void TThreadContext::Read()
{
    FChanged = false;
#ifdef _WIN64
    if (FWow64) {
        std::memset(&FWowContext, 0, sizeof(FWowContext));
        FWowContext.ContextFlags = WOW64_CONTEXT_CONTROL | WOW64_CONTEXT_INTEGER;
        if (!Wow64GetThreadContext(FThread, &FWowContext))
            RaiseLastOSError();
        return;
    }
#endif
    std::memset(&FContext, 0, sizeof(FContext));
    FContext.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
    if (!GetThreadContext(FThread, &FContext))
        RaiseLastOSError();
}

void TThreadContext::Flush()
{
    if (!FChanged)
        return;
#ifdef _WIN64
    if (FWow64) {
        if (!Wow64SetThreadContext(FThread, &FWowContext))
            RaiseLastOSError();
        FChanged = false;
        return;
    }
#endif
    if (!SetThreadContext(FThread, &FContext))
        RaiseLastOSError();
    FChanged = false;
}

TAddress TThreadContext::Ip() const
{
#ifdef _WIN64
    return FWow64 ? FWowContext.Eip : FContext.Rip;
#else
    return FContext.Eip;
#endif
}

void TThreadContext::SetIp(TAddress ip)
{
    if (ip == Ip())
        return;
#ifdef _WIN64
    if (FWow64)
        FWowContext.Eip = static_cast<DWORD>(ip);
    else
        FContext.Rip = ip;
#else
    FContext.Eip = static_cast<DWORD>(ip);
#endif
    FChanged = true;
}

TAddress TThreadContext::Sp() const { return Reg(4); }
void TThreadContext::SetSp(TAddress sp) { SetReg(4, sp); }

uint32_t TThreadContext::Flags() const
{
#ifdef _WIN64
    return FWow64 ? FWowContext.EFlags : FContext.EFlags;
#else
    return FContext.EFlags;
#endif
}

void TThreadContext::SetFlags(uint32_t flags)
{
    if (flags == Flags())
        return;
#ifdef _WIN64
    if (FWow64)
        FWowContext.EFlags = flags;
    else
        FContext.EFlags = flags;
#else
    FContext.EFlags = flags;
#endif
    FChanged = true;
}

// The 32-bit general registers by encoding index, of a native or a WOW64 context.
template <class TContext>
static DWORD* X86Register(TContext& c, int index)
{
    switch (index) {
    case 0: return &c.Eax;
    case 1: return &c.Ecx;
    case 2: return &c.Edx;
    case 3: return &c.Ebx;
    case 4: return &c.Esp;
    case 5: return &c.Ebp;
    case 6: return &c.Esi;
    default: return &c.Edi;
    }
}

#ifdef _WIN64
static DWORD* Wow64Register(WOW64_CONTEXT& c, int index) { return X86Register(c, index); }

static DWORD64* NativeRegister(CONTEXT& c, int index)
{
    // Rax .. R15 lie in encoding order in the x64 context.
    return &c.Rax + (index & 15);
}
#else
static DWORD* NativeRegister(CONTEXT& c, int index) { return X86Register(c, index); }
#endif

uint64_t TThreadContext::Reg(int index) const
{
    auto& self = const_cast<TThreadContext&>(*this);
#ifdef _WIN64
    if (FWow64)
        return *Wow64Register(self.FWowContext, index);
#endif
    return *NativeRegister(self.FContext, index);
}

void TThreadContext::SetReg(int index, uint64_t value)
{
    if (Reg(index) == value)
        return;
#ifdef _WIN64
    if (FWow64)
        *Wow64Register(FWowContext, index) = static_cast<DWORD>(value);
    else
        *NativeRegister(FContext, index) = value;
#else
    *NativeRegister(FContext, index) = static_cast<DWORD>(value);
#endif
    FChanged = true;
}

// ---------------------------------------------------------------------------
// TCallFrame

TCallFrame::TCallFrame(TProcessInfo& process, const TThreadContext& context, int words)
    : FProcess(process), FSp(context.Sp()), FIs64(context.Is64())
{
    VASSERT(words >= 0 && words <= MaxWords, Unit);
    if (FIs64) {
        // x64: the first four arguments in rcx, rdx, r8, r9; the fifth on at [rsp+0x28].
        FInRegisters = true;
        const int registers[4] = {1, 2, 8, 9};
        for (int i = 0; i < 4; ++i)
            FRegisterArgs[i] = context.Reg(registers[i]);
    }
    try {
        FProcess.ReadMemory(FSp, FSlots, (words + 1) * (FIs64 ? 8 : 4));
        FKnown = words + 1;
    } catch (const EOSError&) {
        // The slots are then read one by one, each with its own failure.
    }
}

TCallFrame::TCallFrame(TProcessInfo& process, bool is64, TAddress sp, const uint64_t* slots, int known)
    : FProcess(process), FSp(sp), FIs64(is64), FKnown(known)
{
    VASSERT(known >= 0 && known <= SlotCount, Unit);
    unsigned size = FIs64 ? 8 : 4;
    for (int i = 0; i < known; ++i)
        std::memcpy(FSlots + size * i, &slots[i], size);
}

uint64_t TCallFrame::Slot(int index)
{
    VASSERT(index >= 0 && index < SlotCount, Unit);
    unsigned size = FIs64 ? 8 : 4;
    if (index >= FKnown)
        return FIs64 ? FProcess.ReadQword(FSp + 8u * index) : FProcess.ReadDword(FSp + 4u * index);
    uint64_t value = 0;
    std::memcpy(&value, FSlots + size * index, size);
    return value;
}

std::string TCallFrame::Bytes(TAddress address, uint64_t size)
{
    if (address == FCapturedAt && size <= FCapturedBytes.size())
        return FCapturedBytes.substr(0, static_cast<size_t>(size));
    return FProcess.ReadString(address, size);
}

void TCallFrame::Capture(TAddress address, std::string bytes)
{
    FCapturedAt = address;
    FCapturedBytes = std::move(bytes);
}

uint64_t TCallFrame::Arg(int n)
{
    if (FInRegisters && n >= 1 && n <= 4)
        return FRegisterArgs[n - 1];
    return Slot(n);
}

// ---------------------------------------------------------------------------
// First instructions

namespace {

// The flags a 64-bit "sub" leaves: carry, parity, adjust, zero, sign and overflow.
uint32_t SubtractionFlags(uint32_t flags, uint64_t a, uint64_t b)
{
    uint64_t r = a - b;
    constexpr uint32_t Cf = 1, Pf = 4, Af = 0x10, Zf = 0x40, Sf = 0x80, Of = 0x800;
    flags &= ~(Cf | Pf | Af | Zf | Sf | Of);
    if (a < b)
        flags |= Cf;
    if (!__builtin_parity(static_cast<unsigned>(r & 0xFF)))
        flags |= Pf;
    if ((a ^ b ^ r) & 0x10)
        flags |= Af;
    if (r == 0)
        flags |= Zf;
    if (r >> 63)
        flags |= Sf;
    if (((a ^ b) & (a ^ r)) >> 63)
        flags |= Of;
    return flags;
}

bool Emulate32(TProcessInfo& process, TThreadContext& context, TAddress address, const unsigned char* code)
{
    if (code[0] >= 0x50 && code[0] <= 0x57 && code[0] != 0x54) {
        // push r32. A push that would reach into the next page of the stack is left to
        // the processor, which lets the system grow the stack.
        TAddress sp = context.Sp();
        if ((sp & 0xFFF) < 4)
            return false;
        uint32_t value = static_cast<uint32_t>(context.Reg(code[0] - 0x50));
        try {
            process.WriteMemory(sp - 4, &value, 4);
        } catch (const EOSError&) {
            return false;
        }
        context.SetSp(sp - 4);
        context.SetIp(address + 1);
        return true;
    }
    if (code[0] == 0x8B && code[1] == 0xFF) { // mov edi, edi
        context.SetIp(address + 2);
        return true;
    }
    if ((code[0] == 0x8B && code[1] == 0xEC) || (code[0] == 0x89 && code[1] == 0xE5)) { // mov ebp, esp
        context.SetReg(5, context.Sp());
        context.SetIp(address + 2);
        return true;
    }
    return false;
}

bool Emulate64(TProcessInfo& process, TThreadContext& context, TAddress address, const unsigned char* code)
{
    // An optional REX prefix: W (64-bit operand), R (ModRM reg + 8), B (ModRM rm / opcode reg + 8).
    int at = 0;
    unsigned rex = 0;
    if ((code[0] & 0xF0) == 0x40) {
        rex = code[0];
        at = 1;
    }
    bool w = rex & 8, r = rex & 4, b = rex & 1;
    unsigned char op = code[at];
    auto write = [&](TAddress where, uint64_t value) {
        try {
            process.WriteMemory(where, &value, 8);
            return true;
        } catch (const EOSError&) {
            return false;
        }
    };
    // push r64 (rsp itself left to the processor).
    if (op >= 0x50 && op <= 0x57 && !w && !(op == 0x54 && !b)) {
        TAddress sp = context.Sp();
        if ((sp & 0xFFF) < 8 || !write(sp - 8, context.Reg((op - 0x50) + (b ? 8 : 0))))
            return false;
        context.SetSp(sp - 8);
        context.SetIp(address + at + 1);
        return true;
    }
    if (!w)
        return false;
    unsigned char modrm = code[at + 1];
    unsigned mod = modrm >> 6, reg = ((modrm >> 3) & 7) + (r ? 8 : 0), rm = (modrm & 7) + (b ? 8 : 0);
    // sub rsp, imm8 / imm32: the stack only, and the flags a sub leaves.
    if ((op == 0x83 || op == 0x81) && modrm == 0xEC && !b) {
        int64_t imm = op == 0x83 ? static_cast<int8_t>(code[at + 2])
                                 : static_cast<int32_t>(code[at + 2] | code[at + 3] << 8 | code[at + 4] << 16 |
                                                        static_cast<uint32_t>(code[at + 5]) << 24);
        TAddress sp = context.Sp();
        context.SetFlags(SubtractionFlags(context.Flags(), sp, static_cast<uint64_t>(imm)));
        context.SetSp(sp - static_cast<uint64_t>(imm));
        context.SetIp(address + at + (op == 0x83 ? 3 : 6));
        return true;
    }
    // mov reg, rsp (89 /r with rsp as source, or 8B /r with rsp as operand).
    if (mod == 3 && ((op == 0x89 && reg == 4) || (op == 0x8B && rm == 4))) {
        int target = op == 0x89 ? static_cast<int>(rm) : static_cast<int>(reg);
        context.SetReg(target, context.Sp());
        context.SetIp(address + at + 2);
        return true;
    }
    // mov [rsp+disp8], reg: a store into the caller's home space.
    if (op == 0x89 && mod == 1 && (modrm & 7) == 4 && code[at + 2] == 0x24 && !b) {
        TAddress where = context.Sp() + static_cast<int8_t>(code[at + 3]);
        if (!write(where, context.Reg(static_cast<int>(reg))))
            return false;
        context.SetIp(address + at + 4);
        return true;
    }
    return false;
}

} // namespace

bool EmulateFirstInstruction(TProcessInfo& process, TThreadContext& context, TAddress address,
                             const unsigned char* code, size_t size)
{
    if (size < 8)
        return false;
    return context.Is64() ? Emulate64(process, context, address, code) : Emulate32(process, context, address, code);
}
