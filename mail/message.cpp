// The alert as a message: the recipient list, each copy's header, and the text made fit
// for the wire.
#include "mail/message.h"

#include <windows.h>
#include <cstdio>
#include <cstring>
#include <ctime>

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

void CopyVisible(char *out, size_t size, const char *text)
{
    if (size == 0)
        return;
    size_t used = 0;
    for (const char *p = text ? text : ""; *p && used + 1 < size; p++)
        if (static_cast<unsigned char>(*p) > ' ')
            out[used++] = *p;
    out[used] = '\0';
}

// In any locale, and never for a byte outside ASCII.
static bool IsLetterOrDigit(unsigned char c)
{
    return static_cast<unsigned>((c | 0x20) - 'a') < 26 || static_cast<unsigned>(c - '0') < 10;
}

static bool IsAscii(const char *text)
{
    for (; *text; text++)
        if (static_cast<unsigned char>(*text) >= 0x80)
            return false;
    return true;
}

bool BracketAddress(char *out, size_t size, const char *address)
{
    size_t length = strlen(address);
    bool own = length >= 2 && address[0] == '<' && address[length - 1] == '>';
    int used = snprintf(out, size, own ? "%s" : "<%s>", address);
    if (used < 0 || static_cast<size_t>(used) >= size || !IsAscii(address)) {
        *out = '\0';
        return false;
    }
    return true;
}

bool IsDomainName(const char *name)
{
    const char *label = name;
    bool dotted = false;
    for (const char *p = name;; p++) {
        if (*p == '.' || *p == '\0') {
            if (p == label || *label == '-' || p[-1] == '-' || p - label > 63)
                return false;
            if (*p == '\0')
                return dotted;
            dotted = true;
            label = p + 1;
        } else if (!IsLetterOrDigit(*p) && *p != '-') {
            return false;
        }
    }
}

static LONGLONG FileTimeTicks(const FILETIME &time)
{
    return static_cast<LONGLONG>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

void FormatMailDate(char *out, size_t size)
{
    FILETIME utc, local;
    SYSTEMTIME now;
    GetSystemTimeAsFileTime(&utc);
    // The zone's offset as it stands now, daylight saving included; the time and its
    // offset come from the one conversion, so they always agree.
    FileTimeToLocalFileTime(&utc, &local);
    FileTimeToSystemTime(&local, &now);
    int east = static_cast<int>((FileTimeTicks(local) - FileTimeTicks(utc)) / 600000000);
    int minutes = east < 0 ? -east : east;
    // The invariant locale names days and months in English, whatever the user's. Each
    // count includes the terminator.
    *out = '\0';
    int date = GetDateFormatA(LOCALE_INVARIANT, 0, &now, "ddd',' dd MMM yyyy ", out, static_cast<int>(size));
    int time = date > 0 ? GetTimeFormatA(LOCALE_INVARIANT, 0, &now, "HH':'mm':'ss", out + date - 1,
                                         static_cast<int>(size) - date + 1)
                        : 0;
    if (time > 0)
        snprintf(out + date + time - 2, size - (date + time - 2), " %c%02d%02d", east < 0 ? '-' : '+', minutes / 60,
                 minutes % 60);
}

void ComposeSubject(char *out, size_t size, const char *hostName)
{
    const size_t lead = 22;     // "Disk Space Problem on "
    snprintf(out, size, "Disk Space Problem on %s.", hostName);
    if (IsAscii(hostName) || size < lead + 20)
        return;
    // Q encoded-words of 75 characters at most, each holding whole characters; the '.'
    // goes inside, since an encoded-word must stand apart from the text around it. A
    // step writes 16 characters at most: a name too long for out is cut, never out.
    char name[72];
    snprintf(name, sizeof name, "%s", out + lead);
    char *at = out + lead, *end = out + size - 3;
    int word = 0;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(name); *p && at + 16 < end; p++) {
        if (word == 0 || ((*p & 0xC0) != 0x80 && word > 61)) {
            if (word)
                at = strcpy(at, "?= ") + 3;
            at = strcpy(at, "=?UTF-8?Q?") + 10;
            word = 10;
        }
        if (IsLetterOrDigit(*p)) {
            *at++ = *p;
            word++;
        } else {
            *at++ = '=';
            *at++ = "0123456789ABCDEF"[*p >> 4];
            *at++ = "0123456789ABCDEF"[*p & 15];
            word += 3;
        }
    }
    strcpy(at, "?=");
}

void NameMessage(char *out, size_t size, const char *greeting)
{
    static LONG volatile named;
    snprintf(out, size, "<%lx.%lx.%lx@%s>", static_cast<unsigned long>(time(nullptr)), GetCurrentProcessId(),
             static_cast<unsigned long>(InterlockedIncrement(&named)), greeting);
}

void ComposeMessage(char *out, const char *date, const char *reversePath, const char *greeting,
                    const char *forwardPath, const char *subject, const char *messageId, const char *body)
{
    bool none = strcmp(reversePath, "<>") == 0;
    snprintf(out, MailMessageSize,
             "Date: %s\r\nFrom: Vellmark Alert %s%s%s\r\nTo: %s\r\nSubject: %s\r\nMessage-ID: %s\r\n"
             "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\nContent-Transfer-Encoding: 7bit\r\n"
             "\r\n%s\r\n.",
             date, none ? "<vellmark@" : reversePath, none ? greeting : "", none ? ">" : "", forwardPath, subject,
             messageId, body);
}
