// The export's own rules: the file name's extension, the writer chosen by the filter
// index, and what the save dialog remembers after a good and after a failed write.
#include "Errors.h"
#include "MainWindowFixture.h"
#include "TraceExport.h"

#include <gtest/gtest.h>

namespace {

const std::vector<TListRow> Rows = {
    {"Start", {}},
    {"Execute", {"07", "OCI_SUCCESS", "SELECT a, b FROM t"}},
};
const char* const Csv = "Start\r\nExecute,07,OCI_SUCCESS,SELECT a, b FROM t\r\n";
const char* const Tsv = "Start\r\nExecute\t07\tOCI_SUCCESS\tSELECT a, b FROM t\r\n";
const char* const Html = "<html><head><title>Velloran Output</title></head><body>\r\n"
                         "Velloran trace report<table border=\"1\">\r\n"
                         "<tr><td>Start</td></tr>\r\n"
                         "<tr><td>Execute</td><td>07</td><td>OCI_SUCCESS</td><td>SELECT a, b FROM t</td></tr>\r\n"
                         "</table></body></html>\r\n";

} // namespace

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
