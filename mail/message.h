// The alert as a message: the recipient list read one recipient at a time, and the text
// made fit for the wire.
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

// Copies text into out with every CR and LF left out, cut to fit; none gives "".
void CopyWithoutLineBreaks(char *out, size_t size, const char *text);
