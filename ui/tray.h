// The tray icon's mouse events, the popup menus, the icon put back when the taskbar is
// created anew, and the window brought forward for a second start.
#pragma once

#include "core/trayicon.h"

// One entry of a popup menu.
struct MenuEntry {
    UINT id;
    const char *text;
};

// Reads the cursor's position into Monitor.lpClickPoint and builds a new popup menu of
// the entries, appended in order.
HMENU CreatePopupMenuAtCursor(const MenuEntry *entries, size_t count);

// Opens a popup menu at Monitor.lpClickPoint, owned by the dialog, bottom edge there;
// once it has closed, destroys it and clears *menu.
void ShowPopupMenu(HMENU *menu);

// Lets the shell's "TaskbarCreated" broadcast and a second start's WM_BRINGFORWARD reach
// the dialog also when it runs elevated.
void AllowOutsideMessages(HWND hDlg);

// Registered: a second start of the program asks the running one to show its window.
extern const UINT WM_BRINGFORWARD;

// WM_BRINGFORWARD: the window back from the tray or the taskbar, in front.
void OnBringForward();

// The tray icon's callback message, and the "TaskbarCreated" broadcast.
void OnTrayIcon(WPARAM id, LPARAM mouseMessage);
void OnTaskbarCreated();
