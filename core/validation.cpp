// Entry validation before monitoring starts: the checks and their messages, the mail
// server's name turned into an address, and the two check-box flags.
#include "core/validation.h"

#include "core/boxes.h"
#include "core/state.h"
#include "core/warning.h"
#include "mail/server.h"

static void ShowWarning(const char *text)
{
    MessageBoxA(nullptr, text, "Warning", MB_TOPMOST | MB_ICONWARNING);
}

static bool Refuse(const char *text)
{
    ShowWarning(text);
    return false;
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
        // The box shows the address, while the name stays the entry (see ReadEntries).
        lstrcpynA(Monitor.ServerName, Monitor.EmailServer, sizeof Monitor.ServerName);
        FormatAddress(Monitor.ServerAddress, sizeof Monitor.ServerAddress, address);
        PutTextInForce(&Monitor.EmailServer, Monitor.ServerAddress);
        ReplaceBoxText(Monitor.hWndServer, Monitor.EmailServer);
        return;
    }
    MessageBoxA(nullptr, "Couldn't resolve server name. Try IP address instead.", "Error", MB_TOPMOST | MB_ICONERROR);
}

bool CheckRequiredEntries()
{
    if (!Monitor.DiskToMonitor)
        return Refuse("Disk must be selected");
    // Without a level nothing else matters: no warning will ever be given.
    if (Monitor.WarningLevel == 0)
        return true;
    if (Monitor.Seconds == 0)
        return Refuse("Seconds Delay must be selected");
    // Without a list the question comes instead, so the order of the two is kept.
    if (AlertsByMail() && !Monitor.EmailServer)
        return Refuse("Email Server must be entered if email address entered");
    return true;
}

bool ConfirmEntries()
{
    if (Monitor.WarningLevel == 0) {
        ShowWarning("Warning Level not entered. No warnings will be given");
        return true;
    }
    // Only OK goes on: Esc and the close button answer IDCANCEL, and a box ended by the
    // program's end answers nothing.
    if (!AlertsByMail() && MessageBoxA(nullptr, "Email not entered. Message will be displayed on screen", "Warning",
                                       MB_TOPMOST | MB_ICONQUESTION | MB_OKCANCEL) != IDOK)
        return false;
    if (Monitor.EmailServer)
        ResolveServerName();
    return true;
}

static void TakeCheckBox(HWND box, char *flag)
{
    flag[0] = SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED ? '1' : '0';
}

void TakeCheckBoxes()
{
    TakeCheckBox(Monitor.hWndAutoStart, Monitor.AutoStartValue);
    TakeCheckBox(Monitor.hWndAutoMinimize, Monitor.AutoStartMini);
}

bool CheckEntries()
{
    if (!CheckRequiredEntries() || !ConfirmEntries())
        return false;
    // A level of 0 ends the checks before the boxes are looked at.
    if (Monitor.WarningLevel != 0)
        TakeCheckBoxes();
    return true;
}
