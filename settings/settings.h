// The settings store: the one place that reads and writes the registry.
#pragma once

#include <windows.h>

// Reads the stored settings and the two start-up flags into the Monitor state; runs once
// at start-up, before the dialog exists, and tells the user of a missing number.
void LoadSettings();

// Writes the dialog's entries, the level its box shows and the unit in force to the
// store, leaving those entries in force.
void SaveSettings();

// The level as "Warning" holds it: hundredths of a percent cut toward zero, the low 32
// bits of a 64-bit count; 0 for a level that is not a number or beyond 64 bits.
DWORD EncodeWarning(float level);
