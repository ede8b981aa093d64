// A shell of the tests' own for the tray: test programs that link faketray.cpp get every
// call the program makes to the shell's tray recorded and answered here instead.
#pragma once

#include <windows.h>

#include <functional>
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

// While set, an add shows the icon and still reports failure, as a shell busy at sign-in.
extern bool FakeTrayAddFailsButShows;

// Called inside each call, once the shell has acted and before the caller has its answer:
// what a program receives meanwhile, as the icon's clicks, which the shell sends.
extern std::function<void(DWORD message)> FakeTrayMeanwhile;
