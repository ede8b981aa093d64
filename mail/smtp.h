// The SMTP alert mailer: one plain connection to port 25 of the mail server per
// recipient, each carrying the fixed exchange that delivers the alert text.
#pragma once

#include <windows.h>
#include <cstddef>

// How long one wait on the mail server may last: the connect, and each send and reply.
// A server that stalls costs at most this per step, and the dialog answers again after.
const DWORD MailWaitLimitMs = 15000;

// The limit in use; tests shorten it so that a stalled server costs a second, not 15.
extern DWORD MailWaitMs;

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

// Sends the alert text to every recipient of EmailAddress through EmailServer.
void SendEmail(const char *alert);

// Starts the socket library and connects Monitor.s to port of server. False after a
// failure that has been shown in a box and of which nothing is held any more.
bool ConnectToHost(int port, const char *server);

// Closes Monitor.s and undoes the socket library start of its attempt.
void CloseConnection();

// Sends text without its terminator on Monitor.s, once. False only when the wait for the
// server ran out; any other failure goes unnoticed.
bool send_socket(const char *text);

// Reads one reply of at most 512 bytes into Monitor.buf, its count into Monitor.len.
// False only when the wait for the server ran out.
bool read_socket();
