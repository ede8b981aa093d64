// Every resource, control, command, message and timer id of the program, so that the
// code and the tests use names.
#pragma once

// Dialog and icon
#define IDD_MAIN            101
#define IDI_VELLMARK        1

// Controls of the main dialog
#define IDC_AUTOSTART       1000
#define IDC_INTERVAL        1001
#define IDC_VERSION         1002
#define IDC_AUTOMIN         1003
#define IDC_SAVE            1004
#define IDC_TIMETYPE        1005
#define IDC_FROM            1007
#define IDC_START           1008
#define IDC_STOP            1009
#define IDC_EXIT            1010
#define IDC_DISK            1011
#define IDC_WARNING         1012
#define IDC_SECONDS         1013
#define IDC_EMAIL           1014
#define IDC_SERVER          1015
#define IDC_RESET           1017
#define IDC_FREE            1019
#define IDC_DISKSIZE            1020
#define IDC_FREEPERCENT     1022
#define IDC_MINIMIZE        1023
#define IDC_WEBADDRESS      1024
#define IDC_HIGHGB          1025
#define IDC_HIGHPERCENT     1026
#define IDC_LOWGB           1027
#define IDC_LOWPERCENT      1028
#define IDC_COMMAND         1030

// Tray menu and unit menu commands
#define IDM_START           20003
#define IDM_STOP            20004
#define IDM_EXIT            20005
#define IDM_RESTORE         20006
#define IDM_SECONDS         20007
#define IDM_MINUTES         20008
#define IDM_HOURS           20009

// Timer, tray callback message and tray icon id; the values are fixed, since earlier
// releases used them.
#define IDT_CHECK           20001
#define WM_TRAYICON         20002
#define TRAY_ICON_ID        1025

// Tells the dialog that a mail failure waits to be shown. It carries nothing: the reports
// stay with the mailer, so a message another program posts can only make the dialog look.
#define WM_MAILREPORT       (WM_APP + 1)

// The version shown in the dialog; the release packages are named after it.
#define VELLMARK_VERSION    "5.0.36.126"
