// TRunDlg ("Run"): the program to run, with Browse... (the main window's open dialog),
// its arguments and the folder it starts in. The Program box has the focus and Enter is
// OK, so a path typed and Enter runs it; OK stays disabled while the box is empty, and a
// folder that does not exist is refused with the dialog left open.
#pragma once

#include "DlgTemplate.h"
#include "FileDialogs.h"
#include "Settings.h"

#include <windows.h>

#include <string>

// Raises "The folder to start in does not exist: FOLDER" unless folder is empty or an
// existing folder.
void CheckStartFolder(const std::string& folder);

class TRunDlg : public TTemplateDlg {
public:
    // odg: the open dialog behind Browse..., which keeps its folder between uses.
    explicit TRunDlg(TFileDialog& odg);

    // After OK: what to run. The program without blanks or quotes around it, the
    // arguments as typed, the folder as a full path (or empty).
    TRunEntry Run;

    HWND lblProgram = nullptr;
    HWND edtProgram = nullptr;
    HWND btnBrowse = nullptr;
    HWND lblArguments = nullptr;
    HWND edtArguments = nullptr;
    HWND lblFolder = nullptr;
    HWND edtFolder = nullptr;

protected:
    void FormCreate() override;
    void FormClose(int result) override;
    bool OnCommand(int id, int code, HWND control) override;

private:
    void btnBrowseClick();
    // OK while the Program box holds something.
    void UpdateOkButton();
    // The folder box's text as a full path, or empty.
    std::string FolderText() const;

    TFileDialog& FOpenDialog;
};
