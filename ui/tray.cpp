// The tray icon's mouse events, the tray and unit menus' display, the icon put back when
// the taskbar is created anew, and the window brought forward for a second start.
#include "ui/tray.h"

#include "core/state.h"
#include "resources/resource.h"

// The shell broadcasts "TaskbarCreated" when the taskbar is (re)created; its id is known
// before any window exists.
[[maybe_unused]] static const bool TaskbarCreatedRegistered =
    (Monitor.WM_TASKBARCREATED = RegisterWindowMessageA("TaskbarCreated")) != 0;

// A second start posts it to the running window (ui/main.cpp). It carries nothing, so
// there is nothing in it to check.
const UINT WM_BRINGFORWARD = RegisterWindowMessageA("Tolvane.Vellmark.BringForward");

void AllowOutsideMessages(HWND hDlg)
{
    // Windows keeps messages of less privileged programs, the shell's broadcast among
    // them, from an elevated window unless it lets them in; without it a dialog hidden in
    // the tray would lose its icon for good when the shell restarts, and a second start
    // could not show it. Looked up here, as Windows before 7 lacks the call.
    auto allow = reinterpret_cast<decltype(&ChangeWindowMessageFilterEx)>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("user32.dll"), "ChangeWindowMessageFilterEx")));
    const UINT messages[] = {Monitor.WM_TASKBARCREATED, WM_BRINGFORWARD};
    for (UINT message : messages) {
        if (allow && message)
            allow(hDlg, message, MSGFLT_ALLOW, nullptr);
    }
}

void OnBringForward()
{
    HWND hDlg = Monitor.hwndDlgSave;
    RestoreFromTray();
    if (IsIconic(hDlg))
        ShowWindow(hDlg, SW_RESTORE);
    // Windows lets it take the foreground because the second start allowed it to.
    SetForegroundWindow(hDlg);
}

void ShowPopupMenu(HMENU *menu)
{
    // The menu closes properly on a click elsewhere only when its owner is the
    // foreground window; WM_NULL afterwards lets the owner see the menu has gone.
    SetForegroundWindow(Monitor.hwndDlgSave);
    TrackPopupMenu(*menu, TPM_BOTTOMALIGN, Monitor.lpClickPoint.x, Monitor.lpClickPoint.y, 0, Monitor.hwndDlgSave,
                   nullptr);
    SendMessageA(Monitor.hwndDlgSave, WM_NULL, 0, 0);
    // The choice is already posted as a command; the menu is built anew at every click.
    DestroyMenu(*menu);
    *menu = nullptr;
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
    ShowPopupMenu(&Monitor.PopMenu);
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

// By the program's own in-tray state, not by the window's visibility: at sign-in a
// start-up box can be open before the window is first shown, and the icon would stay. A
// window kept shown while the shell refused its icon hides now.
void OnTaskbarCreated()
{
    if (Monitor.Minimized)
        MiniMizeToTray();
}
