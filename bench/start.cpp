// Times, in one process, what the program does before its window shows: the real dialog
// made and shown by the program's procedure against the same dialog made and shown by
// the floor's empty one, and the parts of the program's own start-up work. One process
// and many rounds, so that the figures hold on a busy machine where whole start-ups swing.
//
//   bench_start [ROUNDS]    one line "NAME ROUNDS MICROSECONDS" per figure, the median
//                           of the rounds
#include "bench/minimal.h"
#include "core/drives.h"
#include "core/monitoring.h"
#include "core/sampling.h"
#include "core/state.h"
#include "core/trayicon.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "ui/dialog.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

static void Pump()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

static double Microseconds(LONGLONG ticks)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return ticks * 1e6 / frequency.QuadPart;
}

static LONGLONG Now()
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

// Makes the dialog with proc and shows it, as the modal loop does for the floor (the
// program's procedure shows its window itself); returns the time taken.
static LONGLONG MakeAndShow(DLGPROC proc, HWND *made)
{
    LONGLONG start = Now();
    *made = CreateDialogParamA(Monitor.hInst, MAKEINTRESOURCEA(IDD_MAIN), nullptr, proc, 0);
    if (*made)
        ShowWindow(*made, SW_SHOW);
    LONGLONG taken = Now() - start;
    Pump();
    return taken;
}

template <typename Work> static LONGLONG Time(Work work)
{
    LONGLONG start = Now();
    work();
    return Now() - start;
}

// Empties the seven figure boxes and resets the marks, so that a sample writes them all,
// as the first one does (a sample leaves alone boxes it knows to show its figures).
static void ClearFigures()
{
    for (HWND box : {Monitor.hWndSize, Monitor.hWndFree, Monitor.hWndFreePercent, Monitor.hHighGB, Monitor.hLowGB,
                     Monitor.hHighPercent, Monitor.hLowPercent})
        SetWindowTextA(box, "");
    ResetMarks();
}

enum Figure { Window, Program, Settings, DriveList, FirstSample, UnitSetUp, TrayRecord, Figures };
static const char *const FigureNames[Figures] = {"window", "program", "part_settings", "part_drive_list",
                                                 "part_first_sample", "part_unit_set_up", "part_tray_record"};

int main(int argc, char **argv)
{
    int rounds = argc > 1 ? atoi(argv[1]) : 50;
    if (rounds < 1) {
        fprintf(stderr, "ROUNDS must be at least 1\n");
        return 2;
    }
    InitCommonControls();
    Monitor.hInst = GetModuleHandleA(nullptr);
    LoadSettings();
    std::vector<LONGLONG> ticks[Figures];
    // The first round only warms the caches and is not counted.
    for (int round = 0; round <= rounds; round++) {
        LONGLONG taken[Figures];
        HWND floor, program;
        taken[Window] = MakeAndShow(FloorProc, &floor);
        taken[Program] = MakeAndShow(DialogProc, &program);
        if (!floor || !program) {
            fprintf(stderr, "the dialog could not be made\n");
            return 1;
        }
        DestroyWindow(floor);
        taken[Settings] = Time(LoadSettings);
        taken[DriveList] = Time(PopulateDriveList);
        ClearFigures();
        taken[FirstSample] = Time(GetCurrentDiskUsage);
        taken[UnitSetUp] = Time([] { SetUpUnit(1, 30, true); });
        taken[TrayRecord] = Time([program] { InitNotifyIconData(program); });
        DestroyWindow(program);
        Pump();
        for (int f = 0; round > 0 && f < Figures; f++)
            ticks[f].push_back(taken[f]);
    }
    for (int f = 0; f < Figures; f++) {
        std::sort(ticks[f].begin(), ticks[f].end());
        printf("%s %d %.1f\n", FigureNames[f], rounds, Microseconds(ticks[f][ticks[f].size() / 2]));
    }
    return 0;
}
