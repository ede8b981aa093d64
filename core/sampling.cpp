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
    // A mark that took an undefined percentage (no successful query yet) counts as unset,
    // or it would never move again.
    if (Monitor.lowpercent > percent || Monitor.lowpercent == 0 || std::isnan(Monitor.lowpercent))
        Monitor.lowpercent = static_cast<float>(percent);
    if (percent > Monitor.highpercent || std::isnan(Monitor.highpercent))
        Monitor.highpercent = static_cast<float>(percent);
}

void UpdateTrayTip()
{
    char freeText[64], highText[64], lowText[64];
    FormatPercent(freeText, sizeof freeText, PercentFree(Monitor.DiskFree, Monitor.DiskSize));
    FormatPercent(highText, sizeof highText, Monitor.highpercent);
    FormatPercent(lowText, sizeof lowText, Monitor.lowpercent);
    snprintf(Monitor.TrayText, sizeof Monitor.TrayText, "Orn Active - Disk %s Free %s High %s Low %s",
             TextOrNone(Monitor.DiskToMonitor), freeText, highText, lowText);
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

void GetCurrentDiskUsage()
{
    // A failed query leaves the counts as they were; the sample goes on with them.
    QueryDiskSpace();

    Monitor.FreePercent = PercentFree(Monitor.DiskFree, Monitor.DiskSize);
    UpdateMarks(BytesToGB(Monitor.DiskFree), Monitor.FreePercent);
    char text[64];
    DisplayHighLow();
    FormatGB(text, sizeof text, BytesToGB(Monitor.DiskSize), true);
    ReplaceBoxText(Monitor.hWndSize, text);
    FormatGB(text, sizeof text, BytesToGB(Monitor.DiskFree), true);
    ReplaceBoxText(Monitor.hWndFree, text);
    FormatPercent(text, sizeof text, Monitor.FreePercent);
    ReplaceBoxText(Monitor.hWndFreePercent, text);
    UpdateTrayTip();
}
