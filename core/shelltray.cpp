// The one call to the shell's tray. Tests link their own version of ShellNotify to stand
// in for the shell.
#include "core/trayicon.h"

#include <shellapi.h>

bool ShellNotify(DWORD message, NOTIFYICONDATAA *data)
{
    return Shell_NotifyIconA(message, data) != FALSE;
}
