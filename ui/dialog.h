// The main dialog's procedure.
#pragma once

#include <windows.h>

INT_PTR CALLBACK DialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
