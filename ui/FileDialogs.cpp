#include "FileDialogs.h"

#include "Errors.h"

#include <commdlg.h>

#include <vector>

bool TFileDialog::Execute(HWND owner, bool save)
{
    std::string filter = Filter;
    for (char& c : filter)
        if (c == '|')
            c = '\0';
    filter.append(2, '\0');
    std::vector<char> file(32768, '\0');
    FileName.copy(file.data(), file.size() - 1);

    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = static_cast<DWORD>(FilterIndex);
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrInitialDir = InitialDir.empty() ? nullptr : InitialDir.c_str();
    ofn.lpstrDefExt = DefaultExt.empty() ? nullptr : DefaultExt.c_str();
    ofn.Flags = Options | OFN_EXPLORER | OFN_NOCHANGEDIR;
    BOOL ok = save ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn);
    if (!ok) {
        DWORD error = CommDlgExtendedError();
        if (error != 0)
            throw std::runtime_error(Format("The file dialog failed (error 0x%lx)", static_cast<unsigned long>(error)));
        return false;
    }
    FileName = file.data();
    FilterIndex = static_cast<int>(ofn.nFilterIndex);
    return true;
}
