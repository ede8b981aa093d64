// One recipient's exchange with the mail server: the connection within its time limits,
// the replies read whole, and the commands that deliver the alert.
#include "mail/exchange.h"

#include "mail/server.h"

#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstring>

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

const char CannotStart[] = "Unable to start connection";
const char CannotConnect[] = "Couldn't connect to mail server";

void Report(const MailJob *job, MailFailure kind, const char *recipient, const char *text)
{
    KeepReport(job->serial, kind, recipient, text, job->reportTo, job->reportMessage);
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
        if (AlertCancelled(job->serial) || spent >= ms)
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

bool ConnectToHost(MailJob *job, int port, in_addr server, const char **failure)
{
    WSADATA wsaData;
    if (WSAStartup(MAKEWORD(2, 2), &wsaData) != 0) {
        *failure = CannotStart;
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
        *failure = CannotConnect;
        return false;
    }
    job->len = 0;
    return true;
}

void CloseConnection(MailJob *job)
{
    EndTls(job);
    closesocket(job->s);
    WSACleanup();
}

bool SendBytes(const MailJob *job, const char *bytes, int length)
{
    return send(job->s, bytes, length, 0) == length;
}

int ReceiveBytes(MailJob *job, char *at, int room, DWORD start, DWORD ms)
{
    DWORD spent = GetTickCount() - start;
    if (room <= 0 || spent >= ms || !WaitForSocket(job, ms - spent, false))
        return -1;
    return recv(job->s, at, room, 0);
}

// Sends text without its terminator on job->s, through TLS when it is up. False when it
// could not be sent within the limit.
static bool send_socket(MailJob *job, const char *text)
{
    int length = static_cast<int>(strlen(text));
    return job->tls.up ? SendTls(job, text, length) : SendBytes(job, text, length);
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
    // Each line of a reply to EHLO after the first names an extension, in any case.
    bool tls = code == 250 && length > 12 && memchr(" \r\n", job->buf[12], 3);
    for (int i = 0; tls && i < 8; i++)
        tls = (job->buf[4 + i] & 0xDF) == "STARTTLS"[i];
    job->offersTls = job->offersTls || tls;
    return last ? 1 : 0;
}

// Reads the server's whole reply within ms, however many lines it has, keeping what
// came after it for the next read. False when it does not come whole in time, the server
// closes first, a line is no reply line or longer than any, or the alert is cancelled.
static bool read_socket(MailJob *job, DWORD ms)
{
    job->code = 0;
    job->offersTls = false;
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
        if (job->len >= ReplyLineSize)
            return false;
        int got = (job->tls.up ? ReceiveTls : ReceiveBytes)(job, job->buf + job->len,
                                                            static_cast<int>(sizeof job->buf) - job->len, start, ms);
        if (got <= 0)
            return false;
        job->len += got;
    }
}

// The name this side gives in its greeting: the computer's fully-qualified name where it
// has one a server takes, otherwise the connection's own address as a literal. Never a
// name of its own making.
static bool FindGreetingName(MailJob *job)
{
    DWORD size = sizeof job->greeting;
    if (GetComputerNameExA(ComputerNameDnsFullyQualified, job->greeting, &size) && IsDomainName(job->greeting))
        return true;
    sockaddr_in own;
    int ownSize = sizeof own;
    if (getsockname(job->s, (sockaddr *)&own, &ownSize) != 0)
        return false;
    char address[16];
    FormatAddress(address, sizeof address, own.sin_addr);
    snprintf(job->greeting, sizeof job->greeting, "[%s]", address);
    return true;
}

// The exchange, step by step: what each sends, how long its reply may take, and what a
// refusal of it is reported as.
static const struct Step {
    char command[11];           // sent first, when there is one
    unsigned short field;       // where in the job the text after it stands; 0 for none
    unsigned char wait;         // where in the limits the bound of the reply stands
    signed char failure;        // a refusal ends the exchange, reported as this; -1 for none
} Steps[] = {
    {"", 0, offsetof(MailTimeLimits, greeting), FailedGreeting},
    {"EHLO ", offsetof(MailJob, greeting), offsetof(MailTimeLimits, command), -1},
    {"HELO ", offsetof(MailJob, greeting), offsetof(MailTimeLimits, command), -1},
    {"STARTTLS", 0, offsetof(MailTimeLimits, command), -1},
    {"EHLO ", offsetof(MailJob, greeting), offsetof(MailTimeLimits, command), -1},
    {"MAIL FROM:", offsetof(MailJob, reversePath), offsetof(MailTimeLimits, command), FailedMail},
    {"RCPT TO:", offsetof(MailJob, forwardPath), offsetof(MailTimeLimits, command), FailedRcpt},
    {"DATA", 0, offsetof(MailTimeLimits, dataStart), FailedData},
    {"", offsetof(MailJob, message), offsetof(MailTimeLimits, dataEnd), FailedDataEnd},
    {"QUIT", 0, offsetof(MailTimeLimits, quit), -1},
};
const size_t StepCount = sizeof Steps / sizeof Steps[0];
const Step *const Helo = &Steps[2], *const StartTlsStep = &Steps[3], *const EhloInTls = &Steps[4];

bool RunMailExchange(MailJob *job, const char *recipient)
{
    if (!FindGreetingName(job))
        return false;
    // A copy sent again keeps its name.
    if (!job->messageId[0])
        NameMessage(job->messageId, sizeof job->messageId, job->greeting);
    ComposeMessage(job->message, job->date, job->reversePath, job->greeting, job->forwardPath, job->subject,
                   job->messageId, job->body);
    for (const Step *step = Steps; step < Steps + StepCount; step++) {
        // HELO only for a server that does not know EHLO, which refuses it with 5xx.
        if (step == Helo && job->code / 100 != 5)
            continue;
        // TLS where EHLO's reply offers it, unless it failed with this recipient before;
        // the server forgets the first EHLO then.
        if ((step == StartTlsStep && !(job->offersTls && !job->tlsFailure[0] && LoadSecurityLibrary())) ||
            (step == EhloInTls && !job->tls.up))
            continue;
        const char *field = step->field ? reinterpret_cast<const char *>(job) + step->field : nullptr;
        bool sent = (!step->command[0] || send_socket(job, step->command)) && (!field || send_socket(job, field)) &&
                    (step == Steps || send_socket(job, "\r\n"));
        DWORD wait = *reinterpret_cast<const DWORD *>(reinterpret_cast<const char *>(&job->limits) + step->wait);
        // Once the final '.' is answered the mail is the server's; only QUIT is left.
        if (!sent || !read_socket(job, wait))
            return step == &Steps[StepCount - 1];
        if (step == StartTlsStep) {
            // Whatever came with the 220 came before TLS: none of it is a reply.
            job->len = 0;
            if (job->code == 220 && StartTls(job))
                continue;
            snprintf(job->tlsFailure, sizeof job->tlsFailure,
                     job->code == 220 ? "the TLS handshake failed" : "STARTTLS was refused: %s", job->quoted);
            return true;
        }
        if (step->failure >= 0 && (job->code / 100 == 4 || job->code / 100 == 5)) {
            char text[MailReportSize];
            snprintf(text, sizeof text, "Mail server refused %s: %s%s%s", recipient, job->quoted,
                     job->tlsFailure[0] ? "\n\nTried without encryption, since " : "", job->tlsFailure);
            if (send_socket(job, "QUIT\r\n"))
                read_socket(job, job->limits.quit);
            Report(job, static_cast<MailFailure>(step->failure), recipient, text);
            return true;
        }
    }
    return true;
}
