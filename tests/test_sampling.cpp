// One sample: byte counts to texts, the four marks, the boxes and the tray tooltip.
#include "core/sampling.h"
#include "core/state.h"
#include "resources/resource.h"
#include "tests/support/fakedisk.h"
#include "tests/support/testing.h"

#include <doctest.h>

#include <cmath>
#include <cstring>

namespace {

struct SampledDialog : MainDialog {
    SampledDialog(ULONGLONG size, ULONGLONG free)
        : MainDialog([&] {
              FakeDiskFails = false;
              FakeDiskSize = size;
              FakeDiskFree = free;
          })
    {
    }
    void Reset() const { Command(IDC_RESET); }
    void Sample(ULONGLONG free)
    {
        FakeDiskFree = free;
        GetCurrentDiskUsage();
    }
};

}  // namespace

TEST_CASE("a 100 GB drive with 25 GB free shows its figures, marks and tooltip after Reset")
{
    SampledDialog d(100 * GiB, 25 * GiB);
    d.Reset();
    PutTextInForce(&Monitor.DiskToMonitor, "C:\\");
    GetCurrentDiskUsage();

    CHECK(d.Text(IDC_DISKSIZE) == "100.00 GB");
    CHECK(d.Text(IDC_FREE) == "25.00 GB");
    CHECK(d.Text(IDC_FREEPERCENT) == "25.00%");
    CHECK(d.Text(IDC_HIGHGB) == "25.00GB");
    CHECK(d.Text(IDC_LOWGB) == "25.00GB");
    CHECK(d.Text(IDC_HIGHPERCENT) == "25.00%");
    CHECK(d.Text(IDC_LOWPERCENT) == "25.00%");
    CHECK(std::string(Monitor.TrayText) == "Orn Active - Disk C:\\ Free 25.00% High 25.00% Low 25.00%");
    CHECK(std::string(Monitor.IconData.szTip) == Monitor.TrayText);
    CHECK(Monitor.FreePercent == 25.0);
}

TEST_CASE("marks move only on strict changes, and the first sample sets the low marks")
{
    SampledDialog d(100 * GiB, 40 * GiB);       // opening the dialog takes the first sample
    CHECK(d.Text(IDC_LOWGB) == "40.00GB");
    CHECK(d.Text(IDC_HIGHGB) == "40.00GB");
    CHECK(d.Text(IDC_LOWPERCENT) == "40.00%");

    d.Sample(50 * GiB);                         // more free: only the high marks rise
    CHECK(d.Text(IDC_HIGHGB) == "50.00GB");
    CHECK(d.Text(IDC_HIGHPERCENT) == "50.00%");
    CHECK(d.Text(IDC_LOWGB) == "40.00GB");
    CHECK(d.Text(IDC_LOWPERCENT) == "40.00%");

    d.Sample(30 * GiB);                         // less free: only the low marks fall
    CHECK(d.Text(IDC_HIGHGB) == "50.00GB");
    CHECK(d.Text(IDC_LOWGB) == "30.00GB");
    CHECK(d.Text(IDC_LOWPERCENT) == "30.00%");
    CHECK(d.Text(IDC_FREEPERCENT) == "30.00%");

    d.Sample(30 * GiB);                         // equal: nothing moves
    CHECK(Monitor.lowgb == doctest::Approx(30.0f));
    CHECK(Monitor.highgb == doctest::Approx(50.0f));

    // After Reset the marks are unset, so the next sample sets the low marks even higher
    // than they were.
    d.Reset();
    d.Sample(45 * GiB);
    CHECK(d.Text(IDC_LOWGB) == "45.00GB");
    CHECK(d.Text(IDC_HIGHGB) == "45.00GB");
}

TEST_CASE("large drives are shown whole and the tooltip never overruns the tray tip")
{
    SampledDialog d(2048 * GiB, 1500 * GiB);
    CHECK(d.Text(IDC_DISKSIZE) == "2048.00 GB");
    CHECK(d.Text(IDC_FREE) == "1500.00 GB");
    CHECK(d.Text(IDC_HIGHGB) == "1500.00GB");

    // The longest tooltip of a three-character drive fits whole: 59 characters.
    FakeDiskSize = FakeDiskFree = 100 * GiB;
    d.Reset();
    PutTextInForce(&Monitor.DiskToMonitor, "D:\\");
    GetCurrentDiskUsage();
    CHECK(std::string(Monitor.IconData.szTip) == "Orn Active - Disk D:\\ Free 100.00% High 100.00% Low 100.00%");
    CHECK(strlen(Monitor.IconData.szTip) == 59);

    // A longer drive text is cut to the tip's 63 characters.
    PutTextInForce(&Monitor.DiskToMonitor, "\\\\server\\share\\with\\a\\long\\path\\");
    GetCurrentDiskUsage();
    CHECK(strlen(Monitor.TrayText) > 63);
    CHECK(strlen(Monitor.IconData.szTip) == 63);
    CHECK(std::string(Monitor.TrayText).compare(0, 63, Monitor.IconData.szTip) == 0);
}

TEST_CASE("a drive that cannot be read shows no figures, its marks take none, and before a Start nothing is told")
{
    MessageBoxCatcher catcher;
    MainDialog d([] { FakeDiskFails = true; });
    CHECK(d.Text(IDC_DISKSIZE) == "n/a");
    CHECK(d.Text(IDC_FREE) == "n/a");
    CHECK(d.Text(IDC_FREEPERCENT) == "n/a");
    CHECK(d.Text(IDC_LOWPERCENT) == "0.00%");
    CHECK(std::string(Monitor.TrayText) == "Orn Active - Disk C:\\ cannot be read");

    FakeDiskFails = false;
    FakeDiskSize = 100 * GiB;
    FakeDiskFree = 10 * GiB;
    GetCurrentDiskUsage();
    CHECK(d.Text(IDC_LOWPERCENT) == "10.00%");
    CHECK(d.Text(IDC_HIGHPERCENT) == "10.00%");
    FakeDiskFails = true;
    GetCurrentDiskUsage();
    CHECK(d.Text(IDC_FREE) == "n/a");
    CHECK(d.Text(IDC_LOWGB) == "10.00GB");
    CHECK(catcher.boxes.empty());
}

TEST_CASE("figures are rounded as the platform's C runtime rounds them: an exact tie goes up")
{
    // 5.125 GB and 0.625 % lie exactly halfway; MinGW's own printf would show 5.12 and 0.62.
    SampledDialog d(8 * GiB, 5 * GiB + GiB / 8);
    CHECK(d.Text(IDC_FREE) == "5.13 GB");
    CHECK(d.Text(IDC_LOWGB) == "5.13GB");
    char text[64];
    FormatPercent(text, sizeof text, 0.625);
    CHECK(std::string(text) == "0.63%");
}
