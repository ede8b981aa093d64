// Shared helpers of the test programs: message boxes caught and answered in-process,
// bounded waits, and the real main dialog created from the real resource.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

struct CapturedBox {
    std::string caption;
    std::string text;
};

// While one exists, every message box this thread opens is recorded and answered at
// once with the answer given (IDOK unless changed), so no box can wait for a person.
class MessageBoxCatcher {
public:
    explicit MessageBoxCatcher(int answer = IDOK);
    ~MessageBoxCatcher();
    void SetAnswer(int answer) { answer_ = answer; }
    std::vector<CapturedBox> boxes;
    // Called while each box is open, before it is answered, as a user acting meanwhile.
    std::function<void()> whileOpen;

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
    static MessageBoxCatcher *current_;
    HHOOK hook_;
    int answer_;
};

// Pumps this thread's messages for ms milliseconds, never blocking longer.
void PumpFor(DWORD ms);

// Pumps messages until done() is true or ms milliseconds have passed; returns done().
template <typename F> bool PumpUntil(F done, DWORD ms)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= ms)
            return done();
        PumpFor(10);
    }
    return true;
}

// Waits until the alert handed to the mail worker has been delivered, at most ms, and
// then lets the dialog show what the worker reported. No message is handled while the
// worker runs, so that its reports reach the dialog together, in the order made, as
// they do when they come while a box is open. False when the worker is still busy.
bool WaitForMail(DWORD ms = 15000);

// How many processes this program has started so far, the commands it runs included.
DWORD ProcessesStarted();

// Clears the Monitor state, as at program start (texts in force are dropped), and what
// was told of failures; the "TaskbarCreated" id stays registered.
void ResetMonitor();

// Creates the main dialog from the real resource with the real dialog procedure,
// modeless, so that a test can send it messages; DestroyWindow ends it.
HWND OpenMainDialog();

// The real main dialog for one test: the record cleared, then prepare() run on it (to
// store settings, say), then the dialog opened; at the end destroyed, with any icon it
// showed removed.
struct MainDialog {
    HWND hDlg;
    explicit MainDialog(const std::function<void()> &prepare = nullptr);
    ~MainDialog();
    std::string Text(int id) const;
    void Command(int id, int code = BN_CLICKED) const;
    void Tick() const;      // one tick of the check timer
};

// The whole text of a control of the dialog.
std::string ControlText(HWND hDlg, int id);
