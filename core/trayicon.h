// The tray icon record and the calls that show, change and remove the icon, with the
// dialog hidden to it and brought back.
#pragma once

#include <windows.h>
#include <shellapi.h>

// The tip of the tray record's first form holds 64 bytes: 63 characters and the zero.
const size_t TRAY_TIP_SIZE = 64;

// Fills the tray record for the dialog, with the program's small icon and the inactive
// tip; shows nothing.
void InitNotifyIconData(HWND hDlg);

// Sends the tray record with NIM_ADD, NIM_MODIFY or NIM_DELETE; the result is not needed.
// NIM_MODIFY goes out only while the icon is shown and the record differs from the one
// the shell last took; delete fails harmlessly while no icon is shown.
void NotifyTray(DWORD message);

// Hands a tray record to the shell with NIM_ADD, NIM_MODIFY or NIM_DELETE; true when the
// shell took it.
bool ShellNotify(DWORD message, NOTIFYICONDATAA *data);

// Puts text into the tray record's tip, cut to 63 characters.
void SetTrayTip(const char *text);

// Hides the dialog and shows the icon; RestoreFromTray undoes it. Either may be asked for
// inside the other: the last one asked for holds. While the shell refuses the icon the
// dialog stays shown; asked again, it hides once the icon is taken.
void MiniMizeToTray();
void RestoreFromTray();

// For WM_WINDOWPOSCHANGING: keeps a dialog hidden in the tray, its icon shown, from being
// shown by anything but RestoreFromTray. True when it changed pos.
bool KeepHiddenInTray(WINDOWPOS *pos);
