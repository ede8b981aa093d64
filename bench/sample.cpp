// Times the sample that every check tick takes against the bare platform query, in one
// process and on the real dialog, and times the sample's parts to show where its time
// goes. Both states of a monitor that runs all day are measured: the window shown, and
// the window hidden with the tray icon up.
//
//   bench_sample [CALLS]    one line "STATE NAME CALLS MICROSECONDS" per figure, and
//                           "tray icon_present 0 1" when the shell took the icon (0 if not)
#include "core/sampling.h"
#include "core/state.h"
#include "resources/resource.h"
#include "ui/dialog.h"
#include "ui/tray.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

static const int RoundCalls = 250;

static void Pump()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

static LONGLONG Now()
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

static void RawQuery()
{
    ULARGE_INTEGER caller, total, free;
    GetDiskFreeSpaceExA(Monitor.pszDrive, &caller, &total, &free);
}

// Whether the last query the program made succeeded.
static bool Queried;

static void Query()
{
    Queried = QueryDiskSpace();
}

struct Measure {
    const char *name;
    void (*call)();
    std::vector<LONGLONG> rounds;   // ticks of each round
};

// The measures take turns in rounds of RoundCalls, so that a busy moment of the machine
// falls on all of them alike, and each is reported by its median round, so that a moment
// that falls on one round of one measure alone does not count. Messages (the paints the
// box updates ask for) are handled between rounds, outside the timing.
static void RunRounds(Measure *measures, int count, int calls)
{
    for (int done = 0; done < calls; done += RoundCalls) {
        for (int m = 0; m < count; m++) {
            LONGLONG start = Now();
            for (int i = 0; i < RoundCalls; i++)
                measures[m].call();
            measures[m].rounds.push_back(Now() - start);
            Pump();
        }
    }
}

static LONGLONG MedianRound(std::vector<LONGLONG> rounds)
{
    std::sort(rounds.begin(), rounds.end());
    return rounds[rounds.size() / 2];
}

static bool Report(const char *state, int calls)
{
    Measure measures[] = {
        {"sample", GetCurrentDiskUsage, {}},
        {"raw_query", RawQuery, {}},
        {"part_lookup_and_query", Query, {}},
        {"part_four_mark_boxes", DisplayHighLow, {}},
        {"part_tooltip", UpdateTrayTip, {}},
    };
    const int count = sizeof measures / sizeof measures[0];
    RunRounds(measures, count, RoundCalls);     // warm-up, not reported
    for (int m = 0; m < count; m++)
        measures[m].rounds.clear();
    RunRounds(measures, count, calls);

    // Reported as the time of all the calls at the pace of the median round.
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    for (int m = 0; m < count; m++)
        printf("%s %s %d %.1f\n", state, measures[m].name, calls,
               MedianRound(measures[m].rounds) * (calls / RoundCalls) * 1e6 / frequency.QuadPart);

    // The figures count only when the sample really did its work.
    char size[64] = "";
    GetWindowTextA(Monitor.hWndSize, size, sizeof size);
    if (!Queried || !strstr(size, " GB") || strncmp(Monitor.IconData.szTip, "Orn Active - Disk C:\\", 21) != 0) {
        fprintf(stderr, "%s: the sample did not complete (query %s, size box \"%s\", tip \"%s\")\n", state,
                Queried ? "ok" : "failed", size, Monitor.IconData.szTip);
        return false;
    }
    return true;
}

int main(int argc, char **argv)
{
    int calls = argc > 1 ? atoi(argv[1]) : 10000;
    if (calls < RoundCalls || calls % RoundCalls != 0) {
        fprintf(stderr, "CALLS must be a multiple of %d\n", RoundCalls);
        return 2;
    }
    InitCommonControls();
    Monitor.hInst = GetModuleHandleA(nullptr);
    HWND hDlg = CreateDialogParamA(Monitor.hInst, MAKEINTRESOURCEA(IDD_MAIN), nullptr, DialogProc, 0);
    if (!hDlg) {
        fprintf(stderr, "the dialog could not be created\n");
        return 1;
    }
    PutTextInForce(&Monitor.DiskToMonitor, "C:\\");
    Pump();

    bool complete = Report("shown", calls);
    MiniMizeToTray();
    Pump();
    // A change of an icon that is not there fails: this tells whether the tray had one.
    printf("tray icon_present 0 %d\n", Shell_NotifyIconA(NIM_MODIFY, &Monitor.IconData) ? 1 : 0);
    complete = Report("tray", calls) && complete;
    RestoreFromTray();
    DestroyWindow(hDlg);
    return complete ? 0 : 1;
}
