// The SMTP alert mailer: one plain connection to port 25 of the mail server per
// recipient, each carrying the fixed exchange that delivers the alert text. It runs on a
// worker thread of its own and reports what went wrong to the dialog, which shows it.
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

// A recipient is kept in 100 bytes: at most 99 characters and a terminator.
const size_t RecipientSize = 100;

// Takes the next recipient from the list at *cursor into recipient (size bytes) and moves
// *cursor past it. A ';' or the end of the text ends a recipient; CR, LF and spaces are
// dropped wherever they stand; every other byte is kept as it is. A recipient holding no
// character, or more than size - 1, is passed over. False when the list holds no more.
bool NextRecipient(const char **cursor, char *recipient, size_t size);

// Writes text into out as a mail body: every line end (CR LF, a bare LF or a bare CR)
// becomes CR LF, and a '.' that starts a line is doubled, so that the recipient reads
// the text as it was. False when out is too small: out then holds what fits, never half
// a line end or half a doubled dot.
bool EncodeMailBody(char *out, size_t size, const char *text);

// Copies text into out with every CR and LF left out, cut to fit; none gives "".
void CopyWithoutLineBreaks(char *out, size_t size, const char *text);

// The length of the whole server reply at the start of data (length bytes): every line
// up to and including the last, the one whose code is followed by a space or ends the
// line. 0 while it is not complete; -1 when a line is no reply line (three digits first).
int ReplyLength(const char *data, size_t length);

// Hands a private copy of the alert and of the mail settings in force to a worker that
// delivers it to every recipient of EmailAddress through EmailServer, and returns at
// once. Each failure is posted to the dialog as WM_MAILRESULT with the box text. At most
// one alert is in flight: false, and nothing sent, while the previous one is delivered.
bool SendEmail(const char *alert);

// Whether an alert handed over is still being delivered.
bool MailInFlight();
