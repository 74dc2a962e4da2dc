// The engine tests' entry: --fixtures=32 runs them on the 32-bit fixtures (the 64-bit
// tree registers every test twice, once that way).
#include "SessionRunner.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ReadFixtureOption(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
