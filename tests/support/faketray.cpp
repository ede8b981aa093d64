// Stands in for the shell's tray: the program's Shell_NotifyIconA calls reach it through
// the import slot defined here, which the linker takes before shell32's. It answers like
// a shell: an icon is added once, and changed or removed only while it is there.
#include "tests/support/faketray.h"

#include <shellapi.h>

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

static BOOL WINAPI AnswerTrayCall(DWORD message, PNOTIFYICONDATAA data)
{
    TrayCalls.push_back({message, data->szTip});
    BOOL answer = Act(message);
    if (FakeTrayMeanwhile)
        FakeTrayMeanwhile(message);
    return answer;
}

extern "C" {
BOOL(WINAPI *__imp_Shell_NotifyIconA)(DWORD, PNOTIFYICONDATAA) = AnswerTrayCall;
}
