// Drives a running Vellmark from another process, as a user would: finds its dialog by
// title and presses its buttons. Commands and their arguments follow one another on the
// command line and run in order; the first that fails ends the run.
//
//   wait TITLE SECONDS   a dialog titled TITLE exists within SECONDS
//   gone TITLE SECONDS   no dialog titled TITLE is left within SECONDS
//   click TITLE ID       posts the click of control ID to the dialog titled TITLE
//
// Exit code 0 when every command succeeded, 1 when one failed, 2 on a usage error.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char *const DialogClass = "#32770";

// Names the other dialogs that exist, so that a failed wait shows what was there
// instead (a message box left open before the window, say).
static BOOL CALLBACK PrintDialog(HWND hWnd, LPARAM)
{
    char cls[32] = "", title[256] = "";
    GetClassNameA(hWnd, cls, sizeof cls);
    if (strcmp(cls, DialogClass) != 0)
        return TRUE;
    GetWindowTextA(hWnd, title, sizeof title);
    char text[256] = "";
    GetDlgItemTextA(hWnd, 0xFFFF, text, sizeof text);
    printf("  open dialog \"%s\"%s%s\n", title, text[0] ? ": " : "", text);
    return TRUE;
}

// Polls for the dialog until it exists (want true) or is gone (want false), or the
// time runs out. Another process's window can only be polled for.
static bool WaitForDialog(const char *title, double seconds, bool want)
{
    ULONGLONG deadline = GetTickCount64() + (ULONGLONG)(seconds * 1000);
    for (;;) {
        bool found = FindWindowA(DialogClass, title) != nullptr;
        if (found == want)
            return true;
        if (GetTickCount64() >= deadline)
            break;
        Sleep(50);
    }
    printf("driver: the dialog \"%s\" %s within %.1f s\n", title,
           want ? "did not appear" : "did not go", seconds);
    EnumWindows(PrintDialog, 0);
    return false;
}

// Posted, not sent: a click that opens a message box would otherwise hold the driver
// until the box is closed.
static bool ClickControl(const char *title, int id)
{
    HWND hDlg = FindWindowA(DialogClass, title);
    if (!hDlg) {
        printf("driver: no dialog \"%s\" to click %d in\n", title, id);
        return false;
    }
    HWND hCtl = GetDlgItem(hDlg, id);
    if (!PostMessageA(hDlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)hCtl)) {
        printf("driver: posting the click of %d failed (error %lu)\n", id, GetLastError());
        return false;
    }
    return true;
}

static bool ParseNumber(const char *text, double *value)
{
    char *end = nullptr;
    *value = strtod(text, &end);
    return end != text && *end == '\0' && *value >= 0;
}

// Runs the command at argv[*at], moving *at past it; false when it failed, with *usage
// set when the command line itself was wrong.
static bool RunCommand(int argc, char **argv, int *at, bool *usage)
{
    const char *name = argv[*at];
    double number = 0;
    *usage = *at + 2 >= argc || !ParseNumber(argv[*at + 2], &number);
    if (*usage) {
        printf("driver: \"%s\" needs a title and a number\n", name);
        return false;
    }
    const char *title = argv[*at + 1];
    *at += 3;
    if (strcmp(name, "wait") == 0)
        return WaitForDialog(title, number, true);
    if (strcmp(name, "gone") == 0)
        return WaitForDialog(title, number, false);
    if (strcmp(name, "click") == 0)
        return ClickControl(title, (int)number);
    printf("driver: unknown command \"%s\"\n", name);
    *usage = true;
    return false;
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        printf("usage: driver (wait TITLE SECONDS | gone TITLE SECONDS | click TITLE ID)...\n");
        return 2;
    }
    for (int at = 1; at < argc;) {
        bool usage = false;
        if (!RunCommand(argc, argv, &at, &usage))
            return usage ? 2 : 1;
    }
    return 0;
}
