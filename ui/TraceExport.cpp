#include "TraceExport.h"

#include "Errors.h"
#include "Utils.h"

const char* const ExportFilter =
    "HTML (*.htm)|*.htm|CSV (Comma delimited) (*.csv)|*.csv|Text (Tab delimited) (*.txt)|*.txt|"
    "Velloran trace (*.jsonl)|*.jsonl";
const char* const ExportExtensions[4] = {"", "htm", "csv", "txt"};

namespace {

void CheckFilterIndex(int filterIndex)
{
    if (filterIndex < 1 || filterIndex > 3)
        throw EInternalError("Unknown file type");
}

} // namespace

void InitExportDialog(TFileDialog& sdg)
{
    sdg.Filter = ExportFilter;
    sdg.FilterIndex = 1;
    sdg.DefaultExt.clear();
    sdg.Options = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_ENABLESIZING;
}

namespace {

bool HasExtension(const std::string& fileName)
{
    size_t delimiter = fileName.find_last_of("\\:");
    size_t dot = fileName.rfind('.');
    return dot != std::string::npos && (delimiter == std::string::npos || dot > delimiter);
}

} // namespace

std::string ExportFileName(const std::string& fileName, int filterIndex)
{
    CheckFilterIndex(filterIndex);
    return HasExtension(fileName) ? fileName : fileName + "." + ExportExtensions[filterIndex];
}

std::string TraceFileName(const std::string& fileName)
{
    return HasExtension(fileName) ? fileName : fileName + ".jsonl";
}

void SaveTrace(const TRowSource& rows, const std::string& fileName, int filterIndex)
{
    CheckFilterIndex(filterIndex);
    switch (filterIndex) {
    case 1:
        SaveItemsAsHtml(rows, fileName);
        break;
    case 2:
        SaveItemsAsText(rows, fileName, ',');
        break;
    case 3:
        SaveItemsAsText(rows, fileName, '\t');
        break;
    }
}

void SaveChosenFile(TFileDialog& sdg, const TRowSource& rows)
{
    sdg.FileName = ExportFileName(sdg.FileName, sdg.FilterIndex);
    SaveTrace(rows, sdg.FileName, sdg.FilterIndex);
    sdg.InitialDir = ExtractFileDir(sdg.FileName);
}

void ExecuteExport(TFileDialog& sdg, HWND owner, const TRowSource& rows)
{
    if (sdg.Execute(owner, true))
        SaveChosenFile(sdg, rows);
}
