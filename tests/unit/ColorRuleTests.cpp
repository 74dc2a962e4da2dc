// Colour rules without a window: which colours a row gets, and the rules in the
// settings file (a real file, through the platform's profile functions).
#include "ColorInfos.h"
#include "IniFile.h"
#include "TestFiles.h"
#include "TraceColors.h"

#include <gtest/gtest.h>


namespace {

constexpr TColor Red = 0x000000FF;
constexpr TColor Blue = 0x00FF0000;
constexpr TColor Yellow = 0x0000FFFF;

void SetRules(TColorInfos& rules, std::initializer_list<TColorInfo> values) { rules.Assign(values); }

TColorInfo Rule(const char* search, TColor fore, TColor back = clWhite)
{
    TColorInfo rule;
    rule.SearchString = search;
    rule.ForeColor = fore;
    rule.BackColor = back;
    return rule;
}

// A settings file of its own, in a folder of its own.
class TTempIni {
public:
    explicit TTempIni(const std::string& content = "") : Path(FDir.File("velloran.ini"))
    {
        WriteFileBytes(Path, content);
    }
    std::string Text() const { return ReadFileBytes(Path); }

private:
    TScratchDir FDir;

public:
    const std::string Path;
};

std::string Describe(const TColorInfos& rules)
{
    std::string text;
    for (const auto& rule : rules)
        text += "[" + rule->SearchString + "|" + std::to_string(static_cast<int>(rule->ForeColor)) + "|" +
                std::to_string(static_cast<int>(rule->BackColor)) + "]";
    return text;
}

} // namespace

TEST(RowColors, RulesSelectionAndAlternatingBackgrounds)
{
    const TListRow select{"Execute", {"07", "OCI_SUCCESS", "SELECT a FROM t"}};
    const TListRow fetch{"Fetch (10)", {"", "OCI_NO_DATA", "SELECT a FROM t"}};
    const TListRow start{"Start", {}};
    const TListRow other{"Prepare", {"", "OCI_SUCCESS", "UPDATE t SET a = 1"}};
    const TListRow greeting{"Execute", {"01", "OCI_SUCCESS", "SELECT 'Grüße, 東京' FROM dual"}};
    struct TCase {
        const char* Name;
        std::vector<TColorInfo> Rules;
        TListRow Row;
        int Index;
        bool Selected;
        TRowColors Expected;
    } cases[] = {
        {"no rules, row 0", {}, other, 0, false, {clBlack, clEvenRow}},
        {"no rules, row 1", {}, other, 1, false, {clBlack, clWindow}},
        {"no rules, row 4", {}, other, 4, false, {clBlack, clEvenRow}},
        {"no rules, row 7", {}, other, 7, false, {clBlack, clWindow}},
        {"SELECT before FROM", {Rule("SELECT", Red), Rule("FROM", Blue)}, select, 1, false, {Red, clWhite}},
        {"FROM before SELECT", {Rule("FROM", Blue), Rule("SELECT", Red)}, select, 1, false, {Blue, clWhite}},
        {"matching is case-sensitive", {Rule("select", Red)}, select, 0, false, {clBlack, clEvenRow}},
        {"the caption is searched", {Rule("Fetch", Blue, Yellow)}, fetch, 3, false, {Blue, Yellow}},
        {"a sub-item other than the statement", {Rule("OCI_NO_DATA", Red)}, fetch, 0, false, {Red, clWhite}},
        {"a marker row", {Rule("Start", Red)}, start, 0, false, {Red, clWhite}},
        {"an empty search string matches nothing", {Rule("", Red), Rule("UPDATE", Blue)}, other, 0, false,
         {Blue, clWhite}},
        {"unmatched row keeps the defaults", {Rule("DELETE", Red)}, other, 1, false, {clBlack, clWindow}},
        {"selected row, rule matching", {Rule("SELECT", Red)}, select, 0, true, {clHighlightText, clHighlight}},
        {"selected row, no rules", {}, other, 1, true, {clHighlightText, clHighlight}},
        {"a non-ASCII rule", {Rule("東京", Red)}, greeting, 1, false, {Red, clWhite}},
        {"non-ASCII letters in a word", {Rule("Grüße", Blue, Yellow)}, greeting, 0, false, {Blue, Yellow}},
        {"non-ASCII matching is case-sensitive", {Rule("GRÜSSE", Red)}, greeting, 1, false, {clBlack, clWindow}},
        {"ü is not u", {Rule("Gruße", Red)}, greeting, 1, false, {clBlack, clWindow}},
        {"an ASCII rule in a non-ASCII row", {Rule("dual", Red)}, greeting, 0, false, {Red, clWhite}},
    };
    for (const TCase& c : cases) {
        TColorInfos rules;
        rules.Assign(c.Rules);
        TRowColors colors = GetRowColors(rules, c.Row, c.Index, c.Selected);
        EXPECT_EQ(colors.Text, c.Expected.Text) << c.Name;
        EXPECT_EQ(colors.Back, c.Expected.Back) << c.Name;
    }
}

TEST(ColorRulesIni, LoadReadsTheRunOfRulesWithDefaultsAndIntegerForms)
{
    struct TCase {
        const char* Name;
        const char* File;
        const char* Expected;  // Describe() of the loaded rules
    } cases[] = {
        {"no file section", "[TRACEOPT]\r\nTRACE_EXECUTE=1\r\n", ""},
        {"rules 1, 2 and 4",
         "[SRCH_CLR]\r\nSRCHSTR1=SELECT\r\nBKCOLOR1=255\r\nFRCOLOR1=65280\r\nSRCHSTR2=FROM\r\nBKCOLOR2=1\r\n"
         "FRCOLOR2=2\r\nSRCHSTR4=lost\r\n",
         "[SELECT|65280|255][FROM|2|1]"},
        {"missing colours take white and black", "[SRCH_CLR]\r\nSRCHSTR1=a\r\nFRCOLOR1=5\r\nSRCHSTR2=b\r\nBKCOLOR2=6\r\n",
         "[a|5|16777215][b|0|6]"},
        {"an empty search string ends the list", "[SRCH_CLR]\r\nSRCHSTR1=\r\nSRCHSTR2=b\r\n", ""},
        {"hexadecimal and system colours",
         "[srch_clr]\r\nsrchstr1=x\r\nBKCOLOR1=0x80000005\r\nFRCOLOR1=$FF\r\nSRCHSTR2=y\r\nBKCOLOR2=-2147483643\r\n"
         "FRCOLOR2=red\r\n",
         "[x|255|-2147483643][y|0|-2147483643]"},
    };
    for (const TCase& c : cases) {
        TTempIni file(c.File);
        TColorInfos rules;
        SetRules(rules, {Rule("left over", Red)});
        rules.LoadFromIni(TIniFile(file.Path));
        EXPECT_EQ(Describe(rules), c.Expected) << c.Name;
    }
}

TEST(ColorRulesIni, SaveRewritesTheSectionAndLoadsBackTheSameRules)
{
    TTempIni file("[RECENT]\r\nFILE1=C:\\a.exe\r\n[SRCH_CLR]\r\nSRCHSTR1=old\r\nSRCHSTR2=old\r\nSRCHSTR3=old\r\n"
                  "SRCHSTR4=old\r\n");
    TColorInfos rules;
    SetRules(rules, {Rule("SELECT", Red, 0x80000005), Rule("a=b; c", Blue, Yellow)});
    TIniFile ini(file.Path);
    rules.SaveToIni(ini);

    std::string text = file.Text();
    EXPECT_NE(text.find("SRCHSTR1=SELECT\r\nBKCOLOR1=-2147483643\r\nFRCOLOR1=255\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("SRCHSTR2=a=b; c\r\nBKCOLOR2=65535\r\nFRCOLOR2=16711680\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("old"), std::string::npos) << text;
    EXPECT_NE(text.find("FILE1=C:\\a.exe"), std::string::npos) << text;

    TColorInfos loaded;
    loaded.LoadFromIni(ini);
    EXPECT_EQ(Describe(loaded), Describe(rules));
}

TEST(ColorRulesIni, EmptySearchStringsAreLeftOutSoTheRulesAfterThemSurvive)
{
    TTempIni file;
    TColorInfos rules;
    SetRules(rules, {Rule("A", Red), Rule("", Blue), Rule("B", Yellow)});
    TIniFile ini(file.Path);
    rules.SaveToIni(ini);
    TColorInfos loaded;
    loaded.LoadFromIni(ini);
    EXPECT_EQ(Describe(loaded), "[A|255|16777215][B|65535|16777215]");
}

TEST(ColorRulesIni, SearchStringsKeepTheirBlanksAndQuotes)
{
    TTempIni file;
    TColorInfos rules;
    SetRules(rules, {Rule(" FROM ", Red), Rule(" ", Blue), Rule("\"x\"", Red), Rule("'y'", Red), Rule("\"z", Red),
                     Rule("a \"b\" c", Yellow)});
    TIniFile ini(file.Path);
    rules.SaveToIni(ini);
    TColorInfos loaded;
    loaded.LoadFromIni(ini);
    EXPECT_EQ(Describe(loaded), Describe(rules));
}

TEST(ColorRulesIni, SavingNoRulesRemovesTheSection)
{
    TTempIni file("[TRACEOPT]\r\nTRACE_EXECUTE=1\r\n[SRCH_CLR]\r\nSRCHSTR1=x\r\nBKCOLOR1=1\r\nFRCOLOR1=2\r\n");
    TColorInfos rules;
    TIniFile ini(file.Path);
    rules.SaveToIni(ini);
    std::string text = file.Text();
    EXPECT_EQ(text.find("SRCH_CLR"), std::string::npos) << text;
    EXPECT_NE(text.find("TRACE_EXECUTE=1"), std::string::npos) << text;
}

TEST(ColorRulesIni, AFailedWriteNamesTheFile)
{
    TColorInfos rules;
    SetRules(rules, {Rule("x", Red)});
    TIniFile ini("Z:\\no\\such\\folder\\velloran.ini");
    try {
        rules.SaveToIni(ini);
        FAIL() << "no error";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Unable to write to Z:\\no\\such\\folder\\velloran.ini");
    }
}

TEST(ColorRulesIni, NonAsciiSearchStringsAreKeptAsUtf8AndAsciiOnesAsTheyWere)
{
    TTempIni file;
    TColorInfos rules;
    SetRules(rules, {Rule("Grüße", Red), Rule("東京", Blue, Yellow), Rule("SELECT", Red), Rule(" 'é' ", Red)});
    TIniFile ini(file.Path);
    rules.SaveToIni(ini);
    std::string text = file.Text();
    // The bytes of the file: UTF-8 where the text is not ASCII, the ASCII rule unchanged.
    EXPECT_NE(text.find("SRCHSTR1=Gr\xC3\xBC\xC3\x9F" "e\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("SRCHSTR2=\xE6\x9D\xB1\xE4\xBA\xAC\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("SRCHSTR3=SELECT\r\nBKCOLOR3=16777215\r\nFRCOLOR3=255\r\n"), std::string::npos) << text;
    TColorInfos loaded;
    loaded.LoadFromIni(ini);
    EXPECT_EQ(Describe(loaded), Describe(rules));
}

TEST(ColorRulesIni, AValueThatIsNotUtf8IsReadInTheSystemCodePage)
{
    if (GetACP() != 1252)
        GTEST_SKIP() << "the case is written in code page 1252; the system's is " << GetACP();
    // "Grüße" as a settings file of the system code page holds it.
    TTempIni file("[SRCH_CLR]\r\nSRCHSTR1=Gr\xFC\xDF" "e\r\nSRCHSTR2=plain\r\n");
    TColorInfos rules;
    rules.LoadFromIni(TIniFile(file.Path));
    ASSERT_EQ(rules.Count(), 2);
    EXPECT_EQ(rules.Items(0)->SearchString, "Grüße");
    EXPECT_EQ(rules.Items(1)->SearchString, "plain");
}
