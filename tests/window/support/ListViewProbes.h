// Reading report-style list views across threads through their messages, as a screen
// reader would: rows, texts, headers, the selection and the cells' rectangles.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

int ListRowCount(HWND list);
// A cell's text through LVM_GETITEMTEXTA (in the system code page).
std::string ListText(HWND list, int row, int column);
// A cell's text through LVM_GETITEMTEXTW, as UTF-8: what the list shows, whatever the
// code page.
std::string ListTextUtf8(HWND list, int row, int column);
// The column captions of a report list, each followed by ";", and their widths.
std::string ListHeaders(HWND list, std::vector<int>* widths = nullptr);
// Selects one row (or none for -1) as a click would, with the notifications it sends.
void SelectListRow(HWND list, int row);
int ListSelectedRow(HWND list);

// The row whose caption is the process id, or -1.
int RowOfProcess(HWND list, DWORD processId);

// The sub-item rectangle of a report list (column 0: the whole item).
RECT ListCellRect(HWND list, int row, int column);
