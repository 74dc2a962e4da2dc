#include "CommandLine.h"

#include "TraceMask.h"

std::string QuoteArgument(const std::string& arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos)
        return arg;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            // Backslashes before a quote are doubled, and the quote itself escaped.
            quoted.append(backslashes * 2 + 1, '\\');
        } else {
            quoted.append(backslashes, '\\');
        }
        backslashes = 0;
        quoted += c;
    }
    // Backslashes before the closing quote are doubled too.
    quoted.append(backslashes * 2, '\\');
    quoted += '"';
    return quoted;
}

std::string JoinCommandLine(const std::vector<std::string>& args)
{
    std::string line;
    for (const std::string& arg : args) {
        if (!line.empty())
            line += ' ';
        line += QuoteArgument(arg);
    }
    return line;
}

TTraceMask TraceMaskOfWords(const std::string& list)
{
    TTraceMask mask = 0;
    size_t from = 0;
    while (from <= list.size()) {
        size_t comma = list.find(',', from);
        std::string item = list.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        if (item == TraceMaskAllWord) {
            mask |= TraceMaskAll;
        } else if (!item.empty()) {
            const TTraceMaskBit* found = nullptr;
            for (const TTraceMaskBit& bit : TraceMaskBits)
                if (item == bit.Word)
                    found = &bit;
            if (!found)
                throw EUnknownTraceWord(item);
            mask |= found->Bit;
        }
        if (comma == std::string::npos)
            break;
        from = comma + 1;
    }
    return mask;
}

std::string TraceMaskWords()
{
    std::string words;
    for (const TTraceMaskBit& bit : TraceMaskBits)
        words += (words.empty() ? "" : ",") + std::string(bit.Word);
    return words;
}
