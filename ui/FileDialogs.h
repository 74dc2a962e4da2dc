// The common open and save dialogs, kept as objects so that they remember their
// directory and file name from one use to the next.
#pragma once

#include <windows.h>
#include <commdlg.h>

#include <string>

class TFileDialog {
public:
    // "Description|pattern|Description|pattern...".
    std::string Filter;
    // 1-based, as the dialog counts its filters.
    int FilterIndex = 1;
    std::string DefaultExt;
    std::string InitialDir;
    std::string FileName;
    // OFN_ flags besides the ones every dialog here has (explorer style, no change of
    // the current directory).
    DWORD Options = OFN_HIDEREADONLY | OFN_ENABLESIZING;

    // Shows the dialog owned by owner; false when the user cancels.
    bool Execute(HWND owner, bool save);
};
