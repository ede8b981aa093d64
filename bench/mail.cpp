// Times alerts mailed by the program's own mailer to many recipients, one connection
// each, and writes the same message as a file for another client to send.
//
//   bench_mail SERVER RECIPIENTS MESSAGE_FILE [ALERTS]
//
// sends ALERTS alerts (1 when not given) one after the other, as a running program does,
// and prints "mail RECIPIENTS MILLISECONDS FAILURES" for each; the first also loads the
// socket library and, for a server that offers STARTTLS, the security library.
#include "core/state.h"
#include "core/warning.h"
#include "mail/smtp.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

// Waits until the mailer's worker has ended and takes its reports; a run that reported
// a failure does not count. Returns the count of failures.
static int WaitForDelivery()
{
    while (MailInFlight())
        Sleep(1);
    int failures = 0;
    char report[MailReportSize];
    while (NextMailReport(report, sizeof report))
        failures++;
    return failures;
}

// The message as a server stores it: Vellmark's header, the Date, To and Message-ID of
// one copy (the sink compares mails without those three), and the alert with CR LF line
// ends. A client that does its own dot-stuffing sends this file as it is.
static bool WriteMessage(const char *path, const char *alert)
{
    char date[40], subject[320], message[MailMessageSize];
    FormatMailDate(date, sizeof date);
    ComposeSubject(subject, sizeof subject, Monitor.MyHostName);
    ComposeMessage(message, date, "<vellmark@example.test>", "bench.example", "<bench01@example.test>", subject,
                   "<1.1.1@bench.example>", "");
    FILE *file = fopen(path, "wb");
    if (!file)
        return false;
    fwrite(message, 1, strstr(message, "\r\n\r\n") + 4 - message, file);
    for (const char *p = alert; *p; p++) {
        if (*p == '\n')
            fputc('\r', file);
        fputc(*p, file);
    }
    fputs("\r\n", file);
    return fclose(file) == 0;
}

int main(int argc, char **argv)
{
    int recipients = argc == 4 || argc == 5 ? atoi(argv[2]) : 0;
    int alerts = argc == 5 ? atoi(argv[4]) : 1;
    if (recipients < 1 || recipients > 50 || alerts < 1) {
        fprintf(stderr, "usage: bench_mail SERVER RECIPIENTS(1-50) MESSAGE_FILE [ALERTS]\n");
        return 2;
    }
    // 50 recipients of 21 characters and their separators.
    char list[1200] = "";
    size_t used = 0;
    for (int i = 1; i <= recipients; i++)
        used += snprintf(list + used, sizeof list - used, "%sbench%02d@example.test", i > 1 ? ";" : "", i);
    Monitor.HostNameLength = sizeof Monitor.MyHostName;
    GetComputerNameA(Monitor.MyHostName, &Monitor.HostNameLength);

    time_t now = time(nullptr);
    char alert[512];
    BuildAlertText(alert, sizeof alert, "C:\\", 10.0f, asctime(localtime(&now)), 5905580032ULL, 5.5);
    if (!WriteMessage(argv[3], alert)) {
        fprintf(stderr, "cannot write %s\n", argv[3]);
        return 1;
    }

    MailRequest request = {argv[1], "vellmark@example.test", Monitor.MyHostName, list, alert, nullptr, 0};
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    int failed = 0;
    for (int i = 0; i < alerts; i++) {
        QueryPerformanceCounter(&start);
        int failures = SendEmail(request) ? WaitForDelivery() : 1;
        QueryPerformanceCounter(&end);
        printf("mail %d %.3f %d\n", recipients, (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart, failures);
        failed += failures;
    }
    return failed == 0 ? 0 : 1;
}
