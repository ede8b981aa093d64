// The warning check: the strict comparison, the command, the alert text and its box.
#include "core/state.h"
#include "core/warning.h"
#include "mail/smtp.h"
#include "tests/mail/peer_records.h"
#include "tests/support/fakedisk.h"
#include "tests/support/testing.h"

#include <doctest.h>

#include <cstdio>
#include <cstring>

namespace {

void PrepareCheck(float level, double percent)
{
    ResetMonitor();
    PutTextInForce(&Monitor.DiskToMonitor, "C:\\");
    Monitor.WarningLevel = level;
    Monitor.FreePercent = percent;
    Monitor.DiskSize = 100 * GiB;
    Monitor.DiskFree = (ULONGLONG)(percent * GiB);
}

bool FileExists(const char *path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

TEST_CASE("the alert text names drive, level, time, free space and percentage")
{
    char text[512];
    BuildAlertText(text, sizeof text, "C:\\", 10.0f, "Tue Dec  8 02:46:40 2026\n", (ULONGLONG)(5.5 * GiB), 5.0);
    CHECK(std::string(text) ==
          "Free disk space on disk C:\\ was below warning level of 10.00% on Tue Dec  8 02:46:40 2026\n"
          ". Free space remaining 5.50 GB. Free percentage is 5.00%");

    // A field too small for the text gets it cut, never overrun.
    char small[40];
    memset(small, 'x', sizeof small);
    BuildAlertText(small, 32, "C:\\", 10.0f, "Tue Dec  8 02:46:40 2026\n", 0, 5.0);
    CHECK(std::string(small) == "Free disk space on disk C:\\ was");
    CHECK(small[32] == 'x');
}

TEST_CASE("the comparison is strict: 20 against 20.00 raises nothing, against 19.99 the alert")
{
    MessageBoxCatcher catcher;
    PrepareCheck(20.0f, 20.0);
    CheckWarning();
    CHECK(catcher.boxes.empty());

    PrepareCheck(20.0f, 19.99);
    CheckWarning();
    REQUIRE(catcher.boxes.size() == 1);
    CHECK(catcher.boxes[0].caption == "WARNING!!!");
    const std::string &text = catcher.boxes[0].text;
    CHECK(text.rfind("Free disk space on disk C:\\ was below warning level of 20.00% on ", 0) == 0);
    CHECK(text.find(". Free space remaining 19.99 GB. Free percentage is 19.99%") != std::string::npos);
}

TEST_CASE("the command runs before the alert; no command or an empty one still alerts")
{
    const char *trace = "C:\\vellmark-command-ran.txt";
    DeleteFileA(trace);
    MessageBoxCatcher catcher;

    PrepareCheck(50.0f, 10.0);
    PutTextInForce(&Monitor.Command, "cmd /c echo ran> C:\\vellmark-command-ran.txt");
    DWORD before = ProcessesStarted();
    DWORD startedWhileOpen = 0;
    catcher.whileOpen = [&] { startedWhileOpen = ProcessesStarted() - before; };
    CheckWarning();
    CHECK(startedWhileOpen == 1);
    CHECK(PumpUntil([&] { return FileExists(trace); }, 10000));
    CHECK(catcher.boxes.size() == 1);
    catcher.whileOpen = nullptr;
    DeleteFileA(trace);

    PrepareCheck(50.0f, 10.0);                   // no command in force
    CheckWarning();
    static char empty[] = "";
    PrepareCheck(50.0f, 10.0);
    Monitor.Command = empty;                     // an empty command, as a stored text can be
    CheckWarning();
    Monitor.Command = nullptr;
    CHECK(catcher.boxes.size() == 3);

    // A command that cannot start is ignored: the alert still goes out.
    PrepareCheck(50.0f, 10.0);
    PutTextInForce(&Monitor.Command, "C:\\no\\such\\program.exe");
    CheckWarning();
    CHECK(catcher.boxes.size() == 4);
}

TEST_CASE("with a recipient list in force no box is shown")
{
    MessageBoxCatcher catcher;
    // The dialog, which would show what the mailer reports.
    HWND hDlg = OpenMainDialog();
    REQUIRE(hDlg != nullptr);
    PrepareCheck(50.0f, 10.0);
    Monitor.hwndDlgSave = hDlg;
    PutTextInForce(&Monitor.EmailAddress, "ops@example.test");
    PutTextInForce(&Monitor.EmailServer, PeerAddress(25).c_str());    // aiosmtpd
    PutTextInForce(&Monitor.FromAddress, "vellmark@example.test");
    strcpy(Monitor.MyHostName, "TESTHOST");
    ClearPeerRecords();
    CheckWarning();
    REQUIRE(WaitForMail());
    CHECK(catcher.boxes.empty());
    DestroyWindow(hDlg);

    // The alert goes out by mail instead, whole.
    std::vector<DeliveredMail> mails = DeliveredMails(1);
    REQUIRE(mails.size() == 1);
    CHECK(mails[0].to == "ops@example.test");
    CHECK(mails[0].subject == "Disk Space Problem on TESTHOST.");
    // Between the two, the 24 characters of the time; its line break goes out as CR LF.
    const std::string head = "Free disk space on disk C:\\ was below warning level of 50.00% on ";
    const std::string tail = "\r\n. Free space remaining 10.00 GB. Free percentage is 10.00%\r\n";
    const std::string content = mails[0].content.substr(mails[0].content.find("\r\n\r\n") + 4);
    REQUIRE(content.size() == head.size() + 24 + tail.size());
    CHECK(content.substr(0, head.size()) == head);
    CHECK(content.substr(content.size() - tail.size()) == tail);

    // A list of blanks and separators names nobody: the alert shows on screen instead.
    PrepareCheck(50.0f, 10.0);
    PutTextInForce(&Monitor.EmailAddress, " ; ;;\r\n ");
    PutTextInForce(&Monitor.EmailServer, PeerAddress(25).c_str());
    ClearPeerRecords();
    CheckWarning();
    CHECK_FALSE(MailInFlight());
    REQUIRE(catcher.boxes.size() == 1);
    CHECK(catcher.boxes[0].caption == "WARNING!!!");
    CHECK(DeliveredMails(0, 500).empty());
}
