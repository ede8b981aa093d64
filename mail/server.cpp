// The mail server's text: the plain dotted address rule and the name look-up, for the
// check at Start and for the mail worker at send time.
#include "mail/server.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

bool LoadSocketLibrary()
{
    return GetModuleHandleA("ws2_32.dll") || LoadLibraryA("ws2_32.dll");
}

bool HoldsLetter(const char *text)
{
    for (const char *p = text; *p; p++)
        if (isalpha(static_cast<unsigned char>(*p)))
            return true;
    return false;
}

bool ReadPlainAddress(const char *text, in_addr *address)
{
    unsigned char parts[4];
    const char *p = text;
    for (int i = 0; i < 4; i++) {
        if (i > 0 && *p++ != '.')
            return false;
        if (!isdigit(static_cast<unsigned char>(*p)) || (p[0] == '0' && isdigit(static_cast<unsigned char>(p[1]))))
            return false;
        unsigned value = 0;
        for (int digits = 0; isdigit(static_cast<unsigned char>(*p)); p++) {
            if (++digits > 3)
                return false;
            value = value * 10 + (*p - '0');
        }
        if (value > 255)
            return false;
        parts[i] = static_cast<unsigned char>(value);
    }
    if (*p != '\0')
        return false;
    memcpy(address, parts, sizeof parts);
    return true;
}

bool LookUpName(const char *name, in_addr *address)
{
    // A library that fails to start makes every look-up fail.
    WSADATA wsaData;
    bool started = WSAStartup(MAKEWORD(2, 2), &wsaData) == 0;
    hostent *host = nullptr;
    for (int attempt = 0; attempt < 3 && !host; attempt++)
        host = gethostbyname(name);
    bool found = host && host->h_addrtype == AF_INET && host->h_length == sizeof *address && host->h_addr_list[0];
    if (found)
        memcpy(address, host->h_addr_list[0], sizeof *address);
    // Only a start that succeeded is undone: a cleanup without one could end a start
    // made elsewhere.
    if (started)
        WSACleanup();
    return found;
}

// One look-up handed to a thread. Both the thread and the caller own it; the last of the
// two to let go frees it, so a caller that stopped waiting leaves nothing behind.
struct LookUp {
    LONG owners;
    char name[256];
    bool found;
    in_addr address;
};

static void LetGoOfLookUp(LookUp *lookUp)
{
    if (InterlockedDecrement(&lookUp->owners) == 0)
        free(lookUp);
}

static DWORD WINAPI RunLookUp(void *parameter)
{
    LookUp *lookUp = static_cast<LookUp *>(parameter);
    lookUp->found = LookUpName(lookUp->name, &lookUp->address);
    LetGoOfLookUp(lookUp);
    return 0;
}

bool LookUpNameWithin(const char *name, DWORD ms, in_addr *address)
{
    if (!LoadSocketLibrary())
        return false;
    LookUp *lookUp = static_cast<LookUp *>(calloc(1, sizeof(LookUp)));
    // No name is longer than 253 characters.
    if (!lookUp || strlen(name) >= sizeof lookUp->name) {
        free(lookUp);
        return false;
    }
    strcpy(lookUp->name, name);
    lookUp->owners = 2;
    HANDLE thread = CreateThread(nullptr, 0, RunLookUp, lookUp, 0, nullptr);
    if (!thread) {
        free(lookUp);
        return false;
    }
    // The result is read only once the thread has ended; one still resolving when the
    // time is up ends by itself later.
    bool found = WaitForSingleObject(thread, ms) == WAIT_OBJECT_0 && lookUp->found;
    if (found)
        *address = lookUp->address;
    CloseHandle(thread);
    LetGoOfLookUp(lookUp);
    return found;
}

bool FindServerAddress(const char *server, in_addr *address)
{
    return ReadPlainAddress(server, address) || (HoldsLetter(server) && LookUpName(server, address));
}

void FormatAddress(char *out, size_t size, in_addr address)
{
    const unsigned char *parts = reinterpret_cast<const unsigned char *>(&address);
    snprintf(out, size, "%u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]);
}
