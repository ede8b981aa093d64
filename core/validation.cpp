// Entry validation before monitoring starts: the checks and their messages, the mail
// server's name turned into an address, and the two check-box flags.
#include "core/validation.h"

#include "core/boxes.h"
#include "core/state.h"
#include "mail/server.h"

static void ShowWarning(const char *text)
{
    MessageBoxA(nullptr, text, "Warning", MB_TOPMOST | MB_ICONWARNING);
}

// A plain dotted address stays as it is, and a name is replaced by its address. Any other
// text (010.0.0.1, 127.1, [127.0.0.1], ::1) would reach another host than the one
// written: it is told like a name that did not resolve, and the mailer never uses it.
static void ResolveServerName()
{
    in_addr address;
    if (ReadPlainAddress(Monitor.EmailServer, &address))
        return;
    if (HoldsLetter(Monitor.EmailServer) && LookUpNameWithin(Monitor.EmailServer, StartLookUpLimitMs, &address)) {
        char dotted[16];
        FormatAddress(dotted, sizeof dotted, address);
        PutTextInForce(&Monitor.EmailServer, dotted);
        ReplaceBoxText(Monitor.hWndServer, Monitor.EmailServer);
        return;
    }
    MessageBoxA(nullptr, "Couldn't resolve server name. Try IP address instead.", "Error", MB_TOPMOST | MB_ICONERROR);
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
    // Only OK goes on: Esc and the close button answer IDCANCEL, and a box ended by the
    // program's end answers nothing.
    if (!Monitor.EmailAddress &&
        MessageBoxA(nullptr, "Email not entered. Message will be displayed on screen", "Warning",
                    MB_TOPMOST | MB_ICONQUESTION | MB_OKCANCEL) != IDOK)
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
