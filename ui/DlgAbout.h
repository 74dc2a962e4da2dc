// TAboutDlg: the program's name, version and contact links on a borderless white box.
#pragma once

#include "DlgTemplate.h"
#include "Forms.h"

#include <windows.h>

#include <functional>
#include <string>

class TAboutDlg : public TTemplateDlg {
public:
    TAboutDlg();

    // How a link is opened; the shell's open operation unless replaced (tests record it).
    std::function<void(HWND owner, const std::string& target)> ShellOpen;

    HWND Label1 = nullptr;
    HWND Label2 = nullptr;
    HWND lblVersion = nullptr;
    HWND Label4 = nullptr;
    HWND Label5 = nullptr;
    HWND LBLHTTP2 = nullptr;
    HWND lblEMAIL = nullptr;
    HWND Label8 = nullptr;
    HWND lblHTTP1 = nullptr;
    HWND Label3 = nullptr;

protected:
    void FormCreate() override;
    void FormPaint(HDC dc) override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    // The click of every link: opens its caption, an address with "@" as "mailto:".
    void lblEMAILClick(HWND label);
    bool IsLink(HWND control) const;

    TUniqueFont FNameFont;
    TUniqueFont FStripFont;
    TUniqueFont FLinkFont;
    TUniqueBrush FStripBrush;
};

// The shell's open operation on target, shown normally; the outcome is not checked.
void ShellOpenDefault(HWND owner, const std::string& target);
