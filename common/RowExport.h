// The trace log's export formats: rows of a report-style list written as an HTML page or
// as delimited text. The main window's Save log and the capture tool write with these.
//
// Texts are UTF-8 and reach the files byte for byte: a file of ASCII rows is exactly what
// it always was, and an HTML page that holds anything else declares its character set.
#pragma once

#include "TraceColumns.h"

#include <string>
#include <string_view>
#include <vector>

// One row of a report-style list as the export writers see it.
struct TListRow {
    std::string Caption;
    std::vector<std::string> SubItems;
    // A line the memo shows below the row's statement; neither the list nor an export
    // shows it.
    std::string Note = {};
    // The lines of the row's binds as the memo shows them (BindMemoLines): the cells are
    // what a file holds, these what the memo makes of the values.
    std::string BindLines = {};
    // The SQL id the server gave the row's statement, as the program read it; the memo
    // shows it beside the one computed when they differ.
    std::string ServerSqlId = {};
    // How long the row's call took, in milliseconds; negative for a row of no call.
    double Milliseconds = -1;
};

// Trace rows hold a cell per column of TraceColumns, the optional ones last. A file gets
// the optional columns exactly when some row it holds has one of them not empty: a trace
// without them is written as it always was.
constexpr size_t FixedSubItems = FixedTraceColumns() - 1;
bool HasOptionalCells(const TListRow& row);

// The rows of a list, read one at a time in list order.
class TRowSource {
public:
    virtual ~TRowSource() = default;
    virtual int RowCount() const = 0;
    virtual void GetRow(int index, TListRow& row) const = 0;
    // Whether every text of every row is ASCII. Reads all rows; a source that knows its
    // texts some cheaper way answers from them.
    virtual bool AllAscii() const;
    // Whether some row has an optional cell that is not empty (see FixedSubItems). Reads
    // all rows unless the source knows better.
    virtual bool AnyOptionalCells() const;
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

bool RowIsAscii(const TListRow& row);

// Delimited text: caption, then separator + sub-item for each sub-item, CR LF. Without
// optionalCells a row's sub-items past FixedSubItems are left out. With a comma a field
// holding a comma, a double quote, CR or LF is quoted as RFC 4180 has it; tab-separated
// fields are written as they are.
std::string TextRowLine(const TListRow& row, char separator, bool optionalCells = true);
// The HTML page in pieces, so that a writer can stream rows. A page whose rows hold
// non-ASCII text is UTF-8 and says so in its head (declareUtf8).
std::string HtmlHead(bool declareUtf8 = false);
std::string HtmlRowLine(const TListRow& row, bool optionalCells = true);
std::string HtmlTail();

// Write every row of the list to fileName. A file that cannot be created or written
// raises EOSError; the file is closed on every path.
void SaveItemsAsText(const TRowSource& rows, const std::string& fileName, char separator);
void SaveItemsAsHtml(const TRowSource& rows, const std::string& fileName);

// The delimited text SaveItemsAsText writes, as a string (what Copy puts on the clipboard).
std::string ItemsAsText(const TRowSource& rows, char separator);

// Writes text to fileName as it is, creating or truncating the file; raises EOSError.
void SaveTextFile(const std::string& fileName, const std::string& text);
