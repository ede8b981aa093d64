// Ids of the minimal dialog the program is measured against, and the floors' procedure.
#pragma once

#define IDD_MINIMAL 1
#define IDC_CLOSE   IDOK

#ifndef RC_INVOKED
#include <windows.h>

INT_PTR CALLBACK FloorProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
#endif
