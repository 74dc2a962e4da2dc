// IML: the program's ten 16 x 16 images, drawn by the program itself.
#pragma once

#include "Handles.h"

#include <windows.h>
#include <commctrl.h>

// Indices into the list.
enum TImageIndex {
    imgRun = 0,
    imgAttach = 1,
    imgStop = 2,
    imgClear = 3,
    imgSave = 4,
    imgTraceEnable = 5,
    imgNew = 6,
    imgDelete = 7,
    imgColorize = 8,
    imgEdit = 9,
    ImageCount = 10
};

struct TDestroyImageList {
    void operator()(HIMAGELIST list) const { ::ImageList_Destroy(list); }
};
using TUniqueImageList = TUniqueAny<HIMAGELIST, TDestroyImageList, nullptr>;

// A new 32-bit image list with alpha holding the ten images.
TUniqueImageList CreateActionImages();

// A 32-bit top-down DIB section of width x height pixels for dc, its pixels at *bits.
HBITMAP CreateTopDownDib(HDC dc, int width, int height, void** bits);
