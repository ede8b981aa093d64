// The Monitor state: the program's settings, figures and window handles in one record.
//
// Who may touch it: only the dialog's thread, the one that runs WinMain and DialogProc,
// so no field needs a lock. Work that leaves that thread (the mail worker, the name
// look-up at Start) is handed copies of what it needs and never sees the record. State
// that only one file needs stays in that file, as a static with the reason beside it.
//
// Modal loops. A message box, a popup menu and a call to the shell each run a message
// loop of their own inside the handler that opened them, and the check timer, the tray
// and other programs go on delivering messages to DialogProc meanwhile. Every place where
// that could start an act again, or undo one still under way, has one guard:
//   Monitor.Ending        after a way out, nothing is checked, started or shown (ui/dialog.cpp)
//   Validating            one Start's boxes at a time; another Start meanwhile is ignored
//                         (core/monitoring.cpp)
//   ShowAlert's flag      one alert box at a time; the checks go on meanwhile (core/warning.cpp)
//   OnMailReport's flag   one mail box at a time; later reports wait with the mailer
//                         (ui/dialog.cpp)
//   ShowTrayState's flag  a hide and a restore asked inside each other end as last asked
//                         (core/trayicon.cpp)
//   NotifyTray's counter  the shell call made last has the last word on the icon
//                         (core/trayicon.cpp)
//   KeepHiddenInTray      the modal loop's own first showing does not undo a hide
//                         (core/trayicon.cpp)
#pragma once

#include <windows.h>
#include <shellapi.h>

struct MonitorState {
    // Stored settings, filled once by LoadSettings before the dialog exists. Each text is
    // larger than the largest read that fills it, so it always ends in a zero byte.
    char StartDisk[32];             // read size 4
    char StartEmailAddress[1024];   // read size 1000
    char StartEmailServer[128];     // read size 100
    char StartFromEmail[128];       // read size 100
    char StartCommand[252];         // read size 250
    LONG StartWarning2;             // warning level in hundredths of a percent
    float StartWarning;             // the same in percent
    DWORD StartSeconds;             // interval, a count of units
    DWORD StartTimeType;            // 1 seconds, 2 minutes, 3 hours, 0 none stored

    // The two start-up flags. Only the first character counts: '1' on, '0' off, nothing
    // after a fresh install. Validation takes them from their check boxes.
    char AutoStartValue[4];
    char AutoStartMini[4];

    // Settings in force. A text in force is a heap copy owned by its field, or nullptr
    // for none (an empty box or an empty stored text); see PutTextInForce.
    char *DiskToMonitor;
    char *EmailAddress;
    char *EmailServer;
    char *FromAddress;
    char *Command;
    float WarningLevel;             // percent; 0 means no warnings
    UINT Seconds;                   // interval, a count of units
    int TimeType;                   // unit in force; 0 none chosen, counted as seconds
    int WarningTime;                // period of the check timer in milliseconds

    // The last sample and the marks. A low mark of 0 is unset.
    const char *pszDrive;           // the path the sampler queries
    ULONGLONG DiskSize;
    ULONGLONG DiskFree;
    ULONGLONG i64FreeBytesToCaller;
    double FreePercent;
    float highgb;
    float lowgb;
    float highpercent;
    float lowpercent;

    // The dialog, its controls and the tray.
    HINSTANCE hInst;
    HWND hwndDlgSave;
    HWND hWndSize;
    HWND hWndFree;
    HWND hWndDisk;
    HWND hWndFreePercent;
    HWND hWndWarning;
    HWND hWndSeconds;
    HWND hWndEmail;
    HWND hWndFrom;
    HWND hWndServer;
    HWND hWndAutoStart;
    HWND hWndAutoMinimize;
    HWND hHighGB;
    HWND hLowGB;
    HWND hHighPercent;
    HWND hLowPercent;
    HWND hTimeType;
    HWND hCommand;
    int TrackPosition;              // last position read from the interval slider
    int Index;                      // last drive list selection, -1 for none
    char buffer[12];                // the selected drive's text
    char WarningText[32];           // the stored level for its box; wide enough for any float
    NOTIFYICONDATAA IconData;
    char TrayText[200];
    BOOL Minimized;
    HMENU PopMenu;                  // the tray menu while it is open
    HMENU PopMenu2;                 // the unit menu while it is open
    POINT lpClickPoint;
    UINT WM_TASKBARCREATED;
    bool Ending;                    // a way out was taken: no check, start or icon after it

    // For the mail: the computer's name in UTF-8, named in the subject.
    char MyHostName[100];
    DWORD HostNameLength;

    // Box reading scratch: the length last read.
    int len;

    // Settings store scratch.
    DWORD valuesize;
    DWORD KeyType;
    HKEY hKey;
    DWORD dwDisposition;
    bool Error;                     // outcome of the last call that sets it; tested at once or never
};

extern MonitorState Monitor;

// Replaces a text in force with a copy of text, or with none when text is null or empty.
void PutTextInForce(char **field, const char *text);
