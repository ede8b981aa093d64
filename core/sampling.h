// One sample of the watched drive, its marks, and the texts shown for them.
#pragma once

#include <windows.h>
#include <cstddef>

// Bytes to GB (2^30 bytes), by way of single precision.
float BytesToGB(ULONGLONG bytes);

// Free bytes as a percentage of total bytes; not a number when total is 0.
double PercentFree(ULONGLONG freeBytes, ULONGLONG totalBytes);

// "%.2f GB" for a current value (blank true) or "%.2fGB" for a mark; always the whole
// number, however large.
void FormatGB(char *out, size_t size, float gb, bool blank);

// "%.2f%%", or "n/a" for a percentage that is not a number.
void FormatPercent(char *out, size_t size, double percent);

// Moves the four marks for a sample of freeGB and percent.
void UpdateMarks(float freeGB, double percent);

// The text for a text in force that may be none.
const char *TextOrNone(const char *text);

// Builds the active tooltip into TrayText from DiskToMonitor and the figures, or, while
// the drive cannot be read, one that says so; copies it into the tray record's tip and
// pushes it to the tray.
void UpdateTrayTip();

// Asks the platform for the drive's byte counts into the Monitor state. False, and the
// counts left as they were, when the drive cannot be queried.
bool QueryDiskSpace();

// One sample of the drive at pszDrive: the byte counts, the free percentage, the marks,
// the seven boxes and the tooltip. A drive that cannot be read sets DiskError and shows
// "n/a" with no figures; the marks stay.
void GetCurrentDiskUsage();

// Shows the four marks in their boxes.
void DisplayHighLow();

// Sets the four marks to 0, unset, and shows them.
void ResetMarks();
