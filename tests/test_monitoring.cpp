// Starting and stopping monitoring on the real dialog: the entries read, the period, the
// check timer, the title and the locked entries; and the interval slider's units.
#include "core/monitoring.h"
#include "core/state.h"
#include "core/trayicon.h"
#include "resources/resource.h"
#include "tests/support/fakedisk.h"
#include "tests/support/testing.h"
#include "ui/tray.h"

#include <doctest.h>

#include <climits>
#include <commctrl.h>
#include <cstring>
#include <string>

namespace {

const char *Active = "Vellmark - Active: 0 entries, Stop 1, others 5";
const char *Inactive = "Vellmark - Inactive: 10 entries, Stop 0, others 5";

// The real dialog holding a complete set of entries for C:\, a 100 GB drive 25 GB free.
struct Entries : MainDialog {
    explicit Entries(const char *level = "10")
        : MainDialog([] {
              FakeDiskSize = 100 * GiB;
              FakeDiskFree = 25 * GiB;
          })
    {
        SelectDrive("C:\\");
        SetDlgItemTextA(hDlg, IDC_WARNING, level);
        SetDlgItemTextA(hDlg, IDC_INTERVAL, "30");
        SetDlgItemTextA(hDlg, IDC_EMAIL, "ops@example.test");
        SetDlgItemTextA(hDlg, IDC_SERVER, "127.0.0.1");
        SetDlgItemTextA(hDlg, IDC_FROM, "vellmark@example.test");
        SetDlgItemTextA(hDlg, IDC_COMMAND, "new command");
        memcpy(Monitor.AutoStartMini, "0", 2);
        // Start-up shows both boxes ticked while their flags hold no character.
        SendDlgItemMessageA(hDlg, IDC_AUTOMIN, BM_SETCHECK, BST_UNCHECKED, 0);
    }
    void SelectDrive(const char *root)
    {
        LRESULT i = SendDlgItemMessageA(hDlg, IDC_DISK, CB_FINDSTRINGEXACT, -1, (LPARAM)root);
        if (i == CB_ERR)
            i = SendDlgItemMessageA(hDlg, IDC_DISK, CB_ADDSTRING, 0, (LPARAM)root);
        SendDlgItemMessageA(hDlg, IDC_DISK, CB_SETCURSEL, i, 0);
    }
    // Whether the check timer was armed; it is not afterwards.
    bool KillCheckTimer() { return KillTimer(hDlg, IDT_CHECK) != 0; }
    // The title and how many entry controls, Stop, and other controls are enabled.
    std::string State()
    {
        int entries = 0, others = 0;
        for (int id : {IDC_DISK, IDC_WARNING, IDC_SECONDS, IDC_EMAIL, IDC_FROM, IDC_SERVER, IDC_COMMAND,
                       IDC_START, IDC_AUTOSTART, IDC_AUTOMIN})
            entries += IsWindowEnabled(GetDlgItem(hDlg, id)) ? 1 : 0;
        for (int id : {IDC_RESET, IDC_EXIT, IDC_MINIMIZE, IDC_SAVE, IDC_INTERVAL})
            others += IsWindowEnabled(GetDlgItem(hDlg, id)) ? 1 : 0;
        char title[64] = "";
        GetWindowTextA(hDlg, title, sizeof title);
        return std::string(title) + ": " + std::to_string(entries) + " entries, Stop " +
               std::to_string(IsWindowEnabled(GetDlgItem(hDlg, IDC_STOP))) + ", others " + std::to_string(others);
    }
};

// The texts in force, drive to command, with none shown as "-".
std::string TextsInForce()
{
    std::string all;
    for (const char *text : {Monitor.DiskToMonitor, Monitor.EmailAddress, Monitor.EmailServer, Monitor.FromAddress,
                             Monitor.Command})
        all += std::string(text ? text : "-") + "|";
    return all;
}

}  // namespace

TEST_CASE("Start takes every entry, samples, and arms the timer with the unit's period")
{
    struct Row { const char *count; int unit; int period; } rows[] = {
        {"45", 1, 45000}, {"5", 2, 300000}, {"12", 3, 43200000}, {"30", 0, 30000}, {"30", 7, 30000},
    };
    for (const Row &row : rows) {
        Entries d;
        Monitor.TimeType = row.unit;
        SetDlgItemTextA(d.hDlg, IDC_INTERVAL, row.count);
        MessageBoxCatcher catcher;
        d.Command(IDC_START);
        CHECK(catcher.boxes.empty());
        CHECK(Monitor.WarningTime == row.period);
        CHECK(d.State() == Active);
        CHECK(d.KillCheckTimer());
    }
    Entries d;
    d.Command(IDC_START);
    CHECK(TextsInForce() == "C:\\|ops@example.test|127.0.0.1|vellmark@example.test|new command|");
    CHECK(Monitor.WarningLevel == 10.0f);
    CHECK(Monitor.Seconds == 30);
    CHECK(std::string(Monitor.IconData.szTip) == "Orn Active - Disk C:\\ Free 25.00% High 25.00% Low 25.00%");
    CHECK(IsWindowVisible(d.hDlg));     // Minimize on start is off
}

TEST_CASE("the warning level is the box's leading number; without one monitoring runs unwarned")
{
    struct Row { const char *text; float level; } rows[] = {
        {"15.5 words", 15.5f}, {"1e1", 10.0f}, {"abc", 0.0f}, {"", 0.0f},
        // Only a decimal number counts: the runtime alone would read these as inf, nan,
        // 20 and -inf, and the last as an overflow to inf.
        {"inf", 0.0f}, {"nan", 0.0f}, {"0x14", 0.0f}, {"-inf", 0.0f}, {"1e1000", 0.0f},
        {" +.5e1%", 5.0f}, {"7e", 7.0f}, {"-.", 0.0f},
    };
    for (const Row &row : rows) {
        INFO("warning box: ", row.text);
        Entries d(row.text);
        MessageBoxCatcher catcher;
        d.Command(IDC_START);
        CHECK(Monitor.WarningLevel == row.level);
        std::string shown = catcher.boxes.empty() ? "" : catcher.boxes[0].text;
        CHECK(shown == (row.level == 0 ? "Warning Level not entered. No warnings will be given" : ""));
        CHECK(d.State() == Active);
        CHECK(d.KillCheckTimer());
    }
}

TEST_CASE("unwarned with no interval, the check still waits a second; the command keeps its case")
{
    Entries d("");
    SetDlgItemTextA(d.hDlg, IDC_INTERVAL, "");
    SetDlgItemTextA(d.hDlg, IDC_COMMAND, "cmd /c echo MiXeD");
    MessageBoxCatcher catcher;
    d.Command(IDC_START);
    CHECK(Monitor.WarningTime == 1000);
    d.Command(IDC_STOP);
    d.Command(IDC_START);
    CHECK(std::string(Monitor.Command) == "cmd /c echo MiXeD");

    // The same from the store: a stored interval of 0 at level 0.
    strcpy(Monitor.StartDisk, "C:\\");
    Monitor.StartSeconds = 0;
    Monitor.StartWarning = 0;
    StartAndMinimize();
    CHECK(Monitor.WarningTime == 1000);
    CHECK(d.KillCheckTimer());
}

TEST_CASE("a refused Start keeps the inactive state and the values it read")
{
    Entries d;
    SendDlgItemMessageA(d.hDlg, IDC_DISK, CB_SETCURSEL, (WPARAM)-1, 0);
    MessageBoxCatcher catcher;
    d.Command(IDC_START);
    REQUIRE(catcher.boxes.size() == 1);
    CHECK(catcher.boxes[0].text == "Disk must be selected");
    CHECK(d.State() == Inactive);
    CHECK_FALSE(d.KillCheckTimer());
    CHECK(TextsInForce() == "-|ops@example.test|127.0.0.1|vellmark@example.test|new command|");
    CHECK(Monitor.WarningLevel == 10.0f);

    // An entry too long for the drive buffer counts as no drive instead of overrunning it.
    d.SelectDrive("\\\\fileserver\\share\\");
    memcpy(Monitor.WarningText, "intact", 7);
    d.Command(IDC_START);
    CHECK(catcher.boxes.back().text == "Disk must be selected");
    CHECK(std::string(Monitor.WarningText) == "intact");
    CHECK(d.State() == Inactive);
}

TEST_CASE("Stop shows the inactive state and keeps the settings, tooltip text and marks")
{
    Entries d;
    d.Command(IDC_START);
    const std::string tooltip = Monitor.TrayText, texts = TextsInForce();
    for (int id : {IDC_STOP, IDM_STOP}) {   // the second comes while already inactive
        d.Command(id);
        CHECK(d.State() == Inactive);
        CHECK_FALSE(d.KillCheckTimer());
        CHECK(std::string(Monitor.IconData.szTip) == "Vellmark - Inactive");
        CHECK(Monitor.TrayText == tooltip);
        CHECK(TextsInForce() == texts);
    }
    // Started again on a fuller drive: the same period, and the marks go on from before.
    FakeDiskFree = 50 * GiB;
    d.Command(IDC_START);
    CHECK(Monitor.WarningTime == 30000);
    CHECK(Monitor.lowpercent == 25.0f);
    CHECK(Monitor.highpercent == 50.0f);
    CHECK(d.KillCheckTimer());
}

TEST_CASE("Start from the tray reads all but the command, and re-arms when already active")
{
    Entries d;
    PutTextInForce(&Monitor.Command, "old command");
    SetDlgItemTextA(d.hDlg, IDC_FROM, "");
    d.Command(IDM_START);
    CHECK(TextsInForce() == "C:\\|ops@example.test|127.0.0.1|-|old command|");
    CHECK(d.State() == Active);

    // The unit menu may change the unit and count while active; the tray Start takes them.
    Monitor.TimeType = 2;
    SetDlgItemTextA(d.hDlg, IDC_INTERVAL, "5");
    d.Command(IDM_START);
    CHECK(Monitor.WarningTime == 300000);
    CHECK(d.KillCheckTimer());
}

TEST_CASE("Minimize on start hides the dialog as validation last read its box")
{
    for (const char *level : {"10", ""}) {      // level 0 ends validation before the boxes
        INFO("warning box: ", level);
        Entries d(level);
        CheckDlgButton(d.hDlg, IDC_AUTOMIN, BST_CHECKED);
        MessageBoxCatcher catcher;
        d.Command(IDC_START);
        CHECK(d.State() == Active);
        CHECK(IsWindowVisible(d.hDlg) == (*level == 0));
    }
}

TEST_CASE("the automatic start takes the stored settings and leaves the slider on the unit's default")
{
    Entries d;
    strcpy(Monitor.StartDisk, "C:\\");
    strcpy(Monitor.StartEmailAddress, "ops@stored.test");
    strcpy(Monitor.StartEmailServer, "127.0.0.1");
    strcpy(Monitor.StartCommand, "stored command");
    Monitor.StartWarning = 10;
    Monitor.StartSeconds = 45;
    Monitor.StartTimeType = 2;
    MessageBoxCatcher catcher;
    StartAndMinimize();
    CHECK(catcher.boxes.empty());
    CHECK(TextsInForce() == "C:\\|ops@stored.test|127.0.0.1|-|stored command|");
    CHECK(Monitor.WarningTime == 2700000);
    CHECK(SendMessageA(Monitor.hWndSeconds, TBM_GETRANGEMAX, 0, 0) == 100);
    CHECK(SendMessageA(Monitor.hWndSeconds, TBM_GETPOS, 0, 0) == 5);
    CHECK(d.Text(IDC_INTERVAL) == "30");   // as start-up left it
    CHECK(d.State() == Active);
    CHECK(d.KillCheckTimer());

    // A stored count far beyond the slider gives the longest period, not a wrapped one;
    // a stored unit outside 1 to 3 is seconds.
    Monitor.StartSeconds = 4000000000u;
    Monitor.StartTimeType = 7;
    StartAndMinimize();
    CHECK(Monitor.WarningTime == INT_MAX);
    CHECK(Monitor.TimeType == 1);

    // At sign-in nobody may be there: whatever the start tells or asks comes with the
    // checks already running. Cancel on the question then ends them, with the window shown.
    d.Command(IDC_STOP);
    const std::string unresolvable = std::string(64, 'x') + ".test";
    struct Row {
        const char *recipients;
        const char *server;
        float level;
        int answer;
        const char *told;
        const char *after;
    } rows[] = {
        {"", "127.0.0.1", 10, IDCANCEL, "Email not entered. Message will be displayed on screen", Inactive},
        {"", "127.0.0.1", 10, IDOK, "Email not entered. Message will be displayed on screen", Active},
        {"ops@stored.test", unresolvable.c_str(), 10, IDOK, "Couldn't resolve server name. Try IP address instead.",
         Active},
        {"ops@stored.test", "127.0.0.1", 0, IDOK, "Warning Level not entered. No warnings will be given", Active},
    };
    for (const Row &row : rows) {
        INFO("told: ", row.told, ", answer ", row.answer);
        strcpy(Monitor.StartEmailAddress, row.recipients);
        strcpy(Monitor.StartEmailServer, row.server);
        Monitor.StartWarning = row.level;
        Monitor.StartTimeType = 1;
        memcpy(Monitor.AutoStartMini, "1", 2);
        CheckDlgButton(d.hDlg, IDC_AUTOMIN, BST_CHECKED);
        catcher.boxes.clear();
        catcher.SetAnswer(row.answer);
        std::string whileOpen;
        catcher.whileOpen = [&] { whileOpen = d.State() + (IsWindowVisible(d.hDlg) ? ", shown" : ", hidden"); };
        StartAndMinimize();
        REQUIRE(catcher.boxes.size() == 1);
        CHECK(catcher.boxes[0].text == row.told);
        CHECK(whileOpen == std::string(Active) + ", hidden");
        CHECK(d.State() == row.after);
        CHECK(IsWindowVisible(d.hDlg) == (row.after == Inactive));
        CHECK(d.KillCheckTimer() == (row.after == Active));
        RestoreFromTray();
        d.Command(IDC_STOP);
    }
}

TEST_CASE("unit set-up clamps into the unit's range and fills label and box only when asked")
{
    Entries d;
    struct Row { int code; UINT position; int min, max, at; const char *label; } rows[] = {
        {2, 45, 1, 100, 45, "Minutes"}, {3, 45, 1, 12, 12, "Hours"},
        {1, 5, 10, 90, 10, "Seconds"},  {2, 4000000000u, 1, 100, 100, "Minutes"},
    };
    for (const Row &row : rows) {
        SetUpUnit(row.code, row.position, true);
        CHECK(SendMessageA(Monitor.hWndSeconds, TBM_GETRANGEMIN, 0, 0) == row.min);
        CHECK(SendMessageA(Monitor.hWndSeconds, TBM_GETRANGEMAX, 0, 0) == row.max);
        CHECK(Monitor.TrackPosition == row.at);
        CHECK(d.Text(IDC_INTERVAL) == std::to_string(row.at));
        CHECK(d.Text(IDC_TIMETYPE) == row.label);
    }
    SetUpUnit(1, 30, false);
    CHECK(SendMessageA(Monitor.hWndSeconds, TBM_GETPOS, 0, 0) == 30);
    CHECK(d.Text(IDC_INTERVAL) == "100");
    CHECK(d.Text(IDC_TIMETYPE) == "Minutes");
}

TEST_CASE("a drive chosen while Start's question is open: the drive named is the drive watched")
{
    Entries d;
    SetDlgItemTextA(d.hDlg, IDC_EMAIL, "");
    MessageBoxCatcher catcher;
    catcher.whileOpen = [&] {
        d.SelectDrive("Z:\\");
        d.Command(IDC_DISK, CBN_SELCHANGE);
        CHECK(std::string(Monitor.pszDrive) == "Z:\\");
    };
    d.Command(IDC_START);
    REQUIRE(catcher.boxes.size() == 1);
    CHECK(d.State() == Active);
    CHECK(std::string(Monitor.pszDrive) == "C:\\");
    CHECK(std::string(Monitor.DiskToMonitor) == "C:\\");
    CHECK(d.Text(IDC_DISK) == "C:\\");
    CHECK(d.KillCheckTimer());
}

TEST_CASE("a Start pressed while validation asks its question is ignored")
{
    Entries d;
    SetDlgItemTextA(d.hDlg, IDC_EMAIL, "");
    MessageBoxCatcher catcher;
    // Delivered by the question's own message loop, while the first Start waits on it.
    PostMessageA(d.hDlg, WM_COMMAND, MAKEWPARAM(IDC_START, BN_CLICKED), 0);
    d.Command(IDC_START);
    CHECK(catcher.boxes.size() == 1);
    CHECK(d.State() == Active);
    CHECK(d.KillCheckTimer());
}
