// Shared helpers of the test programs.
#include "tests/support/testing.h"

#include "core/state.h"
#include "core/trayicon.h"
#include "core/warning.h"
#include "mail/smtp.h"
#include "resources/resource.h"
#include "ui/dialog.h"

#include <commctrl.h>
#include <doctest.h>
#include <cstring>

MessageBoxCatcher *MessageBoxCatcher::current_ = nullptr;

MessageBoxCatcher::MessageBoxCatcher(int answer) : answer_(answer)
{
    current_ = this;
    hook_ = SetWindowsHookExA(WH_CBT, Hook, nullptr, GetCurrentThreadId());
}

MessageBoxCatcher::~MessageBoxCatcher()
{
    if (hook_)
        UnhookWindowsHookEx(hook_);
    current_ = nullptr;
}

LRESULT CALLBACK MessageBoxCatcher::Hook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE && current_) {
        HWND box = (HWND)wParam;
        char cls[32] = "";
        GetClassNameA(box, cls, sizeof cls);
        // A message box is a dialog whose text is the static with id 0xFFFF.
        if (!lstrcmpA(cls, "#32770") && GetDlgItem(box, 0xFFFF)) {
            char caption[256] = "", text[2048] = "";
            GetWindowTextA(box, caption, sizeof caption);
            GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
            current_->boxes.push_back({caption, text});
            if (current_->whileOpen)
                current_->whileOpen();
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(current_->answer_, BN_CLICKED), 0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void PumpFor(DWORD ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        DWORD spent = GetTickCount() - start;
        if (spent >= ms)
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - spent, QS_ALLINPUT);
    }
}

bool WaitForMail(DWORD ms)
{
    DWORD start = GetTickCount();
    while (MailInFlight()) {
        if (GetTickCount() - start >= ms)
            return false;
        Sleep(5);
    }
    PumpFor(50);
    return true;
}

DWORD ProcessesStarted()
{
    // Every process started after the first call joins the job, which counts them.
    static HANDLE job = nullptr;
    if (!job) {
        job = CreateJobObjectA(nullptr, nullptr);
        AssignProcessToJobObject(job, GetCurrentProcess());
    }
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info = {};
    QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info, sizeof info, nullptr);
    return info.TotalProcesses;
}

void ResetMonitor()
{
    // Registered once, before main, as at program start.
    UINT taskbarCreated = Monitor.WM_TASKBARCREATED;
    memset(&Monitor, 0, sizeof Monitor);
    Monitor.WM_TASKBARCREATED = taskbarCreated;
    Monitor.hInst = GetModuleHandleA(nullptr);
    ForgetFailuresTold();
}

HWND OpenMainDialog()
{
    InitCommonControls();
    Monitor.hInst = GetModuleHandleA(nullptr);
    return CreateDialogParamA(Monitor.hInst, MAKEINTRESOURCEA(IDD_MAIN), nullptr, DialogProc, 0);
}

MainDialog::MainDialog(const std::function<void()> &prepare)
{
    ResetMonitor();
    if (prepare)
        prepare();
    hDlg = OpenMainDialog();
    REQUIRE(hDlg != nullptr);
}

MainDialog::~MainDialog()
{
    NotifyTray(NIM_DELETE);
    DestroyWindow(hDlg);
}

std::string MainDialog::Text(int id) const
{
    return ControlText(hDlg, id);
}

void MainDialog::Command(int id, int code) const
{
    SendMessageA(hDlg, WM_COMMAND, MAKEWPARAM(id, code), 0);
}

void MainDialog::Tick() const
{
    SendMessageA(hDlg, WM_TIMER, IDT_CHECK, 0);
}

std::string ControlText(HWND hDlg, int id)
{
    char text[4096] = "";
    GetDlgItemTextA(hDlg, id, text, sizeof text);
    return text;
}
