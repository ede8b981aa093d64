// A shell of the tests' own for the tray: test programs that link faketray.cpp get every
// Shell_NotifyIconA call of the program recorded and answered here instead of by the
// real shell.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct TrayCall {
    DWORD message;                  // NIM_ADD, NIM_MODIFY or NIM_DELETE
    std::string tip;
};

extern std::vector<TrayCall> TrayCalls;

// While set, the shell refuses every call, as one that is not running yet does.
extern bool FakeTrayRefuses;

// Whether the fake shell shows the icon now.
extern bool FakeTrayIconShown;
