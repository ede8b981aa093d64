// Sharp at any display scale: the process's DPI awareness, and the window's icons at the
// sizes of the display the window is on.
#pragma once

#include <windows.h>

// Declares the process per-monitor aware (v2) where Windows has it, else system aware.
// Holds only for windows made after it: call it before the first window, message boxes
// included.
void DeclareDpiAwareness();

// Gives the dialog its small and big icons drawn at the sizes for its display's DPI, and
// frees the ones they replace.
void SetWindowIcons(HWND hDlg);
