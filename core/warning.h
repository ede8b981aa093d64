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

// Whether alerts go by mail: a recipient list in force that holds a recipient. Otherwise
// they are shown on screen.
bool AlertsByMail();

// The check after each sample: with the free percentage below a level above 0, runs the
// command and raises the alert, by mail or in a box.
void CheckWarning();
