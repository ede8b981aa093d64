// The warning check: when the free percentage is below the level, run the command and
// raise the alert by mail or, with no recipient, in a message box.
#include "core/warning.h"

#include "core/sampling.h"
#include "core/state.h"
#include "mail/smtp.h"
#include "resources/resource.h"

#include <cstdio>
#include <cstring>
#include <ctime>

void BuildAlertText(char *out, size_t size, const char *drive, float level, const char *timeText,
                    ULONGLONG diskFree, double percent)
{
    char percentText[64];
    FormatPercent(percentText, sizeof percentText, percent);
    snprintf(out, size,
             "Free disk space on disk %s was below warning level of %.2f%% on %s. Free space remaining %.2f GB. "
             "Free percentage is %s",
             TextOrNone(drive), level, timeText, BytesToGB(diskFree), percentText);
}

// The process of the command started last, until it is seen to have ended. A command
// that hangs would otherwise be started again at every check, one process more each
// time, until the machine gives out.
static HANDLE CommandProcess;

void RunCommand(const char *commandLine)
{
    if (CommandProcess) {
        if (WaitForSingleObject(CommandProcess, 0) == WAIT_TIMEOUT)
            return;
        CloseHandle(CommandProcess);
        CommandProcess = nullptr;
    }
    // CreateProcessA may write into the command line, so it gets a copy.
    char line[32768];
    snprintf(line, sizeof line, "%s", commandLine);
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    memset(&process, 0, sizeof process);
    // The program turns the system's critical-error boxes off for itself; the command
    // gets the system's default, as if started from the desktop.
    if (CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, CREATE_DEFAULT_ERROR_MODE, nullptr, nullptr, &startup,
                       &process)) {
        CloseHandle(process.hThread);
        CommandProcess = process.hProcess;
    }
}

// One alert box at a time. The box's own message loop goes on delivering check ticks,
// and each tick below the level would open a further box over it, a nested loop each,
// until the stack runs out. While it is open a tick still samples, runs the command and
// mails; the first tick after it is closed shows the alert again.
static void ShowAlert(const char *alert)
{
    static bool boxOpen = false;
    if (boxOpen)
        return;
    boxOpen = true;
    MessageBoxA(nullptr, alert, "WARNING!!!", MB_TOPMOST | MB_ICONWARNING);
    boxOpen = false;
}

// Whether alerts go by mail: a list in force holding at least one recipient. A list of
// blanks and separators only would send nothing and show nothing.
bool AlertsByMail()
{
    return Monitor.EmailAddress && HoldsRecipient(Monitor.EmailAddress);
}

void CheckWarning()
{
    time_t now = time(nullptr);
    const struct tm *local = localtime(&now);

    // A level of 0 or below means no warnings at all.
    if (!(Monitor.WarningLevel > 0) || !(Monitor.WarningLevel > Monitor.FreePercent))
        return;
    if (Monitor.Command && *Monitor.Command)
        RunCommand(Monitor.Command);

    // localtime fails only for a clock outside its range; asctime would crash on it.
    const char *timeText = local ? asctime(local) : "(unknown time)\n";
    char alert[512];
    BuildAlertText(alert, sizeof alert, Monitor.DiskToMonitor, Monitor.WarningLevel, timeText, Monitor.DiskFree,
                   Monitor.FreePercent);
    if (!AlertsByMail()) {
        ShowAlert(alert);
        return;
    }
    // While the previous alert is still being delivered this one is not sent: the next
    // check below the level raises it again.
    MailRequest request = {Monitor.EmailServer, Monitor.FromAddress, Monitor.MyHostName, Monitor.EmailAddress,
                           alert, Monitor.hwndDlgSave, WM_MAILREPORT};
    SendEmail(request);
}
