// TLS on a mail connection after STARTTLS, with Windows' own TLS (Schannel, through
// SSPI). The server's certificate is not checked: the mail would otherwise go in the
// clear, which is worse than going encrypted to a server that cannot prove its name.
#pragma once

#ifndef SECURITY_WIN32
#define SECURITY_WIN32
#endif
#include <winsock2.h>
#include <security.h>
#include <schannel.h>

struct MailJob;

// Room for any TLS 1.2 record: 5 bytes of header, 16 KiB of data and at most 2 KiB that
// encryption adds.
const int TlsRecordSize = 5 + 16384 + 2048;

// The TLS session of one connection. in holds what was decrypted and not yet read, then
// what was received and not yet decrypted.
struct TlsChannel {
    bool up;                        // the handshake is done: everything goes through it
    bool held, contextHeld;         // credentials and context acquired, to be released
    CredHandle credentials;
    CtxtHandle context;
    SecPkgContext_StreamSizes sizes;
    int plain, sealed;              // the two parts of in
    char in[TlsRecordSize];
    char out[TlsRecordSize];        // one record being sent
};

// Loads the security library and takes its calls; false where it cannot be. Nothing
// else here may be called before it answered true.
bool LoadSecurityLibrary();

// Runs the client's TLS handshake on job->s within the command limit. False when it
// fails, the time is up or the alert is cancelled; what it acquired is released by
// EndTls in any case.
bool StartTls(MailJob *job);

// Sends length bytes encrypted, in records of at most the largest the session allows,
// each within the data block limit.
bool SendTls(MailJob *job, const char *data, int length);

// Takes at most room decrypted bytes into at, waiting for a whole record until ms have
// passed since start. The count taken; 0 or less when none came in time, the server
// closed, a record is no TLS or the alert is cancelled.
int ReceiveTls(MailJob *job, char *at, int room, DWORD start, DWORD ms);

// Tells the server the session ends (close_notify) when it is up, and releases the
// session.
void EndTls(MailJob *job);
