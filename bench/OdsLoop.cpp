// Raises N debug events (output strings) and nothing else.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    int n = argc > 1 ? std::atoi(argv[1]) : 1000;
    for (int i = 0; i < n; ++i)
        OutputDebugStringA("x");
    return 0;
}
