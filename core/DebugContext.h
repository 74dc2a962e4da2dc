// Register contexts of the traced threads: reading, writing and the fields the tracer
// changes. Internal to the debug thread's units.
#pragma once

#include "Errors.h"

#include <windows.h>

#include <cstring>

constexpr DWORD TrapFlag = 0x100;

inline CONTEXT ReadContext(HANDLE thread, DWORD flags)
{
    CONTEXT context;
    std::memset(&context, 0, sizeof(context));
    context.ContextFlags = flags;
    if (!GetThreadContext(thread, &context))
        RaiseLastOSError();
    return context;
}

inline void WriteContext(HANDLE thread, const CONTEXT& context)
{
    if (!SetThreadContext(thread, &context))
        RaiseLastOSError();
}

// The general register with x86 encoding index (eax, ecx, edx, ebx, esp, ebp, esi, edi).
inline DWORD* RegisterByIndex(CONTEXT& context, int index)
{
    switch (index) {
    case 0: return &context.Eax;
    case 1: return &context.Ecx;
    case 2: return &context.Edx;
    case 3: return &context.Ebx;
    case 4: return &context.Esp;
    case 5: return &context.Ebp;
    case 6: return &context.Esi;
    default: return &context.Edi;
    }
}
