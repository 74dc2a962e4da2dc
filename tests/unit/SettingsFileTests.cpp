// The settings file without a window: where it is, how its integers read, and a round
// trip of everything the window keeps in it (through a real file and the platform's
// profile functions).
#include "IniFile.h"
#include "Settings.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <optional>

TEST(SettingsFile, IntegersAreDecimalOrHexadecimal)
{
    const struct {
        const char* Text;
        std::optional<int> Value;
    } cases[] = {
        {"0", 0},          {"1", 1},           {"2", 2},       {"-1", -1},         {"0x10", 16},
        {"0X1f", 31},      {"$ff", 255},       {"0x80000005", static_cast<int>(0x80000005u)},
        {"-2147483648", -2147483647 - 1},      {"2147483647", 2147483647},
        {"2147483648", std::nullopt},          {"0x100000000", std::nullopt},
        {"yes", std::nullopt}, {"", std::nullopt}, {"1a", std::nullopt}, {"0x", std::nullopt},
        {"$", std::nullopt},   {"1.0", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseSettingsInteger(c.Text), c.Value) << c.Text;
}

TEST(SettingsFile, LivesBesideTheExecutable)
{
    EXPECT_EQ(SettingsFileName(), BinDir() + "\\velloran.ini");
}

TEST(SettingsFile, WhatTheWindowKeepsComesBackFromTheFile)
{
    TScratchDir dir;
    const std::string path = dir.File("velloran.ini");
    TSettings missing(path);
    missing.Load();
    EXPECT_TRUE(missing.Recents.empty());
    EXPECT_EQ(missing.TraceMask, TraceMaskExecute);
    EXPECT_EQ(missing.Hooks, THookKind::Breakpoint);
    EXPECT_FALSE(missing.HideValues);
    EXPECT_EQ(missing.ColorRules.Count(), 0);

    TSettings saved(path);
    for (const char* recent : {"C:\\a.exe", "C:\\b.exe", "C:\\A.EXE"})
        saved.AddRecent({recent}, true);
    saved.TraceMask = TraceMaskPrepare | TraceMaskFetch | TraceMaskErrors | TraceMaskConnect;
    saved.Hooks = THookKind::Fast;
    saved.HideValues = true;
    saved.ColorRules.Assign({{0x80000005, 0x000000FF, "SELECT"}, {0x0000FFFF, 0, "東京"}});
    saved.Save();
    const std::string text = ReadFileBytes(path);
    EXPECT_NE(text.find("[TRACEOPT]\r\nTRACE_PREPARE=1\r\nTRACE_EXECUTE=0\r\nTRACE_FETCH=1\r\nTRACE_BINDS=0\r\n"
                        "TRACE_ERRORS=1\r\nTRACE_ROWS=0\r\nTRACE_CONNECT=1\r\nTRACE_COMMIT=0\r\nTRACE_LOBS=0\r\nHOOKS=fast\r\n"
                        "HIDE_VALUES=1\r\n"),
              std::string::npos)
        << text;

    TSettings loaded(path);
    loaded.Load();
    EXPECT_EQ(loaded.Recents, (std::vector<TRunEntry>{{"C:\\A.EXE"}, {"C:\\b.exe"}}));
    EXPECT_EQ(loaded.TraceMask, TraceMaskPrepare | TraceMaskFetch | TraceMaskErrors | TraceMaskConnect);
    EXPECT_TRUE(loaded.HideValues);
    EXPECT_EQ(loaded.Hooks, THookKind::Fast);
    ASSERT_EQ(loaded.ColorRules.Count(), 2);
    EXPECT_EQ(loaded.ColorRules.Items(0)->SearchString, "SELECT");
    EXPECT_EQ(loaded.ColorRules.Items(0)->BackColor, 0x80000005u);
    EXPECT_EQ(loaded.ColorRules.Items(0)->ForeColor, 0x000000FFu);
    EXPECT_EQ(loaded.ColorRules.Items(1)->SearchString, "東京");
}

TEST(SettingsFile, HookKindIsAWordOfItsOwnAndAnythingElseIsBreakpoints)
{
    TScratchDir dir;
    const std::string path = dir.File("velloran.ini");
    // A file of an earlier version: no key; everything else reads as it always did.
    WriteFileBytes(path, "[RECENT]\r\nFILE1=C:\\a.exe\r\n[TRACEOPT]\r\nTRACE_PREPARE=1\r\nTRACE_EXECUTE=1\r\n"
                         "TRACE_FETCH=0\r\n[SRCH_CLR]\r\nSRCHSTR1=SELECT\r\nBKCOLOR1=255\r\nFRCOLOR1=0\r\n");
    TSettings old(path);
    old.Hooks = THookKind::Fast;
    old.Load();
    EXPECT_EQ(old.Hooks, THookKind::Breakpoint);
    EXPECT_EQ(old.Recents, (std::vector<TRunEntry>{{"C:\\a.exe"}}));
    EXPECT_EQ(old.TraceMask, TraceMaskPrepare | TraceMaskExecute);
    ASSERT_EQ(old.ColorRules.Count(), 1);
    EXPECT_EQ(old.ColorRules.Items(0)->SearchString, "SELECT");

    const struct {
        const char* Value;
        THookKind Kind;
    } cases[] = {
        {"fast", THookKind::Fast},       {"int3", THookKind::Breakpoint}, {"FAST", THookKind::Fast},
        {" Fast ", THookKind::Fast},     {"Int3", THookKind::Breakpoint}, {"", THookKind::Breakpoint},
        {"jump", THookKind::Breakpoint}, {"1", THookKind::Breakpoint},    {"fast,int3", THookKind::Breakpoint},
        {"fastest", THookKind::Breakpoint}, {"log", THookKind::Log}, {"LOG", THookKind::Log},
        {"logged", THookKind::Breakpoint},
    };
    for (const auto& c : cases) {
        WriteFileBytes(path, std::string("[traceopt]\r\nhooks=") + c.Value + "\r\n");
        TSettings loaded(path);
        loaded.Hooks = c.Kind == THookKind::Fast ? THookKind::Breakpoint : THookKind::Fast;
        loaded.Load();
        EXPECT_EQ(loaded.Hooks, c.Kind) << "'" << c.Value << "'";
        EXPECT_EQ(loaded.TraceMask, TraceMaskExecute) << c.Value;
    }

    // Saved and loaded back, each kind as its word, the other trace options untouched.
    for (THookKind kind : {THookKind::Fast, THookKind::Breakpoint, THookKind::Log}) {
        DeleteFileA(path.c_str());
        TSettings saved(path);
        saved.Hooks = kind;
        saved.Save();
        const std::string text = ReadFileBytes(path);
        EXPECT_NE(text.find(std::string("\r\nHOOKS=") + HookKindWord(kind) + "\r\n"),
                  std::string::npos)
            << text;
        TSettings loaded(path);
        loaded.Load();
        EXPECT_EQ(loaded.Hooks, kind) << text;
        EXPECT_EQ(loaded.TraceMask, TraceMaskExecute) << text;
    }
}

// Programs run with arguments and a folder come back whole; an older version, which reads
// only RECENT's FILEn, still finds the programs, and once it has rewritten them no
// arguments stay attached to a program they were not given to.
TEST(SettingsFile, RecentRunsKeepTheirArgumentsAndFoldersBesideThePathsOlderVersionsRead)
{
    TScratchDir dir;
    const std::string path = dir.File("velloran.ini");
    const std::vector<TRunEntry> runs = {
        {"C:\\node\\node.exe", "app.js --port 80", "C:\\work"},
        // Quotes at both ends, blanks at both ends, inner quotes: all kept as typed.
        {"C:\\node\\node.exe", "\"whole quoted\"", ""},
        {"C:\\Program Files\\x.exe", "  -a \"b c\"  ", "C:\\with blank"},
        {"C:\\plain.exe", "", ""},
    };
    TSettings saved(path);
    for (auto run = runs.rbegin(); run != runs.rend(); ++run)
        saved.AddRecent(*run, true);
    ASSERT_EQ(saved.Recents, runs);
    saved.Save();
    TSettings loaded(path);
    loaded.Load();
    EXPECT_EQ(loaded.Recents, runs) << ReadFileBytes(path);

    // What an older version reads: the paths, one per FILEn.
    auto file = [&](int n) {
        char value[256] = {};
        GetPrivateProfileStringA("RECENT", ("FILE" + std::to_string(n)).c_str(), "<none>", value, sizeof(value),
                                 path.c_str());
        return std::string(value);
    };
    for (int n = 1; n <= 4; ++n)
        EXPECT_EQ(file(n), runs[static_cast<size_t>(n - 1)].Program) << n;
    EXPECT_EQ(file(5), "<none>");

    // An older version ran C:\new.exe: its list (the node entries are one path to it)
    // pushed the others down.
    TIniFile older(path);
    const char* olderList[] = {"C:\\new.exe", "C:\\node\\node.exe", "C:\\Program Files\\x.exe", "C:\\plain.exe"};
    for (int n = 1; n <= 4; ++n)
        older.WriteString("RECENT", "FILE" + std::to_string(n), olderList[n - 1]);
    TSettings after(path);
    after.Load();
    EXPECT_EQ(after.Recents, (std::vector<TRunEntry>{
                                 {"C:\\new.exe"}, {"C:\\node\\node.exe"}, {"C:\\Program Files\\x.exe"}, {"C:\\plain.exe"}}));
    // Written again, the new list is the whole truth once more.
    after.AddRecent(runs[0], true);
    after.Save();
    TSettings again(path);
    again.Load();
    EXPECT_EQ(again.Recents, after.Recents);
}
