// The main window's trace files: a saved trace opened into the list (Trace > Open trace...,
// the command line, a file dropped on the window) and the list saved as one.
#include "Main.h"

#include "CommandLine.h"
#include "Errors.h"
#include "Utils.h"

#include <fstream>
#include <shellapi.h>

namespace {

// A trace names kinds of a later version: the detail columns are then those of every kind.
TTraceMask MaskOfHeader(const TTraceFileHeader& header)
{
    try {
        return TraceMaskOfWords(header.Trace);
    } catch (const std::exception&) {
        return TraceMaskAll;
    }
}

} // namespace

void TfrmMain::OpenTraceFile(const std::string& fileName)
{
    if (Session.Active())
        throw std::runtime_error("A session is running: stop it before opening a trace.");
    // Read whole before the list is touched: a damaged file leaves it as it was.
    TTraceFile file;
    try {
        file = LoadTraceFile(fileName);
    } catch (const ETraceFileError& e) {
        throw std::runtime_error(fileName + ": " + e.what());
    }
    ClearView();
    Warnings.clear();
    ShowStatus();
    FListHeader = file.Header;
    FSessionState.clear();
    TraceView->ShowDetailColumns(MaskOfHeader(file.Header));
    // The rows take the way a session's take.
    for (const TTraceFileRow& row : file.Rows) {
        if (row.Mark.empty())
            TraceView->AddRecord(row.Record);
        else
            TraceView->AppendRow(TListRow{row.Mark, {}});
    }
    TraceView->ShowRows();
    if (frmStatements)
        frmStatements->Refresh();
    if (file.CutShort)
        SessionWarning("the trace was cut short: its last line is left out");
    ShowSessionState();
    SetWindowTextA(Handle, Format("%s - %s", BaseCaption.c_str(), fileName.c_str()).c_str());
}

void TfrmMain::SaveTraceFile(const std::string& fileName) const
{
    std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("Unable to create " + fileName);
    out << TraceFileHeaderLine(FListHeader);
    TTraceFileWriter writer;
    const TTraceRecordStore& records = TraceView->Records;
    for (int i = 0; i < records.Count(); ++i)
        out << writer.RowLine(records.Row(i));
    out.flush();
    if (!out)
        throw std::runtime_error("Unable to write " + fileName);
}

void TfrmMain::actTraceOpenExecute()
{
    if (Session.Active())
        throw std::runtime_error("A session is running: stop it before opening a trace.");
    if (!odgTrace.Execute(Handle, false))
        return;
    OpenTraceFile(odgTrace.FileName);
    odgTrace.InitialDir = ExtractFileDir(odgTrace.FileName);
}

void TfrmMain::DropFiles(HDROP drop)
{
    char name[MAX_PATH * 2] = {};
    UINT n = DragQueryFileA(drop, 0, name, sizeof(name));
    DragFinish(drop);
    if (n > 0 && n < sizeof(name))
        HandleGuarded([&] { OpenTraceFile(name); });
}
