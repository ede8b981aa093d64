// The SMTP alert mailer: the recipient list, the body on the wire, the replies, and the
// worker that runs the fixed exchange for each recipient within its time limits.
#include "mail/smtp.h"

#include "core/state.h"
#include "mail/server.h"
#include "resources/resource.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

MailTimeLimits MailLimits = RfcMailTimeLimits;

bool NextRecipient(const char **cursor, char *recipient, size_t size)
{
    const char *p = *cursor;
    if (!p)
        return false;
    while (*p) {
        size_t length = 0;
        bool tooLong = false;
        for (; *p && *p != ';'; p++) {
            if (*p == ' ' || *p == '\r' || *p == '\n')
                continue;
            if (length + 1 < size)
                recipient[length++] = *p;
            else
                tooLong = true;
        }
        if (*p == ';')
            p++;
        // An empty recipient (";;", a leading ';') would only earn a refusal, and one cut
        // to fit could reach somebody else's mailbox: both are passed over.
        if (length > 0 && !tooLong) {
            recipient[length] = '\0';
            *cursor = p;
            return true;
        }
    }
    *cursor = p;
    return false;
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

int ReplyLength(const char *data, size_t length)
{
    size_t start = 0;
    for (;;) {
        const char *end = static_cast<const char *>(memchr(data + start, '\n', length - start));
        if (!end)
            return 0;
        const char *line = data + start;
        if (end - line < 3 || !IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2]))
            return -1;
        start = end - data + 1;
        // "250-" says more lines follow; "250 ", "250\r\n" and "250\n" end the reply.
        if (line[3] != '-')
            return line[3] == ' ' || line[3] == '\r' || line[3] == '\n' ? static_cast<int>(start) : -1;
    }
}

// One alert's delivery: a private copy of everything it needs, taken on the dialog's
// thread when the check hands the alert over, and the worker's own connection. The
// worker owns it and frees it.
struct MailJob {
    HWND reportTo;                  // the dialog, told of each failure
    MailTimeLimits limits;
    char server[256];
    char sender[1024];
    char subject[100];
    char body[2048];
    char *recipients;               // the list, a copy of its own
    SOCKET s;                       // the current connection
    char buf[4096];                 // the last whole reply, then what came after it
    int len;                        // bytes held in buf
    int replyLength;                // bytes of buf the last whole reply takes
};

static void FreeMailJob(MailJob *job)
{
    free(job->recipients);
    free(job);
}

// Posts a box text to the dialog, which shows it and frees the copy.
static void ReportToDialog(HWND dialog, const char *text)
{
    size_t size = strlen(text) + 1;
    char *copy = static_cast<char *>(malloc(size));
    if (!copy)
        return;     // out of memory: the failure goes untold
    memcpy(copy, text, size);
    // A dialog that is gone takes nothing, and the copy stays ours to free.
    if (!dialog || !PostMessageA(dialog, WM_MAILRESULT, 0, reinterpret_cast<LPARAM>(copy)))
        free(copy);
}

static timeval TimeLimit(DWORD ms)
{
    timeval limit;
    limit.tv_sec = static_cast<long>(ms / 1000);
    limit.tv_usec = static_cast<long>(ms % 1000 * 1000);
    return limit;
}

static bool WaitUntilReadable(SOCKET s, DWORD ms)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval limit = TimeLimit(ms);
    return select(0, &readable, nullptr, nullptr, &limit) == 1;
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

    // Winsock reports a connect that succeeded as writable and one that failed in the
    // exception set.
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_SET(job->s, &writable);
    FD_ZERO(&failed);
    FD_SET(job->s, &failed);
    timeval limit = TimeLimit(job->limits.connect);
    if (select(0, nullptr, &writable, &failed, &limit) <= 0 || FD_ISSET(job->s, &failed) ||
        !FD_ISSET(job->s, &writable))
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

// Starts the socket library and connects job->s to port of server. False after a failure
// that has been reported and of which nothing is held any more.
static bool ConnectToHost(MailJob *job, int port, in_addr server)
{
    WSADATA wsaData;
    if (WSAStartup(MAKEWORD(2, 2), &wsaData) != 0) {
        ReportToDialog(job->reportTo, "Unable to start connection");
        return false;
    }
    if (wsaData.wVersion != MAKEWORD(2, 2)) {
        WSACleanup();
        ReportToDialog(job->reportTo, "Connection Failed");
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
        ReportToDialog(job->reportTo, "Can't create socket");
        return false;
    }
    if (!ConnectWithinLimit(job, &address)) {
        closesocket(job->s);
        WSACleanup();
        ReportToDialog(job->reportTo, "Couldn't connect to mail server");
        return false;
    }
    job->len = job->replyLength = 0;
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

// Reads the server's whole reply to the start of buf within ms, keeping what came after
// it for the next read. False when it does not come whole in time, the server closes
// first, a line is no reply line, or the reply does not fit buf.
static bool read_socket(MailJob *job, DWORD ms)
{
    job->len -= job->replyLength;
    memmove(job->buf, job->buf + job->replyLength, job->len);
    job->replyLength = 0;
    DWORD start = GetTickCount();
    for (;;) {
        int length = ReplyLength(job->buf, job->len);
        if (length != 0) {
            job->replyLength = length > 0 ? length : 0;
            return length > 0;
        }
        DWORD spent = GetTickCount() - start;
        if (job->len == static_cast<int>(sizeof job->buf) || spent >= ms || !WaitUntilReadable(job->s, ms - spent))
            return false;
        int got = recv(job->s, job->buf + job->len, static_cast<int>(sizeof job->buf) - job->len, 0);
        if (got <= 0)
            return false;
        job->len += got;
    }
}

// The length of the first line of the last whole reply, quoted in a refusal's box.
static int ReplyLineLength(const MailJob *job)
{
    int line = 0;
    while (line < job->replyLength && job->buf[line] != '\r' && job->buf[line] != '\n')
        line++;
    return line;
}

// The fixed exchange for one recipient on the open connection; each command waits for
// the whole reply to the one before. A refusal (4xx or 5xx) of the greeting, mail from,
// rcpt to, data or the final '.' ends the exchange with quit and is reported. A reply
// that does not come whole ends it at once, reported too unless the mail was already
// taken: the server cannot be trusted to answer the next step either.
static void RunMailExchange(MailJob *job, const char *recipient)
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
    char text[640];
    for (const Step &step : steps) {
        bool sent = true;
        for (const char *piece : step.texts)
            sent = sent && (!piece || send_socket(job, piece));
        if (!sent || !read_socket(job, step.wait)) {
            // Once the final '.' is answered the mail is the server's; only quit is left.
            if (&step != &steps[sizeof steps / sizeof steps[0] - 1]) {
                snprintf(text, sizeof text, "Mail server stopped answering before the alert reached %s", recipient);
                ReportToDialog(job->reportTo, text);
            }
            return;
        }
        if (step.refusalEnds && (job->buf[0] == '4' || job->buf[0] == '5')) {
            snprintf(text, sizeof text, "Mail server refused %s: %.*s", recipient, ReplyLineLength(job), job->buf);
            if (send_socket(job, "quit\r\n"))
                read_socket(job, limits.quit);
            ReportToDialog(job->reportTo, text);
            return;
        }
    }
}

// The worker: one connection per recipient, one after the other, in list order.
static DWORD WINAPI DeliverAlert(void *parameter)
{
    MailJob *job = static_cast<MailJob *>(parameter);
    // A name is looked up here, at send time: at sign-in the look-up at Start often
    // comes before the network is up.
    in_addr server;
    if (!FindServerAddress(job->server, &server)) {
        ReportToDialog(job->reportTo, "Couldn't connect to mail server");
    } else if (ConnectToHost(job, 25, server)) {
        bool firstConnectionUnused = true;
        const char *cursor = job->recipients;
        char recipient[RecipientSize];
        while (NextRecipient(&cursor, recipient, sizeof recipient)) {
            if (!firstConnectionUnused && !ConnectToHost(job, 25, server))
                continue;
            firstConnectionUnused = false;
            RunMailExchange(job, recipient);
            CloseConnection(job);
        }
        if (firstConnectionUnused)
            CloseConnection(job);
    }
    FreeMailJob(job);
    return 0;
}

// The private copy of the alert and the mail settings in force; none when out of memory.
static MailJob *CopyOfAlert(const char *alert)
{
    const char *list = Monitor.EmailAddress ? Monitor.EmailAddress : "";
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
    job->reportTo = Monitor.hwndDlgSave;
    job->limits = MailLimits;
    // A server text too long for any name names no server, rather than another name cut
    // to fit.
    const char *server = Monitor.EmailServer ? Monitor.EmailServer : "";
    if (strlen(server) < sizeof job->server)
        strcpy(job->server, server);
    // No configured text may bring its own line end: it would start a command of its own.
    CopyWithoutLineBreaks(job->sender, sizeof job->sender, Monitor.FromAddress);
    // With no sender, or one of blanks only, the null sender: "mail from: " with nothing
    // or blanks after it is refused by every server.
    if (job->sender[strspn(job->sender, " \t")] == '\0')
        strcpy(job->sender, "<>");
    char hostName[sizeof Monitor.MyHostName];
    CopyWithoutLineBreaks(hostName, sizeof hostName, Monitor.MyHostName);
    snprintf(job->subject, sizeof job->subject, "Disk Space Problem on %s.", hostName);
    // Twice the alert's field and more: every byte of it could double on the wire. A
    // longer text goes out cut, still a well-formed body.
    EncodeMailBody(job->body, sizeof job->body, alert);
    return job;
}

// The thread delivering the alert in flight; used on the dialog's thread only.
static HANDLE MailWorker;

bool MailInFlight()
{
    if (MailWorker && WaitForSingleObject(MailWorker, 0) == WAIT_OBJECT_0) {
        CloseHandle(MailWorker);
        MailWorker = nullptr;
    }
    return MailWorker != nullptr;
}

bool SendEmail(const char *alert)
{
    if (MailInFlight())
        return false;
    MailJob *job = CopyOfAlert(alert);
    if (!job)
        return false;   // out of memory: silent, like a failure once connected
    // Nothing waits for the worker: when the program ends, it ends with it.
    MailWorker = CreateThread(nullptr, 0, DeliverAlert, job, 0, nullptr);
    if (!MailWorker) {
        FreeMailJob(job);
        ReportToDialog(Monitor.hwndDlgSave, "Unable to start connection");
        return false;
    }
    return true;
}
