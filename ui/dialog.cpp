// The main dialog: start-up, and the dispatch of its messages to the procedures that
// handle them.
#include "ui/dialog.h"

#include "core/boxes.h"
#include "core/drives.h"
#include "core/monitoring.h"
#include "core/sampling.h"
#include "core/state.h"
#include "core/warning.h"
#include "mail/smtp.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "ui/dpi.h"
#include "ui/tray.h"

#include <commctrl.h>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>

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

// The stored unit goes on the slider at the stored count: 1 seconds, 2 minutes, and
// every other code hours.
static void PutStoredUnitInForce()
{
    Monitor.TimeType = static_cast<int>(Monitor.StartTimeType);
    int code = Monitor.StartTimeType == 1 || Monitor.StartTimeType == 2 ? Monitor.StartTimeType : 3;
    SetUpUnit(code, Monitor.StartSeconds, true);
}

static void ShowStoredSettings(HWND hDlg)
{
    PopulateDriveList();
    SetDlgItemTextA(hDlg, IDC_DISK, Monitor.StartDisk);
    // With no drive stored, watch the default drive until one is chosen.
    Monitor.pszDrive = Monitor.StartDisk[0] ? Monitor.StartDisk : "C:\\";
    if (Monitor.StartWarning != 0) {
        snprintf(Monitor.WarningText, sizeof Monitor.WarningText, "%.2f", Monitor.StartWarning);
        SetDlgItemTextA(hDlg, IDC_WARNING, Monitor.WarningText);
    }
    if (Monitor.StartSeconds != 0) {
        // The slider reads its position as signed: a stored count beyond 2^31 would land on
        // the minimum instead of being clamped to the maximum.
        SendMessageA(Monitor.hWndSeconds, TBM_SETPOS, TRUE, std::min<DWORD>(Monitor.StartSeconds, LONG_MAX));
        SetDlgItemInt(hDlg, IDC_INTERVAL, Monitor.StartSeconds, TRUE);
    }
    if (Monitor.StartTimeType != 0)
        PutStoredUnitInForce();
    SetDlgItemTextA(hDlg, IDC_EMAIL, Monitor.StartEmailAddress);
    SetDlgItemTextA(hDlg, IDC_SERVER, Monitor.StartEmailServer);
    SetDlgItemTextA(hDlg, IDC_FROM, Monitor.StartFromEmail);
    SetDlgItemTextA(hDlg, IDC_COMMAND, Monitor.StartCommand);
    // A flag with no character at all (a fresh install) shows ticked.
    SendMessageA(Monitor.hWndAutoStart, BM_SETCHECK, Monitor.AutoStartValue[0] == '0' ? BST_UNCHECKED : BST_CHECKED, 0);
    SendMessageA(Monitor.hWndAutoMinimize, BM_SETCHECK, Monitor.AutoStartMini[0] == '0' ? BST_UNCHECKED : BST_CHECKED, 0);
}

static INT_PTR OnInitDialog(HWND hDlg)
{
    KeepControlHandles(hDlg);
    WCHAR hostName[MAX_COMPUTERNAME_LENGTH + 1] = L"";
    Monitor.HostNameLength = MAX_COMPUTERNAME_LENGTH + 1;
    GetComputerNameW(hostName, &Monitor.HostNameLength);
    // In UTF-8 whatever the code page: the mail gives a name outside ASCII as encoded-words.
    WideCharToMultiByte(CP_UTF8, 0, hostName, -1, Monitor.MyHostName, sizeof Monitor.MyHostName, nullptr, nullptr);
    ResetMarks();
    SendMessageA(Monitor.hWndSeconds, TBM_SETPOS, TRUE, 30);
    SetWindowIcons(hDlg);
    ShowStoredSettings(hDlg);
    Monitor.Minimized = FALSE;
    GetCurrentDiskUsage();
    if (Monitor.StartTimeType == 0) {
        // No unit stored: the seconds range around the slider's position; the label and
        // the interval box stay as they are.
        SetUpUnit(1, static_cast<UINT>(SendMessageA(Monitor.hWndSeconds, TBM_GETPOS, 0, 0)), false);
    }
    SetWindowTextA(hDlg, "Vellmark - Inactive");
    SetDlgItemTextA(hDlg, IDC_VERSION, VELLMARK_VERSION);
    InitNotifyIconData(hDlg);
    AllowTaskbarCreated(hDlg);
    EnableWindow(GetDlgItem(hDlg, IDC_STOP), FALSE);
    // The automatic start does not show the window: the modal loop shows it by itself
    // unless the start hid it to the tray.
    if (Monitor.AutoStartValue[0] == '1')
        StartAndMinimize();
    else
        ShowWindow(hDlg, SW_SHOW);
    return TRUE;
}

static void OnTimer()
{
    GetCurrentDiskUsage();
    CheckWarning();
}

// Shows the mailer's reports one box at a time, oldest first. A report that comes while
// a box is open waits for the box's loop to show it; the mailer drops one that repeats a
// report open or waiting, so a server that is down at every check shows once.
static void OnMailReport()
{
    static bool showing = false;
    if (showing)
        return;
    showing = true;
    char text[MailReportSize];
    while (!Monitor.Ending && NextMailReport(text, sizeof text))
        MessageBoxA(nullptr, text, "Error", MB_TOPMOST | MB_ICONERROR);
    showing = false;
}

static void OnSlider()
{
    Monitor.TrackPosition = static_cast<int>(SendMessageA(Monitor.hWndSeconds, TBM_GETPOS, 0, 0));
    SetDlgItemInt(Monitor.hwndDlgSave, IDC_INTERVAL, Monitor.TrackPosition, TRUE);
}

// Another drive is watched at once, with fresh marks; the drive in force (named in the
// tooltip and the alert) changes only with the next Start.
static void OnDriveSelected()
{
    Monitor.pszDrive = ReadSelectedDrive() ? Monitor.buffer : "C:\\";
    ResetMarks();
    GetCurrentDiskUsage();
}

static void ShowUnitMenu()
{
    static const MenuEntry entries[] = {{IDM_SECONDS, "Seconds"}, {IDM_MINUTES, "Minutes"}, {IDM_HOURS, "Hours"}};
    Monitor.PopMenu2 = CreatePopupMenuAtCursor(entries, sizeof entries / sizeof entries[0]);
    int checked = Monitor.TimeType <= 1 ? IDM_SECONDS : Monitor.TimeType == 2 ? IDM_MINUTES
                : Monitor.TimeType == 3 ? IDM_HOURS : 0;
    if (checked)
        CheckMenuItem(Monitor.PopMenu2, checked, MF_BYCOMMAND | MF_CHECKED);
    ShowPopupMenu(&Monitor.PopMenu2);
}

// A unit chosen from the menu takes effect at the next Start; the slider moves to the
// unit's default at once.
static void OnUnitChosen(int code)
{
    Monitor.TimeType = code;
    SetUpUnit(code, UnitForCode(code).defaultPosition, true);
}

// Every way out comes here. EndDialog alone only marks the dialog: a message box open at
// that moment runs a loop of its own, in which the checks would go on ticking until
// somebody closed it. So the check timer stops at once, nothing is dispatched or started
// after this, and the quit message ends every modal loop, open boxes included, down to
// the dialog's own, each passing it on to the loop below.
static void EndProgram(HWND hDlg)
{
    Monitor.Ending = true;
    KillTimer(hDlg, IDT_CHECK);
    CancelMail();
    NotifyTray(NIM_DELETE);
    EndDialog(hDlg, 0);
    PostQuitMessage(0);
}

static INT_PTR OnCommand(HWND hDlg, int id, int notification)
{
    switch (id) {
    case IDC_SAVE:      SaveSettings();                 return FALSE;
    case IDC_START:     StartMonitoring();              return TRUE;
    case IDC_STOP:      StopMonitoring();               return TRUE;
    case IDC_EXIT:      EndProgram(hDlg);               return TRUE;
    case IDC_RESET:     ResetMarks();                   return FALSE;
    case IDC_MINIMIZE:  MiniMizeToTray();               return FALSE;
    case IDM_START:     StartMonitoringFromTray();      return TRUE;
    case IDM_STOP:      StopMonitoring();               return TRUE;
    case IDM_EXIT:      EndProgram(hDlg);               return TRUE;
    case IDM_RESTORE:   RestoreFromTray();              return FALSE;
    case IDM_SECONDS:   OnUnitChosen(1);                return FALSE;
    case IDM_MINUTES:   OnUnitChosen(2);                return FALSE;
    case IDM_HOURS:     OnUnitChosen(3);                return FALSE;
    case IDC_DISK:
        if (notification != CBN_SELCHANGE)
            return FALSE;
        OnDriveSelected();
        return TRUE;
    }
    // Escape's cancel command (IDCANCEL) has no row: the dialog does not close.
    return FALSE;
}

INT_PTR CALLBACK DialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    Monitor.hwndDlgSave = hDlg;
    // A tick or a command already queued, or delivered inside a box, while the program ends.
    if (Monitor.Ending)
        return FALSE;
    if (uMsg == Monitor.WM_TASKBARCREATED && uMsg != 0) {
        OnTaskbarCreated();
        return FALSE;
    }
    switch (uMsg) {
    case WM_INITDIALOG:
        return OnInitDialog(hDlg);
    case WM_COMMAND:
        return OnCommand(hDlg, LOWORD(wParam), HIWORD(wParam));
    case WM_HSCROLL:
        OnSlider();
        return FALSE;
    case WM_TIMER:
        OnTimer();
        return FALSE;
    case WM_RBUTTONDOWN:
        ShowUnitMenu();
        return FALSE;
    case WM_TRAYICON:
        OnTrayIcon(wParam, lParam);
        return FALSE;
    case WM_MAILREPORT:
        OnMailReport();
        return FALSE;
    case WM_DPICHANGED:
        // Moved to a display of another scale. Windows lays a per-monitor v2 dialog, its
        // fonts and controls out anew once this returns FALSE; the icons are ours.
        SetWindowIcons(hDlg);
        return FALSE;
    case WM_WINDOWPOSCHANGING:
        KeepHiddenInTray(reinterpret_cast<WINDOWPOS *>(lParam));
        return FALSE;
    case WM_CLOSE:
        EndProgram(hDlg);
        return TRUE;
    case WM_ENDSESSION:
        if (!wParam)
            return FALSE;
        EndProgram(hDlg);
        return TRUE;
    }
    return FALSE;
}
