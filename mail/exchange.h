// One recipient's exchange with the mail server: the connection within its time limits,
// the replies read whole, and the commands that deliver the alert.
#pragma once

#include "mail/message.h"
#include "mail/reports.h"
#include "mail/tls.h"

#include <winsock2.h>
#include <cstddef>

// How long each wait on the mail server may last, in milliseconds. The replies may take
// as long as RFC 5321 (section 4.5.3.2) gives a server, so that a slow server still gets
// the alert; the window is not held meanwhile. A connect keeps a shorter bound.
struct MailTimeLimits {
    DWORD connect;
    DWORD greeting;         // the server's first reply
    DWORD command;          // the replies to EHLO (and HELO), MAIL and RCPT
    DWORD dataStart;        // the reply to DATA
    DWORD dataBlock;        // each send
    DWORD dataEnd;          // the reply after the final '.'
    DWORD quit;             // the reply to QUIT: the mail has been handed over by then
};
const MailTimeLimits RfcMailTimeLimits = {15000, 300000, 300000, 120000, 180000, 600000, 60000};

// The three-digit code of one reply line (length bytes, its line end included), with
// *last telling whether the line ends the reply: "250 ok" and "250" do, "250-ok" does
// not. -1 for a line that is no reply line.
int ReplyLineCode(const char *line, size_t length, bool *last);

// RFC 5321 allows a reply line 512 bytes; twice that leaves room for lenient servers.
const int ReplyLineSize = 1024;

// One alert's delivery: a private copy of everything it needs, taken on the window's
// thread when the alert is handed over, and the worker's own connection. The worker
// owns it and frees it.
struct MailJob {
    LONG serial;                    // the alert's number: its reports, its cancellation
    HWND reportTo;
    UINT reportMessage;
    MailTimeLimits limits;
    char server[256];
    char sender[1024];              // as typed, without blanks or line breaks
    char reversePath[RecipientSize + 2];    // the sender in its brackets, "<>" for none
    char date[40];                  // when the alert was handed over
    char subject[320];              // room for 63 bytes of a name outside ASCII, encoded
    char body[MailBodySize];
    char *recipients;               // the list, a copy of its own
    char forwardPath[RecipientSize + 2];    // the current recipient in its brackets
    char messageId[300];            // of the current recipient's copy, once named
    char message[MailMessageSize];  // that copy, as DATA sends it
    SOCKET s;                       // the current connection
    char greeting[256];             // the name this side gives on it
    bool offersTls;                 // the last reply offered STARTTLS
    char buf[2 * ReplyLineSize];    // received and not yet read: at most one line and what follows
    int len;
    int code;                       // of the last whole reply, taken from its last line
    char quoted[ReplyLineSize];     // the first line of the reply that carries that code
    char tlsFailure[ReplyLineSize + 32];    // why TLS failed with the current recipient
    TlsChannel tls;
};

// Keeps text as a report of the job's alert, a failure of kind for recipient, and tells
// its window to look.
void Report(const MailJob *job, MailFailure kind, const char *recipient, const char *text);

// The failures a connection attempt reports most.
extern const char CannotStart[];
extern const char CannotConnect[];

// Starts the socket library and connects job->s to port of server. On failure *failure
// names it, and nothing is held any more.
bool ConnectToHost(MailJob *job, int port, in_addr server, const char **failure);

// Ends TLS on job->s when it was started, closes job->s and undoes the socket library
// start of its attempt.
void CloseConnection(MailJob *job);

// Hands length bytes to job->s as they are, within the data block limit.
bool SendBytes(const MailJob *job, const char *bytes, int length);

// Receives at most room bytes into at as soon as job->s has any, waiting until ms have
// passed since start. The count received; 0 or less when none came in time, the server
// closed, or the alert is cancelled.
int ReceiveBytes(MailJob *job, char *at, int room, DWORD start, DWORD ms);

// The exchange for one recipient on the open connection; each command waits for the
// whole reply to the one before. EHLO refused with 5xx is followed by HELO. Where EHLO's
// reply offers STARTTLS, the rest goes through TLS; when STARTTLS is refused or the
// handshake fails, job->tlsFailure says so and the exchange ends: with it set, TLS is
// not asked for, and a refusal names it. A refusal (4xx or 5xx) of the greeting, MAIL,
// RCPT, DATA or the message ends the exchange with QUIT and is reported. False when the
// server broke off before it took the mail (a reply that does not come whole in time, a
// hang-up), which is left to the caller to tell: the server cannot be trusted to answer
// the next recipient either.
bool RunMailExchange(MailJob *job, const char *recipient);
