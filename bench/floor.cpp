// The floors' dialog procedure: no more than each floor must do. It ends the dialog on a
// close request or the one button; built with MINIMAL_COMMON_CONTROLS it says so in the
// title, and built with MINIMAL_PROGRAM_WINDOW (the program's own dialog) it shows the
// program's icon, which the template does not name.
#include "minimal.h"

#ifdef MINIMAL_PROGRAM_WINDOW
#include "resources/resource.h"
#endif

INT_PTR CALLBACK FloorProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM)
{
    switch (uMsg) {
    case WM_INITDIALOG: {
#if defined(MINIMAL_PROGRAM_WINDOW)
        HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_VELLMARK));
        SendMessageA(hDlg, WM_SETICON, ICON_SMALL, (LPARAM)icon);
        SendMessageA(hDlg, WM_SETICON, ICON_BIG, (LPARAM)icon);
#elif defined(MINIMAL_COMMON_CONTROLS)
        SetWindowTextA(hDlg, "Minimal with common controls");
#endif
        return TRUE;
    }
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
