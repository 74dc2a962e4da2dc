// The settings file and the recent list, through real files and the real window.
#include "MainWindowFixture.h"

#include "IniFile.h"

namespace {

std::string IniValue(const std::string& file, const char* section, const char* key)
{
    char buffer[1024] = {};
    GetPrivateProfileStringA(section, key, "<none>", buffer, sizeof(buffer), file.c_str());
    return buffer;
}

std::vector<std::string> MenuCaptions(HMENU menu)
{
    std::vector<std::string> captions;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        char text[1024] = {};
        GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof(text), MF_BYPOSITION);
        captions.push_back(text);
    }
    return captions;
}

using TStrings = std::vector<std::string>;

TStrings Programs(const std::vector<TRunEntry>& runs)
{
    TStrings programs;
    for (const TRunEntry& run : runs)
        programs.push_back(run.Program);
    return programs;
}

} // namespace

TEST_F(MainWindowTest, SixthExecutablePushesTheOldestOutAndTheListSurvivesARestart)
{
    const TStrings paths = {"C:\\one\\a.exe", "C:\\two\\b.exe", "C:\\three\\c.exe", "C:\\four\\d.exe",
                            "C:\\five\\e.exe", "C:\\six\\f.exe"};
    for (const std::string& path : paths)
        Form->AddRecent({path}, true);
    const TStrings expected = {paths[5], paths[4], paths[3], paths[2], paths[1]};
    EXPECT_EQ(Programs(Form->Recents), expected);
    EXPECT_EQ(MenuCaptions(Form->pmnRecents.get()), expected);

    DestroyForm();
    for (int n = 1; n <= 5; ++n)
        EXPECT_EQ(IniValue(SettingsPath(), "RECENT", ("FILE" + std::to_string(n)).c_str()), expected[n - 1]);
    EXPECT_EQ(IniValue(SettingsPath(), "RECENT", "FILE6"), "<none>");

    CreateForm();
    EXPECT_EQ(Programs(Form->Recents), expected);
    EXPECT_EQ(MenuCaptions(Form->pmnRecents.get()), expected);
}

TEST_F(MainWindowTest, PathDifferingOnlyInCaseIsOneEntryWithTheLastSpelling)
{
    Form->AddRecent({"C:\\Tools\\Client.exe"}, true);
    Form->AddRecent({"C:\\other.exe"}, true);
    Form->AddRecent({"c:\\tools\\CLIENT.EXE"}, true);
    EXPECT_EQ(Programs(Form->Recents), (TStrings{"c:\\tools\\CLIENT.EXE", "C:\\other.exe"}));
    EXPECT_EQ(MenuCaptions(Form->pmnRecents.get()), (TStrings{"c:\\tools\\CLIENT.EXE", "C:\\other.exe"}));
}

TEST_F(MainWindowTest, RecentSectionLoadsByKeyNumber)
{
    const struct {
        const char* Name;
        std::string Section;
        TStrings Expected;
    } cases[] = {
        {"A, B, a", "FILE1=C:\\A.exe\r\nFILE2=C:\\B.exe\r\nFILE3=c:\\a.EXE\r\n", {"C:\\B.exe", "c:\\a.EXE"}},
        {"only 2 and 4", "FILE4=C:\\four.exe\r\nFILE2=C:\\two.exe\r\n", {"C:\\two.exe", "C:\\four.exe"}},
        {"blanks and FILE6", "FILE1=   \r\nfile2 =  C:\\x y.exe  \r\nFILE6=C:\\six.exe\r\n", {"C:\\x y.exe"}},
        {"ampersand", "FILE1=C:\\R&D\\t.exe\r\n", {"C:\\R&D\\t.exe"}},
    };
    for (const auto& c : cases) {
        DestroyForm();
        WriteFileBytes(SettingsPath(), "[RECENT]\r\n" + c.Section);
        CreateForm();
        EXPECT_EQ(Programs(Form->Recents), c.Expected) << c.Name;
        EXPECT_EQ(MenuCaptions(Form->pmnRecents.get()).size(), c.Expected.size()) << c.Name;
    }
    // The menu shows the path as it is, not "&D" as an accelerator.
    char shown[256] = {};
    MENUITEMINFOA item{};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_STRING;
    item.dwTypeData = shown;
    item.cch = sizeof(shown);
    GetMenuItemInfoA(Form->pmnRecents.get(), 0, TRUE, &item);
    EXPECT_STREQ(shown, "C:\\R&&D\\t.exe");
}

TEST_F(MainWindowTest, GapsInTheRecentKeysCloseUpAndTheOldKeyStays)
{
    DestroyForm();
    WriteFileBytes(SettingsPath(), "[RECENT]\r\nFILE2=C:\\two.exe\r\nFILE4=C:\\four.exe\r\n");
    CreateForm();
    DestroyForm();
    EXPECT_EQ(IniValue(SettingsPath(), "RECENT", "FILE1"), "C:\\two.exe");
    EXPECT_EQ(IniValue(SettingsPath(), "RECENT", "FILE2"), "C:\\four.exe");
    EXPECT_EQ(IniValue(SettingsPath(), "RECENT", "FILE4"), "C:\\four.exe");
    CreateForm();
    EXPECT_EQ(Programs(Form->Recents), (TStrings{"C:\\two.exe", "C:\\four.exe"}));
}

TEST_F(MainWindowTest, TraceOptionsLoadWithTheirDefaults)
{
    const struct {
        const char* Name;
        std::string File;
        TTraceMask Mask;
    } cases[] = {
        {"no file", "", TraceMaskExecute},
        {"no section", "[RECENT]\r\nFILE1=C:\\a.exe\r\n", TraceMaskExecute},
        {"execute off alone", "[TRACEOPT]\r\nTRACE_EXECUTE=0\r\n", 0},
        {"fetch 2", "[TRACEOPT]\r\nTRACE_FETCH=2\r\n", TraceMaskExecute | TraceMaskFetch},
        {"fetch 0x10", "[TRACEOPT]\r\nTRACE_FETCH=0x10\r\n", TraceMaskExecute | TraceMaskFetch},
        {"fetch yes", "[TRACEOPT]\r\nTRACE_FETCH=yes\r\n", TraceMaskExecute},
        {"execute yes", "[TRACEOPT]\r\nTRACE_EXECUTE=yes\r\n", TraceMaskExecute},
        {"all, any case", "[traceopt]\r\ntrace_prepare = 1 \r\nTrace_Execute=$1\r\nTRACE_FETCH=-1\r\n", 7},
        {"a detail", "[TRACEOPT]\r\nTRACE_ROWS=1\r\n", TraceMaskExecute | TraceMaskRows},
    };
    for (const auto& c : cases) {
        DestroyForm();
        DeleteFileA(SettingsPath().c_str());
        if (!c.File.empty())
            WriteFileBytes(SettingsPath(), c.File);
        CreateForm();
        EXPECT_EQ(Form->TraceMask, c.Mask) << c.Name;
    }
}

TEST_F(MainWindowTest, TraceOptionsAreWrittenWhenTheProgramEnds)
{
    Form->TraceMask = TraceMaskPrepare | TraceMaskFetch;
    // Nothing reaches the file before the end.
    EXPECT_EQ(IniValue(SettingsPath(), "TRACEOPT", "TRACE_PREPARE"), "<none>");
    DestroyForm();
    EXPECT_EQ(IniValue(SettingsPath(), "TRACEOPT", "TRACE_PREPARE"), "1");
    EXPECT_EQ(IniValue(SettingsPath(), "TRACEOPT", "TRACE_EXECUTE"), "0");
    EXPECT_EQ(IniValue(SettingsPath(), "TRACEOPT", "TRACE_FETCH"), "1");
    // The hook kind is written too, the default as well.
    EXPECT_EQ(IniValue(SettingsPath(), "TRACEOPT", "HOOKS"), "int3");
    // No recent list, no RECENT keys.
    EXPECT_EQ(IniValue(SettingsPath(), "RECENT", "FILE1"), "<none>");
    CreateForm();
    EXPECT_EQ(Form->TraceMask, TraceMaskPrepare | TraceMaskFetch);
}

TEST_F(MainWindowTest, UnwritableSettingsFileIsReportedWithItsPath)
{
    // Root may write anywhere; a directory where the file should be stops any writer.
    DestroyForm();
    DeleteFileA(SettingsPath().c_str());
    ASSERT_TRUE(CreateDirectoryA(SettingsPath().c_str(), nullptr));
    CreateForm();
    Form->AddRecent({"C:\\a.exe"}, true);
    TModalDriver box("Velloran", [](HWND w) { PressButton(w, IDOK); });
    DestroyForm();
    ASSERT_TRUE(box.Wait());
    EXPECT_NE(box.Seen().AllText().find("Unable to write to " + SettingsPath()), std::string::npos)
        << box.Seen().AllText();
}

TEST_F(MainWindowTest, RecentItemRunsItsPathAndMovesItToTheTop)
{
    SetClientScript({"load", "alloc S", "prepare S SELECT 1 FROM dual", "execute S", "free S"});
    Form->AddRecent({Client()}, true);
    Form->AddRecent({"C:\\elsewhere\\other.exe"}, true);
    ASSERT_EQ(Form->Recents[1].Program, Client());
    Command(cmRecentFirst + 1);
    ASSERT_TRUE(WaitForFinish());
    EXPECT_EQ(Captions(), (TStrings{"Start", "Execute", "Finish"}));
    EXPECT_EQ(Programs(Form->Recents), (TStrings{Client(), "C:\\elsewhere\\other.exe"}));
    EXPECT_EQ(MenuCaptions(Form->pmnRecents.get()), Programs(Form->Recents));
}
