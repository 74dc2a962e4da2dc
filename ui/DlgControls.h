// Controls of the dialogs beyond the frame's buttons: labels sized to their text,
// clickable labels with the hand cursor, coloured static controls, report lists.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "TraceColumns.h"

#include <initializer_list>
#include <span>

// Resizes a static control to the extent of its text in its own font.
void AutoSizeLabel(HWND label);

// The answer to WM_SETCURSOR (under: its wParam) over a label that takes clicks: the
// hand cursor. False when under is none of the labels.
bool HandCursorOver(HWND under, std::initializer_list<HWND> labels, LRESULT& result);

// The answer to WM_CTLCOLORSTATIC: text and background colour set on dc, brush returned.
LRESULT StaticColors(WPARAM dc, COLORREF text, COLORREF back, HBRUSH brush);

// Answers a tooltip's TTN_GETDISPINFOA or TTN_GETDISPINFOW with text.
void SetToolTipText(NMHDR& header, const char* text);

struct TReportColumn {
    const char* Caption;
    int Width;
    int Format = LVCFMT_LEFT;
};
// Appends the columns to a report list view.
void AddReportColumns(HWND list, std::initializer_list<TReportColumn> columns);
// Appends the columns of a column table: an optional one without room (see TColumn), one
// of width -1 as wide as rest.
void AddTableColumns(HWND list, std::span<const TColumn> columns, int rest = 0);
