// The program's entry: prepare the process and run the main dialog modally.
#include "core/state.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "ui/dialog.h"
#include "ui/dpi.h"

#include <commctrl.h>

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    // First of all: only windows made after it, LoadSettings' boxes among them, are sharp.
    DeclareDpiAwareness();
    // Before anything queries a drive: an empty card reader or DVD drive must fail the
    // query, not open the system's "no disk" box, which would block the only thread.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    Monitor.hInst = hInstance;
    InitCommonControls();
    LoadSettings();
    return (int)DialogBoxParamA(hInstance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, DialogProc, 0);
}
