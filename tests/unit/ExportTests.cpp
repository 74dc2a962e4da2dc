// The trace log's export: the writers' files byte for byte, the file name's extension, the
// writer chosen by the filter index, and what the save dialog remembers after a good and
// after a failed write.
#include "Errors.h"
#include "RowExport.h"
#include "TraceList.h"
#include "TestFiles.h"
#include "TraceExport.h"
#include "Utils.h"

#include <gtest/gtest.h>

namespace {

const std::vector<TListRow> Rows = {
    {"Start", {}},
    {"Execute", {"07", "OCI_SUCCESS", "SELECT a, b FROM t"}},
};
const char* const Csv = "Start\r\nExecute,07,OCI_SUCCESS,\"SELECT a, b FROM t\"\r\n";
const char* const Tsv = "Start\r\nExecute\t07\tOCI_SUCCESS\tSELECT a, b FROM t\r\n";
const char* const Html = "<html><head><title>Velloran Output</title></head><body>\r\n"
                         "Velloran trace report<table border=\"1\">\r\n"
                         "<tr><td>Start</td></tr>\r\n"
                         "<tr><td>Execute</td><td>07</td><td>OCI_SUCCESS</td><td>SELECT a, b FROM t</td></tr>\r\n"
                         "</table></body></html>\r\n";

const std::vector<TListRow> TraceRows = {
    {"Start", {}},
    {"Execute", {"01:500", "OCI_SUCCESS", "a\r\nb\nc"}},
    {"Fetch (10)", {"", "OCI_NO_DATA", ""}},
    {"Prepare", {"07", "", "SELECT a<b & c>d FROM t"}},
    {"Finish", {}},
};

} // namespace

TEST(Export, DelimitedTextIsWrittenByteForByte)
{
    std::string csv = TempFile("t.csv"), txt = TempFile("t.txt");
    SaveItemsAsText(TVectorRows(TraceRows), csv, ',');
    SaveItemsAsText(TVectorRows(TraceRows), txt, '\t');
    EXPECT_EQ(ReadFileBytes(csv), "Start\r\n"
                              "Execute,01:500,OCI_SUCCESS,\"a\r\nb\nc\"\r\n"
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

// The Rows, Binds and Error columns are written (and copied) exactly when some row fills
// one of them; otherwise the four columns of old, byte for byte.
TEST(Export, TheDetailColumnsAreWrittenOnlyWhenSomeRowFillsOne)
{
    const std::vector<TListRow> empty = {
        {"Start", {}},
        {"Execute", {"07", "OCI_SUCCESS", "SELECT a", "", "", ""}},
        {"Finish", {}},
    };
    std::vector<TListRow> filled = empty;
    filled.insert(filled.begin() + 2, TListRow{"Fetch (10)", {"", "OCI_NO_DATA", "SELECT a", "3", "", ""}});
    std::string csv = TempFile("d.csv"), htm = TempFile("d.htm");
    SaveItemsAsText(TVectorRows(empty), csv, ',');
    EXPECT_EQ(ReadFileBytes(csv), "Start\r\nExecute,07,OCI_SUCCESS,SELECT a\r\nFinish\r\n");
    SaveItemsAsText(TVectorRows(filled), csv, ',');
    EXPECT_EQ(ReadFileBytes(csv), "Start\r\nExecute,07,OCI_SUCCESS,SELECT a,,,\r\n"
                                  "Fetch (10),,OCI_NO_DATA,SELECT a,3,,\r\nFinish\r\n");
    // Copy writes what a file holds, by the same rule.
    EXPECT_EQ(ItemsAsText(TVectorRows(filled), ','), ReadFileBytes(csv));
    EXPECT_EQ(ItemsAsText(TVectorRows(empty), '\t'), "Start\r\nExecute\t07\tOCI_SUCCESS\tSELECT a\r\nFinish\r\n");
    SaveItemsAsHtml(TVectorRows(empty), htm);
    EXPECT_NE(ReadFileBytes(htm).find("<td>OCI_SUCCESS</td><td>SELECT a</td></tr>"), std::string::npos);
    SaveItemsAsHtml(TVectorRows(filled), htm);
    EXPECT_NE(ReadFileBytes(htm).find("<td>SELECT a</td><td>3</td><td>&nbsp;</td><td>&nbsp;</td></tr>"),
              std::string::npos);
    DeleteFileA(csv.c_str());
    DeleteFileA(htm.c_str());
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

TEST(ExportRules, ANameWithoutExtensionGetsTheOneOfItsFilter)
{
    struct TCase {
        const char* Chosen;
        int FilterIndex;
        const char* Expected;
    } cases[] = {
        {"C:\\logs\\trace", 1, "C:\\logs\\trace.htm"},
        {"C:\\logs\\trace", 2, "C:\\logs\\trace.csv"},
        {"C:\\logs\\trace", 3, "C:\\logs\\trace.txt"},
        {"C:\\logs\\trace.htm", 2, "C:\\logs\\trace.htm"},
        {"C:\\logs\\trace.", 2, "C:\\logs\\trace."},
        {"C:\\logs.v2\\trace", 3, "C:\\logs.v2\\trace.txt"},
        {"C:trace", 1, "C:trace.htm"},
        {"C:.x\\trace", 2, "C:.x\\trace.csv"},
        {"C:\\logs\\.trace", 1, "C:\\logs\\.trace"},
        {"trace.tar.gz", 3, "trace.tar.gz"},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(ExportFileName(c.Chosen, c.FilterIndex), c.Expected) << c.Chosen << " / " << c.FilterIndex;
}

TEST(ExportRules, TheFilterIndexNotTheExtensionChoosesTheWriter)
{
    TScratchDir dir;
    TVectorRows rows(Rows);
    struct TCase {
        const char* Name;
        int FilterIndex;
        const char* Expected;
    } cases[] = {
        {"a.htm", 2, Csv},
        {"b.csv", 3, Tsv},
        {"c.txt", 1, Html},
        {"d.htm", 1, Html},
    };
    for (const TCase& c : cases) {
        SaveTrace(rows, dir.File(c.Name), c.FilterIndex);
        EXPECT_EQ(ReadFileBytes(dir.File(c.Name)), c.Expected) << c.Name;
    }
}

TEST(ExportRules, AnyOtherFilterIndexIsAnInternalError)
{
    TScratchDir dir;
    TVectorRows rows(Rows);
    for (int index : {0, 4, -1}) {
        EXPECT_THROW(ExportFileName("x", index), EInternalError) << index;
        try {
            SaveTrace(rows, dir.File("x.htm"), index);
            ADD_FAILURE() << "no error for " << index;
        } catch (const EInternalError& e) {
            EXPECT_STREQ(e.what(), "Unknown file type");
        }
        EXPECT_EQ(GetFileAttributesA(dir.File("x.htm").c_str()), INVALID_FILE_ATTRIBUTES) << index;
    }
}

TEST(ExportRules, AFailedWriteLeavesTheFolderAsItWas)
{
    TScratchDir dir;
    // A folder where the file should go: the file cannot be created.
    CreateDirectoryA(dir.File("blocked.csv").c_str(), nullptr);
    TVectorRows rows(Rows);
    TFileDialog sdg;
    InitExportDialog(sdg);
    sdg.InitialDir = "C:\\previous";
    sdg.FileName = dir.File("blocked");
    sdg.FilterIndex = 2;
    EXPECT_THROW(SaveChosenFile(sdg, rows), EOSError);
    EXPECT_EQ(sdg.InitialDir, "C:\\previous");
}

TEST(Export, NonAsciiTextsAreWrittenAsUtf8AndOnlyThenDoesTheHtmlPageDeclareIt)
{
    const std::string greeting = "SELECT 'Grüße, 東京' FROM dual";
    const std::string head = "<html><head><title>Velloran Output</title></head><body>\r\n"
                             "Velloran trace report<table border=\"1\">\r\n";
    const std::string utf8Head = "<html><head><meta charset=\"utf-8\"><title>Velloran Output</title></head><body>\r\n"
                                 "Velloran trace report<table border=\"1\">\r\n";
    const struct {
        const char* Name;
        std::vector<TListRow> Rows;
        bool Declares;
    } cases[] = {
        {"ASCII only", {{"Start", {}}, {"Execute", {"07", "OCI_SUCCESS", "SELECT 1 FROM dual"}}}, false},
        {"in the statement", {{"Start", {}}, {"Execute", {"07", "OCI_SUCCESS", greeting}}}, true},
        {"in a caption", {{"Ausführen", {}}}, true},
        {"in the last row only", {{"Start", {}}, {"Finish", {"", "", "é"}}}, true},
        {"no rows", {}, false},
    };
    TScratchDir dir;
    for (const auto& c : cases) {
        std::string body, csv;
        for (const TListRow& row : c.Rows) {
            body += HtmlRowLine(row);
            csv += TextRowLine(row, ',');
        }
        // The program's own row store answers from its distinct texts, a vector by reading
        // every row: both must come to the same page.
        TTraceRows stored;
        for (const TListRow& row : c.Rows)
            stored.Add(row);
        TVectorRows vector(c.Rows);
        for (const TRowSource* rows : {static_cast<const TRowSource*>(&vector), static_cast<const TRowSource*>(&stored)}) {
            SaveItemsAsHtml(*rows, dir.File("t.htm"));
            EXPECT_EQ(ReadFileBytes(dir.File("t.htm")), (c.Declares ? utf8Head : head) + body + HtmlTail()) << c.Name;
            SaveItemsAsText(*rows, dir.File("t.csv"), ',');
            EXPECT_EQ(ReadFileBytes(dir.File("t.csv")), csv) << c.Name;
        }
    }
    // The statement's bytes reach the files as they are: UTF-8, no byte-order mark.
    SaveItemsAsText(TVectorRows(cases[1].Rows), dir.File("u.txt"), '\t');
    EXPECT_EQ(ReadFileBytes(dir.File("u.txt")), "Start\r\nExecute\t07\tOCI_SUCCESS\t" + greeting + "\r\n");
}

namespace {

// One record of RFC 4180 text back to its fields, as any CSV reader takes it.
std::vector<std::string> ReadCsvRecord(const std::string& line)
{
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"')
            fields.back() += line[++i];
        else if (c == '"')
            quoted = !quoted;
        else if (!quoted && c == ',')
            fields.emplace_back();
        else if (!quoted && c == '\r' && line.compare(i, 2, "\r\n") == 0 && i + 2 == line.size())
            break;
        else
            fields.back() += c;
    }
    return fields;
}

} // namespace

// Cells that hold what a program's statement, values or errors can: each comes back from
// the comma-separated line as it was, and only those that need it are quoted.
TEST(Export, CommaSeparatedFieldsAreQuotedOnlyWhereTheyMustBeAndReadBackAsTheyWere)
{
    const struct {
        std::vector<std::string> Cells;
        const char* Line;
    } cases[] = {
        {{"Execute", "07", "OCI_SUCCESS", "SELECT 1 FROM dual"}, "Execute,07,OCI_SUCCESS,SELECT 1 FROM dual\r\n"},
        {{"Execute", "", "", "INSERT INTO t VALUES (:a, :b)", "", ":a=1, :b='x'"},
         "Execute,,,\"INSERT INTO t VALUES (:a, :b)\",,\":a=1, :b='x'\"\r\n"},
        {{"Execute", "", "", "SELECT \"Col\" FROM t", "", ":q='say \"\"hi\"\"'"},
         "Execute,,,\"SELECT \"\"Col\"\" FROM t\",,\":q='say \"\"\"\"hi\"\"\"\"'\"\r\n"},
        {{"Execute", "", "", "SELECT a\r\nFROM t\nWHERE b\r= 1", "", "", "ORA-1: x"},
         "Execute,,,\"SELECT a\r\nFROM t\nWHERE b\r= 1\",,,ORA-1: x\r\n"},
        {{"Fetch (10)", "", "", "a;b\t'c'", "3"}, "Fetch (10),,,a;b\t'c',3\r\n"},
        {{",", "\"", "\r\n"}, "\",\",\"\"\"\",\"\r\n\"\r\n"},
    };
    for (const auto& c : cases) {
        TListRow row{c.Cells[0], {c.Cells.begin() + 1, c.Cells.end()}};
        std::string line = TextRowLine(row, ',');
        EXPECT_EQ(line, c.Line) << c.Cells[0];
        EXPECT_EQ(ReadCsvRecord(line), c.Cells) << c.Line;
    }
}
