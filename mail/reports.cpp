// The alerts handed to the mailer, their cancellation, and the reports they leave for
// the window.
#include "mail/reports.h"

#include "mail/message.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

// The alerts numbered so far, and the first one not cancelled: the workers of the
// others stop at their next look and report nothing more. Read and written by any thread.
static LONG volatile AlertsNumbered;
static LONG volatile FirstLiveAlert;

LONG NumberNewAlert()
{
    return InterlockedIncrement(&AlertsNumbered);
}

bool AlertCancelled(LONG serial)
{
    return serial < InterlockedCompareExchange(&FirstLiveAlert, 0, 0);
}

// The reports waiting for the window, oldest first, and the text of the one its box
// shows. The workers add to them and the window's thread takes from them, each under
// the lock; nothing else touches them.
struct MailReport {
    MailReport *next;
    LONG serial;
    MailFailure kind;
    char recipient[RecipientSize];
    char text[MailReportSize];
};
static SRWLOCK ReportsLock = SRWLOCK_INIT;
static MailReport *ReportsWaiting;
static char ReportShown[MailReportSize];

void KeepReport(LONG serial, MailFailure kind, const char *recipient, const char *text, HWND window, UINT message)
{
    MailReport *report = static_cast<MailReport *>(calloc(1, sizeof(MailReport)));
    if (!report)
        return;     // out of memory: the failure goes untold
    report->serial = serial;
    report->kind = kind;
    snprintf(report->recipient, sizeof report->recipient, "%s", recipient);
    snprintf(report->text, sizeof report->text, "%s", text);
    AcquireSRWLockExclusive(&ReportsLock);
    bool keep = !AlertCancelled(serial) && strcmp(report->text, ReportShown) != 0;
    MailReport **end = &ReportsWaiting;
    for (; *end && keep; end = &(*end)->next) {
        MailReport *waiting = *end;
        if (strcmp(waiting->text, report->text) == 0 ||
            (waiting->kind == kind && strcmp(waiting->recipient, report->recipient) == 0)) {
            // The newest wording is shown, in the place of the first.
            memcpy(waiting->text, report->text, sizeof waiting->text);
            keep = false;
        }
    }
    if (keep)
        *end = report;
    ReleaseSRWLockExclusive(&ReportsLock);
    if (!keep)
        free(report);
    else if (window)
        // A window that is gone takes nothing; the report waits for nobody.
        PostMessageA(window, message, 0, 0);
}

bool NextMailReport(char *text, size_t size)
{
    AcquireSRWLockExclusive(&ReportsLock);
    MailReport *report = ReportsWaiting;
    if (report)
        ReportsWaiting = report->next;
    snprintf(ReportShown, sizeof ReportShown, "%s", report ? report->text : "");
    ReleaseSRWLockExclusive(&ReportsLock);
    if (!report)
        return false;
    snprintf(text, size, "%s", report->text);
    free(report);
    return true;
}

void CancelAlerts(bool endsLast)
{
    AcquireSRWLockExclusive(&ReportsLock);
    LONG last = InterlockedCompareExchange(&AlertsNumbered, 0, 0);
    InterlockedExchange(&FirstLiveAlert, last + 1);
    for (MailReport **at = &ReportsWaiting; *at;) {
        MailReport *report = *at;
        if (endsLast && report->serial == last) {
            *at = report->next;
            free(report);
        } else {
            at = &report->next;
        }
    }
    ReleaseSRWLockExclusive(&ReportsLock);
}
