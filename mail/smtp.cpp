// The SMTP alert mailer: the recipient list, the body on the wire, the connection with
// its time limits, and the fixed exchange run for each recipient.
#include "mail/smtp.h"

#include "core/state.h"
#include "core/boxes.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

DWORD MailWaitMs = MailWaitLimitMs;

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

// While an error box is open, ticks still mail, but a failure adds no box of its own:
// with the server down, boxes would otherwise pile up one per tick.
static void ShowMailError(const char *text)
{
    static bool boxOpen = false;
    ShowUnstackedBox(&boxOpen, text, "Error", MB_TOPMOST | MB_ICONERROR);
}

// Connects Monitor.s within MailWaitMs and leaves it blocking with every later send and
// receive bounded by the same limit. A plain connect to a host that drops the request
// would hold the dialog for minutes.
static bool ConnectWithinLimit(const sockaddr_in *address)
{
    if (address->sin_addr.s_addr == INADDR_NONE)
        return false;
    u_long nonBlocking = 1;
    if (ioctlsocket(Monitor.s, FIONBIO, &nonBlocking) != 0)
        return false;
    if (connect(Monitor.s, (const sockaddr *)address, sizeof *address) == SOCKET_ERROR &&
        WSAGetLastError() != WSAEWOULDBLOCK)
        return false;

    // Winsock reports a connect that succeeded as writable and one that failed in the
    // exception set.
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_SET(Monitor.s, &writable);
    FD_ZERO(&failed);
    FD_SET(Monitor.s, &failed);
    timeval limit;
    limit.tv_sec = (long)(MailWaitMs / 1000);
    limit.tv_usec = (long)(MailWaitMs % 1000 * 1000);
    if (select(0, nullptr, &writable, &failed, &limit) <= 0 || FD_ISSET(Monitor.s, &failed) ||
        !FD_ISSET(Monitor.s, &writable))
        return false;
    int error = 0;
    int errorSize = sizeof error;
    if (getsockopt(Monitor.s, SOL_SOCKET, SO_ERROR, (char *)&error, &errorSize) != 0 || error != 0)
        return false;

    // A socket whose waits could not be bounded is not used at all.
    u_long blocking = 0;
    DWORD waitMs = MailWaitMs;
    if (ioctlsocket(Monitor.s, FIONBIO, &blocking) != 0 ||
        setsockopt(Monitor.s, SOL_SOCKET, SO_RCVTIMEO, (const char *)&waitMs, sizeof waitMs) != 0 ||
        setsockopt(Monitor.s, SOL_SOCKET, SO_SNDTIMEO, (const char *)&waitMs, sizeof waitMs) != 0)
        return false;
    // Commands go out in pieces, and the server answers only a whole line. Left to
    // itself, TCP holds each later piece until the first is acknowledged, which the
    // server delays (40 ms and more), three times per mail. Where the option cannot be
    // set the mail still goes, only slower.
    BOOL noDelay = TRUE;
    setsockopt(Monitor.s, IPPROTO_TCP, TCP_NODELAY, (const char *)&noDelay, sizeof noDelay);
    return true;
}

bool ConnectToHost(int port, const char *server)
{
    WSADATA wsaData;
    if (WSAStartup(MAKEWORD(2, 2), &wsaData) != 0) {
        ShowMailError("Unable to start connection");
        return false;
    }
    if (wsaData.wVersion != MAKEWORD(2, 2)) {
        WSACleanup();
        ShowMailError("Connection Failed");
        return false;
    }

    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons((u_short)port);
    // No server in force (cleared while monitoring) is an unusable address like a name
    // that did not resolve.
    address.sin_addr.s_addr = server ? inet_addr(server) : INADDR_NONE;

    Monitor.s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (Monitor.s == INVALID_SOCKET) {
        WSACleanup();
        ShowMailError("Can't create socket");
        return false;
    }
    if (!ConnectWithinLimit(&address)) {
        closesocket(Monitor.s);
        WSACleanup();
        ShowMailError("Couldn't connect to mail server");
        return false;
    }
    return true;
}

void CloseConnection()
{
    if (Monitor.s != 0)
        closesocket(Monitor.s);
    WSACleanup();
}

bool send_socket(const char *text)
{
    return send(Monitor.s, text, (int)strlen(text), 0) != SOCKET_ERROR || WSAGetLastError() != WSAETIMEDOUT;
}

bool read_socket()
{
    Monitor.len = recv(Monitor.s, Monitor.buf, sizeof Monitor.buf, 0);
    return Monitor.len != SOCKET_ERROR || WSAGetLastError() != WSAETIMEDOUT;
}

// The fixed exchange for one recipient on the open connection. Replies are read and never
// looked at, so a refusal changes nothing; only a wait that runs out ends the exchange,
// since after that the server cannot be trusted to answer the next step either.
static void RunMailExchange(const char *recipient, const char *subject, const char *body)
{
    // No configured text may bring its own line end: it would start a command of its own.
    char from[1024];
    CopyWithoutLineBreaks(from, sizeof from, Monitor.FromAddress);
    // With no sender, the null sender: "mail from: " with nothing after it is refused.
    const char *sender = from[0] ? from : "<>";

    const char *const ReadReply = nullptr;
    const char *const steps[] = {
        ReadReply, "HELO 192.168.1.1\r\n",
        ReadReply, "mail from: ", sender, "\r\n",
        ReadReply, "rcpt to: ", recipient, "\r\n",
        ReadReply, "data\r\n",
        ReadReply, "Subject: ", subject, "\r\n", "\r\n", body, "\r\n", ".\r\n",
        ReadReply, "quit\r\n",
        ReadReply,
    };
    for (const char *step : steps)
        if (!(step ? send_socket(step) : read_socket()))
            return;
}

void SendEmail(const char *alert)
{
    char hostName[sizeof Monitor.MyHostName];
    CopyWithoutLineBreaks(hostName, sizeof hostName, Monitor.MyHostName);
    char subject[100];
    snprintf(subject, sizeof subject, "Disk Space Problem on %s.", hostName);
    // Twice the alert's field and more: every byte of it could double on the wire. A longer
    // text goes out cut, still a well-formed body.
    char body[2048];
    EncodeMailBody(body, sizeof body, alert);

    // The list is walked on a copy of its own: while a box of a later recipient is open,
    // the user may start monitoring anew, which replaces the list in force.
    const char *listInForce = Monitor.EmailAddress ? Monitor.EmailAddress : "";
    size_t listSize = strlen(listInForce) + 1;
    char *list = static_cast<char *>(malloc(listSize));
    if (!list)
        return;     // no memory even for this: silent, like every failure once connected
    memcpy(list, listInForce, listSize);

    if (ConnectToHost(25, Monitor.EmailServer)) {
        bool firstConnectionUnused = true;
        const char *cursor = list;
        char recipient[RecipientSize];
        while (NextRecipient(&cursor, recipient, sizeof recipient)) {
            if (!firstConnectionUnused && !ConnectToHost(25, Monitor.EmailServer))
                continue;
            firstConnectionUnused = false;
            RunMailExchange(recipient, subject, body);
            CloseConnection();
        }
        if (firstConnectionUnused)
            CloseConnection();
    }
    free(list);
}
