// The warning check after each sample, and the alert it raises.
#pragma once

#include <windows.h>
#include <cstddef>

// Builds the alert text; timeText is the asctime form, line break included.
void BuildAlertText(char *out, size_t size, const char *drive, float level, const char *timeText,
                    ULONGLONG diskFree, double percent);

// Starts a command line as a new process and returns at once, unless the process it
// started last still runs; a command that cannot start is ignored.
void RunCommand(const char *commandLine);

void CheckWarning();
