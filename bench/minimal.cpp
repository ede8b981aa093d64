// The least a dialog program can be: a modal dialog from a resource whose one button,
// like a close request, ends it. The program's footprint is measured against this.
#include "minimal.h"

#include <windows.h>

static INT_PTR CALLBACK MinimalProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM)
{
    switch (uMsg) {
    case WM_INITDIALOG:
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
    return (int)DialogBoxParamA(hInstance, MAKEINTRESOURCEA(IDD_MINIMAL), nullptr, MinimalProc, 0);
}
