// The SMTP alert mailer: the worker that takes an alert to every recipient in turn, one
// connection each, and tells what kept it from any of them.
#include "mail/smtp.h"

#include "mail/server.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

MailTimeLimits MailLimits = RfcMailTimeLimits;

static void FreeMailJob(MailJob *job)
{
    free(job->recipients);
    free(job);
}

// Reports failure, of kind, followed by every recipient the alert did not reach:
// recipient and those after it in the list at cursor.
static void ReportNotReached(const MailJob *job, MailFailure kind, const char *failure, const char *recipient,
                             const char *cursor)
{
    char text[MailReportSize];
    int used = snprintf(text, sizeof text, "%s\n\nThe alert did not reach: %s", failure, recipient);
    char next[RecipientSize];
    bool whole;
    while (used > 0 && static_cast<size_t>(used) < sizeof text && NextRecipient(&cursor, next, sizeof next, &whole))
        used += snprintf(text + used, sizeof text - used, "; %s", next);
    Report(job, kind, recipient, text);
}

// The worker: one connection per recipient, one after the other, in list order, until
// the list ends, the server fails the alert or the alert is cancelled.
static DWORD WINAPI DeliverAlert(void *parameter)
{
    MailJob *job = static_cast<MailJob *>(parameter);
    // A name is looked up here, at send time: at sign-in the look-up at Start often
    // comes before the network is up.
    in_addr server;
    bool found = FindServerAddress(job->server, &server);
    const char *cursor = job->recipients;
    char recipient[RecipientSize];
    bool whole;
    while (!AlertCancelled(job->serial) && NextRecipient(&cursor, recipient, sizeof recipient, &whole)) {
        char text[MailReportSize];
        // An address no path can hold (too long, or outside ASCII) is not sent; when it is
        // the sender's, nobody is mailed.
        bool senderFits = job->reversePath[0] != '\0';
        if (!senderFits || !whole || !BracketAddress(job->forwardPath, sizeof job->forwardPath, recipient)) {
            const char *address = senderFits ? recipient : job->sender;
            bool longer = senderFits ? !whole : strlen(address) >= RecipientSize;
            snprintf(text, sizeof text, "The alert was not sent %s an address %s: %.256s%s", senderFits ? "to" : "from",
                     longer ? "longer than 256 characters" : "with characters outside ASCII", address,
                     longer ? "..." : "");
            if (!senderFits) {
                ReportNotReached(job, FailedMail, text, recipient, cursor);
                break;
            }
            Report(job, FailedRcpt, recipient, text);
            continue;
        }
        job->messageId[0] = '\0';
        const char *failure = CannotConnect;
        bool connected, answered, plain;
        // Where TLS fails, once more in the clear on a connection of its own: the mail
        // arrives unencrypted rather than not at all. The server's TLS is not tried again
        // for the rest of the alert: a handshake that stalls costs one wait per alert.
        do {
            plain = job->tlsFailure[0] != '\0';
            connected = found && ConnectToHost(job, 25, server, &failure);
            answered = connected && RunMailExchange(job, recipient);
            if (connected)
                CloseConnection(job);
        } while (answered && !plain && job->tlsFailure[0] && !AlertCancelled(job->serial));
        if (!connected) {
            ReportNotReached(job, FailedConnect, failure, recipient, cursor);
            break;
        }
        if (!answered) {
            snprintf(text, sizeof text, "Mail server stopped answering before the alert reached %s", recipient);
            ReportNotReached(job, FailedAnswer, text, recipient, cursor);
            break;
        }
    }
    FreeMailJob(job);
    return 0;
}

// The private copy of the request; none when out of memory.
static MailJob *CopyOfRequest(const MailRequest &request)
{
    const char *list = request.recipients ? request.recipients : "";
    size_t listSize = strlen(list) + 1;
    MailJob *job = static_cast<MailJob *>(calloc(1, sizeof(MailJob)));
    char *recipients = static_cast<char *>(malloc(listSize));
    if (!job || !recipients) {
        free(job);
        free(recipients);
        return nullptr;
    }
    memcpy(recipients, list, listSize);
    job->recipients = recipients;
    job->reportTo = request.reportTo;
    job->reportMessage = request.reportMessage;
    job->limits = MailLimits;
    // A server text too long for any name names no server, rather than another name cut
    // to fit.
    const char *server = request.server ? request.server : "";
    if (strlen(server) < sizeof job->server)
        strcpy(job->server, server);
    // No configured text may bring its own line end: it would start a command of its own.
    // Neither an address nor a computer's name holds a blank.
    CopyVisible(job->sender, sizeof job->sender, request.sender);
    // With no sender, the null sender: MAIL FROM with nothing after it is refused by
    // every server. A sender that is no path leaves none at all, and nobody is mailed.
    BracketAddress(job->reversePath, sizeof job->reversePath, job->sender);
    FormatMailDate(job->date, sizeof job->date);
    char hostName[64];
    CopyVisible(hostName, sizeof hostName, request.hostName);
    ComposeSubject(job->subject, sizeof job->subject, hostName);
    // Twice the alert's field and more: every byte of it could double on the wire. A
    // longer text goes out cut, still a well-formed body.
    EncodeMailBody(job->body, sizeof job->body, request.alert);
    return job;
}

// The worker of the alert in flight; used on the window's thread only.
static HANDLE MailWorker;

bool MailInFlight()
{
    return MailWorker && WaitForSingleObject(MailWorker, 0) == WAIT_TIMEOUT;
}

// Lets go of the worker's handle; a worker still running ends by itself.
static void ForgetMailWorker()
{
    if (MailWorker)
        CloseHandle(MailWorker);
    MailWorker = nullptr;
}

void CancelMail()
{
    CancelAlerts(MailInFlight());
    // Within a slice of its wait the worker sees it and lets go; nothing waits for it.
    ForgetMailWorker();
}

bool SendEmail(const MailRequest &request)
{
    if (MailInFlight())
        return false;
    ForgetMailWorker();
    MailJob *job = CopyOfRequest(request);
    if (!job)
        return false;   // out of memory: silent, like a failure once connected
    job->serial = NumberNewAlert();
    // Nothing waits for the worker: when the program ends, it ends with it.
    if (LoadSocketLibrary())
        MailWorker = CreateThread(nullptr, 0, DeliverAlert, job, 0, nullptr);
    if (!MailWorker) {
        Report(job, FailedConnect, "", CannotStart);
        FreeMailJob(job);
        return false;
    }
    return true;
}
