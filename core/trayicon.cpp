// The tray icon record, the calls that show, change and remove the icon, and the dialog
// hidden to it and brought back.
#include "core/trayicon.h"

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
    // The thread takes messages sent to it while the shell answers, and one of them can
    // call here again: the call made last has the last word on the icon.
    static unsigned calls;
    unsigned call = ++calls;
    // The shell's DLL is loaded at the first call, which raises an exception where it
    // cannot be: without it the icon is refused, as by a taskbar that is not there.
    bool shell = GetModuleHandleA("shell32.dll") || LoadLibraryA("shell32.dll");
    bool taken = shell && ShellNotify(message, &Monitor.IconData);
    // A shell busy at sign-in can refuse an icon it then shows, and a shell that kept our
    // icon refuses to add it again: a change tells whether it is there.
    if (shell && !taken && message == NIM_ADD)
        taken = ShellNotify(NIM_MODIFY, &Monitor.IconData);
    if (call != calls)
        return;
    if (message == NIM_DELETE || (message == NIM_ADD && !taken)) {
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
    // The small icon at the size the taskbar shows it: the shell would shrink a larger
    // one, blurring it. The taskbar keeps the system's scale wherever the window goes, so
    // the size is the system's, and the icon is kept for the program's life.
    int side = GetSystemMetrics(SM_CXSMICON);
    Monitor.IconData.hIcon = static_cast<HICON>(
        LoadImageA(Monitor.hInst, MAKEINTRESOURCEA(IDI_VELLMARK), IMAGE_ICON, side, side, 0));
    SetTrayTip("Vellmark - Inactive");
}

// Brings the window and the icon in line with the in-tray state. The shell's calls and
// ShowWindow wait on other programs, and meanwhile the thread runs the messages sent to
// it: the shell sends the icon's clicks, so a double click can restore inside a hide.
// So the state is set before this runs, the last request names it, and the outermost
// call goes on until window and icon show what it names.
static void ShowTrayState()
{
    static bool showing;
    if (showing)
        return;
    showing = true;
    BOOL inTray;
    do {
        inTray = Monitor.Minimized;
        // A way out taken meanwhile has removed the icon for good.
        if (Monitor.Ending)
            break;
        if (inTray) {
            NotifyTray(NIM_ADD);
            // Hidden with no icon, nothing would bring it back: without one it stays
            // shown, until a new taskbar takes the icon (OnTaskbarCreated).
            ShowWindow(Monitor.hwndDlgSave, IconShown ? SW_HIDE : SW_SHOW);
        } else {
            NotifyTray(NIM_DELETE);
            ShowWindow(Monitor.hwndDlgSave, SW_SHOW);
        }
    } while (inTray != Monitor.Minimized);
    showing = false;
}

void MiniMizeToTray()
{
    Monitor.Minimized = TRUE;
    ShowTrayState();
}

void RestoreFromTray()
{
    // While it is set, the dialog refuses to be shown (see KeepHiddenInTray).
    Monitor.Minimized = FALSE;
    ShowTrayState();
}

bool KeepHiddenInTray(WINDOWPOS *pos)
{
    // The modal loop shows the dialog by itself the first time its queue runs empty, which
    // would undo a hide to the tray at start-up.
    if (!Monitor.Minimized || !IconShown || !(pos->flags & SWP_SHOWWINDOW))
        return false;
    pos->flags &= ~SWP_SHOWWINDOW;
    return true;
}
