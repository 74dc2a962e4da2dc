// A move-only owner of one operating-system handle, built from its close function and its
// empty value. There is no implicit conversion back to the raw handle.
//
// Two policies for "no handle": zero, as almost every handle type of the system has it,
// and INVALID_HANDLE_VALUE, which is what CreateFile (and the snapshot functions) return
// on failure. A file handle kept with the wrong policy would be closed as -1 or, worse,
// leave a zero unclosed, so each owner type states its own.
#pragma once

#include <windows.h>

#include <utility>

template <class H, class Close, class Empty>
class TUniqueOwner {
public:
    TUniqueOwner() = default;
    explicit TUniqueOwner(H h) : FHandle(h) {}
    TUniqueOwner(const TUniqueOwner&) = delete;
    TUniqueOwner& operator=(const TUniqueOwner&) = delete;
    TUniqueOwner(TUniqueOwner&& other) noexcept : FHandle(other.release()) {}
    TUniqueOwner& operator=(TUniqueOwner&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~TUniqueOwner() { reset(); }

    H get() const { return FHandle; }
    explicit operator bool() const { return FHandle != Empty::Value(); }

    void reset(H h = Empty::Value())
    {
        if (FHandle != Empty::Value())
            Close{}(FHandle);
        FHandle = h;
    }

    H release() { return std::exchange(FHandle, Empty::Value()); }

private:
    H FHandle = Empty::Value();
};

template <class H, H Constant>
struct TEmptyConstant {
    static constexpr H Value() { return Constant; }
};

// HANDLE is a pointer: INVALID_HANDLE_VALUE is no constant a template can take.
struct TEmptyInvalidHandle {
    static HANDLE Value() { return INVALID_HANDLE_VALUE; }
};

// The owner of a handle whose empty value is a constant (zero for nearly all).
template <class H, class Close, H Empty>
using TUniqueAny = TUniqueOwner<H, Close, TEmptyConstant<H, Empty>>;

struct TCloseHandle {
    void operator()(HANDLE h) const { ::CloseHandle(h); }
};
struct TFreeLibrary {
    void operator()(HMODULE h) const { ::FreeLibrary(h); }
};

using TUniqueHandle = TUniqueAny<HANDLE, TCloseHandle, nullptr>;
using TUniqueModule = TUniqueAny<HMODULE, TFreeLibrary, nullptr>;
// What CreateFile returns: INVALID_HANDLE_VALUE when it failed.
using TUniqueFile = TUniqueOwner<HANDLE, TCloseHandle, TEmptyInvalidHandle>;
