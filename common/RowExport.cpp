#include "RowExport.h"

#include "Errors.h"
#include "Handles.h"
#include "Utils.h"

#include <algorithm>

bool RowIsAscii(const TListRow& row)
{
    return IsAscii(row.Caption) && std::all_of(row.SubItems.begin(), row.SubItems.end(),
                                               [](const std::string& sub) { return IsAscii(sub); });
}

bool HasOptionalCells(const TListRow& row)
{
    for (size_t k = FixedSubItems; k < row.SubItems.size(); ++k)
        if (!row.SubItems[k].empty())
            return true;
    return false;
}

bool TRowSource::AnyOptionalCells() const
{
    TListRow row;
    for (int i = 0, n = RowCount(); i < n; ++i) {
        GetRow(i, row);
        if (HasOptionalCells(row))
            return true;
    }
    return false;
}

// The sub-items a file holds of a row.
static size_t WrittenSubItems(const TListRow& row, bool optionalCells)
{
    return optionalCells ? row.SubItems.size() : std::min(row.SubItems.size(), FixedSubItems);
}

bool TRowSource::AllAscii() const
{
    TListRow row;
    for (int i = 0, n = RowCount(); i < n; ++i) {
        GetRow(i, row);
        if (!RowIsAscii(row))
            return false;
    }
    return true;
}

// A comma-separated field as RFC 4180 quotes it, only where it must: one holding a comma,
// a double quote, CR or LF goes in double quotes with its quotes doubled; any other
// field as it is, so that files of plain rows stay what they always were.
static std::string CsvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    return "\"" + ReplaceAll(text, "\"", "\"\"") + "\"";
}

std::string TextRowLine(const TListRow& row, char separator, bool optionalCells)
{
    auto field = [separator](const std::string& text) { return separator == ',' ? CsvField(text) : text; };
    std::string line = field(row.Caption);
    for (size_t k = 0, n = WrittenSubItems(row, optionalCells); k < n; ++k) {
        line += separator;
        line += field(row.SubItems[k]);
    }
    line += "\r\n";
    return line;
}

static std::string HtmlCell(const std::string& text)
{
    std::string content = ReplaceAll(ReplaceAll(text, "\r\n", "<br>"), "\n", "<br>");
    if (content.empty())
        content = "&nbsp;";
    return "<td>" + content + "</td>";
}

std::string HtmlHead(bool declareUtf8)
{
    // Without a declaration a browser reads the page in its own legacy code page; the
    // ASCII pages go without one, as they always have.
    return std::string("<html><head>") + (declareUtf8 ? "<meta charset=\"utf-8\">" : "") +
           "<title>Velloran Output</title></head><body>\r\n"
           "Velloran trace report<table border=\"1\">\r\n";
}

std::string HtmlRowLine(const TListRow& row, bool optionalCells)
{
    std::string line = "<tr>" + HtmlCell(row.Caption);
    for (size_t k = 0, n = WrittenSubItems(row, optionalCells); k < n; ++k)
        line += HtmlCell(row.SubItems[k]);
    line += "</tr>\r\n";
    return line;
}

std::string HtmlTail() { return "</table></body></html>\r\n"; }

namespace {

// A file created (or truncated) for writing; every failure raises EOSError. File names
// are in the system code page, as the file dialogs give them.
class TOutputFile {
public:
    explicit TOutputFile(const std::string& fileName)
        : FHandle(CreateFileA(fileName.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr))
    {
        if (!FHandle)
            RaiseLastOSError();
    }

    void Write(const std::string& text)
    {
        size_t done = 0;
        while (done < text.size()) {
            DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - done, 1 << 20));
            DWORD written = 0;
            if (!WriteFile(FHandle.get(), text.data() + done, chunk, &written, nullptr))
                RaiseLastOSError();
            done += written;
        }
    }

private:
    TUniqueFile FHandle;
};

} // namespace

namespace {

// The delimited text of the rows, handed to write in pieces of about 64 KiB.
template <class TWrite>
void WriteItemsAsText(const TRowSource& rows, char separator, TWrite write)
{
    // The optional columns by the rows written: a copied selection follows the rule a file does.
    bool optional = rows.AnyOptionalCells();
    TListRow row;
    std::string buffer;
    for (int i = 0, n = rows.RowCount(); i < n; ++i) {
        rows.GetRow(i, row);
        buffer += TextRowLine(row, separator, optional);
        if (buffer.size() >= 64 * 1024) {
            write(buffer);
            buffer.clear();
        }
    }
    write(buffer);
}

} // namespace

void SaveItemsAsText(const TRowSource& rows, const std::string& fileName, char separator)
{
    TOutputFile file(fileName);
    WriteItemsAsText(rows, separator, [&](const std::string& text) { file.Write(text); });
}

std::string ItemsAsText(const TRowSource& rows, char separator)
{
    std::string text;
    WriteItemsAsText(rows, separator, [&](const std::string& piece) { text += piece; });
    return text;
}

void SaveTextFile(const std::string& fileName, const std::string& text)
{
    TOutputFile file(fileName);
    file.Write(text);
}

void SaveItemsAsHtml(const TRowSource& rows, const std::string& fileName)
{
    TOutputFile file(fileName);
    file.Write(HtmlHead(!rows.AllAscii()));
    bool optional = rows.AnyOptionalCells();
    TListRow row;
    try {
        for (int i = 0, n = rows.RowCount(); i < n; ++i) {
            rows.GetRow(i, row);
            file.Write(HtmlRowLine(row, optional));
        }
    } catch (...) {
        // Close the page as far as the file still takes it, then pass the failure on.
        try {
            file.Write("</tr>\r\n");
            file.Write(HtmlTail());
        } catch (...) {
        }
        throw;
    }
    file.Write(HtmlTail());
}
