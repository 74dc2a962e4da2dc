#include "CommandLine.h"
#include "TestFiles.h"
#include "Errors.h"
#include "TraceRows.h"
#include "Utils.h"

#include <gtest/gtest.h>


namespace {

constexpr double Ms = 1.0 / MSecsPerDay;

const std::vector<TListRow> TraceRows = {
    {"Start", {}},
    {"Execute", {"01:500", "OCI_SUCCESS", "a\r\nb\nc"}},
    {"Fetch (10)", {"", "OCI_NO_DATA", ""}},
    {"Prepare", {"07", "", "SELECT a<b & c>d FROM t"}},
    {"Finish", {}},
};

} // namespace

TEST(TraceTexts, ElapsedTimeLeavesOutZeroParts)
{
    struct {
        double Elapsed;
        const char* Text;
    } cases[] = {
        {0, ""},
        {7 * Ms, "07"},
        {250 * Ms, "250"},
        {1500 * Ms, "01:500"},
        {2000 * Ms, "02"},
        {(60000 + 3) * Ms, "01:03"},
        {(3600000 + 2 * 60000 + 3000 + 4) * Ms, "01:02:03:04"},
        {-250 * Ms, "250"},
        {(86400000.0 + 5) * Ms, "05"},
        {0.4 * Ms, ""},
        {0.6 * Ms, "01"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ElapsedTimeText(c.Elapsed), c.Text) << c.Elapsed / Ms << " ms";
}

TEST(TraceTexts, ResultCodesByName)
{
    struct {
        int32_t Code;
        const char* Text;
    } cases[] = {{0, "OCI_SUCCESS"},       {1, "OCI_SUCCESS_WITH_INFO"}, {99, "OCI_NEED_DATA"},
                 {100, "OCI_NO_DATA"},      {-1, "OCI_ERROR"},            {-2, "OCI_INVALID_HANDLE"},
                 {-3123, "OCI_STILL_EXECUTING"}, {-24200, "OCI_CONTINUE"}, {2, "unknown(2)"},
                 {-12, "unknown(-12)"}};
    for (const auto& c : cases)
        EXPECT_EQ(OCIResultText(c.Code), c.Text);
}

TEST(Export, DelimitedTextIsWrittenByteForByte)
{
    std::string csv = TempFile("t.csv"), txt = TempFile("t.txt");
    SaveItemsAsText(TVectorRows(TraceRows), csv, ',');
    SaveItemsAsText(TVectorRows(TraceRows), txt, '\t');
    EXPECT_EQ(ReadFileBytes(csv), "Start\r\n"
                              "Execute,01:500,OCI_SUCCESS,a\r\nb\nc\r\n"
                              "Fetch (10),,OCI_NO_DATA,\r\n"
                              "Prepare,07,,SELECT a<b & c>d FROM t\r\n"
                              "Finish\r\n");
    EXPECT_EQ(ReadFileBytes(txt), "Start\r\n"
                              "Execute\t01:500\tOCI_SUCCESS\ta\r\nb\nc\r\n"
                              "Fetch (10)\t\tOCI_NO_DATA\t\r\n"
                              "Prepare\t07\t\tSELECT a<b & c>d FROM t\r\n"
                              "Finish\r\n");

    std::vector<TListRow> none;
    SaveItemsAsText(TVectorRows(none), csv, ',');
    EXPECT_EQ(ReadFileBytes(csv), "") << "an empty list gives an empty file, also over an old one";
    DeleteFileA(csv.c_str());
    DeleteFileA(txt.c_str());
}

TEST(Export, HtmlPageIsWrittenByteForByte)
{
    std::string htm = TempFile("t.htm");
    SaveItemsAsHtml(TVectorRows(TraceRows), htm);
    EXPECT_EQ(ReadFileBytes(htm),
              "<html><head><title>Velloran Output</title></head><body>\r\n"
              "Velloran trace report<table border=\"1\">\r\n"
              "<tr><td>Start</td></tr>\r\n"
              "<tr><td>Execute</td><td>01:500</td><td>OCI_SUCCESS</td><td>a<br>b<br>c</td></tr>\r\n"
              "<tr><td>Fetch (10)</td><td>&nbsp;</td><td>OCI_NO_DATA</td><td>&nbsp;</td></tr>\r\n"
              "<tr><td>Prepare</td><td>07</td><td>&nbsp;</td><td>SELECT a<b & c>d FROM t</td></tr>\r\n"
              "<tr><td>Finish</td></tr>\r\n"
              "</table></body></html>\r\n");

    std::vector<TListRow> none;
    SaveItemsAsHtml(TVectorRows(none), htm);
    EXPECT_EQ(ReadFileBytes(htm), "<html><head><title>Velloran Output</title></head><body>\r\n"
                              "Velloran trace report<table border=\"1\">\r\n"
                              "</table></body></html>\r\n");
    DeleteFileA(htm.c_str());
}

TEST(Export, AFileThatCannotBeCreatedRaisesTheSystemError)
{
    std::string dir = TempFile("dir");
    CreateDirectoryA(dir.c_str(), nullptr);
    std::vector<TListRow> none;
    for (auto save : {+[](const std::string& f, const std::vector<TListRow>& r) { SaveItemsAsText(TVectorRows(r), f, ','); },
                      +[](const std::string& f, const std::vector<TListRow>& r) { SaveItemsAsHtml(TVectorRows(r), f); }}) {
        try {
            save(dir, none);
            ADD_FAILURE() << "writing over a directory must fail";
        } catch (const EOSError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("System Error.  Code: ", 0), 0u) << e.what();
        }
        try {
            save(dir + "\\missing\\x.csv", none);
            ADD_FAILURE() << "writing into a missing folder must fail";
        } catch (const EOSError&) {
        }
    }
    RemoveDirectoryA(dir.c_str());
}

TEST(Export, ReplaceAllScansLeftToRightWithoutRescanning)
{
    struct {
        const char* Source;
        const char* Pattern;
        const char* Replacement;
        const char* Result;
    } cases[] = {
        {"a\r\nb\nc", "\r\n", "<br>", "a<br>b\nc"},
        {"aaa", "aa", "a", "aa"},
        {"xyx", "x", "xx", "xxyxx"},
        {"abc", "", "-", "abc"},
        {"", "a", "b", ""},
        {"abcabc", "abc", "", ""},
        {"CaseCASE", "case", "x", "CaseCASE"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReplaceAll(c.Source, c.Pattern, c.Replacement), c.Result) << c.Source;
}

TEST(CommandLine, ArgumentsSurviveWindowsQuoting)
{
    struct {
        const char* Arg;
        const char* Quoted;
    } cases[] = {
        {"plain", "plain"},
        {"", "\"\""},
        {"with blank", "\"with blank\""},
        {"C:\\Program Files\\x.exe", "\"C:\\Program Files\\x.exe\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"trailing\\ dir\\", "\"trailing\\ dir\\\\\""},
        {"back\\\\\"quote", "\"back\\\\\\\\\\\"quote\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(QuoteArgument(c.Arg), c.Quoted) << c.Arg;
    EXPECT_EQ(JoinCommandLine({"ocirun.exe", "-log", "a b.log"}), "ocirun.exe -log \"a b.log\"");
}

TEST(Paths, DirectoryAndFileParts)
{
    EXPECT_EQ(ExtractFileDir("C:\\dir\\sub\\x.exe"), "C:\\dir\\sub");
    EXPECT_EQ(ExtractFileDir("C:\\x.exe"), "C:\\");
    EXPECT_EQ(ExtractFileDir("x.exe"), "");
    EXPECT_EQ(ExtractFileName("C:\\dir\\x.exe"), "x.exe");
    EXPECT_EQ(ExtractFileName("C:x.exe"), "x.exe");
}
