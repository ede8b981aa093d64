// Times how long a program's window takes to answer: sends it WM_NULL, as Windows does to
// tell whether a window hangs, again and again, and prints the longest and the median
// answer.
//
//   bench_probe TITLE COUNT PAUSE_MS   prints "answer COUNT LONGEST_MS MEDIAN_MS UNANSWERED"
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char **argv)
{
    int count = argc == 4 ? atoi(argv[2]) : 0;
    int pauseMs = argc == 4 ? atoi(argv[3]) : -1;
    if (count < 1 || pauseMs < 0) {
        fprintf(stderr, "usage: bench_probe TITLE COUNT PAUSE_MS\n");
        return 2;
    }
    HWND window = FindWindowA(nullptr, argv[1]);
    if (!window) {
        fprintf(stderr, "no window titled \"%s\"\n", argv[1]);
        return 1;
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> answers;
    int unanswered = 0;
    for (int i = 0; i < count; i++) {
        LARGE_INTEGER start, end;
        DWORD_PTR result;
        QueryPerformanceCounter(&start);
        // A window that does not answer within 5 s counts as hung, as Windows has it.
        if (SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result)) {
            QueryPerformanceCounter(&end);
            answers.push_back((end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart);
        } else {
            unanswered++;
            break;      // a hung window would cost 5 s per probe
        }
        Sleep(pauseMs);
    }
    if (answers.empty()) {
        printf("answer %d 0 0 %d\n", count, unanswered);
        return 1;
    }
    std::sort(answers.begin(), answers.end());
    printf("answer %d %.3f %.3f %d\n", count, answers.back(), answers[answers.size() / 2], unanswered);
    return unanswered == 0 ? 0 : 1;
}
