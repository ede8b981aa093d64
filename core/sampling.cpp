// One sample of the watched drive: the byte counts, the free percentage, the four high
// and low marks, the seven boxes that show them and the tray tooltip.
#include "core/sampling.h"

#include "core/boxes.h"
#include "core/state.h"
#include "core/trayicon.h"

#include <cmath>
#include <cstdio>

float BytesToGB(ULONGLONG bytes)
{
    return static_cast<float>(bytes) / 1073741824.0f;
}

double PercentFree(ULONGLONG freeBytes, ULONGLONG totalBytes)
{
    return static_cast<double>(freeBytes) / static_cast<double>(totalBytes) * 100.0;
}

void FormatGB(char *out, size_t size, float gb, bool blank)
{
    snprintf(out, size, blank ? "%.2f GB" : "%.2fGB", gb);
}

void FormatPercent(char *out, size_t size, double percent)
{
    if (std::isnan(percent))
        snprintf(out, size, "n/a");
    else
        snprintf(out, size, "%.2f%%", percent);
}

const char *TextOrNone(const char *text)
{
    return text ? text : "(none)";
}

void UpdateMarks(float freeGB, double percent)
{
    if (Monitor.lowgb > freeGB || Monitor.lowgb == 0)
        Monitor.lowgb = freeGB;
    if (freeGB > Monitor.highgb)
        Monitor.highgb = freeGB;
    // A mark that took an undefined percentage (a drive that reports no size) counts as unset,
    // or it would never move again.
    if (Monitor.lowpercent > percent || Monitor.lowpercent == 0 || std::isnan(Monitor.lowpercent))
        Monitor.lowpercent = static_cast<float>(percent);
    if (percent > Monitor.highpercent || std::isnan(Monitor.highpercent))
        Monitor.highpercent = static_cast<float>(percent);
}

void UpdateTrayTip()
{
    if (Monitor.DiskError) {
        snprintf(Monitor.TrayText, sizeof Monitor.TrayText, "Orn Active - Disk %s cannot be read",
                 TextOrNone(Monitor.pszDrive));
    } else {
        char freeText[64], highText[64], lowText[64];
        FormatPercent(freeText, sizeof freeText, PercentFree(Monitor.DiskFree, Monitor.DiskSize));
        FormatPercent(highText, sizeof highText, Monitor.highpercent);
        FormatPercent(lowText, sizeof lowText, Monitor.lowpercent);
        snprintf(Monitor.TrayText, sizeof Monitor.TrayText, "Orn Active - Disk %s Free %s High %s Low %s",
                 TextOrNone(Monitor.DiskToMonitor), freeText, highText, lowText);
    }
    SetTrayTip(Monitor.TrayText);
    NotifyTray(NIM_MODIFY);
}

void DisplayHighLow()
{
    char text[64];
    FormatGB(text, sizeof text, Monitor.highgb, false);
    ReplaceBoxText(Monitor.hHighGB, text);
    FormatGB(text, sizeof text, Monitor.lowgb, false);
    ReplaceBoxText(Monitor.hLowGB, text);
    FormatPercent(text, sizeof text, Monitor.highpercent);
    ReplaceBoxText(Monitor.hHighPercent, text);
    FormatPercent(text, sizeof text, Monitor.lowpercent);
    ReplaceBoxText(Monitor.hLowPercent, text);
}

void ResetMarks()
{
    Monitor.highgb = Monitor.lowgb = Monitor.highpercent = Monitor.lowpercent = 0;
    DisplayHighLow();
}

// A current figure's box: "n/a" while the drive cannot be read.
static void ShowCurrentGB(HWND box, ULONGLONG bytes)
{
    char text[64];
    FormatGB(text, sizeof text, BytesToGB(bytes), true);
    ReplaceBoxText(box, Monitor.DiskError ? "n/a" : text);
}

void GetCurrentDiskUsage()
{
    bool read = QueryDiskSpace();
    // Windows names a reason whenever the query fails; "not ready" stands in should it not.
    DWORD error = GetLastError();
    Monitor.DiskError = read ? 0 : error ? error : ERROR_NOT_READY;
    // A drive that cannot be read may be gone: its last figures are not shown as if it
    // were there, and no alert is raised on them (the percentage is not a number).
    if (Monitor.DiskError)
        Monitor.DiskSize = Monitor.DiskFree = Monitor.i64FreeBytesToCaller = 0;

    Monitor.FreePercent = PercentFree(Monitor.DiskFree, Monitor.DiskSize);
    if (!Monitor.DiskError)
        UpdateMarks(BytesToGB(Monitor.DiskFree), Monitor.FreePercent);
    char text[64];
    DisplayHighLow();
    ShowCurrentGB(Monitor.hWndSize, Monitor.DiskSize);
    ShowCurrentGB(Monitor.hWndFree, Monitor.DiskFree);
    FormatPercent(text, sizeof text, Monitor.FreePercent);
    ReplaceBoxText(Monitor.hWndFreePercent, text);
    UpdateTrayTip();
}
