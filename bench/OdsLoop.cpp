// Raises N debug events and nothing else: output strings (the default), exceptions the
// debugger continues ("raise"), or breakpoints ("int3").
//
//   odsloop [N] [ods|raise|int3]
#include <windows.h>

#include <cstdlib>
#include <cstring>

// The code of the "raise" kind's exceptions: the debugger continues them.
constexpr DWORD LoopExceptionCode = 0xE0564C4F;

int main(int argc, char** argv)
{
    int n = argc > 1 ? std::atoi(argv[1]) : 1000;
    const char* kind = argc > 2 ? argv[2] : "ods";
    for (int i = 0; i < n; ++i) {
        if (std::strcmp(kind, "raise") == 0)
            RaiseException(LoopExceptionCode, 0, 0, nullptr);
        else if (std::strcmp(kind, "int3") == 0)
            DebugBreak();
        else
            OutputDebugStringA("x");
    }
    return 0;
}
