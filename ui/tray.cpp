// The tray icon: its record, hiding the dialog to it, bringing the dialog back, the tray
// menu, and the icon put back when the taskbar is created anew.
#include "ui/tray.h"

#include "core/state.h"
#include "resources/resource.h"

#include <cstddef>
#include <cstring>

// The first form of the tray record, which every shell accepts: 88 bytes in a 32-bit
// build, 104 in a 64-bit one.
#ifdef NOTIFYICONDATAA_V1_SIZE
static const DWORD TRAY_RECORD_SIZE = NOTIFYICONDATAA_V1_SIZE;
#else
static const DWORD TRAY_RECORD_SIZE = offsetof(NOTIFYICONDATAA, szTip) + TRAY_TIP_SIZE;
#endif

// The shell broadcasts "TaskbarCreated" when the taskbar is (re)created; its id is known
// before any window exists.
[[maybe_unused]] static const bool TaskbarCreatedRegistered =
    (Monitor.WM_TASKBARCREATED = RegisterWindowMessageA("TaskbarCreated")) != 0;

void SetTrayTip(const char *text)
{
    lstrcpynA(Monitor.IconData.szTip, text, TRAY_TIP_SIZE);
}

// Whether the shell shows our icon, and the record it last took for it.
static bool IconShown;
static NOTIFYICONDATAA IconRecordTaken;

void NotifyTray(DWORD message)
{
    // Every check sends the tooltip, and each change is a round trip to the shell that
    // redraws the icon. A change with no icon shown would fail, and one the shell already
    // holds would change nothing: neither is sent.
    if (message == NIM_MODIFY &&
        (!IconShown || memcmp(&IconRecordTaken, &Monitor.IconData, sizeof IconRecordTaken) == 0))
        return;
    bool taken = Shell_NotifyIconA(message, &Monitor.IconData) != FALSE;
    if (message == NIM_DELETE) {
        IconShown = false;
    } else if (taken) {
        IconShown = true;
        IconRecordTaken = Monitor.IconData;
    }
}

void InitNotifyIconData(HWND hDlg)
{
    Monitor.IconData.cbSize = TRAY_RECORD_SIZE;
    Monitor.IconData.hWnd = hDlg;
    Monitor.IconData.uID = TRAY_ICON_ID;
    Monitor.IconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    Monitor.IconData.uCallbackMessage = WM_TRAYICON;
    Monitor.IconData.hIcon = LoadIconA(Monitor.hInst, MAKEINTRESOURCEA(IDI_VELLMARK));
    SetTrayTip("Vellmark - Inactive");
}

void MiniMizeToTray()
{
    NotifyTray(NIM_ADD);
    ShowWindow(Monitor.hwndDlgSave, SW_HIDE);
    Monitor.Minimized = TRUE;
}

void RestoreFromTray()
{
    NotifyTray(NIM_DELETE);
    // Cleared first: while it is set, the dialog refuses to be shown (see KeepHiddenInTray).
    Monitor.Minimized = FALSE;
    ShowWindow(Monitor.hwndDlgSave, SW_SHOW);
}

bool KeepHiddenInTray(WINDOWPOS *pos)
{
    // The modal loop shows the dialog by itself the first time its queue runs empty, which
    // would undo a hide to the tray at start-up.
    if (!Monitor.Minimized || !(pos->flags & SWP_SHOWWINDOW))
        return false;
    pos->flags &= ~SWP_SHOWWINDOW;
    return true;
}

void ShowPopupMenu(HMENU menu)
{
    // The menu closes properly on a click elsewhere only when its owner is the
    // foreground window; WM_NULL afterwards lets the owner see the menu has gone.
    SetForegroundWindow(Monitor.hwndDlgSave);
    TrackPopupMenu(menu, TPM_BOTTOMALIGN, Monitor.lpClickPoint.x, Monitor.lpClickPoint.y, 0, Monitor.hwndDlgSave,
                   nullptr);
    SendMessageA(Monitor.hwndDlgSave, WM_NULL, 0, 0);
}

HMENU CreatePopupMenuAtCursor(const MenuEntry *entries, size_t count)
{
    GetCursorPos(&Monitor.lpClickPoint);
    HMENU menu = CreatePopupMenu();
    for (size_t i = 0; i < count; i++)
        InsertMenuA(menu, (UINT)-1, MF_BYPOSITION | MF_STRING, entries[i].id, entries[i].text);
    return menu;
}

// All four entries are offered in every state: Start while active restarts, Stop while
// inactive changes nothing.
static void ShowTrayMenu()
{
    static const MenuEntry entries[] = {
        {IDM_RESTORE, "Restore"}, {IDM_START, "Start"}, {IDM_STOP, "Stop"}, {IDM_EXIT, "Exit"}};
    Monitor.PopMenu = CreatePopupMenuAtCursor(entries, sizeof entries / sizeof entries[0]);
    ShowPopupMenu(Monitor.PopMenu);
}

void OnTrayIcon(WPARAM id, LPARAM mouseMessage)
{
    if (id != TRAY_ICON_ID)
        return;
    switch ((UINT)mouseMessage) {
    case WM_LBUTTONDBLCLK:
        RestoreFromTray();
        break;
    case WM_RBUTTONDOWN:
        ShowTrayMenu();
        break;
    }
}

void OnTaskbarCreated()
{
    if (!IsWindowVisible(Monitor.hwndDlgSave))
        NotifyTray(NIM_ADD);
}
