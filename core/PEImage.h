// The export table of a module mapped in the traced process, read from its memory: the
// tracer never loads the program's DLLs itself (their bitness may differ from its own,
// and their initialisation must not run here).
#pragma once

#include "SysProcs.h"

#include <string>
#include <unordered_map>

struct TExport {
    // Where the code is, for an export the module implements itself.
    TAddress Address = 0;
    // "MODULE.Name" (or "MODULE.#ordinal") for an export forwarded to another module.
    std::string Forward;
};

class TModuleImage {
public:
    // Reads the headers and the export table; raises EOSError when they cannot be read
    // and ERROR_BAD_EXE_FORMAT when they make no sense.
    TModuleImage(TProcessInfo& process, TAddress base);

    TAddress Base() const { return FBase; }
    uint32_t SizeOfImage() const { return FSizeOfImage; }
    bool Is64() const { return FIs64; }
    // The export of that name, or none. An address outside the image or a forwarder that
    // is no "MODULE.Name" is taken for a forwarder string of no use: it is left out.
    const TExport* Find(const std::string& name) const;

private:
    // The export directory at exportRva, its size exportSize, both checked against the image.
    void ReadExports(TProcessInfo& process, uint32_t exportRva, uint32_t exportSize);

    TAddress FBase;
    uint32_t FSizeOfImage = 0;
    bool FIs64 = false;
    std::unordered_map<std::string, TExport> FExports;
};

// The module name part of a forwarder ("OTHER.OCIStmtFetch" -> "OTHER.DLL") and the
// export name part ("OCIStmtFetch"); false for a forwarder by ordinal or a malformed one.
bool SplitForwarder(const std::string& forward, std::string& moduleName, std::string& exportName);
