// Files and folders of the tests.
#pragma once

#include <string>

// Where the test programs and fixtures are: the directory of the running executable.
std::string BinDir();
// A path in the temporary folder, unique to this test process.
std::string TempFile(const std::string& name);
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

// fixtures/scripts/NAME of the source tree, found from a build tree's bin folder.
std::string FixtureScript(const std::string& name);

// The password fixtures/scripts/sessions.txt passes on every connect (the script gives it
// XORed, see the password command), and whether any text holds it, as bytes or UTF-16.
// Checks that the script says it: a search for a password the script does not pass
// would find nothing whatever leaked.
extern const char* const SessionsPassword;
bool HoldsSessionsPassword(const std::string& text);
bool ScriptPassesSessionsPassword(const std::string& script);

// A directory of its own for one test, removed with everything in it.
class TScratchDir {
public:
    TScratchDir();
    ~TScratchDir();
    TScratchDir(const TScratchDir&) = delete;
    TScratchDir& operator=(const TScratchDir&) = delete;
    const std::string Path;
    std::string File(const std::string& name) const { return Path + "\\" + name; }
};
