// The main dialog: start-up and the dispatch of its messages.
#include "ui/dialog.h"

#include "core/monitoring.h"
#include "core/sampling.h"
#include "core/state.h"
#include "core/warning.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "ui/tray.h"

#include <commctrl.h>

static void KeepControlHandles(HWND hDlg)
{
    Monitor.hWndSize = GetDlgItem(hDlg, IDC_DISKSIZE);
    Monitor.hWndFree = GetDlgItem(hDlg, IDC_FREE);
    Monitor.hWndFreePercent = GetDlgItem(hDlg, IDC_FREEPERCENT);
    Monitor.hWndDisk = GetDlgItem(hDlg, IDC_DISK);
    Monitor.hWndWarning = GetDlgItem(hDlg, IDC_WARNING);
    Monitor.hWndSeconds = GetDlgItem(hDlg, IDC_SECONDS);
    Monitor.hWndEmail = GetDlgItem(hDlg, IDC_EMAIL);
    Monitor.hWndFrom = GetDlgItem(hDlg, IDC_FROM);
    Monitor.hWndServer = GetDlgItem(hDlg, IDC_SERVER);
    Monitor.hWndAutoStart = GetDlgItem(hDlg, IDC_AUTOSTART);
    Monitor.hWndAutoMinimize = GetDlgItem(hDlg, IDC_AUTOMIN);
    Monitor.hHighGB = GetDlgItem(hDlg, IDC_HIGHGB);
    Monitor.hLowGB = GetDlgItem(hDlg, IDC_LOWGB);
    Monitor.hHighPercent = GetDlgItem(hDlg, IDC_HIGHPERCENT);
    Monitor.hLowPercent = GetDlgItem(hDlg, IDC_LOWPERCENT);
    Monitor.hTimeType = GetDlgItem(hDlg, IDC_TIMETYPE);
    Monitor.hCommand = GetDlgItem(hDlg, IDC_COMMAND);
}

static INT_PTR OnInitDialog(HWND hDlg)
{
    KeepControlHandles(hDlg);
    Monitor.HostNameLength = sizeof Monitor.MyHostName;
    GetComputerNameA(Monitor.MyHostName, &Monitor.HostNameLength);
    Monitor.highgb = Monitor.lowgb = Monitor.highpercent = Monitor.lowpercent = 0;
    SendMessageA(Monitor.hWndSeconds, TBM_SETPOS, TRUE, 30);
    HICON icon = LoadIconA(Monitor.hInst, MAKEINTRESOURCEA(IDI_VELLMARK));
    SendMessageA(hDlg, WM_SETICON, ICON_SMALL, (LPARAM)icon);
    SendMessageA(hDlg, WM_SETICON, ICON_BIG, (LPARAM)icon);
    // With no drive stored, watch the default drive until one is chosen.
    Monitor.pszDrive = Monitor.StartDisk[0] ? Monitor.StartDisk : "C:\\";
    Monitor.Minimized = FALSE;
    GetCurrentDiskUsage();
    SetWindowTextA(hDlg, "Vellmark - Inactive");
    SetDlgItemTextA(hDlg, IDC_VERSION, VELLMARK_VERSION);
    InitNotifyIconData(hDlg);
    EnableWindow(GetDlgItem(hDlg, IDC_STOP), FALSE);
    ShowWindow(hDlg, SW_SHOW);
    return TRUE;
}

static void OnTimer()
{
    GetCurrentDiskUsage();
    if (Monitor.WarningLevel > 0)
        CheckWarning();
}

static void EndProgram(HWND hDlg)
{
    NotifyTray(NIM_DELETE);
    EndDialog(hDlg, 0);
}

static INT_PTR OnCommand(HWND hDlg, int id)
{
    switch (id) {
    case IDC_EXIT:
        EndProgram(hDlg);
        return TRUE;
    case IDC_SAVE:
        SaveSettings();
        return FALSE;
    case IDC_START:
        StartMonitoring();
        return TRUE;
    case IDM_START:
        StartMonitoringFromTray();
        return TRUE;
    case IDC_STOP:
    case IDM_STOP:
        StopMonitoring();
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK DialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM)
{
    Monitor.hwndDlgSave = hDlg;
    switch (uMsg) {
    case WM_INITDIALOG:
        return OnInitDialog(hDlg);
    case WM_COMMAND:
        return OnCommand(hDlg, LOWORD(wParam));
    case WM_TIMER:
        OnTimer();
        return FALSE;
    case WM_CLOSE:
        EndProgram(hDlg);
        return TRUE;
    }
    return FALSE;
}
