// Labels of the dialogs: static texts sized to their text, as the dialogs lay them out
// by their top-left corner only.
#pragma once

#include <windows.h>

// Resizes a static control to the extent of its text in its own font.
void AutoSizeLabel(HWND label);
