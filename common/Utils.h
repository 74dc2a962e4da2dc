// Shared helpers of the engine and the user interface: the trace export writers,
// the program's version text, handle closing and time stamps.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// One row of a report-style list as the export writers see it.
struct TListRow {
    std::string Caption;
    std::vector<std::string> SubItems;
};

// The rows of a list, read one at a time in list order.
class TRowSource {
public:
    virtual ~TRowSource() = default;
    virtual int RowCount() const = 0;
    virtual void GetRow(int index, TListRow& row) const = 0;
};

// A TRowSource over rows held in a vector.
class TVectorRows : public TRowSource {
public:
    explicit TVectorRows(const std::vector<TListRow>& rows) : FRows(rows) {}
    int RowCount() const override { return static_cast<int>(FRows.size()); }
    void GetRow(int index, TListRow& row) const override { row = FRows[static_cast<size_t>(index)]; }

private:
    const std::vector<TListRow>& FRows;
};

// Every occurrence of pattern in source replaced, left to right, without rescanning
// replacements; an empty pattern leaves the source unchanged.
std::string ReplaceAll(const std::string& source, const std::string& pattern, const std::string& replacement);

// Delimited text: caption, then separator + sub-item for each sub-item, CR LF.
std::string TextRowLine(const TListRow& row, char separator);
// The HTML page in pieces, so that a writer can stream rows.
std::string HtmlHead();
std::string HtmlRowLine(const TListRow& row);
std::string HtmlTail();

// Write every row of the list to fileName. A file that cannot be created or written
// raises EOSError; the file is closed on every path.
void SaveItemsAsText(const TRowSource& rows, const std::string& fileName, char separator);
void SaveItemsAsHtml(const TRowSource& rows, const std::string& fileName);

// FileVersion of the running executable's string table 040904E4, or "".
std::string GetFileVersionText();

// Closes the handle if it is not zero, then sets the variable to zero.
void CloseHandleAndZero(HANDLE& handle);

// Time stamps in days. They come from the monotonic performance counter, so the
// difference of two stamps is an elapsed time that a change of the wall clock or
// midnight does not falsify.
constexpr double MSecsPerDay = 86400000.0;
double TimeStampDays();

// Full path of the running executable, and the directory part of a path.
std::string ExecutableFileName();
std::string ExtractFileDir(const std::string& path);
std::string ExtractFileName(const std::string& path);
