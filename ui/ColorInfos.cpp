#include "ColorInfos.h"

#include "Errors.h"
#include "IniFile.h"
#include "Utils.h"

#include <memory>

namespace {

std::string Key(const char* pattern, int n) { return Format(pattern, n); }

// The profile reader drops the blanks around a value and one pair of quotes enclosing
// it. Quoting a search string that would lose either keeps it as typed, and keeps a
// string of blanks from reading back empty, which would end the list there.
std::string QuotedIfNeeded(const std::string& value)
{
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front();
    if (quoted || blank(value.front()) || blank(value.back()))
        return '"' + value + '"';
    return value;
}

} // namespace

std::string SearchStringToIni(const std::string& searchString) { return QuotedIfNeeded(searchString); }

std::string SearchStringFromIni(const std::string& value)
{
    return IsValidUtf8(value) ? value : AnsiToUtf8(value);
}

void TColorInfos::LoadFromIni(const TIniFile& ini)
{
    Clear();
    for (int n = 1;; ++n) {
        std::string search = ini.ReadString(Section, Key("SRCHSTR%d", n), "");
        if (search.empty())
            break;
        TColorInfo* rule = Add(std::make_unique<TColorInfo>());
        rule->SearchString = SearchStringFromIni(search);
        rule->BackColor = static_cast<TColor>(ini.ReadInteger(Section, Key("BKCOLOR%d", n), 16777215));
        rule->ForeColor = static_cast<TColor>(ini.ReadInteger(Section, Key("FRCOLOR%d", n), 0));
    }
}

void TColorInfos::SaveToIni(TIniFile& ini) const
{
    ini.EraseSection(Section);
    int n = 0;
    for (const auto& rule : *this) {
        if (rule->SearchString.empty())
            continue;
        ++n;
        ini.WriteString(Section, Key("SRCHSTR%d", n), SearchStringToIni(rule->SearchString));
        ini.WriteInteger(Section, Key("BKCOLOR%d", n), static_cast<int>(rule->BackColor));
        ini.WriteInteger(Section, Key("FRCOLOR%d", n), static_cast<int>(rule->ForeColor));
    }
}

std::vector<TColorInfo> TColorInfos::Values() const
{
    std::vector<TColorInfo> values;
    for (const auto& rule : *this)
        values.push_back(*rule);
    return values;
}

void TColorInfos::Assign(const std::vector<TColorInfo>& values)
{
    Clear();
    for (const TColorInfo& value : values)
        Add(std::make_unique<TColorInfo>(value));
}
