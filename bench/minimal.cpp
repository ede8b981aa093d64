// The least a dialog program can be: a modal dialog from a resource whose one button,
// like a close request, ends it. The program's footprint is measured against this.
// Built with MINIMAL_COMMON_CONTROLS it also loads the common controls, as a program
// with a slider must: the second floor. Built with MINIMAL_PROGRAM_WINDOW it shows the
// program's own dialog and icon, the common controls set up as the program does: the
// nearest floor, the program's window with nothing behind it.
#include "minimal.h"

#if defined(MINIMAL_PROGRAM_WINDOW)
#include "resources/resource.h"
#define MINIMAL_DIALOG IDD_MAIN
#else
#define MINIMAL_DIALOG IDD_MINIMAL
#endif

#if defined(MINIMAL_COMMON_CONTROLS) || defined(MINIMAL_PROGRAM_WINDOW)
#include <commctrl.h>
#endif

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
#if defined(MINIMAL_COMMON_CONTROLS) || defined(MINIMAL_PROGRAM_WINDOW)
    InitCommonControls();
#endif
    return (int)DialogBoxParamA(hInstance, MAKEINTRESOURCEA(MINIMAL_DIALOG), nullptr, FloorProc, 0);
}
