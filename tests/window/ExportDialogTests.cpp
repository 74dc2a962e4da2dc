// The export through the system's real save dialog: the name typed, the filter picked,
// and what the next dialog proposes.
#include "MainWindowFixture.h"
#include "TraceExport.h"

#include <commdlg.h>
#include <dlgs.h>

#include <gtest/gtest.h>

namespace {

const std::vector<TListRow> Rows = {
    {"Start", {}},
    {"Execute", {"", "OCI_SUCCESS", "SELECT a, b\r\nFROM t"}},
};
const char* const Csv = "Start\r\nExecute,,OCI_SUCCESS,\"SELECT a, b\r\nFROM t\"\r\n";
const char* const Tsv = "Start\r\nExecute\t\tOCI_SUCCESS\tSELECT a, b\r\nFROM t\r\n";
const char* const Html = "<html><head><title>Velloran Output</title></head><body>\r\n"
                         "Velloran trace report<table border=\"1\">\r\n"
                         "<tr><td>Start</td></tr>\r\n"
                         "<tr><td>Execute</td><td>&nbsp;</td><td>OCI_SUCCESS</td><td>SELECT a, b<br>FROM t</td></tr>\r\n"
                         "</table></body></html>\r\n";

std::string DialogText(HWND dlg, UINT message)
{
    char text[MAX_PATH] = {};
    SendMessageA(dlg, message, sizeof(text), reinterpret_cast<LPARAM>(text));
    return text;
}

} // namespace

TEST(ExportDialog, TheTypedNameAndThePickedFilterDecideFileAndFormat)
{
    TScratchDir dir;
    struct TCase {
        const char* Typed;
        int FilterIndex;
        const char* Written;
        const char* Expected;
    } cases[] = {
        {"trace", 1, "trace.htm", Html},
        {"trace", 2, "trace.csv", Csv},
        {"trace", 3, "trace.txt", Tsv},
        {"csv-in.htm", 2, "csv-in.htm", Csv},
        {"dot.", 2, "dot.", Csv},
    };
    TVectorRows rows(Rows);
    for (const TCase& c : cases) {
        TFileDialog sdg;
        InitExportDialog(sdg);
        sdg.InitialDir = dir.Path;
        TModalDriver driver("Save As", [&](HWND dlg) { AnswerSaveDialog(dlg, c.FilterIndex, c.Typed); });
        ExecuteExport(sdg, nullptr, rows);
        ASSERT_TRUE(driver.Wait()) << c.Typed;
        EXPECT_EQ(ReadFileBytes(dir.File(c.Written)), c.Expected) << c.Typed << " / " << c.FilterIndex;
        EXPECT_EQ(sdg.FileName, dir.File(c.Written));
    }
}

TEST(ExportDialog, TheNextDialogProposesTheLastFileInItsFolder)
{
    TScratchDir dir;
    TVectorRows rows(Rows);
    TFileDialog sdg;
    InitExportDialog(sdg);
    TModalDriver first("Save As", [&](HWND dlg) { AnswerSaveDialog(dlg, 2, dir.File("first")); });
    ExecuteExport(sdg, nullptr, rows);
    ASSERT_TRUE(first.Wait());
    EXPECT_EQ(sdg.InitialDir, dir.Path);

    std::string folder, name;
    LRESULT filter = -1;
    TModalDriver second("Save As", [&](HWND dlg) {
        folder = DialogText(dlg, CDM_GETFOLDERPATH);
        name = DialogText(dlg, CDM_GETSPEC);
        filter = SendMessageA(GetDlgItem(dlg, cmb1), CB_GETCURSEL, 0, 0);
        PressButton(dlg, IDCANCEL);
    });
    DeleteFileA(dir.File("first.csv").c_str());
    ExecuteExport(sdg, nullptr, rows);
    ASSERT_TRUE(second.Wait());
    EXPECT_EQ(folder, dir.Path);
    EXPECT_EQ(name, "first.csv");
    EXPECT_EQ(filter, 1);
    // Cancelled: nothing written, nothing changed.
    EXPECT_EQ(GetFileAttributesA(dir.File("first.csv").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(sdg.FileName, dir.File("first.csv"));
    EXPECT_EQ(sdg.InitialDir, dir.Path);
}
