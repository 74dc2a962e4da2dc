#include "Utils.h"

#include "Errors.h"
#include "Handles.h"

#include <memory>

std::string ReplaceAll(const std::string& source, const std::string& pattern, const std::string& replacement)
{
    if (pattern.empty())
        return source;
    std::string result;
    result.reserve(source.size());
    size_t from = 0;
    for (;;) {
        size_t at = source.find(pattern, from);
        if (at == std::string::npos)
            break;
        result.append(source, from, at - from);
        result += replacement;
        from = at + pattern.size();
    }
    result.append(source, from, std::string::npos);
    return result;
}

std::string TextRowLine(const TListRow& row, char separator)
{
    std::string line = row.Caption;
    for (const std::string& sub : row.SubItems) {
        line += separator;
        line += sub;
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

std::string HtmlHead()
{
    return "<html><head><title>Velloran Output</title></head><body>\r\n"
           "Velloran trace report<table border=\"1\">\r\n";
}

std::string HtmlRowLine(const TListRow& row)
{
    std::string line = "<tr>" + HtmlCell(row.Caption);
    for (const std::string& sub : row.SubItems)
        line += HtmlCell(sub);
    line += "</tr>\r\n";
    return line;
}

std::string HtmlTail() { return "</table></body></html>\r\n"; }

namespace {

// A file created (or truncated) for writing; every failure raises EOSError.
class TOutputFile {
public:
    explicit TOutputFile(const std::string& fileName)
        : FHandle(CreateFileA(fileName.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr))
    {
        if (FHandle.get() == INVALID_HANDLE_VALUE) {
            FHandle.release();
            RaiseLastOSError();
        }
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
    TUniqueHandle FHandle;
};

} // namespace

void SaveItemsAsText(const TRowSource& rows, const std::string& fileName, char separator)
{
    TOutputFile file(fileName);
    TListRow row;
    std::string buffer;
    for (int i = 0, n = rows.RowCount(); i < n; ++i) {
        rows.GetRow(i, row);
        buffer += TextRowLine(row, separator);
        if (buffer.size() >= 64 * 1024) {
            file.Write(buffer);
            buffer.clear();
        }
    }
    file.Write(buffer);
}

void SaveItemsAsHtml(const TRowSource& rows, const std::string& fileName)
{
    TOutputFile file(fileName);
    file.Write(HtmlHead());
    TListRow row;
    try {
        for (int i = 0, n = rows.RowCount(); i < n; ++i) {
            rows.GetRow(i, row);
            file.Write(HtmlRowLine(row));
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

std::string GetFileVersionText()
{
    std::string path = ExecutableFileName();
    DWORD dummy = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &dummy);
    if (size == 0)
        return "";
    std::unique_ptr<char[]> buffer(new char[size]);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, buffer.get()))
        return "";
    char* value = nullptr;
    UINT len = 0;
    if (!VerQueryValueA(buffer.get(), "\\StringFileInfo\\040904E4\\FileVersion", reinterpret_cast<void**>(&value), &len) ||
        !value || len == 0)
        return "";
    // The reported length counts the terminating zero.
    std::string text(value, len);
    size_t zero = text.find('\0');
    if (zero != std::string::npos)
        text.resize(zero);
    return text;
}

void CloseHandleAndZero(HANDLE& handle)
{
    if (handle)
        CloseHandle(handle);
    handle = nullptr;
}

double TimeStampDays()
{
    static const double ticksPerDay = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart) * 86400.0;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / ticksPerDay;
}

std::string ExecutableFileName()
{
    std::string path(MAX_PATH, '\0');
    for (;;) {
        DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0)
            return "";
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

static size_t LastDelimiter(const std::string& path)
{
    return path.find_last_of("\\:/");
}

std::string ExtractFileDir(const std::string& path)
{
    size_t at = LastDelimiter(path);
    if (at == std::string::npos)
        return "";
    // Keep the delimiter of a drive root ("C:\" stays "C:\"), drop it otherwise.
    if (at > 0 && path[at] == '\\' && path[at - 1] == ':')
        return path.substr(0, at + 1);
    if (path[at] == ':')
        return path.substr(0, at + 1);
    return path.substr(0, at);
}

std::string ExtractFileName(const std::string& path)
{
    size_t at = LastDelimiter(path);
    return at == std::string::npos ? path : path.substr(at + 1);
}
