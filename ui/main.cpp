// The program's entry: prepare the process and run the main dialog modally, unless a
// Vellmark runs already.
#include "core/state.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "ui/dialog.h"
#include "ui/dpi.h"
#include "ui/tray.h"

#include <commctrl.h>
#include <cstdio>

// One Vellmark per user in a session, or every check would run twice. Windows lets the
// mutex go when the process ends, however it ends.
static bool AnotherRuns()
{
    char user[257] = "", name[300];
    DWORD size = sizeof user;
    GetUserNameA(user, &size);
    snprintf(name, sizeof name, "Local\\Tolvane.Vellmark.%s", user);
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
    DWORD error = GetLastError();
    // One started elevated keeps a standard start out of its mutex: it runs all the same.
    return mutex ? error == ERROR_ALREADY_EXISTS : error == ERROR_ACCESS_DENIED;
}

// Asks the running Vellmark to show its window in front. Without one yet (it is still
// starting) there is nothing to ask: it shows itself.
static void BringRunningForward()
{
    HWND running = FindWindowA("#32770", "Vellmark - Inactive");
    if (!running)
        running = FindWindowA("#32770", "Vellmark - Active");
    if (!running)
        return;
    DWORD process = 0;
    GetWindowThreadProcessId(running, &process);
    // Only the foreground process may hand the foreground on, and this start has it.
    AllowSetForegroundWindow(process);
    PostMessageA(running, WM_BRINGFORWARD, 0, 0);
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    // Before any DLL is loaded at run time: from the system folder only, never from the
    // program's own, which may be a downloads folder. Windows 7 has the call only with
    // an update, so it is looked up.
    auto systemOnly = reinterpret_cast<decltype(&SetDefaultDllDirectories)>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
    if (systemOnly)
        systemOnly(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Only windows made after it, LoadSettings' boxes among them, are sharp.
    DeclareDpiAwareness();
    // Before anything queries a drive: an empty card reader or DVD drive must fail the
    // query, not open the system's "no disk" box, which would block the dialog's thread.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    Monitor.hInst = hInstance;
    if (AnotherRuns()) {
        BringRunningForward();
        return 0;
    }
    // The interval slider's class. COMCTL32 is loaded at first use like the other DLLs,
    // and a call into it that cannot load would end the program with an exception.
    if (!LoadLibraryA("comctl32.dll")) {
        MessageBoxA(nullptr, "Vellmark cannot start: comctl32.dll cannot be loaded.", "Error", MB_ICONERROR);
        return 1;
    }
    InitCommonControls();
    LoadSettings();
    return (int)DialogBoxParamA(hInstance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, DialogProc, 0);
}
