// The tray icon record and the calls that show, change and remove the icon.
#pragma once

#include <windows.h>

// The tip of the tray record's first form holds 64 bytes: 63 characters and the zero.
const size_t TRAY_TIP_SIZE = 64;

// Fills the tray record for the dialog with the inactive tip; shows nothing.
void InitNotifyIconData(HWND hDlg);

// Sends the tray record with NIM_ADD, NIM_MODIFY or NIM_DELETE; the result is not needed:
// modify and delete fail harmlessly while no icon is shown.
void NotifyTray(DWORD message);

// Puts text into the tray record's tip, cut to 63 characters.
void SetTrayTip(const char *text);

void MiniMizeToTray();
