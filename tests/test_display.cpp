// What the user sees stays current: a box shows the latest text whatever it showed
// before, and the tray tooltip follows every change while the icon is shown, sending
// nothing that would change nothing.
#include "core/monitoring.h"
#include "core/sampling.h"
#include "core/state.h"
#include "resources/resource.h"
#include "tests/support/fakedisk.h"
#include "tests/support/faketray.h"
#include "tests/support/testing.h"
#include "core/boxes.h"
#include "ui/tray.h"

#include <doctest.h>

#include <cstdio>

namespace {

struct TrayDialog {
    HWND hDlg;
    TrayDialog()
    {
        ResetMonitor();
        FakeDiskFails = false;
        FakeDiskSize = 100 * GiB;
        FakeDiskFree = 25 * GiB;
        FakeTrayRefuses = false;
        FakeTrayIconShown = false;
        hDlg = OpenMainDialog();
        REQUIRE(hDlg != nullptr);
        PutTextInForce(&Monitor.DiskToMonitor, "C:\\");
        TrayCalls.clear();
    }
    ~TrayDialog()
    {
        FakeTrayRefuses = false;
        NotifyTray(NIM_DELETE);
        DestroyWindow(hDlg);
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
    ResetMonitor();
    HWND hDlg = OpenMainDialog();
    REQUIRE(hDlg != nullptr);
    HWND box = GetDlgItem(hDlg, IDC_FREE);
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
        CHECK(ControlText(hDlg, IDC_FREE) == step.after);
    }
    DestroyWindow(hDlg);
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

TEST_CASE("a refused icon or a refused change is sent again once the shell takes it")
{
    TrayDialog d;
    FakeTrayRefuses = true;                     // no shell yet, as at an early sign-in
    MiniMizeToTray();
    CHECK(d.Calls() == "add Vellmark - Inactive\n");     // start-up's tip, as nothing was sampled since
    d.Sample(20);
    CHECK(d.Calls() == "");
    FakeTrayRefuses = false;
    OnTaskbarCreated();                         // the shell is up: the icon, with the latest tip
    CHECK(d.Calls() == "add " + Tip(20, 25, 20));

    FakeTrayRefuses = true;
    d.Sample(15);
    CHECK(d.Calls() == "modify " + Tip(15, 25, 15));
    FakeTrayRefuses = false;
    d.Sample(15);                               // the shell never took this tip
    CHECK(d.Calls() == "modify " + Tip(15, 25, 15));
    d.Sample(15);
    CHECK(d.Calls() == "");
}
