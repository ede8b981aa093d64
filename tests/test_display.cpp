// What the user sees stays current: a box shows the latest text whatever it showed
// before, the tray tooltip follows every change while the icon is shown, sending nothing
// that would change nothing, and window and icon end as last asked, hide or restore.
#include "core/boxes.h"
#include "core/monitoring.h"
#include "core/sampling.h"
#include "core/state.h"
#include "resources/resource.h"
#include "tests/support/fakedisk.h"
#include "tests/support/faketray.h"
#include "tests/support/testing.h"
#include "ui/tray.h"

#include <doctest.h>

#include <cstdio>

namespace {

struct TrayDialog : MainDialog {
    TrayDialog()
        : MainDialog([] {
              FakeDiskFails = false;
              FakeDiskSize = 100 * GiB;
              FakeDiskFree = 25 * GiB;
              FakeTrayRefuses = false;
              FakeTrayIconShown = false;
              FakeTrayAddFailsButShows = false;
              FakeTrayMeanwhile = nullptr;
          })
    {
        PutTextInForce(&Monitor.DiskToMonitor, "C:\\");
        TrayCalls.clear();
    }
    ~TrayDialog()
    {
        FakeTrayMeanwhile = nullptr;
        FakeTrayRefuses = false;
    }
    static void Sample(ULONGLONG freeGiB)
    {
        FakeDiskFree = freeGiB * GiB;
        GetCurrentDiskUsage();
    }
    // The calls the shell received since the last look, one line each.
    static std::string Calls()
    {
        std::string lines;
        for (const TrayCall &call : TrayCalls) {
            lines += call.message == NIM_ADD ? "add " : call.message == NIM_MODIFY ? "modify " : "delete ";
            lines += call.tip + "\n";
        }
        TrayCalls.clear();
        return lines;
    }
};

std::string Tip(int freePercent, int high, int low)
{
    char tip[64];
    snprintf(tip, sizeof tip, "Orn Active - Disk C:\\ Free %d.00%% High %d.00%% Low %d.00%%\n", freePercent, high,
             low);
    return tip;
}

}  // namespace

TEST_CASE("a box ends up showing the latest text, whatever it showed before")
{
    MainDialog d;
    HWND box = GetDlgItem(d.hDlg, IDC_FREE);
    const std::string a255(255, 'a'), a300(300, 'a');
    const struct {
        std::string before, after;
    } steps[] = {
        {"25.00 GB", "25.00 GB"},
        {"25.00 GB", "25.00 G"},
        {"25.0", "25.00 GB"},
        {"25.00 GB", "26.00 GB"},
        {"25.00 GB", ""},
        {"", "n/a"},
        {a255, a255},
        {a300, a255},                           // the box's first 255 characters are the text
        {a300, a300},
        {a300, std::string(299, 'a') + "b"},
    };
    for (const auto &step : steps) {
        SetWindowTextA(box, step.before.c_str());
        ReplaceBoxText(box, step.after.c_str());
        CHECK(d.Text(IDC_FREE) == step.after);
    }
}

TEST_CASE("the tooltip follows each change while the icon is shown, and the icon comes back current")
{
    TrayDialog d;
    d.Sample(20);                               // the window is shown: there is no icon
    CHECK(d.Calls() == "");
    MiniMizeToTray();
    CHECK(d.Calls() == "add " + Tip(20, 25, 20));
    d.Sample(20);                               // the same figures change nothing
    CHECK(d.Calls() == "");
    d.Sample(15);
    CHECK(d.Calls() == "modify " + Tip(15, 25, 15));
    StopMonitoring();
    CHECK(d.Calls() == "modify Vellmark - Inactive\n");
    RestoreFromTray();
    CHECK(d.Calls() == "delete Vellmark - Inactive\n");
    d.Sample(10);
    CHECK(d.Calls() == "");
    MiniMizeToTray();
    CHECK(d.Calls() == "add " + Tip(10, 25, 10));
}

TEST_CASE("a refused icon or a refused change is sent again once the shell takes it, the window shown till then")
{
    TrayDialog d;
    FakeTrayRefuses = true;                     // no shell yet, as at an early sign-in
    MiniMizeToTray();
    // Start-up's tip, as nothing was sampled since; a refused add is asked about once more.
    CHECK(d.Calls() == "add Vellmark - Inactive\nmodify Vellmark - Inactive\n");
    CHECK(IsWindowVisible(d.hDlg));             // no icon, so no way back from hidden
    d.Sample(20);
    CHECK(d.Calls() == "");
    FakeTrayRefuses = false;
    SendMessageA(d.hDlg, Monitor.WM_TASKBARCREATED, 0, 0);   // the shell is up: the icon, with the latest tip
    CHECK(d.Calls() == "add " + Tip(20, 25, 20));
    CHECK_FALSE(IsWindowVisible(d.hDlg));

    FakeTrayRefuses = true;
    d.Sample(15);
    CHECK(d.Calls() == "modify " + Tip(15, 25, 15));
    FakeTrayRefuses = false;
    d.Sample(15);                               // the shell never took this tip
    CHECK(d.Calls() == "modify " + Tip(15, 25, 15));
    d.Sample(15);
    CHECK(d.Calls() == "");
}

TEST_CASE("an add the busy shell reports failed while it shows the icon: the tooltip still follows")
{
    TrayDialog d;
    FakeTrayAddFailsButShows = true;
    MiniMizeToTray();
    CHECK(d.Calls() == "add Vellmark - Inactive\nmodify Vellmark - Inactive\n");
    d.Sample(15);
    CHECK(d.Calls() == "modify " + Tip(15, 25, 15));
    StopMonitoring();
    CHECK(d.Calls() == "modify Vellmark - Inactive\n");
}

TEST_CASE("a new taskbar gets the icon back when the program is in the tray, not when its window is merely hidden")
{
    TrayDialog d;
    SendMessageA(d.hDlg, Monitor.WM_TASKBARCREATED, 0, 0);     // shown
    ShowWindow(d.hDlg, SW_HIDE);                                // as before the first showing
    SendMessageA(d.hDlg, Monitor.WM_TASKBARCREATED, 0, 0);
    CHECK(d.Calls() == "");
    MiniMizeToTray();
    FakeTrayIconShown = false;                                  // the shell restarted
    d.Calls();
    SendMessageA(d.hDlg, Monitor.WM_TASKBARCREATED, 0, 0);
    CHECK(d.Calls() == "add Vellmark - Inactive\n");
    CHECK(FakeTrayIconShown);
}

namespace {

// Window and icon as the user finds them, and whether a double click then restores.
std::string Found(HWND hDlg)
{
    std::string found = std::string(IsWindowVisible(hDlg) ? "shown" : "hidden") +
                        (FakeTrayIconShown ? " with icon" : " without icon");
    if (!IsWindowVisible(hDlg)) {
        FakeTrayMeanwhile = nullptr;
        SendMessageA(hDlg, WM_TRAYICON, TRAY_ICON_ID, WM_LBUTTONDBLCLK);
        found += IsWindowVisible(hDlg) && !FakeTrayIconShown ? ", restored" : ", stuck";
    }
    return found;
}

HWND ShowHooked;
LRESULT CALLBACK RestoreWhileHiding(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT *sent = reinterpret_cast<const CWPSTRUCT *>(lParam);
    if (code == HC_ACTION && sent->hwnd == ShowHooked && sent->message == WM_SHOWWINDOW && !sent->wParam) {
        ShowHooked = nullptr;
        SendMessageA(sent->hwnd, WM_TRAYICON, TRAY_ICON_ID, WM_LBUTTONDBLCLK);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

TEST_CASE("hide and restore in any order and at any speed end as last asked, never stuck hidden")
{
    {
        INFO("a double click that arrives while the shell adds the icon");
        TrayDialog d;
        FakeTrayMeanwhile = [&](DWORD message) {
            if (message == NIM_ADD)
                SendMessageA(d.hDlg, WM_TRAYICON, TRAY_ICON_ID, WM_LBUTTONDBLCLK);
        };
        d.Command(IDC_MINIMIZE);
        CHECK(Found(d.hDlg) == "shown without icon");
    }
    {
        INFO("a double click that arrives while the window hides");
        TrayDialog d;
        ShowHooked = d.hDlg;
        HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, RestoreWhileHiding, nullptr, GetCurrentThreadId());
        d.Command(IDC_MINIMIZE);
        UnhookWindowsHookEx(hook);
        CHECK(ShowHooked == nullptr);
        CHECK(Found(d.hDlg) == "shown without icon");
    }
    {
        INFO("a hide that arrives while the shell removes the icon");
        TrayDialog d;
        d.Command(IDC_MINIMIZE);
        FakeTrayMeanwhile = [&](DWORD message) {
            if (message == NIM_DELETE) {
                FakeTrayMeanwhile = nullptr;
                d.Command(IDC_MINIMIZE);
            }
        };
        d.Command(IDM_RESTORE);
        CHECK(Found(d.hDlg) == "hidden with icon, restored");
    }
    const struct { UINT first, second; const char *found; } orders[] = {
        {IDC_MINIMIZE, IDM_RESTORE, "shown without icon"},
        {IDM_RESTORE, IDC_MINIMIZE, "hidden with icon, restored"},
    };
    for (const auto &order : orders) {
        INFO("posted at once: ", order.first, " then ", order.second);
        TrayDialog d;
        PostMessageA(d.hDlg, WM_COMMAND, MAKEWPARAM(order.first, BN_CLICKED), 0);
        PostMessageA(d.hDlg, WM_COMMAND, MAKEWPARAM(order.second, BN_CLICKED), 0);
        PumpFor(100);
        CHECK(Found(d.hDlg) == order.found);
    }
}
