// The alerts handed to the mailer, which of them are cancelled, and the reports they
// leave for the window. Any thread may call these.
#pragma once

#include <windows.h>
#include <cstddef>

// A report names the failure and the recipients it concerns, cut to fit this size.
const size_t MailReportSize = 2048;

// Numbers a new alert; its reports and its cancellation go by this number.
LONG NumberNewAlert();

// Cancels every alert numbered so far and drops their waiting reports.
void CancelAlerts();

// Whether the alert numbered serial was cancelled.
bool AlertCancelled(LONG serial);

// Keeps text for the window unless the alert was cancelled or the same text is open or
// waiting already, and then posts message to window (none: nobody is told to look).
void KeepReport(LONG serial, const char *text, HWND window, UINT message);

// Takes the oldest report into text (size bytes) for a box; the report taken before it
// counts as answered. A report that repeats one open or waiting is never added, so a
// failure that recurs at every check waits once. False when none waits.
bool NextMailReport(char *text, size_t size);
