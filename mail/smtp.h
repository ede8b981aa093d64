// The SMTP alert mailer: one plain connection to port 25 of the mail server per
// recipient, each carrying the fixed exchange that delivers the alert text. It runs on a
// worker thread of its own, keeps what went wrong in a list of its own, and tells the
// window that asked for the alert to look at it.
#pragma once

#include <windows.h>
#include <cstddef>

// How long each wait on the mail server may last, in milliseconds. The replies may take
// as long as RFC 5321 (section 4.5.3.2) gives a server, so that a slow server still gets
// the alert; the window is not held meanwhile. A connect keeps a shorter bound.
struct MailTimeLimits {
    DWORD connect;
    DWORD greeting;         // the server's first reply
    DWORD command;          // the replies to HELO, mail from and rcpt to
    DWORD dataStart;        // the reply to data
    DWORD dataBlock;        // each send
    DWORD dataEnd;          // the reply after the final '.'
    DWORD quit;             // the reply to quit: the mail has been handed over by then
};
const MailTimeLimits RfcMailTimeLimits = {15000, 300000, 300000, 120000, 180000, 600000, 60000};

// The limits an alert is handed over with; tests shorten them.
extern MailTimeLimits MailLimits;

// A recipient is kept in 257 bytes: RFC 5321 allows a path of 256 characters.
const size_t RecipientSize = 257;

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

// Takes the next recipient from the list at *cursor into recipient (size bytes) and moves
// *cursor past it. A ';' or the end of the text ends a recipient; CR, LF and spaces are
// dropped wherever they stand; every other byte is kept as it is. A recipient holding no
// character is passed over. One longer than size - 1 is given cut, with *whole false.
// False when the list holds no more.
bool NextRecipient(const char **cursor, char *recipient, size_t size, bool *whole);

// Whether a list holds a recipient at all; one of blanks and separators holds none.
bool HoldsRecipient(const char *list);

// Writes text into out as a mail body: every line end (CR LF, a bare LF or a bare CR)
// becomes CR LF, and a '.' that starts a line is doubled, so that the recipient reads
// the text as it was. False when out is too small: out then holds what fits, never half
// a line end or half a doubled dot.
bool EncodeMailBody(char *out, size_t size, const char *text);

// Copies text into out with every CR and LF left out, cut to fit; none gives "".
void CopyWithoutLineBreaks(char *out, size_t size, const char *text);

// The three-digit code of one reply line (length bytes, its line end included), with
// *last telling whether the line ends the reply: "250 ok" and "250" do, "250-ok" does
// not. -1 for a line that is no reply line.
int ReplyLineCode(const char *line, size_t length, bool *last);

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

// A report names the failure and the recipients it concerns, cut to fit this size.
const size_t MailReportSize = 2048;

// Takes the oldest report into text (size bytes) for a box; the report taken before it
// counts as answered. A report that repeats one open or waiting is never added, so a
// failure that recurs at every check waits once. False when none waits.
bool NextMailReport(char *text, size_t size);
