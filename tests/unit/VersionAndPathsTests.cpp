// The program's version resource, and the path helpers it and the settings rely on.
#include "TestFiles.h"
#include "Utils.h"
#include "VelloranBuild.h"

#include <gtest/gtest.h>

#include <vector>

TEST(Version, ProgramCarriesFileVersion1_0_0_100)
{
    // This test program is built with the program's resource script: the window reads it.
    EXPECT_EQ(GetFileVersionText(), "1.0.0.100");
    // And the window's program of this tree itself carries it in string table 040904E4.
    std::string exe = BinDir() + "\\" VELLORAN_WINDOW_EXE;
    DWORD dummy = 0;
    DWORD size = GetFileVersionInfoSizeA(exe.c_str(), &dummy);
    ASSERT_GT(size, 0u);
    std::vector<char> data(size);
    ASSERT_TRUE(GetFileVersionInfoA(exe.c_str(), 0, size, data.data()));
    char* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\StringFileInfo\\040904E4\\FileVersion",
                               reinterpret_cast<void**>(&value), &length));
    EXPECT_STREQ(value, "1.0.0.100");
}

TEST(Paths, DirectoryAndFileParts)
{
    EXPECT_EQ(ExtractFileDir("C:\\dir\\sub\\x.exe"), "C:\\dir\\sub");
    EXPECT_EQ(ExtractFileDir("C:\\x.exe"), "C:\\");
    EXPECT_EQ(ExtractFileDir("x.exe"), "");
    EXPECT_EQ(ExtractFileName("C:\\dir\\x.exe"), "x.exe");
    EXPECT_EQ(ExtractFileName("C:x.exe"), "x.exe");
}
