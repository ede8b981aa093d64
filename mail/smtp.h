// The SMTP alert mailer: one connection to port 25 of the mail server per recipient, each
// carrying the exchange that delivers the alert text. It runs on a worker thread of its
// own, keeps what went wrong in a list of its own, and tells the window that asked for
// the alert to look at it.
#pragma once

#include "mail/exchange.h"
#include "mail/message.h"
#include "mail/reports.h"

#include <windows.h>

// The limits an alert is handed over with; tests shorten them.
extern MailTimeLimits MailLimits;

// One alert as the warning check hands it over. Every text is copied before SendEmail
// returns; a none counts as an empty text.
struct MailRequest {
    const char *server;         // a plain dotted address, or a name looked up at send time
    const char *sender;         // none, or blanks only, sends the null sender
    const char *hostName;       // named in the subject
    const char *recipients;     // the list as typed: ';' ends a recipient
    const char *alert;          // the body
    HWND reportTo;              // posted reportMessage when a failure waits to be shown
    UINT reportMessage;
};

// Hands a private copy of the request to a worker that delivers the alert to every
// recipient in list order, and returns at once. A server that cannot be reached or stops
// answering ends the alert: the recipients not reached are named in one report. A
// refusal is reported for its recipient, and the next is still tried. At most one alert
// is in flight: false, and nothing sent, while the previous one is still delivered.
bool SendEmail(const MailRequest &request);

// Whether an alert handed over is still being delivered.
bool MailInFlight();

// Ends the alert in flight: its connection is closed within a quarter of a second, no
// further recipient is tried, and none of its reports is shown. The next alert may be
// handed over at once.
void CancelMail();
