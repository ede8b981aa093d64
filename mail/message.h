// The alert as a message: the recipient list read one recipient at a time, the header of
// each recipient's copy, and the text made fit for the wire.
#pragma once

#include <cstddef>

// A recipient is kept in 257 bytes: RFC 5321 allows a path of 256 characters.
const size_t RecipientSize = 257;

// Takes the next recipient from the list at *cursor into recipient (size bytes) and moves
// *cursor past it. A ';' or the end of the text ends a recipient; CR, LF and spaces are
// dropped wherever they stand; every other byte is kept as it is. A recipient holding no
// character is passed over. One longer than size - 1 is given cut, with *whole false.
// False when the list holds no more.
bool NextRecipient(const char **cursor, char *recipient, size_t size, bool *whole);

// Whether a list holds a recipient at all; one of blanks and separators holds none.
bool HoldsRecipient(const char *list);

// Writes text into out as a mail body: every line end (CR LF, a bare LF or a bare CR)
// becomes CR LF, and a '.' that starts a line is doubled, so that the recipient reads
// the text as it was. False when out is too small: out then holds what fits, never half
// a line end or half a doubled dot.
bool EncodeMailBody(char *out, size_t size, const char *text);

// Copies text into out with every blank, line break and other control byte left out,
// cut to fit; none gives "".
void CopyVisible(char *out, size_t size, const char *text);

// Writes address into out as a path in angle brackets; one typed with its own pair
// keeps it. False when it does not fit or holds a byte outside ASCII, which no path
// may hold: out is then "".
bool BracketAddress(char *out, size_t size, const char *address);

// Whether name is a host name a server takes as fully qualified: labels of letters,
// digits and '-' (never at either end) joined by dots, at least two.
bool IsDomainName(const char *name);

// The local time now with its zone's offset, daylight saving included, as a mail's date
// ("Tue, 08 Dec 2026 02:46:40 +0100").
void FormatMailDate(char *out, size_t size);

// The subject naming the computer by hostName (UTF-8); a name outside ASCII goes in
// encoded-words, which readers show as the name itself.
void ComposeSubject(char *out, size_t size, const char *hostName);

// A Message-ID no other copy has, of this run or any other: the time, the process and a
// count, on the right the name this side gives in its greeting.
void NameMessage(char *out, size_t size, const char *greeting);

// The alert's body as it goes on the wire: twice the alert's field and more, since every
// byte of it could double.
const size_t MailBodySize = 2048;

// Room for a whole message: the header's fields each have a bound, none of them 400
// bytes, so no line comes near the 998 bytes a line may hold.
const size_t MailMessageSize = 1536 + MailBodySize;

// One recipient's copy as DATA sends it, up to the '.' that ends it (its line end left
// to the sender), into out of MailMessageSize bytes. reversePath is the sender in
// brackets, "<>" for none: the header then names a sender of greeting's own.
void ComposeMessage(char *out, const char *date, const char *reversePath, const char *greeting,
                    const char *forwardPath, const char *subject, const char *messageId, const char *body);
