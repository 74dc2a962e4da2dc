// Joining arguments into one Windows command line.
#pragma once

#include <string>
#include <vector>

// One argument quoted so that the usual Windows parsing gives it back unchanged.
std::string QuoteArgument(const std::string& arg);
// The arguments joined with blanks, each quoted where it needs to be.
std::string JoinCommandLine(const std::vector<std::string>& args);
