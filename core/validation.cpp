// Entry validation before monitoring starts: the checks and their messages, the mail
// server's name turned into an address, and the two check-box flags.
#include "core/validation.h"

#include "core/state.h"
#include "core/boxes.h"

#include <cctype>
#include <cstring>

static void ShowWarning(const char *text)
{
    MessageBoxA(nullptr, text, "Warning", MB_TOPMOST | MB_ICONWARNING);
}

// A server is a name to look up when it holds a letter; a dotted address holds none.
static bool HoldsLetter(const char *text)
{
    for (const char *p = text; *p; p++)
        if (isalpha(static_cast<unsigned char>(*p)))
            return true;
    return false;
}

static void ResolveServerName()
{
    if (!HoldsLetter(Monitor.EmailServer))
        return;
    // A library that fails to start makes every lookup fail, which is reported below.
    WSADATA wsaData;
    bool started = WSAStartup(MAKEWORD(2, 2), &wsaData) == 0;
    hostent *host = nullptr;
    for (int attempt = 0; attempt < 3 && !host; attempt++)
        host = gethostbyname(Monitor.EmailServer);
    if (host && host->h_addrtype == AF_INET && host->h_addr_list[0]) {
        in_addr address;
        memcpy(&address, host->h_addr_list[0], sizeof address);
        // inet_ntoa's text lasts only until the next socket call, so the server in force
        // takes a copy.
        PutTextInForce(&Monitor.EmailServer, inet_ntoa(address));
        ReplaceBoxText(Monitor.hWndServer, Monitor.EmailServer);
    } else {
        MessageBoxA(nullptr, "Couldn't resolve server name. Try IP address instead.", "Error",
                    MB_TOPMOST | MB_ICONERROR);
    }
    // Only a start that succeeded is undone: a cleanup without one could end a start
    // made elsewhere.
    if (started)
        WSACleanup();
}

static void TakeCheckBox(HWND box, char *flag)
{
    flag[0] = SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED ? '1' : '0';
}

int CheckEntries()
{
    if (!Monitor.DiskToMonitor) {
        ShowWarning("Disk must be selected");
        return 1;
    }
    // Without a level nothing else matters: no warning will ever be given.
    if (Monitor.WarningLevel == 0) {
        ShowWarning("Warning Level not entered. No warnings will be given");
        return 0;
    }
    if (Monitor.Seconds == 0) {
        ShowWarning("Seconds Delay must be selected");
        return 1;
    }
    // Esc and the close button answer IDCANCEL as well.
    if (!Monitor.EmailAddress &&
        MessageBoxA(nullptr, "Email not entered. Message will be displayed on screen", "Warning",
                    MB_TOPMOST | MB_ICONQUESTION | MB_OKCANCEL) == IDCANCEL)
        return 1;
    if (Monitor.EmailAddress && !Monitor.EmailServer) {
        ShowWarning("Email Server must be entered if email address entered");
        return 1;
    }
    if (Monitor.EmailServer)
        ResolveServerName();
    TakeCheckBox(Monitor.hWndAutoStart, Monitor.AutoStartValue);
    TakeCheckBox(Monitor.hWndAutoMinimize, Monitor.AutoStartMini);
    return 0;
}
