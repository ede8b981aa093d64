// What an unattended weekend brings to the running dialog: alert boxes nobody answers,
// settings somebody else stored, a watched drive that goes away, and mail servers that
// misbehave. The dialog samples the real drives here.
#include "core/state.h"
#include "mail/smtp.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "tests/mail/peer_records.h"
#include "tests/support/testing.h"

#include <doctest.h>

#include <commctrl.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

// The real dialog with a level in force that every drive is below (none is 101% free)
// and no recipient list, until a test puts one in force.
struct Watching : MainDialog {
    explicit Watching(const char *drive = "C:\\")
    {
        Monitor.pszDrive = drive;
        PutTextInForce(&Monitor.DiskToMonitor, drive);
        Monitor.WarningLevel = 101.0f;
    }
};

// The alert boxes open at one time. The first to open gets ticksToPost check ticks posted
// into its message loop, as the timer delivers them while nobody answers; every box is
// answered after the ticks queued before it.
HWND tickTarget;
int ticksToPost, alertsShown, mostOpen;
std::set<HWND> openAlerts;

LRESULT CALLBACK CountAlerts(int code, WPARAM wParam, LPARAM lParam)
{
    HWND box = reinterpret_cast<HWND>(wParam);
    char caption[32] = "";
    if (code == HCBT_ACTIVATE || code == HCBT_DESTROYWND)
        GetWindowTextA(box, caption, sizeof caption);
    if (strcmp(caption, "WARNING!!!") == 0 && code == HCBT_DESTROYWND)
        openAlerts.erase(box);
    else if (strcmp(caption, "WARNING!!!") == 0 && openAlerts.insert(box).second) {
        alertsShown++;
        // Cleared marks show whether a check ran while the box was open.
        Monitor.highgb = 0;
        mostOpen = std::max(mostOpen, static_cast<int>(openAlerts.size()));
        for (; ticksToPost > 0; ticksToPost--)
            PostMessageA(tickTarget, WM_TIMER, IDT_CHECK, 0);
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

const char SettingsKey[] = "SoftWare\\Tolvane\\Vellmark";

struct Stored {
    const char *name;
    DWORD type;
    std::string data;
};

Stored Number(const char *name, DWORD value)
{
    return {name, REG_DWORD, std::string(reinterpret_cast<const char *>(&value), sizeof value)};
}

Stored Text(const char *name, const char *text)
{
    return {name, REG_SZ, std::string(text, strlen(text) + 1)};
}

void StoreOnly(const std::vector<Stored> &values)
{
    SHDeleteKeyA(HKEY_CURRENT_USER, SettingsKey);
    HKEY key;
    REQUIRE(RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr) == ERROR_SUCCESS);
    for (const Stored &v : values)
        CHECK(RegSetValueExA(key, v.name, 0, v.type, reinterpret_cast<const BYTE *>(v.data.data()),
                             static_cast<DWORD>(v.data.size())) == ERROR_SUCCESS);
    RegCloseKey(key);
}

// Title, warning box, interval box, unit label, slider and check period, on one line.
std::string Shown(HWND hDlg)
{
    char title[64] = "", line[400];
    GetWindowTextA(hDlg, title, sizeof title);
    snprintf(line, sizeof line, "%s|%s|%s|%s|%d in %d..%d|%d", title,
             ControlText(hDlg, IDC_WARNING).c_str(), ControlText(hDlg, IDC_INTERVAL).c_str(),
             ControlText(hDlg, IDC_TIMETYPE).c_str(),
             static_cast<int>(SendDlgItemMessageA(hDlg, IDC_SECONDS, TBM_GETPOS, 0, 0)),
             static_cast<int>(SendDlgItemMessageA(hDlg, IDC_SECONDS, TBM_GETRANGEMIN, 0, 0)),
             static_cast<int>(SendDlgItemMessageA(hDlg, IDC_SECONDS, TBM_GETRANGEMAX, 0, 0)), Monitor.WarningTime);
    return line;
}

std::vector<std::string> BoxesSeen(const MessageBoxCatcher &catcher)
{
    std::vector<std::string> seen;
    for (const CapturedBox &box : catcher.boxes)
        seen.push_back(box.caption + ": " + box.text);
    return seen;
}

// Starts a program of the Linux host, which Wine runs like its own but gives no handle
// to wait on: its effect is to be waited for.
bool StartOnHost(const std::string &commandLine)
{
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    return CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
}

}  // namespace

TEST_CASE("an alert box nobody answers and a command that hangs: the checks go on, with one box and one command at a time")
{
    Watching w;
    // Runs about two seconds, far longer than the checks below take.
    PutTextInForce(&Monitor.Command, "ping -n 3 127.0.0.1");
    DWORD startedBefore = ProcessesStarted();
    HHOOK hook = SetWindowsHookExA(WH_CBT, CountAlerts, nullptr, GetCurrentThreadId());
    REQUIRE(hook);
    tickTarget = w.hDlg;
    ticksToPost = 5;
    alertsShown = mostOpen = 0;
    w.Tick();
    CHECK(mostOpen == 1);
    CHECK(alertsShown == 1);
    CHECK(Monitor.highgb != 0);
    // The five checks inside the box found the command still running.
    CHECK(ProcessesStarted() - startedBefore == 1);

    // Once it is closed, the next check below the level shows the alert again.
    w.Tick();
    CHECK(alertsShown == 2);
    CHECK(ProcessesStarted() - startedBefore == 1);
    // Once the command has ended, a check starts it again.
    CHECK(PumpUntil([&] { w.Tick(); return ProcessesStarted() - startedBefore == 2; }, 20000));
    UnhookWindowsHookEx(hook);
    CHECK(openAlerts.empty());
}

TEST_CASE("settings somebody else stored: start-up shows them as stored, and the checks run")
{
    const char *const Question = "Warning: Email not entered. Message will be displayed on screen";
    struct Row {
        std::string what;
        std::vector<Stored> values;
        std::vector<std::string> startBoxes;
        std::string shown;
        const char *percent;        // the free percentage box, or "" for any real figure
        size_t alertsPerCheck;
    } rows[] = {
        {"numbers beyond every range, a drive that does not exist, automatic start",
         {Number("Seconds", 4000000000u), Number("TimeType", 99), Number("Warning", 0x80000000u), Text("Disk", "Q:\\"),
          Text("AutoStart", "1"), Text("AutoMin", "0")},
         {Question},
         "Vellmark - Active|-21474836.00|12|Hours|30 in 10..90|2147483647", "n/a", 0},
        {"an interval beyond the slider and no unit",
         {Number("Seconds", 4000000000u), Number("TimeType", 0), Number("Warning", 0), Text("Disk", "C:\\"),
          Text("AutoStart", "0"), Text("AutoMin", "0")},
         {},
         "Vellmark - Inactive||-294967296|Seconds|90 in 10..90|0", "", 0},
        {"an empty drive text, automatic start",
         {Number("Seconds", 30), Number("TimeType", 1), Number("Warning", 2000), Text("Disk", ""),
          Text("AutoStart", "1"), Text("AutoMin", "0")},
         {"Warning: Disk must be selected"},
         "Vellmark - Inactive|20.00|30|Seconds|30 in 10..90|0", "", 0},
        {"a level above any percentage, automatic start",
         {Number("Seconds", 1), Number("TimeType", 1), Number("Warning", 0x7FFFFFFF), Text("Disk", "C:\\"),
          Text("AutoStart", "1"), Text("AutoMin", "0")},
         {Question},
         "Vellmark - Active|21474836.00|10|Seconds|30 in 10..90|1000", "", 1},
    };
    for (const Row &row : rows) {
        CAPTURE(row.what);
        StoreOnly(row.values);
        MessageBoxCatcher catcher;
        MainDialog d(LoadSettings);
        CHECK(BoxesSeen(catcher) == row.startBoxes);
        CHECK(Shown(d.hDlg) == row.shown);
        std::string percent = d.Text(IDC_FREEPERCENT);
        CHECK((*row.percent ? percent == row.percent : !percent.empty() && percent.back() == '%'));

        // The checks come from here alone: an armed timer could add one inside a box.
        KillTimer(d.hDlg, IDT_CHECK);
        catcher.boxes.clear();
        for (int i = 0; i < 3; i++)
            d.Tick();
        CHECK(catcher.boxes.size() == 3 * row.alertsPerCheck);
        CHECK(IsWindow(d.hDlg));
    }
    SHDeleteKeyA(HKEY_CURRENT_USER, SettingsKey);
}

TEST_CASE("a mapped drive removed while watched: each check queries it again and keeps the last figures")
{
    // R: maps a folder of the build tree, as Wine maps every drive: a link in the prefix.
    const std::string link = std::string(VELLMARK_WINEPREFIX) + "/dosdevices/r:";
    const std::string mapDrive = "Z:\\bin\\ln -sfn \"" + std::string(ROBUST_DRIVE_DIR) + "\" \"" + link + "\"";
    const std::string unmapDrive = "Z:\\bin\\rm -f \"" + link + "\"";
    REQUIRE(StartOnHost(mapDrive));
    MessageBoxCatcher catcher;
    Watching w("R:\\");
    // Each check's query succeeds (Error true) once the drive is there.
    REQUIRE(PumpUntil([&] { w.Tick(); return Monitor.Error; }, 5000));
    const std::string size = w.Text(IDC_DISKSIZE), free = w.Text(IDC_FREE);
    CHECK(size != "0.00 GB");

    REQUIRE(StartOnHost(unmapDrive));
    CHECK(PumpUntil([&] { w.Tick(); return !Monitor.Error; }, 5000));
    for (int i = 0; i < 3; i++)
        w.Tick();
    CHECK(!Monitor.Error);
    CHECK(w.Text(IDC_DISKSIZE) == size);
    CHECK(w.Text(IDC_FREE) == free);
    // The alert goes on too, with the figures of the last sample that succeeded.
    REQUIRE(!catcher.boxes.empty());
    CHECK(catcher.boxes.back().text.find("Free space remaining " + free.substr(0, free.size() - 3) + " GB") !=
          std::string::npos);

    // Mapped again, the drive is sampled again.
    REQUIRE(StartOnHost(mapDrive));
    CHECK(PumpUntil([&] { w.Tick(); return Monitor.Error; }, 5000));
    CHECK(IsWindow(w.hDlg));
    StartOnHost(unmapDrive);
}

TEST_CASE("a mail server that misbehaves: the alert ends within the mail limits, told each time, and the next check mails again")
{
    MessageBoxCatcher catcher;
    struct Row {
        int host;
        std::string server;
        DWORD waitMs, leastMs;
        int checks;
        std::string received;
    } rows[] = {
        {34, "midclose", 1000, 0, 2, "EHLO " + ExpectedGreeting() + "\r\nMAIL FROM:<vellmark@example.test>\r\n"},
        // Replies that never end, 64 KB at a time: too long to hold, so nothing is sent.
        {35, "flood", 1000, 0, 2, ""},
        {28, "silent", 1000, 900, 2, ""},
        // A byte a second: the greeting is not whole within the limit, so nothing is sent.
        {36, "drip", 2500, 2400, 1, ""},
    };
    for (const Row &row : rows) {
        CAPTURE(row.server);
        Watching w;
        PutTextInForce(&Monitor.EmailAddress, "ops@example.test");
        PutTextInForce(&Monitor.EmailServer, PeerAddress(row.host).c_str());
        PutTextInForce(&Monitor.FromAddress, "vellmark@example.test");
        MailLimits = {row.waitMs, row.waitMs, row.waitMs, row.waitMs, row.waitMs, row.waitMs, row.waitMs};
        ClearPeerRecords();
        for (int i = 0; i < row.checks; i++) {
            DWORD start = GetTickCount();
            w.Tick();
            REQUIRE(WaitForMail());
            DWORD spent = GetTickCount() - start;
            CHECK(spent >= row.leastMs);
            CHECK(spent <= row.waitMs + 3000);
        }
        std::vector<std::string> records = PeerRecords(row.server.c_str(), row.checks);
        REQUIRE(records.size() == static_cast<size_t>(row.checks));
        for (const std::string &record : records)
            CHECK(record == row.received);
        REQUIRE(catcher.boxes.size() == static_cast<size_t>(row.checks));
        for (const CapturedBox &box : catcher.boxes)
            CHECK(box.text == "Mail server stopped answering before the alert reached ops@example.test\n\n"
                              "The alert did not reach: ops@example.test");
        catcher.boxes.clear();
    }
}

namespace {

// Sends WM_NULL to the window from another thread, as Windows does to tell whether a
// window hangs, at moments 50 ms apart for ms milliseconds. A moment counts as
// unanswered when three attempts of 100 ms each all went unanswered: a window whose
// thread waits on the network misses every attempt, while one that is free answers at
// least one of them even on a loaded machine.
struct Probe {
    HWND hWnd;
    DWORD ms;
    int moments, unanswered;
};

DWORD WINAPI RunProbe(void *parameter)
{
    Probe *probe = static_cast<Probe *>(parameter);
    for (DWORD start = GetTickCount(); GetTickCount() - start < probe->ms; Sleep(50)) {
        bool answered = false;
        for (int attempt = 0; attempt < 3 && !answered; attempt++) {
            DWORD_PTR result;
            answered = SendMessageTimeoutA(probe->hWnd, WM_NULL, 0, 0, SMTO_NORMAL, 100, &result) != 0;
        }
        probe->moments++;
        probe->unanswered += answered ? 0 : 1;
    }
    return 0;
}

}  // namespace

TEST_CASE("while an alert waits on a silent server the window answers, the checks go on without a second alert, and Stop ends it")
{
    MessageBoxCatcher catcher;
    Watching w;
    PutTextInForce(&Monitor.EmailAddress, "ops@example.test");
    PutTextInForce(&Monitor.EmailServer, PeerAddress(28).c_str());
    MailLimits = RfcMailTimeLimits;
    MailLimits.greeting = 4000;
    ClearPeerRecords();
    REQUIRE(SetTimer(w.hDlg, IDT_CHECK, 200, nullptr));

    Probe probe = {w.hDlg, 2500, 0, 0};
    HANDLE prober = CreateThread(nullptr, 0, RunProbe, &probe, 0, nullptr);
    REQUIRE(prober);
    w.Tick();
    CHECK(PumpUntil([&] { return WaitForSingleObject(prober, 0) == WAIT_OBJECT_0; }, 20000));
    CloseHandle(prober);
    CHECK(probe.moments >= 10);
    CHECK(probe.unanswered == 0);

    // Stop takes effect at once and ends the alert in flight: its connection is closed
    // within a second, and nothing is told of it.
    REQUIRE(MailInFlight());
    CHECK(PeerRecords("silent", 0, 0).empty());
    SendMessageA(w.hDlg, WM_COMMAND, MAKEWPARAM(IDC_STOP, BN_CLICKED), 0);
    DWORD stopped = GetTickCount();
    char title[64] = "";
    GetWindowTextA(w.hDlg, title, sizeof title);
    CHECK(std::string(title) == "Vellmark - Inactive");
    CHECK_FALSE(KillTimer(w.hDlg, IDT_CHECK));
    CHECK_FALSE(MailInFlight());
    // The checks made while it waited sent no further alert.
    CHECK(PeerRecords("silent", 1, 1000).size() == 1);
    CHECK(GetTickCount() - stopped < 1500);
    PumpFor(4500);
    CHECK(catcher.boxes.empty());

    // Started again on the silent server, then on another one: the alert in flight ends,
    // and the next check's alert goes to the new server.
    ClearPeerRecords();
    SendDlgItemMessageA(w.hDlg, IDC_DISK, CB_SELECTSTRING, (WPARAM)-1, (LPARAM) "C:\\");
    SetDlgItemTextA(w.hDlg, IDC_WARNING, "101");
    SetDlgItemTextA(w.hDlg, IDC_INTERVAL, "30");
    SetDlgItemTextA(w.hDlg, IDC_EMAIL, "ops@example.test");
    SetDlgItemTextA(w.hDlg, IDC_SERVER, PeerAddress(28).c_str());
    SendMessageA(w.hDlg, WM_COMMAND, MAKEWPARAM(IDC_START, BN_CLICKED), 0);
    w.Tick();
    REQUIRE(MailInFlight());
    PumpFor(300);       // time to connect
    SetDlgItemTextA(w.hDlg, IDC_SERVER, PeerAddress(26).c_str());
    SendMessageA(w.hDlg, WM_COMMAND, MAKEWPARAM(IDM_START, BN_CLICKED), 0);
    w.Tick();
    REQUIRE(WaitForMail());
    CHECK(PeerRecords("good", 1).size() == 1);
    CHECK(PeerRecords("silent", 1, 1000).size() == 1);
    CHECK(catcher.boxes.empty());
    KillTimer(w.hDlg, IDT_CHECK);
}
