// TSelColorsDlg ("Choose colors"): one colour rule's search string, text colour and
// background colour, with a preview.
#pragma once

#include "DlgTemplate.h"
#include "Forms.h"

#include <windows.h>

#include <string>

class TSelColorsDlg : public TTemplateDlg {
public:
    TSelColorsDlg();

    // Preset before ShowModal, read after OK. The search string is taken as typed: the
    // dialog accepts any text, the empty one included.
    std::string SearchString;
    TColor ForeColor = clBlack;
    TColor BackColor = clWhite;

    HWND Label1 = nullptr;
    HWND edt = nullptr;
    HWND Label2 = nullptr;
    HWND lblFore = nullptr;
    HWND Label4 = nullptr;
    HWND lblBack = nullptr;
    HWND lblSample = nullptr;

    // Shows the swatches' colours in the preview.
    void UpdateSample();

protected:
    void FormCreate() override;
    void FormClose(int result) override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    // Click on either swatch: the colour dialog preset to its colour.
    void lblForeClick(HWND swatch);
    TColor& SwatchColor(HWND swatch);
    HBRUSH SwatchBrush(HWND swatch);

    TUniqueFont FSampleFont;
    TUniqueBrush FForeBrush;
    TUniqueBrush FBackBrush;
    // The colour dialog's sixteen custom colours, kept while this dialog lives.
    COLORREF FCustomColors[16] = {};
};
