// A move-only owner of one operating-system handle, built from its close function
// and its empty value. There is no implicit conversion back to the raw handle.
#pragma once

#include <windows.h>

#include <utility>

template <class H, class Close, H Empty>
class TUniqueAny {
public:
    TUniqueAny() = default;
    explicit TUniqueAny(H h) : FHandle(h) {}
    TUniqueAny(const TUniqueAny&) = delete;
    TUniqueAny& operator=(const TUniqueAny&) = delete;
    TUniqueAny(TUniqueAny&& other) noexcept : FHandle(other.release()) {}
    TUniqueAny& operator=(TUniqueAny&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~TUniqueAny() { reset(); }

    H get() const { return FHandle; }
    explicit operator bool() const { return FHandle != Empty; }

    void reset(H h = Empty)
    {
        if (FHandle != Empty)
            Close{}(FHandle);
        FHandle = h;
    }

    H release() { return std::exchange(FHandle, Empty); }

private:
    H FHandle = Empty;
};

struct TCloseHandle {
    void operator()(HANDLE h) const { ::CloseHandle(h); }
};
struct TFreeLibrary {
    void operator()(HMODULE h) const { ::FreeLibrary(h); }
};

// Zero stands for "no handle" throughout the program.
using TUniqueHandle = TUniqueAny<HANDLE, TCloseHandle, nullptr>;
using TUniqueModule = TUniqueAny<HMODULE, TFreeLibrary, nullptr>;
