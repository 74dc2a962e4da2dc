// The settings file, read and written through the platform's profile functions: section
// and key names match without regard to case, values lose their surrounding blanks, and
// every write reaches the file at once, creating the file and the section if need be.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

// An integer as the settings accept it: signed decimal, or hexadecimal after "0x", "0X"
// or "$" (up to 32 bits, so 0x80000005 is -2147483643). None for anything else.
std::optional<int> ParseSettingsInteger(const std::string& text);

class TIniFile {
public:
    explicit TIniFile(std::string fileName) : FileName(std::move(fileName)) {}

    std::string ReadString(const std::string& section, const std::string& key, const std::string& defaultValue) const;
    int ReadInteger(const std::string& section, const std::string& key, int defaultValue) const;
    // 0 is false, any other integer true; a missing key or a value that is no integer
    // gives the default.
    bool ReadBool(const std::string& section, const std::string& key, bool defaultValue) const;
    // Every key=value pair of a section, in file order.
    std::vector<std::pair<std::string, std::string>> ReadSectionValues(const std::string& section) const;

    // A failed write raises "Unable to write to <file name>".
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int value);
    // "1" or "0".
    void WriteBool(const std::string& section, const std::string& key, bool value);
    void EraseSection(const std::string& section);

    const std::string FileName;

private:
    [[noreturn]] void WriteFailed() const;
};
