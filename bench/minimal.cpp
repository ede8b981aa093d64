// The least a dialog program can be: a modal dialog from a resource whose one button,
// like a close request, ends it. The program's footprint is measured against this.
// Built with MINIMAL_COMMON_CONTROLS it also loads the common controls, as a program
// with a slider must, and says so in its title: the second, nearer floor.
#include "minimal.h"

#include <windows.h>
#ifdef MINIMAL_COMMON_CONTROLS
#include <commctrl.h>
#endif

static INT_PTR CALLBACK MinimalProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM)
{
    switch (uMsg) {
    case WM_INITDIALOG:
#ifdef MINIMAL_COMMON_CONTROLS
        SetWindowTextA(hDlg, "Minimal with common controls");
#endif
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) != IDC_CLOSE && LOWORD(wParam) != IDCANCEL)
            return FALSE;
        EndDialog(hDlg, 0);
        return TRUE;
    case WM_CLOSE:
        EndDialog(hDlg, 0);
        return TRUE;
    }
    return FALSE;
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
#ifdef MINIMAL_COMMON_CONTROLS
    InitCommonControls();
#endif
    return (int)DialogBoxParamA(hInstance, MAKEINTRESOURCEA(IDD_MINIMAL), nullptr, MinimalProc, 0);
}
