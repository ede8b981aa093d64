// The benchmark's hands inside Wine: times a program from its launch until its window
// shows, waits for windows to show, and asks windows to close.
//
//   bench_startup time RUNS EXE TITLE [EXE TITLE]...   one line "EXE RUN MS" per launch
//   bench_startup wait TITLE COUNT SECONDS             until COUNT windows titled TITLE show
//   bench_startup close TITLE                          WM_CLOSE to every window titled TITLE
//   bench_startup hold                                 keeps the desktop up until ended;
//                                                      "ready" once it is up
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

// A window counts when it is visible, has exactly the title asked for and, with a
// process id other than 0, belongs to that process. A message box never has the title
// of a program's main window, so a program that opens one first is never counted.
struct WindowSearch {
    const wchar_t *title;
    DWORD processId;
    int found;
    HWND windows[16];
};

static BOOL CALLBACK MatchWindow(HWND hWnd, LPARAM lParam)
{
    WindowSearch *search = reinterpret_cast<WindowSearch *>(lParam);
    if (!IsWindowVisible(hWnd))
        return TRUE;
    // The title as the window manager keeps it: asking the window itself would wait on
    // a program that is busy starting, or forever on one that hangs.
    wchar_t title[256];
    if (InternalGetWindowText(hWnd, title, 256) <= 0 || wcscmp(title, search->title) != 0)
        return TRUE;
    DWORD owner = 0;
    GetWindowThreadProcessId(hWnd, &owner);
    if (search->processId != 0 && owner != search->processId)
        return TRUE;
    if (search->found < (int)(sizeof search->windows / sizeof search->windows[0]))
        search->windows[search->found] = hWnd;
    search->found++;
    return TRUE;
}

static WindowSearch FindWindows(const char *title, DWORD processId)
{
    wchar_t wideTitle[256] = L"";
    MultiByteToWideChar(CP_ACP, 0, title, -1, wideTitle, 256);
    WindowSearch search = {wideTitle, processId, 0, {}};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    search.title = nullptr;     // the text lives only in this call
    return search;
}

// The pause before each timed start.
static const DWORD SettleMs = 250;

static double MillisecondsSince(const LARGE_INTEGER &start)
{
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return (now.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart;
}

// Launches exe and returns the milliseconds until its window titled title shows, or a
// negative number when it never does within 20 s (why is told on stderr). The program is
// then asked to close, and ended if it will not.
static double TimeUntilShown(const char *exe, const char *title)
{
    char commandLine[MAX_PATH + 3];
    if (snprintf(commandLine, sizeof commandLine, "\"%s\"", exe) >= (int)sizeof commandLine)
        return -1;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;

    double shownAfter = -1;
    HWND shown = nullptr;
    for (;;) {
        WindowSearch search = FindWindows(title, process.dwProcessId);
        double elapsed = MillisecondsSince(start);
        if (search.found > 0) {
            shownAfter = elapsed;
            shown = search.windows[0];
            break;
        }
        // The wait on the process doubles as the 1 ms pause between looks.
        if (WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(process.hProcess, &code);
            fprintf(stderr, "%s ended with %lu after %.0f ms\n", exe, code, elapsed);
            break;
        }
        if (elapsed > 20000) {
            fprintf(stderr, "%s: still no window after %.0f ms\n", exe, elapsed);
            break;
        }
    }
    if (shown)
        PostMessageA(shown, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return shownAfter;
}

// The programs take turns, so that a busy moment of the machine falls on all alike; the
// first round only warms the caches and is not reported. A closed window still costs the
// desktop a repaint, and the ended process the server its clean-up, after the process is
// gone: each start waits for that to pass, and every other round runs in reverse order,
// so no program always follows the same one.
static int TimeStartUps(int runs, int count, char **programs)
{
    for (int run = 0; run <= runs; run++) {
        for (int turn = 0; turn < count; turn++) {
            int i = run % 2 ? count - 1 - turn : turn;
            Sleep(SettleMs);
            double ms = TimeUntilShown(programs[2 * i], programs[2 * i + 1]);
            if (ms < 0) {
                fprintf(stderr, "%s: no window \"%s\" showed\n", programs[2 * i], programs[2 * i + 1]);
                return 1;
            }
            if (run > 0)
                printf("%s %d %.3f\n", programs[2 * i], run, ms);
            fflush(stdout);
        }
    }
    return 0;
}

static int WaitForWindows(const char *title, int count, int seconds)
{
    DWORD start = GetTickCount();
    while (FindWindows(title, 0).found < count) {
        if (GetTickCount() - start > (DWORD)seconds * 1000) {
            fprintf(stderr, "fewer than %d windows \"%s\" showed in %d s\n", count, title, seconds);
            return 1;
        }
        Sleep(20);
    }
    return 0;
}

static int CloseWindows(const char *title)
{
    WindowSearch search = FindWindows(title, 0);
    for (int i = 0; i < search.found && i < (int)(sizeof search.windows / sizeof search.windows[0]); i++)
        PostMessageA(search.windows[i], WM_CLOSE, 0, 0);
    printf("%d\n", search.found);
    return 0;
}

// Wine ends the desktop (and its explorer) a moment after the last program that uses it,
// and the next program starts it again, with that program's output handles and the
// start-up time counted against it. A hidden window of a program that runs all through
// the benchmark keeps the desktop up.
static int HoldDesktop()
{
    // The first window of a desktop waits until the desktop is up.
    if (!CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr))
        return 1;
    printf("ready\n");
    fflush(stdout);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0)
        DispatchMessageA(&msg);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc >= 5 && strcmp(argv[1], "time") == 0 && (argc - 3) % 2 == 0)
        return TimeStartUps(atoi(argv[2]), (argc - 3) / 2, argv + 3);
    if (argc == 5 && strcmp(argv[1], "wait") == 0)
        return WaitForWindows(argv[2], atoi(argv[3]), atoi(argv[4]));
    if (argc == 3 && strcmp(argv[1], "close") == 0)
        return CloseWindows(argv[2]);
    if (argc == 2 && strcmp(argv[1], "hold") == 0)
        return HoldDesktop();
    fprintf(stderr, "usage: bench_startup time RUNS EXE TITLE [EXE TITLE]... | wait TITLE COUNT SECONDS |"
                    " close TITLE | hold\n");
    return 2;
}
