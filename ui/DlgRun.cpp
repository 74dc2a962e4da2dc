#include "DlgRun.h"

#include "Application.h"
#include "DlgControls.h"
#include "Errors.h"

#include <commctrl.h>

namespace {

std::string TrimmedText(HWND edit)
{
    std::string text = WindowText(edit);
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

} // namespace

void CheckStartFolder(const std::string& folder)
{
    if (folder.empty())
        return;
    DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        throw std::runtime_error("The folder to start in does not exist: " + folder);
}

TRunDlg::TRunDlg(TFileDialog& odg) : FOpenDialog(odg)
{
    Caption = "Run";
    ClientHeight = 153;
}

void TRunDlg::FormCreate()
{
    Bevel1.SetBounds(8, 8, 385, 105);
    SetControlBounds(btnOK, 240, 120, 75, 25);
    SetControlBounds(btnCancel, 318, 120, 75, 25);
    const DWORD edit = ES_AUTOHSCROLL | WS_TABSTOP;
    // Each label comes just before its box: its access key moves the focus there.
    lblProgram = CreateControl("STATIC", "&Program:", SS_LEFT, 20, 24, 64, 13);
    edtProgram = CreateControl("EDIT", "", edit, 92, 20, 212, 21, 0, WS_EX_CLIENTEDGE);
    btnBrowse = CreateControl("BUTTON", "&Browse...", BS_PUSHBUTTON | WS_TABSTOP, 310, 19, 75, 23);
    lblArguments = CreateControl("STATIC", "&Arguments:", SS_LEFT, 20, 54, 64, 13);
    edtArguments = CreateControl("EDIT", "", edit, 92, 50, 293, 21, 0, WS_EX_CLIENTEDGE);
    lblFolder = CreateControl("STATIC", "&Start in:", SS_LEFT, 20, 84, 64, 13);
    edtFolder = CreateControl("EDIT", "", edit, 92, 80, 293, 21, 0, WS_EX_CLIENTEDGE);
    for (HWND label : {lblProgram, lblArguments, lblFolder})
        AutoSizeLabel(label);
    // What an empty Start in means, shown in the box itself while it is empty.
    SendMessageW(edtFolder, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(L"the program's own folder"));
    // The frame's buttons were made first; Tab reaches them after the boxes.
    for (HWND button : {btnOK, btnCancel})
        SetWindowPos(button, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    UpdateOkButton();
    SetActiveControl(edtProgram);
}

std::string TRunDlg::FolderText() const
{
    std::string folder = TrimmedText(edtFolder);
    if (folder.empty())
        return folder;
    char full[MAX_PATH * 2] = {};
    DWORD n = GetFullPathNameA(folder.c_str(), sizeof(full), full, nullptr);
    return n > 0 && n < sizeof(full) ? std::string(full, n) : folder;
}

void TRunDlg::FormClose(int result)
{
    if (result != mrOk)
        return;
    Run.Program = TrimmedText(edtProgram);
    // A path copied from the desktop's "Copy as path" comes in quotes.
    if (Run.Program.size() >= 2 && Run.Program.front() == '"' && Run.Program.back() == '"')
        Run.Program = Run.Program.substr(1, Run.Program.size() - 2);
    Run.Arguments = WindowText(edtArguments);
    Run.Folder = FolderText();
}

void TRunDlg::UpdateOkButton() { EnableWindow(btnOK, !TrimmedText(edtProgram).empty()); }

void TRunDlg::btnBrowseClick()
{
    if (!FOpenDialog.Execute(Handle, false))
        return;
    SetWindowTextA(edtProgram, FOpenDialog.FileName.c_str());
    // A long path shows its end, the program's name, with the caret after it.
    SendMessageA(edtProgram, EM_SETSEL, FOpenDialog.FileName.size(), FOpenDialog.FileName.size());
    SendMessageA(edtProgram, EM_SCROLLCARET, 0, 0);
}

bool TRunDlg::OnCommand(int id, int code, HWND control)
{
    if (control && control == btnBrowse && code == BN_CLICKED) {
        btnBrowseClick();
        return true;
    }
    if (control && control == edtProgram && code == EN_CHANGE) {
        UpdateOkButton();
        return false;
    }
    if (id != IDOK)
        return false;
    // Enter sends OK even while the button is disabled.
    if (TrimmedText(edtProgram).empty())
        return true;
    try {
        CheckStartFolder(FolderText());
    } catch (const std::exception& e) {
        MessageBoxA(Handle, ExceptionText(e).c_str(), Application().Title.c_str(), MB_OK | MB_ICONERROR);
        PostMessageA(Handle, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(edtFolder), TRUE);
        return true;
    }
    return false;
}
