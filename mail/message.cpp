// The alert as a message: the recipient list and the text made fit for the wire.
#include "mail/message.h"

#include <cstring>

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
