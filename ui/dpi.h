// Sharp at any display scale: the process's DPI awareness.
#pragma once

#include <windows.h>

// Declares the process per-monitor aware (v2) where Windows has it, else system aware.
// Holds only for windows made after it: call it before the first window, message boxes
// included.
void DeclareDpiAwareness();

