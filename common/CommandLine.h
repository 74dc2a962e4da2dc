// Command lines: joining arguments into one Windows command line (the capture tool's
// program and the window's Run), and the words of a --trace list.
#pragma once

#include "TraceMask.h"

#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

// One argument quoted so that the usual Windows parsing gives it back unchanged.
std::string QuoteArgument(const std::string& arg);
// The arguments joined with blanks, each quoted where it needs to be.
std::string JoinCommandLine(const std::vector<std::string>& args);

// An item of a --trace list that names no action.
class EUnknownTraceWord : public std::runtime_error {
public:
    explicit EUnknownTraceWord(const std::string& word)
        : std::runtime_error("unknown action in --trace: " + word), Word(word) {}
    const std::string Word;
};

// The mask of a comma-separated list of the words of TraceMaskBits ("prepare,fetch") and
// "all" (every kind); empty items are skipped, so "" is the empty mask. Raises
// EUnknownTraceWord.
TTraceMask TraceMaskOfWords(const std::string& list);
// Every word of TraceMaskBits, comma-separated, in the table's order ("prepare,execute,fetch,...").
std::string TraceMaskWords();
