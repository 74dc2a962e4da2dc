// The statement colour rules: an ordered list of search strings with a text and a
// background colour each, and its place in the settings file (section SRCH_CLR).
#pragma once

#include "Forms.h"
#include "OwningList.h"

#include <string>
#include <vector>

class TIniFile;

// One rule: rows holding SearchString (case-sensitive, UTF-8 like the rows) in any cell
// take these colours.
class TColorInfo {
public:
    TColor BackColor = clWhite;
    TColor ForeColor = clBlack;
    std::string SearchString;
};

// The rules in priority order: the first rule that matches a row wins.
class TColorInfos : public TOwningList<TColorInfo> {
public:
    static constexpr const char* Section = "SRCH_CLR";

    // Replaces the rules by those of section SRCH_CLR: rule n is read while SRCHSTRn is
    // there and not empty.
    void LoadFromIni(const TIniFile& ini);
    // Rewrites section SRCH_CLR; no rules leave no section. A rule with an empty search
    // string is left out: written, its empty SRCHSTRn would end the list at the next
    // start and lose the rules after it (it colours nothing anyway).
    void SaveToIni(TIniFile& ini) const;

    // The rules by value, and the list made exactly that again: what the rules dialog
    // takes back when it is cancelled.
    std::vector<TColorInfo> Values() const;
    void Assign(const std::vector<TColorInfo>& values);
};

// How a search string is kept in the settings file, and read back. An ASCII string is
// written as it is, so the file of an ASCII rule is what it always was. Any other string
// is written as its UTF-8 bytes: the profile functions of a single-byte system code page
// carry every byte through unchanged (not those of a double-byte one, where such a rule
// may come back altered). On reading, a value that is valid UTF-8 is taken as it stands;
// one that is not was written in the system code page (by a version of the program that
// kept its texts so, or by hand) and is converted from it.
std::string SearchStringToIni(const std::string& searchString);
std::string SearchStringFromIni(const std::string& value);
