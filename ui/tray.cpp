// The tray icon: its record, and hiding the dialog to it.
#include "ui/tray.h"

#include "core/state.h"
#include "resources/resource.h"

#include <cstring>

// The first form of the tray record: what every shell accepts. Its true size is 88 bytes
// in a 32-bit build and 104 in a 64-bit one.
#ifdef NOTIFYICONDATAA_V1_SIZE
static const DWORD TRAY_RECORD_SIZE = NOTIFYICONDATAA_V1_SIZE;
#else
static const DWORD TRAY_RECORD_SIZE = offsetof(NOTIFYICONDATAA, szTip) + 64;
#endif

void SetTrayTip(const char *text)
{
    lstrcpynA(Monitor.IconData.szTip, text, TRAY_TIP_SIZE);
}

void NotifyTray(DWORD message)
{
    Shell_NotifyIconA(message, &Monitor.IconData);
}

void InitNotifyIconData(HWND hDlg)
{
    HICON icon = LoadIconA(Monitor.hInst, MAKEINTRESOURCEA(IDI_VELLMARK));
    Monitor.IconData.cbSize = TRAY_RECORD_SIZE;
    Monitor.IconData.hWnd = hDlg;
    Monitor.IconData.uID = TRAY_ICON_ID;
    Monitor.IconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    Monitor.IconData.uCallbackMessage = WM_TRAYICON;
    Monitor.IconData.hIcon = icon;
    SetTrayTip("Vellmark - Inactive");
}

void MiniMizeToTray()
{
    NotifyTray(NIM_ADD);
    ShowWindow(Monitor.hwndDlgSave, SW_HIDE);
    Monitor.Minimized = TRUE;
}
