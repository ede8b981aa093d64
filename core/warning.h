// The warning check after each sample, and the alert it raises.
#pragma once

#include <windows.h>
#include <cstddef>

// Builds the alert text; timeText is the asctime form, line break included.
void BuildAlertText(char *out, size_t size, const char *drive, float level, const char *timeText,
                    ULONGLONG diskFree, double percent);

// Starts a command line as a new process and returns at once, unless the process it
// started last still runs. False, with Windows' reason in GetLastError, when it cannot
// start.
bool RunCommand(const char *commandLine);

// Whether alerts go by mail: a recipient list in force that holds a recipient. Otherwise
// they are shown on screen.
bool AlertsByMail();

// Tells that the drive in force cannot be read, once until a sample reads it again: an
// "Error" box naming the drive and Windows' reason, mailed too when alerts go by mail.
void CheckDrive();

// Forgets which failures were told: after a Start the next of each is told again.
void ForgetFailuresTold();

// The check after each sample: tells a drive that cannot be read; with the free
// percentage below a level above 0, runs the command and raises the alert, by mail or in
// a box, and tells a command that cannot start as the drive is told. A failure's mail
// that found the mailer busy goes first, at the next check that finds it free.
void CheckWarning();
