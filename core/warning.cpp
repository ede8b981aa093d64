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

bool RunCommand(const char *commandLine)
{
    if (CommandProcess) {
        if (WaitForSingleObject(CommandProcess, 0) == WAIT_TIMEOUT)
            return true;
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
    if (!CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, CREATE_DEFAULT_ERROR_MODE, nullptr, nullptr,
                        &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CommandProcess = process.hProcess;
    return true;
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

// Hands text to the mailer as an alert; false while another is still being delivered.
static bool MailText(const char *text)
{
    MailRequest request = {Monitor.EmailServer, Monitor.FromAddress, Monitor.MyHostName, Monitor.EmailAddress,
                           text, Monitor.hwndDlgSave, WM_MAILREPORT};
    return SendEmail(request);
}

// A failure that stops the watching or the command, told once until it clears: in an
// "Error" box, and by mail as well when alerts go by mail, since a box on an unattended
// desk reaches nobody.
struct FailureNotice {
    bool told;                      // told since it last went right
    bool boxOpen;                   // a failure anew meanwhile waits until the box is closed
    bool mailDue;                   // the mailer was busy: handed over at a later check
    char text[660];
};
static FailureNotice DriveNotice, CommandNotice;
static FailureNotice *const Notices[] = {&DriveNotice, &CommandNotice};

// A notice's mail waits only for the alert in flight: it is sent once, never dropped for
// another alert, and it goes ahead of the alert of the check that hands it over.
static void MailDueNotices()
{
    for (FailureNotice *notice : Notices) {
        if (notice->mailDue && !MailInFlight()) {
            notice->mailDue = false;
            MailText(notice->text);
        }
    }
}

static void TellFailure(FailureNotice &notice, const char *what, DWORD error)
{
    if (notice.told || notice.boxOpen)
        return;
    char reason[256];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                  reason, sizeof reason, nullptr);
    // Windows' words end in a line break.
    while (length > 0 && static_cast<unsigned char>(reason[length - 1]) <= ' ')
        length--;
    reason[length] = 0;
    if (length == 0)
        snprintf(reason, sizeof reason, "Windows error %lu", error);
    snprintf(notice.text, sizeof notice.text, "%s\n\n%s", what, reason);
    notice.told = true;
    notice.mailDue = AlertsByMail();
    MailDueNotices();
    notice.boxOpen = true;
    MessageBoxA(nullptr, notice.text, "Error", MB_TOPMOST | MB_ICONERROR);
    notice.boxOpen = false;
}

void ForgetFailuresTold()
{
    // A box still open keeps its guard.
    for (FailureNotice *notice : Notices)
        notice->told = notice->mailDue = false;
}

void CheckDrive()
{
    if (!Monitor.DiskError) {
        DriveNotice.told = false;
        return;
    }
    char what[64];
    snprintf(what, sizeof what, "Disk %s cannot be read.", TextOrNone(Monitor.DiskToMonitor));
    TellFailure(DriveNotice, what, Monitor.DiskError);
}

void CheckWarning()
{
    MailDueNotices();
    CheckDrive();
    time_t now = time(nullptr);
    const struct tm *local = localtime(&now);

    // A level of 0 or below means no warnings at all.
    if (!(Monitor.WarningLevel > 0) || !(Monitor.WarningLevel > Monitor.FreePercent))
        return;
    bool started = !(Monitor.Command && *Monitor.Command) || RunCommand(Monitor.Command);
    DWORD error = GetLastError();
    // Named now: a Start while the alert's box is open may put another command in force.
    char what[400];
    if (!started)
        snprintf(what, sizeof what, "Command cannot be started: %s", Monitor.Command);

    // localtime fails only for a clock outside its range; asctime would crash on it.
    const char *timeText = local ? asctime(local) : "(unknown time)\n";
    char alert[512];
    BuildAlertText(alert, sizeof alert, Monitor.DiskToMonitor, Monitor.WarningLevel, timeText, Monitor.DiskFree,
                   Monitor.FreePercent);
    // While the previous alert is still being delivered this one is not sent: the next
    // check below the level raises it again.
    if (AlertsByMail())
        MailText(alert);
    else
        ShowAlert(alert);
    // Told after the alert, which matters more, has gone out.
    if (started)
        CommandNotice.told = false;
    else
        TellFailure(CommandNotice, what, error);
}
