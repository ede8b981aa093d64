// The mail server's text: a plain dotted address, or a name looked up to its first IPv4
// address. Anything else names no server.
#pragma once

#include <winsock2.h>
#include <cstddef>

// The look-up when monitoring starts waits this long at most, whatever the resolver does.
const DWORD StartLookUpLimitMs = 15000;

// Loads the socket library; false where it cannot be. Otherwise it is loaded at its first
// call, which raises an exception where it cannot be: nothing calls it before this.
bool LoadSocketLibrary();

// A text holding a letter (A to Z, a to z; a '.' never counts) is a name to look up.
bool HoldsLetter(const char *text);

// Reads text as exactly four decimal numbers 0 to 255 joined by dots, none with a leading
// zero. The socket library reads far more (010.0.0.1 as 8.0.0.1, 127.1 as 127.0.0.1,
// 1234 as 0.0.4.210), each a host other than the one the user wrote: all of it is refused.
bool ReadPlainAddress(const char *text, in_addr *address);

// Looks name up, at most 3 times in a row, to its first IPv4 address; blocks for as
// long as the resolver takes. Starts and cleans up the socket library itself.
bool LookUpName(const char *name, in_addr *address);

// The same on a thread of its own, waited for at most ms.
bool LookUpNameWithin(const char *name, DWORD ms, in_addr *address);

// The address of a server text: the plain dotted address it holds, or its name looked
// up. False for every other text.
bool FindServerAddress(const char *server, in_addr *address);

// Writes address in dotted form into out.
void FormatAddress(char *out, size_t size, in_addr address);
