// Files and folders of the tests.
#pragma once

#include <string>

// Where the test programs and fixtures are: the directory of the running executable.
std::string BinDir();
// A path in the temporary folder, unique to this test process.
std::string TempFile(const std::string& name);
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

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
