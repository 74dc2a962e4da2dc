#include "TraceRecord.h"

#include <string>

static std::string BindRowText(const std::vector<TBindItem>& row)
{
    std::string text;
    for (const TBindItem& item : row) {
        if (!text.empty())
            text += ", ";
        text += item.Name + "=" + item.Value;
    }
    return text;
}

static std::string RowCountText(const TBindRows& binds)
{
    return "... (" + std::to_string(binds.RowCount) + " rows)";
}

std::string BindsText(const TBindRows& binds)
{
    std::string text;
    for (const auto& row : binds.Rows) {
        if (!text.empty())
            text += "; ";
        text += BindRowText(row);
    }
    if (binds.RowCount > binds.Rows.size())
        text += "; " + RowCountText(binds);
    return text;
}

std::string BindMemoLines(const TBindRows& binds)
{
    std::string text;
    bool rowsApart = binds.Rows.size() > 1 || binds.RowCount > binds.Rows.size();
    for (const auto& row : binds.Rows) {
        if (rowsApart) {
            text += "\r\n" + BindRowText(row);
            continue;
        }
        for (const TBindItem& item : row)
            text += "\r\n" + item.Name + "=" + item.Value;
    }
    if (!binds.Rows.empty() && binds.RowCount > binds.Rows.size())
        text += "\r\n" + RowCountText(binds);
    return text;
}
