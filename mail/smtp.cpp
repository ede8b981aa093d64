// The SMTP alert mailer: the recipient list, the body on the wire, the replies, the
// worker that runs the fixed exchange for each recipient within its time limits, and the
// reports it leaves for the window.
#include "mail/smtp.h"

#include "mail/server.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

MailTimeLimits MailLimits = RfcMailTimeLimits;

bool NextRecipient(const char **cursor, char *recipient, size_t size, bool *whole)
{
    const char *p = *cursor;
    if (!p)
        return false;
    while (*p) {
        size_t length = 0;
        *whole = true;
        for (; *p && *p != ';'; p++) {
            if (*p == ' ' || *p == '\r' || *p == '\n')
                continue;
            if (length + 1 < size)
                recipient[length++] = *p;
            else
                *whole = false;
        }
        if (*p == ';')
            p++;
        // An empty recipient (";;", a leading ';') would only earn a refusal.
        if (length > 0) {
            recipient[length] = '\0';
            *cursor = p;
            return true;
        }
    }
    *cursor = p;
    return false;
}

bool HoldsRecipient(const char *list)
{
    char recipient[2];
    bool whole;
    return NextRecipient(&list, recipient, sizeof recipient, &whole);
}
bool EncodeMailBody(char *out, size_t size, const char *text)
{
    if (size == 0)
        return false;
    size_t used = 0;
    bool lineStart = true;
    for (const char *p = text ? text : ""; *p; p++) {
        const char *piece;
        size_t n;
        char single[1] = {*p};
        if (*p == '\r' || *p == '\n') {
            if (p[0] == '\r' && p[1] == '\n')
                p++;
            piece = "\r\n";
            n = 2;
        } else if (*p == '.' && lineStart) {
            piece = "..";
            n = 2;
        } else {
            piece = single;
            n = 1;
        }
        if (used + n >= size) {
            out[used] = '\0';
            return false;
        }
        memcpy(out + used, piece, n);
        used += n;
        lineStart = piece[0] == '\r';
    }
    out[used] = '\0';
    return true;
}

void CopyWithoutLineBreaks(char *out, size_t size, const char *text)
{
    if (size == 0)
        return;
    size_t used = 0;
    for (const char *p = text ? text : ""; *p && used + 1 < size; p++)
        if (*p != '\r' && *p != '\n')
            out[used++] = *p;
    out[used] = '\0';
}

static bool IsDigit(char c)
{
    return isdigit(static_cast<unsigned char>(c)) != 0;
}

int ReplyLineCode(const char *line, size_t length, bool *last)
{
    if (length < 4 || !IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2]))
        return -1;
    // "250-" says more lines follow; "250 ", "250\r\n" and "250\n" end the reply.
    *last = line[3] != '-';
    if (*last && line[3] != ' ' && line[3] != '\r' && line[3] != '\n')
        return -1;
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

// RFC 5321 allows a reply line 512 bytes; twice that leaves room for lenient servers.
const int ReplyLineSize = 1024;

// One alert's delivery: a private copy of everything it needs, taken on the window's
// thread when the alert is handed over, and the worker's own connection. The worker
// owns it and frees it.
struct MailJob {
    LONG serial;                    // tells the alert's reports apart from later ones
    HWND reportTo;
    UINT reportMessage;
    MailTimeLimits limits;
    char server[256];
    char sender[1024];
    char subject[100];
    char body[2048];
    char *recipients;               // the list, a copy of its own
    SOCKET s;                       // the current connection
    char buf[2 * ReplyLineSize];    // received and not yet read: at most one line and what follows
    int len;
    int code;                       // of the last whole reply, taken from its last line
    char quoted[ReplyLineSize];     // the first line of the reply that carries that code
};

// The alerts handed over so far, and the first one not cancelled: the workers of the
// others stop at their next look and report nothing more. Read and written by any thread.
static LONG volatile AlertsHandedOver;
static LONG volatile FirstLiveAlert;

static bool Cancelled(const MailJob *job)
{
    return job->serial < InterlockedCompareExchange(&FirstLiveAlert, 0, 0);
}

// The reports waiting for the window, oldest first, and the text of the one its box
// shows. The workers add to them and the window's thread takes from them, each under
// the lock; nothing else touches them.
struct MailReport {
    MailReport *next;
    LONG serial;
    char text[MailReportSize];
};
static SRWLOCK ReportsLock = SRWLOCK_INIT;
static MailReport *ReportsWaiting;
static char ReportShown[MailReportSize];

// Keeps text for the window unless the alert was cancelled or the same text is open or
// waiting already, and tells the window to look.
static void Report(const MailJob *job, const char *text)
{
    MailReport *report = static_cast<MailReport *>(calloc(1, sizeof(MailReport)));
    if (!report)
        return;     // out of memory: the failure goes untold
    report->serial = job->serial;
    snprintf(report->text, sizeof report->text, "%s", text);
    AcquireSRWLockExclusive(&ReportsLock);
    bool keep = !Cancelled(job) && strcmp(report->text, ReportShown) != 0;
    MailReport **end = &ReportsWaiting;
    for (; *end && keep; end = &(*end)->next)
        keep = strcmp((*end)->text, report->text) != 0;
    if (keep)
        *end = report;
    ReleaseSRWLockExclusive(&ReportsLock);
    if (!keep)
        free(report);
    else if (job->reportTo)
        // A window that is gone takes nothing; the report waits for nobody.
        PostMessageA(job->reportTo, job->reportMessage, 0, 0);
}

bool NextMailReport(char *text, size_t size)
{
    AcquireSRWLockExclusive(&ReportsLock);
    MailReport *report = ReportsWaiting;
    if (report)
        ReportsWaiting = report->next;
    snprintf(ReportShown, sizeof ReportShown, "%s", report ? report->text : "");
    ReleaseSRWLockExclusive(&ReportsLock);
    if (!report)
        return false;
    snprintf(text, size, "%s", report->text);
    free(report);
    return true;
}

// Forgets the waiting reports of cancelled alerts.
static void DropCancelledReports()
{
    AcquireSRWLockExclusive(&ReportsLock);
    LONG firstLive = InterlockedCompareExchange(&FirstLiveAlert, 0, 0);
    for (MailReport **at = &ReportsWaiting; *at;) {
        MailReport *report = *at;
        if (report->serial < firstLive) {
            *at = report->next;
            free(report);
        } else {
            at = &report->next;
        }
    }
    ReleaseSRWLockExclusive(&ReportsLock);
}

static void FreeMailJob(MailJob *job)
{
    free(job->recipients);
    free(job);
}

static timeval TimeLimit(DWORD ms)
{
    timeval limit;
    limit.tv_sec = static_cast<long>(ms / 1000);
    limit.tv_usec = static_cast<long>(ms % 1000 * 1000);
    return limit;
}

// A cancelled alert is seen within one slice of any wait.
const DWORD CancelSliceMs = 250;

// Waits at most ms for job->s to become readable, or, with connecting, for its connect to
// end: writable when it succeeded, in the exception set when it failed. False when the
// time is up, the alert is cancelled, or the connect failed.
static bool WaitForSocket(const MailJob *job, DWORD ms, bool connecting)
{
    DWORD start = GetTickCount();
    for (;;) {
        DWORD spent = GetTickCount() - start;
        if (Cancelled(job) || spent >= ms)
            return false;
        fd_set ready, failed;
        FD_ZERO(&ready);
        FD_SET(job->s, &ready);
        FD_ZERO(&failed);
        FD_SET(job->s, &failed);
        timeval slice = TimeLimit(ms - spent < CancelSliceMs ? ms - spent : CancelSliceMs);
        int found = connecting ? select(0, nullptr, &ready, &failed, &slice)
                               : select(0, &ready, nullptr, nullptr, &slice);
        if (found != 0)
            return found > 0 && FD_ISSET(job->s, &ready) && !(connecting && FD_ISSET(job->s, &failed));
    }
}

// Connects job->s within the connect limit and leaves it blocking, each send bounded by
// the data block limit. A plain connect to a host that drops the request would wait for
// minutes.
static bool ConnectWithinLimit(MailJob *job, const sockaddr_in *address)
{
    u_long nonBlocking = 1;
    if (ioctlsocket(job->s, FIONBIO, &nonBlocking) != 0)
        return false;
    if (connect(job->s, (const sockaddr *)address, sizeof *address) == SOCKET_ERROR &&
        WSAGetLastError() != WSAEWOULDBLOCK)
        return false;
    if (!WaitForSocket(job, job->limits.connect, true))
        return false;
    int error = 0;
    int errorSize = sizeof error;
    if (getsockopt(job->s, SOL_SOCKET, SO_ERROR, (char *)&error, &errorSize) != 0 || error != 0)
        return false;

    // A socket whose sends could not be bounded is not used at all.
    u_long blocking = 0;
    DWORD sendMs = job->limits.dataBlock;
    if (ioctlsocket(job->s, FIONBIO, &blocking) != 0 ||
        setsockopt(job->s, SOL_SOCKET, SO_SNDTIMEO, (const char *)&sendMs, sizeof sendMs) != 0)
        return false;
    // Commands go out in pieces, and the server answers only a whole line. Left to
    // itself, TCP holds each later piece until the first is acknowledged, which the
    // server delays (40 ms and more), three times per mail. Where the option cannot be
    // set the mail still goes, only slower.
    BOOL noDelay = TRUE;
    setsockopt(job->s, IPPROTO_TCP, TCP_NODELAY, (const char *)&noDelay, sizeof noDelay);
    return true;
}

// Starts the socket library and connects job->s to port of server. On failure *failure
// names it, and nothing is held any more.
static bool ConnectToHost(MailJob *job, int port, in_addr server, const char **failure)
{
    WSADATA wsaData;
    if (WSAStartup(MAKEWORD(2, 2), &wsaData) != 0) {
        *failure = "Unable to start connection";
        return false;
    }
    if (wsaData.wVersion != MAKEWORD(2, 2)) {
        WSACleanup();
        *failure = "Connection Failed";
        return false;
    }

    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr = server;

    job->s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (job->s == INVALID_SOCKET) {
        WSACleanup();
        *failure = "Can't create socket";
        return false;
    }
    if (!ConnectWithinLimit(job, &address)) {
        closesocket(job->s);
        WSACleanup();
        *failure = "Couldn't connect to mail server";
        return false;
    }
    job->len = 0;
    return true;
}

// Closes job->s and undoes the socket library start of its attempt.
static void CloseConnection(MailJob *job)
{
    closesocket(job->s);
    WSACleanup();
}

// Sends text without its terminator on job->s, once. False when it could not be sent
// within the limit.
static bool send_socket(MailJob *job, const char *text)
{
    return send(job->s, text, static_cast<int>(strlen(text)), 0) != SOCKET_ERROR;
}

// Takes one whole reply line from the start of buf into the reply being read. -1 when it
// is no reply line, 1 when it ends the reply, 0 when more lines follow.
static int TakeReplyLine(MailJob *job, int length)
{
    bool last;
    int code = ReplyLineCode(job->buf, length, &last);
    if (code < 0)
        return -1;
    // A refusal is quoted by its first line, also when lines of another code came before.
    if (code != job->code) {
        int quoted = length;
        while (quoted > 0 && (job->buf[quoted - 1] == '\r' || job->buf[quoted - 1] == '\n'))
            quoted--;
        snprintf(job->quoted, sizeof job->quoted, "%.*s", quoted, job->buf);
        job->code = code;
    }
    return last ? 1 : 0;
}

// Reads the server's whole reply within ms, however many lines it has, keeping what
// came after it for the next read. False when it does not come whole in time, the server
// closes first, a line is no reply line or longer than any, or the alert is cancelled.
static bool read_socket(MailJob *job, DWORD ms)
{
    job->code = 0;
    DWORD start = GetTickCount();
    for (;;) {
        const char *end;
        while ((end = static_cast<const char *>(memchr(job->buf, '\n', job->len))) != nullptr) {
            int length = static_cast<int>(end - job->buf) + 1;
            int taken = TakeReplyLine(job, length);
            job->len -= length;
            memmove(job->buf, job->buf + length, job->len);
            if (taken != 0)
                return taken > 0;
        }
        DWORD spent = GetTickCount() - start;
        if (job->len >= ReplyLineSize || spent >= ms || !WaitForSocket(job, ms - spent, false))
            return false;
        int got = recv(job->s, job->buf + job->len, static_cast<int>(sizeof job->buf) - job->len, 0);
        if (got <= 0)
            return false;
        job->len += got;
    }
}

// The fixed exchange for one recipient on the open connection; each command waits for
// the whole reply to the one before. A refusal (4xx or 5xx) of the greeting, mail from,
// rcpt to, data or the final '.' ends the exchange with quit and is reported. False when
// the server broke off before it took the mail (a reply that does not come whole in time,
// a hang-up), which is left to the caller to tell: the server cannot be trusted to
// answer the next recipient either.
static bool RunMailExchange(MailJob *job, const char *recipient)
{
    const MailTimeLimits &limits = job->limits;
    const struct Step {
        const char *texts[7];       // sent back to back; a none is skipped
        DWORD wait;                 // for the whole reply
        bool refusalEnds;
    } steps[] = {
        {{}, limits.greeting, true},
        {{"HELO 192.168.1.1\r\n"}, limits.command, false},
        {{"mail from: ", job->sender, "\r\n"}, limits.command, true},
        {{"rcpt to: ", recipient, "\r\n"}, limits.command, true},
        {{"data\r\n"}, limits.dataStart, true},
        {{"Subject: ", job->subject, "\r\n", "\r\n", job->body, "\r\n", ".\r\n"}, limits.dataEnd, true},
        {{"quit\r\n"}, limits.quit, false},
    };
    const Step &quit = steps[sizeof steps / sizeof steps[0] - 1];
    for (const Step &step : steps) {
        bool sent = true;
        for (const char *piece : step.texts)
            sent = sent && (!piece || send_socket(job, piece));
        // Once the final '.' is answered the mail is the server's; only quit is left.
        if (!sent || !read_socket(job, step.wait))
            return &step == &quit;
        if (step.refusalEnds && (job->code / 100 == 4 || job->code / 100 == 5)) {
            char text[MailReportSize];
            snprintf(text, sizeof text, "Mail server refused %s: %s", recipient, job->quoted);
            if (send_socket(job, "quit\r\n"))
                read_socket(job, limits.quit);
            Report(job, text);
            return true;
        }
    }
    return true;
}

// Reports failure followed by every recipient the alert did not reach: recipient and
// those after it in the list at cursor.
static void ReportNotReached(const MailJob *job, const char *failure, const char *recipient, const char *cursor)
{
    char text[MailReportSize];
    int used = snprintf(text, sizeof text, "%s\n\nThe alert did not reach: %s", failure, recipient);
    char next[RecipientSize];
    bool whole;
    while (used > 0 && static_cast<size_t>(used) < sizeof text && NextRecipient(&cursor, next, sizeof next, &whole))
        used += snprintf(text + used, sizeof text - used, "; %s", next);
    Report(job, text);
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
    while (!Cancelled(job) && NextRecipient(&cursor, recipient, sizeof recipient, &whole)) {
        if (!whole) {
            char text[MailReportSize];
            snprintf(text, sizeof text, "The alert was not sent to an address longer than %u characters: %s...",
                     static_cast<unsigned>(RecipientSize - 1), recipient);
            Report(job, text);
            continue;
        }
        const char *failure = "Couldn't connect to mail server";
        if (!found || !ConnectToHost(job, 25, server, &failure)) {
            ReportNotReached(job, failure, recipient, cursor);
            break;
        }
        bool answered = RunMailExchange(job, recipient);
        CloseConnection(job);
        if (!answered) {
            char text[MailReportSize];
            snprintf(text, sizeof text, "Mail server stopped answering before the alert reached %s", recipient);
            ReportNotReached(job, text, recipient, cursor);
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
    CopyWithoutLineBreaks(job->sender, sizeof job->sender, request.sender);
    // With no sender, or one of blanks only, the null sender: "mail from: " with nothing
    // or blanks after it is refused by every server.
    if (job->sender[strspn(job->sender, " \t")] == '\0')
        strcpy(job->sender, "<>");
    char hostName[64];
    CopyWithoutLineBreaks(hostName, sizeof hostName, request.hostName);
    snprintf(job->subject, sizeof job->subject, "Disk Space Problem on %s.", hostName);
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
    InterlockedExchange(&FirstLiveAlert, InterlockedCompareExchange(&AlertsHandedOver, 0, 0) + 1);
    DropCancelledReports();
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
    job->serial = InterlockedIncrement(&AlertsHandedOver);
    // Nothing waits for the worker: when the program ends, it ends with it.
    if (LoadSocketLibrary())
        MailWorker = CreateThread(nullptr, 0, DeliverAlert, job, 0, nullptr);
    if (!MailWorker) {
        Report(job, "Unable to start connection");
        FreeMailJob(job);
        return false;
    }
    return true;
}
