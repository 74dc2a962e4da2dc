// The colours of the trace list: alternating backgrounds, the colour rules and the
// selection, and the custom drawing that paints every cell of lvwTrace in them.
#pragma once

#include "ColorInfos.h"
#include "Forms.h"
#include "RowExport.h"
#include "TraceFilter.h"
#include "TraceList.h"

#include <string_view>

#include <windows.h>
#include <commctrl.h>

struct TRowColors {
    TColor Text;
    TColor Back;
};

// The background of unmatched even rows (0, 2, ...): a pale green.
constexpr TColor clEvenRow = 0x00E8FFF8;

// The colours of row rowIndex of the trace list: the selection colours for a selected
// row; otherwise those of the first rule whose search string occurs in the caption or a
// sub-item, or black on the alternating background. Rows and search strings are UTF-8, so
// a byte-wise search finds whole characters only.
TRowColors GetRowColors(const TColorInfos& rules, const TListRow& row, int rowIndex, bool selected);
// The same for a stored row, read in place, shown at shownIndex (which alternates the
// background).
TRowColors GetRowColors(const TColorInfos& rules, const TTraceRows& rows, int row, int shownIndex, bool selected);

// Fills rect with the background and draws text on one line (line breaks are not
// honoured), vertically centred, aligned by align (DT_LEFT, DT_CENTER or DT_RIGHT),
// inside rect narrowed by inset pixels on the left and on the right, cut with an ellipsis
// where it is too long. The text is UTF-8.
void PaintCell(HDC dc, RECT rect, const TRowColors& colors, std::string_view text, UINT align, int inset);

// Paints stored row rowIndex over rowRect (its bounds in the list) in its colours: column
// 0 over the whole row, each other column over its own cell, the text on one line and
// aligned as the column is, in the columns and font that paint read at the start of the
// paint.
void PaintTraceRow(HDC dc, const RECT& rowRect, TraceListView::TPaintState& paint, const TTraceRows& rows, int rowIndex,
                   const TRowColors& colors);

// The answer to lvwTrace's NM_CUSTOMDRAW: every cell of every item is painted by
// PaintTraceRow in the colours of GetRowColors; the list view's own drawing of the items
// is suppressed. The list's columns, font, row geometry and selected row are read once at
// the start of each paint (into the list's TraceListView::TPaintState), not for every row
// or cell: under Wine every message to the list costs tens of microseconds, and a paint
// has some eighty cells. The list double buffers (LVS_EX_DOUBLEBUFFER): the DC it hands
// over is already a memory DC, so a buffer of our own would only add a copy.
LRESULT TraceListCustomDraw(const NMLVCUSTOMDRAW& draw, const TColorInfos& rules, const TTraceFilter& shown);
