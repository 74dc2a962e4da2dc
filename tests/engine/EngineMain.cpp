// The engine tests' entry: --fixtures=32 runs them on the 32-bit fixtures (the 64-bit
// tree registers every test twice, once that way); --hooks=fast and --hooks=log run them
// with entry points hooked by jumps to stubs instead of int3 (--hooks=int3, the default).
// Each tree registers the tests once more each way (see CMakeLists.txt).
#include "SessionRunner.h"

#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char** argv)
{
    ReadFixtureOption(argc, argv);
    if (!ReadHooksOption(argc, argv)) {
        std::fprintf(stderr, "engine_tests: --hooks takes int3, fast or log\n");
        return 2;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
