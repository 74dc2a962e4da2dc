// Saving the trace list (actSave): the save dialog's filters, the extension rule and the
// choice of writer by the filter the user picked.
#pragma once

#include "FileDialogs.h"
#include "RowExport.h"

#include <windows.h>

#include <string>

// The filters of sdg, numbered 1 (HTML), 2 (CSV) and 3 (text) by the dialog, then the
// trace file (TraceFileFilterIndex), which the window writes itself.
extern const char* const ExportFilter;
constexpr int TraceFileFilterIndex = 4;
// The name a trace file is saved to: fileName, with ".jsonl" when it has no extension.
std::string TraceFileName(const std::string& fileName);
// The default extension for each filter index; index 0 is unused.
extern const char* const ExportExtensions[4];

// Sets up the main window's save dialog for the export (once, when the window is made).
void InitExportDialog(TFileDialog& sdg);

// The name the export writes to: fileName unchanged when it has an extension (the part
// from the last "." after the last "\" or ":", however short or unfitting), otherwise
// fileName + "." + ExportExtensions[filterIndex]. An index other than 1, 2 or 3 raises
// "Unknown file type".
std::string ExportFileName(const std::string& fileName, int filterIndex);

// Writes rows to fileName in the format of filterIndex (never of the extension): 1 HTML,
// 2 comma-delimited, 3 tab-delimited; any other index raises "Unknown file type".
void SaveTrace(const TRowSource& rows, const std::string& fileName, int filterIndex);

// Saves rows to the file chosen in sdg: the extension rule, the writer by the filter
// index, and, once the file is written, the dialog's folder set to the file's folder.
// The dialog keeps the name, so the next export proposes the same file. A failed write
// raises and leaves the folder as it was.
void SaveChosenFile(TFileDialog& sdg, const TRowSource& rows);

// actSave: shows sdg owned by owner; nothing happens if the user cancels.
void ExecuteExport(TFileDialog& sdg, HWND owner, const TRowSource& rows);
