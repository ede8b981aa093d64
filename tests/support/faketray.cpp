// Stands in for the shell's tray: test programs that link this file get its ShellNotify
// instead of the program's (core/shelltray.cpp). It answers like a shell: an icon is
// added once, and changed or removed only while it is there.
#include "tests/support/faketray.h"

#include "core/trayicon.h"

std::vector<TrayCall> TrayCalls;
bool FakeTrayRefuses = false;
bool FakeTrayIconShown = false;
bool FakeTrayAddFailsButShows = false;
std::function<void(DWORD message)> FakeTrayMeanwhile;

static BOOL Act(DWORD message)
{
    if (FakeTrayRefuses)
        return FALSE;
    switch (message) {
    case NIM_ADD:
        if (FakeTrayIconShown)
            return FALSE;
        FakeTrayIconShown = true;
        return !FakeTrayAddFailsButShows;
    case NIM_MODIFY:
        return FakeTrayIconShown;
    case NIM_DELETE: {
        BOOL wasShown = FakeTrayIconShown;
        FakeTrayIconShown = false;
        return wasShown;
    }
    }
    return FALSE;
}

bool ShellNotify(DWORD message, NOTIFYICONDATAA *data)
{
    TrayCalls.push_back({message, data->szTip});
    BOOL answer = Act(message);
    if (FakeTrayMeanwhile)
        FakeTrayMeanwhile(message);
    return answer != FALSE;
}
