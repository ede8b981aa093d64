// The nearest floor: the program's own window. The same dialog template (its 39 controls)
// and the same icon, the common controls set up as the program sets them up, shown by a
// procedure that does nothing else. What the program adds to this is its own cost.
#include "resources/resource.h"

#include <windows.h>
#include <commctrl.h>

static INT_PTR CALLBACK WindowProc(HWND hDlg, UINT uMsg, WPARAM, LPARAM)
{
    switch (uMsg) {
    case WM_INITDIALOG: {
        // The template names no icon: a dialog shows one only when handed it.
        HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_VELLMARK));
        SendMessageA(hDlg, WM_SETICON, ICON_SMALL, (LPARAM)icon);
        SendMessageA(hDlg, WM_SETICON, ICON_BIG, (LPARAM)icon);
        return TRUE;
    }
    case WM_CLOSE:
        EndDialog(hDlg, 0);
        return TRUE;
    }
    return FALSE;
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    InitCommonControls();
    return (int)DialogBoxParamA(hInstance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, WindowProc, 0);
}
