// The alerts handed to the mailer, which of them are cancelled, and the reports they
// leave for the window. Any thread may call these.
#pragma once

#include <windows.h>
#include <cstddef>

// A report names the failure and the recipients it concerns, cut to fit this size.
const size_t MailReportSize = 2048;

// Numbers a new alert; its reports and its cancellation go by this number.
LONG NumberNewAlert();

// The step of a delivery that failed; with the recipient a report names first, it
// bounds the reports waiting.
enum MailFailure { FailedConnect, FailedGreeting, FailedMail, FailedRcpt, FailedData, FailedDataEnd,
                   FailedAnswer, FailedTls };

// Cancels every alert numbered so far. With endsLast, the last one was still being
// delivered, and its waiting reports are dropped; those of alerts that ended stay.
void CancelAlerts(bool endsLast);

// Whether the alert numbered serial was cancelled.
bool AlertCancelled(LONG serial);

// Keeps text, a failure of kind for recipient, for the window, and then posts message to
// window (none: nobody is told to look). Nothing is kept for a cancelled alert, or when
// the same text is open or waiting already. At most one report waits for each recipient
// and kind: a later one replaces its text, so a server that words each refusal anew
// cannot make more.
void KeepReport(LONG serial, MailFailure kind, const char *recipient, const char *text, HWND window, UINT message);

// Takes the oldest report into text (size bytes) for a box; the report taken before it
// counts as answered. False when none waits.
bool NextMailReport(char *text, size_t size);
