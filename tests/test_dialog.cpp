// The program's start-up, DPI awareness first, the dialog's start-up from stored settings
// and its events: drive selection, slider, unit menu and choice, Reset, the timer tick,
// the tray, and the ways out.
#include "core/state.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "tests/support/fakedisk.h"
#include "tests/support/faketray.h"
#include "tests/support/testing.h"
#include "ui/dialog.h"
#include "ui/tray.h"

#include <doctest.h>

#include <commctrl.h>
#include <shlwapi.h>
#include <cstring>
#include <string>

namespace {

// The real dialog opened from the stored settings that prepare() put in the record.
struct Started : MainDialog {
    template <typename F>
    explicit Started(F prepare)
        : MainDialog([&] {
              FakeTrayIconShown = false;
              FakeDiskFails = false;
              FakeDiskSize = 100 * GiB;
              FakeDiskFree = 25 * GiB;
              prepare();
          })
    {
    }
    Started() : Started([] {}) {}
    LRESULT Slider(UINT msg) const { return SendDlgItemMessageA(hDlg, IDC_SECONDS, msg, 0, 0); }
    // "position in min..max", as the interval slider stands.
    std::string SliderState() const
    {
        return std::to_string(Slider(TBM_GETPOS)) + " in " + std::to_string(Slider(TBM_GETRANGEMIN)) + ".." +
               std::to_string(Slider(TBM_GETRANGEMAX));
    }
    bool Checked(int id) const { return IsDlgButtonChecked(hDlg, id) == BST_CHECKED; }
};

// Opens a popup menu by sending msg to the dialog, and records its entries as
// "Text[*]" (checked) or "Text[-]" (greyed) before closing it unchosen; the menu must be
// gone once it has closed.
std::string MenuShownBy(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam, HMENU *menu)
{
    static std::string seen;
    static HMENU *watched;
    static HMENU opened;
    seen.clear();
    watched = menu;
    opened = nullptr;
    // The menu runs its own loop; a thread timer reaches into it.
    UINT_PTR timer = SetTimer(nullptr, 0, 100, [](HWND, UINT, UINT_PTR, DWORD) {
        if (!*watched || !IsMenu(*watched) || !seen.empty())
            return;
        opened = *watched;
        for (int i = 0; i < GetMenuItemCount(*watched); i++) {
            char text[32] = "";
            GetMenuStringA(*watched, i, text, sizeof text, MF_BYPOSITION);
            UINT state = GetMenuState(*watched, i, MF_BYPOSITION);
            seen += std::string(text) + (state & MF_CHECKED ? "[*]" : "") + (state & MF_GRAYED ? "[-]" : "") + " ";
        }
        EndMenu();
    });
    *menu = nullptr;
    SendMessageA(hDlg, msg, wParam, lParam);
    KillTimer(nullptr, timer);
    CHECK(opened != nullptr);
    CHECK_FALSE(IsMenu(opened));
    CHECK(*menu == nullptr);
    return seen;
}

// The side of an icon in pixels.
int IconSide(HICON icon)
{
    ICONINFO info = {};
    if (!GetIconInfo(icon, &info))
        return 0;
    BITMAP bits = {};
    GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bits, &bits);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return bits.bmWidth;
}

// Whether the process was DPI aware when its first window was made; -1 before that.
int AwareAtFirstWindow = -1;

LRESULT CALLBACK NoteFirstWindow(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND && AwareAtFirstWindow == -1)
        AwareAtFirstWindow = IsProcessDPIAware() ? 1 : 0;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

// First in the file, so that WinMain makes the process's first window: a declaration
// holds only for the windows made after it.
TEST_CASE("the program is DPI aware before its first window, a first run's settings boxes included")
{
    // The test bed starts a program unaware, as Windows does (scripts/testbed.sh).
    REQUIRE_FALSE(IsProcessDPIAware());
    ResetMonitor();
    RegDeleteKeyA(HKEY_CURRENT_USER, "SoftWare\\Tolvane\\Vellmark");
    HHOOK hook = SetWindowsHookExA(WH_CBT, NoteFirstWindow, nullptr, GetCurrentThreadId());
    MessageBoxCatcher catcher;
    // Ends the dialog once its loop runs; the settings boxes before it have loops too.
    UINT_PTR timer = SetTimer(nullptr, 0, 100, [](HWND, UINT, UINT_PTR, DWORD) {
        if (Monitor.hwndDlgSave)
            EndDialog(Monitor.hwndDlgSave, 7);
    });
    int result = WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<char *>(""), SW_SHOWNORMAL);
    KillTimer(nullptr, timer);
    UnhookWindowsHookEx(hook);
    CHECK(result == 7);
    CHECK(catcher.boxes.size() == 3);
    CHECK(AwareAtFirstWindow == 1);
}

TEST_CASE("a first run with nothing stored opens the inactive window with empty entries")
{
    Started d;
    CHECK(SendDlgItemMessageA(d.hDlg, IDC_DISK, CB_GETCURSEL, 0, 0) == CB_ERR);
    CHECK(SendDlgItemMessageA(d.hDlg, IDC_DISK, CB_GETCOUNT, 0, 0) >= 1);   // the machine's drives
    CHECK(d.Text(IDC_WARNING).empty());
    CHECK(d.Text(IDC_INTERVAL).empty());
    CHECK(d.SliderState() == "30 in 10..90");
    CHECK(d.Text(IDC_TIMETYPE) == "Seconds");
    CHECK(d.Checked(IDC_AUTOSTART));
    CHECK(d.Checked(IDC_AUTOMIN));
    CHECK(IsWindowVisible(d.hDlg));
    char title[64] = "";
    GetWindowTextA(d.hDlg, title, sizeof title);
    CHECK(std::string(title) == "Vellmark - Inactive");
    CHECK(d.Text(IDC_VERSION) == "5.0.36.126");
    CHECK(!IsWindowEnabled(GetDlgItem(d.hDlg, IDC_STOP)));
    CHECK(Monitor.TimeType == 0);
    CHECK(std::string(Monitor.MyHostName).size() > 0);
    CHECK(Monitor.IconData.uID == TRAY_ICON_ID);
    CHECK(std::string(Monitor.IconData.szTip) == "Vellmark - Inactive");
    // Each icon is drawn at the size it is shown at, not shrunk by Windows from a larger
    // one: the tray's too is the small one.
    CHECK(IconSide(reinterpret_cast<HICON>(SendMessageA(d.hDlg, WM_GETICON, ICON_SMALL, 0))) ==
          GetSystemMetrics(SM_CXSMICON));
    CHECK(IconSide(reinterpret_cast<HICON>(SendMessageA(d.hDlg, WM_GETICON, ICON_BIG, 0))) ==
          GetSystemMetrics(SM_CXICON));
    CHECK(IconSide(Monitor.IconData.hIcon) == GetSystemMetrics(SM_CXSMICON));
}

TEST_CASE("start-up shows the stored settings and puts the stored unit in force")
{
    struct Row {
        float warning; DWORD seconds; DWORD unit;
        const char *warningBox, *label, *slider, *intervalBox; int timeType;
    } rows[] = {
        {12.5f, 0, 0, "12.50", "Seconds", "30 in 10..90", "", 0},
        {0, 45, 2, "", "Minutes", "45 in 1..100", "45", 2},
        {0, 45, 3, "", "Hours", "12 in 1..12", "12", 3},
        {0, 5, 1, "", "Seconds", "10 in 10..90", "10", 1},
        {0, 45, 99, "", "Seconds", "45 in 10..90", "45", 1},    // unknown codes show and count as seconds
        {0, 45, 0, "", "Seconds", "45 in 10..90", "45", 0},
    };
    for (const Row &row : rows) {
        CAPTURE(row.unit);
        Started d([&] {
            Monitor.StartWarning = row.warning;
            Monitor.StartSeconds = row.seconds;
            Monitor.StartTimeType = row.unit;
        });
        CHECK(d.Text(IDC_WARNING) == row.warningBox);
        CHECK(d.Text(IDC_TIMETYPE) == row.label);
        CHECK(d.SliderState() == row.slider);
        CHECK(d.Text(IDC_INTERVAL) == row.intervalBox);
        CHECK(Monitor.TimeType == row.timeType);
    }

    Started d([] {
        strcpy(Monitor.StartDisk, "C:\\");
        strcpy(Monitor.StartEmailAddress, "a@example.test;b@example.test");
        strcpy(Monitor.StartEmailServer, "127.0.0.1");
        strcpy(Monitor.StartFromEmail, "vellmark@example.test");
        strcpy(Monitor.StartCommand, "notify.cmd");
        strcpy(Monitor.AutoStartValue, "0");
        strcpy(Monitor.AutoStartMini, "1");
    });
    char drive[8] = "";
    LRESULT selected = SendDlgItemMessageA(d.hDlg, IDC_DISK, CB_GETCURSEL, 0, 0);
    SendDlgItemMessageA(d.hDlg, IDC_DISK, CB_GETLBTEXT, selected, (LPARAM)drive);
    CHECK(std::string(drive) == "C:\\");
    CHECK(std::string(Monitor.pszDrive) == "C:\\");
    CHECK(d.Text(IDC_EMAIL) == "a@example.test;b@example.test");
    CHECK(d.Text(IDC_SERVER) == "127.0.0.1");
    CHECK(d.Text(IDC_FROM) == "vellmark@example.test");
    CHECK(d.Text(IDC_COMMAND) == "notify.cmd");
    CHECK(!d.Checked(IDC_AUTOSTART));
    CHECK(d.Checked(IDC_AUTOMIN));
    CHECK(IsWindowVisible(d.hDlg));       // no automatic start
}

TEST_CASE("the start-up flags as Windows stores them, text or number, shown in their boxes and acted on")
{
    const char *key = "SoftWare\\Tolvane\\Vellmark";
    const DWORD one = 1, zero = 0;
    struct Flag { DWORD type; const void *data; DWORD size; };
    const Flag on = {REG_DWORD, &one, 4}, off = {REG_DWORD, &zero, 4}, textOn = {REG_SZ, "1", 2},
               textOff = {REG_SZ, "0", 2}, missing = {REG_NONE, nullptr, 0};
    struct Row { Flag autoStart, autoMin; const char *ticked; bool active, hidden; } rows[] = {
        {on, on, "11", true, true}, {off, off, "00", false, false}, {textOn, textOff, "10", true, false},
        {textOff, textOn, "01", false, false}, {missing, missing, "11", false, false},   // a first run's
    };
    for (const Row &row : rows) {
        SHDeleteKeyA(HKEY_CURRENT_USER, key);
        SHSetValueA(HKEY_CURRENT_USER, key, "Disk", REG_SZ, "C:\\", 4);
        if (row.autoStart.data)
            SHSetValueA(HKEY_CURRENT_USER, key, "AutoStart", row.autoStart.type, row.autoStart.data, row.autoStart.size);
        if (row.autoMin.data)
            SHSetValueA(HKEY_CURRENT_USER, key, "AutoMin", row.autoMin.type, row.autoMin.data, row.autoMin.size);
        MessageBoxCatcher catcher;
        Started d([] { LoadSettings(); });
        CHECK(std::string{char('0' + d.Checked(IDC_AUTOSTART)), char('0' + d.Checked(IDC_AUTOMIN))} == row.ticked);
        CHECK((KillTimer(d.hDlg, IDT_CHECK) != 0) == row.active);
        CHECK(Monitor.Minimized == row.hidden);
        RestoreFromTray();
    }
    SHDeleteKeyA(HKEY_CURRENT_USER, key);
}

TEST_CASE("selecting a drive samples it with fresh marks, while the drive in force stays")
{
    Started d([] { strcpy(Monitor.StartDisk, "C:\\"); });
    CHECK(d.Text(IDC_HIGHGB) == "25.00GB");
    FakeDiskFree = 10 * GiB;
    LRESULT z = SendDlgItemMessageA(d.hDlg, IDC_DISK, CB_FINDSTRINGEXACT, -1, (LPARAM) "Z:\\");
    REQUIRE(z != CB_ERR);
    SendDlgItemMessageA(d.hDlg, IDC_DISK, CB_SETCURSEL, z, 0);
    d.Command(IDC_DISK, CBN_SELCHANGE);
    CHECK(std::string(Monitor.pszDrive) == "Z:\\");
    CHECK(d.Text(IDC_HIGHGB) == "10.00GB");         // would stay 25.00GB without the reset
    CHECK(d.Text(IDC_LOWGB) == "10.00GB");
    CHECK(Monitor.DiskToMonitor == nullptr);
    CHECK(std::string(Monitor.TrayText) == "Orn Active - Disk (none) Free 10.00% High 10.00% Low 10.00%");

    d.Command(IDC_DISK, CBN_DROPDOWN);                  // other notifications do nothing
    CHECK(std::string(Monitor.pszDrive) == "Z:\\");
}

TEST_CASE("the slider, Reset and the timer tick")
{
    Started d;
    SendDlgItemMessageA(d.hDlg, IDC_SECONDS, TBM_SETPOS, TRUE, 65);
    SendMessageA(d.hDlg, WM_HSCROLL, TB_THUMBTRACK, (LPARAM)GetDlgItem(d.hDlg, IDC_SECONDS));
    CHECK(d.Text(IDC_INTERVAL) == "65");
    CHECK(Monitor.TrackPosition == 65);

    FakeDiskFree = 50 * GiB;
    d.Command(IDC_RESET);                               // clears the marks, takes no sample
    CHECK(d.Text(IDC_HIGHGB) == "0.00GB");
    CHECK(d.Text(IDC_LOWPERCENT) == "0.00%");
    CHECK(d.Text(IDC_FREE) == "25.00 GB");

    MessageBoxCatcher catcher;
    FakeDiskFree = 25 * GiB;                            // the figures the boxes showed before Reset
    Monitor.WarningLevel = 0;                           // no warnings: a tick only samples
    SendMessageA(d.hDlg, WM_TIMER, IDT_CHECK, 0);
    CHECK(d.Text(IDC_HIGHGB) == "25.00GB");
    CHECK(d.Text(IDC_LOWPERCENT) == "25.00%");
    FakeDiskFree = 5 * GiB;
    SendMessageA(d.hDlg, WM_TIMER, IDT_CHECK, 0);
    CHECK(d.Text(IDC_FREE) == "5.00 GB");
    CHECK(catcher.boxes.empty());
    Monitor.WarningLevel = 10;
    SendMessageA(d.hDlg, WM_TIMER, 12345, 0);           // any timer id
    REQUIRE(catcher.boxes.size() == 1);
    CHECK(catcher.boxes[0].caption == "WARNING!!!");
}

TEST_CASE("the unit menu checks the unit in force, and a unit choice moves the slider")
{
    Started d;
    struct Row { int timeType; const char *menu; } rows[] = {
        {0, "Seconds[*] Minutes Hours "}, {1, "Seconds[*] Minutes Hours "},
        {2, "Seconds Minutes[*] Hours "}, {3, "Seconds Minutes Hours[*] "}, {7, "Seconds Minutes Hours "},
    };
    for (const Row &row : rows) {
        Monitor.TimeType = row.timeType;
        CHECK(MenuShownBy(d.hDlg, WM_RBUTTONDOWN, 0, MAKELPARAM(10, 10), &Monitor.PopMenu2) == row.menu);
    }

    SetDlgItemTextA(d.hDlg, IDC_INTERVAL, "45");
    d.Command(IDM_HOURS);
    CHECK(Monitor.TimeType == 3);
    CHECK(d.Text(IDC_TIMETYPE) == "Hours");
    CHECK(d.SliderState() == "1 in 1..12");
    CHECK(d.Text(IDC_INTERVAL) == "1");
    d.Command(IDM_MINUTES);
    CHECK(d.SliderState() == "5 in 1..100");
    d.Command(IDM_SECONDS);
    CHECK(Monitor.TimeType == 1);
    CHECK(d.Text(IDC_TIMETYPE) == "Seconds");
    CHECK(d.SliderState() == "30 in 10..90");
    CHECK(d.Text(IDC_INTERVAL) == "30");
}

TEST_CASE("the tray: hide, menu, restore by double click or Restore, and staying hidden")
{
    Started d;
    d.Command(IDC_MINIMIZE);
    CHECK(!IsWindowVisible(d.hDlg));
    CHECK(Monitor.Minimized);
    ShowWindow(d.hDlg, SW_SHOWNORMAL);                  // as the modal loop does on its own
    CHECK(!IsWindowVisible(d.hDlg));

    CHECK(MenuShownBy(d.hDlg, WM_TRAYICON, TRAY_ICON_ID, WM_RBUTTONDOWN, &Monitor.PopMenu) ==
          "Restore Start Stop Exit ");
    SendMessageA(d.hDlg, WM_TRAYICON, TRAY_ICON_ID + 1, WM_LBUTTONDBLCLK);   // not our icon
    SendMessageA(d.hDlg, WM_TRAYICON, TRAY_ICON_ID, WM_LBUTTONDOWN);         // a single click
    CHECK(!IsWindowVisible(d.hDlg));
    SendMessageA(d.hDlg, WM_TRAYICON, TRAY_ICON_ID, WM_LBUTTONDBLCLK);
    CHECK(IsWindowVisible(d.hDlg));
    CHECK(!Monitor.Minimized);

    d.Command(IDC_MINIMIZE);
    d.Command(IDM_RESTORE);
    CHECK(IsWindowVisible(d.hDlg));
    SendMessageA(d.hDlg, Monitor.WM_TASKBARCREATED, 0, 0);    // shown: nothing to put back
    CHECK(IsWindowVisible(d.hDlg));
    CHECK_FALSE(FakeTrayIconShown);
}

TEST_CASE("messages other programs post, of any application number and any parameters, change nothing")
{
    Started d;
    MessageBoxCatcher catcher;
    const LPARAM junk[] = {0, 1, 0x7FFF0000, static_cast<LPARAM>(0xDEADBEEFDEADBEEFull), -1};
    for (UINT msg = WM_APP; msg < WM_APP + 256; msg++)
        for (LPARAM lParam : junk)
            PostMessageA(d.hDlg, msg, static_cast<WPARAM>(lParam), lParam);
    PumpFor(200);
    CHECK(IsWindow(d.hDlg));
    CHECK(IsWindowVisible(d.hDlg));
    CHECK(catcher.boxes.empty());
    CHECK(d.Text(IDC_FREE) == "25.00 GB");
}

// Run alone by test_without_dlls, in which neither DLL can be loaded.
TEST_CASE("without SHELL32 and WS2_32 the tray and the mail fail as refused, never crash" * doctest::skip())
{
    REQUIRE_FALSE(LoadLibraryA("shell32.dll"));
    REQUIRE_FALSE(LoadLibraryA("ws2_32.dll"));
    Started d;
    MessageBoxCatcher catcher;
    TrayCalls.clear();
    d.Command(IDC_MINIMIZE);
    CHECK(IsWindowVisible(d.hDlg));
    CHECK(TrayCalls.empty());

    PutTextInForce(&Monitor.EmailAddress, "ops@example.test");
    PutTextInForce(&Monitor.EmailServer, "127.0.0.1");
    Monitor.WarningLevel = 50;
    SendMessageA(d.hDlg, WM_TIMER, IDT_CHECK, 0);
    PumpFor(100);
    REQUIRE(catcher.boxes.size() == 1);
    CHECK(catcher.boxes[0].text == "Unable to start connection");

    // A server name at Start cannot be looked up.
    d.Command(IDM_RESTORE);
    SendDlgItemMessageA(d.hDlg, IDC_DISK, CB_SETCURSEL, 0, 0);
    SetDlgItemTextA(d.hDlg, IDC_WARNING, "50");
    SetDlgItemTextA(d.hDlg, IDC_INTERVAL, "30");
    SetDlgItemTextA(d.hDlg, IDC_EMAIL, "ops@example.test");
    SetDlgItemTextA(d.hDlg, IDC_SERVER, "localhost");
    d.Command(IDC_START);
    REQUIRE(catcher.boxes.size() == 2);
    CHECK(catcher.boxes[1].text == "Couldn't resolve server name. Try IP address instead.");
    KillTimer(d.hDlg, IDT_CHECK);
}

TEST_CASE("without COMCTL32 the program says so and ends, never crashes" * doctest::skip())
{
    REQUIRE_FALSE(LoadLibraryA("comctl32.dll"));
    ResetMonitor();
    MessageBoxCatcher catcher;
    CHECK(WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<char *>(""), SW_SHOWNORMAL) == 1);
    REQUIRE(catcher.boxes.size() == 1);
    CHECK(catcher.boxes[0].caption == "Error");
    CHECK(catcher.boxes[0].text.find("comctl32.dll") != std::string::npos);
}

// Whether a quit message waits in this thread's queue; takes it out.
bool QuitPosted()
{
    MSG msg;
    return PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
}

TEST_CASE("the ways out end the dialog with 0 and stop the checks at once, while Escape and a cancelled log-off do not")
{
    struct Row { UINT msg; WPARAM wParam; INT_PTR result; bool ends; } rows[] = {
        {WM_COMMAND, IDC_EXIT, TRUE, true},  {WM_COMMAND, IDM_EXIT, TRUE, true},
        {WM_CLOSE, 0, TRUE, true},           {WM_ENDSESSION, TRUE, TRUE, true},
        {WM_ENDSESSION, FALSE, FALSE, false}, {WM_COMMAND, IDCANCEL, FALSE, false},
    };
    for (const Row &row : rows) {
        CAPTURE(row.msg);
        CAPTURE(row.wParam);
        Started d;
        SetTimer(d.hDlg, IDT_CHECK, 60000, nullptr);
        CHECK(DialogProc(d.hDlg, row.msg, row.wParam, 0) == row.result);
        // EndDialog hides a dialog that runs without its modal loop.
        CHECK(IsWindowVisible(d.hDlg) == !row.ends);
        CHECK(QuitPosted() == row.ends);
        CHECK(KillTimer(d.hDlg, IDT_CHECK) == !row.ends);

        // A tick already queued, or Minimize To Tray, changes nothing any more.
        FakeDiskFree = 5 * GiB;
        Monitor.WarningLevel = 10;
        MessageBoxCatcher catcher;
        SendMessageA(d.hDlg, WM_TIMER, IDT_CHECK, 0);
        d.Command(IDC_MINIMIZE);
        CHECK(catcher.boxes.empty() == row.ends);
        CHECK(FakeTrayIconShown == !row.ends);
    }
}

TEST_CASE("a way out taken while a box is open: no further check, no start and no icon, whatever the box answers")
{
    enum Opened { Alert, Question, NoLevel };
    struct Row { const char *what; Opened opened; UINT msg; WPARAM wParam; } rows[] = {
        {"the alert box, Exit", Alert, WM_COMMAND, IDC_EXIT},
        {"the alert box, log-off", Alert, WM_ENDSESSION, TRUE},
        {"the e-mail question, tray Exit", Question, WM_COMMAND, IDM_EXIT},
        {"the no-level message, close", NoLevel, WM_CLOSE, 0},
    };
    for (const Row &row : rows) {
        CAPTURE(row.what);
        Started d([] { strcpy(Monitor.StartDisk, "C:\\"); });
        SetDlgItemTextA(d.hDlg, IDC_WARNING, row.opened == NoLevel ? "" : "50");
        SetDlgItemTextA(d.hDlg, IDC_INTERVAL, "30");
        CheckDlgButton(d.hDlg, IDC_AUTOMIN, BST_CHECKED);   // a start would hide to the tray
        TrayCalls.clear();
        // The way out goes first, then OK: the box's loop takes both.
        MessageBoxCatcher catcher;
        catcher.whileOpen = [&] { PostMessageA(d.hDlg, row.msg, row.wParam, 0); };
        if (row.opened == Alert) {
            Monitor.WarningLevel = 50;
            SendMessageA(d.hDlg, WM_TIMER, IDT_CHECK, 0);
        } else {
            d.Command(IDM_START);
        }
        CHECK(catcher.boxes.size() == 1);
        CHECK(QuitPosted());
        CHECK_FALSE(IsWindowVisible(d.hDlg));
        CHECK_FALSE(KillTimer(d.hDlg, IDT_CHECK));
        CHECK_FALSE(FakeTrayIconShown);
        for (const TrayCall &call : TrayCalls)
            CHECK(call.message != NIM_ADD);
        char title[64] = "";
        GetWindowTextA(d.hDlg, title, sizeof title);
        CHECK(std::string(title) == "Vellmark - Inactive");
    }
}

TEST_CASE("run modally, the automatic start leaves the window shown, or hidden in the tray when the shell takes the icon")
{
    const struct { bool toTray, refused, hidden; } rows[] = {{false, false, false}, {true, false, true}, {true, true, false}};
    for (const auto &row : rows) {
        CAPTURE(row.toTray);
        CAPTURE(row.refused);
        FakeTrayRefuses = row.refused;
        ResetMonitor();
        strcpy(Monitor.StartDisk, "C:\\");
        Monitor.StartWarning = 10;
        Monitor.StartSeconds = 30;
        Monitor.StartTimeType = 1;
        strcpy(Monitor.StartEmailServer, "127.0.0.1");
        strcpy(Monitor.StartEmailAddress, "ops@example.test");
        strcpy(Monitor.AutoStartValue, "1");
        strcpy(Monitor.AutoStartMini, row.toTray ? "1" : "0");
        static int visible;
        visible = -1;
        // Looked at once the modal loop has run a while, then the dialog is ended.
        UINT_PTR timer = SetTimer(nullptr, 0, 700, [](HWND, UINT, UINT_PTR, DWORD) {
            if (visible != -1)
                return;
            visible = IsWindowVisible(Monitor.hwndDlgSave) ? 1 : 0;
            EndDialog(Monitor.hwndDlgSave, 7);
        });
        InitCommonControls();
        INT_PTR result = DialogBoxParamA(Monitor.hInst, MAKEINTRESOURCEA(IDD_MAIN), nullptr, DialogProc, 0);
        KillTimer(nullptr, timer);
        NotifyTray(NIM_DELETE);
        FakeTrayRefuses = false;
        CHECK(result == 7);
        CHECK(visible == (row.hidden ? 0 : 1));
        CHECK(std::string(Monitor.IconData.szTip).rfind("Orn Active - Disk C:\\", 0) == 0);
    }
}
