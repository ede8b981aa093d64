// Sharp at any display scale: the DPI awareness declared at start-up, and the window's
// icons loaded at the sizes of the display it is on.
#include "ui/dpi.h"

#include "core/state.h"
#include "resources/resource.h"

// A user32 call that older Windows lacks, looked up by name; nullptr there.
static void *User32Call(const char *name)
{
    return reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("user32.dll"), name));
}

void DeclareDpiAwareness()
{
    // Undeclared, a program is laid out at 96 dpi and Windows stretches its bitmap to the
    // display's scale: fuzzy text and icon. Per-monitor v2 (Windows 10 1703 on) lays the
    // window out anew on each display; before it, system awareness lays it out at the
    // scale of the sign-in. Wine 8 has the call but refuses v2, and gets the latter too.
    typedef BOOL(WINAPI * SetContext)(DPI_AWARENESS_CONTEXT);
    auto setContext = reinterpret_cast<SetContext>(User32Call("SetProcessDpiAwarenessContext"));
    if (!setContext || !setContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2))
        SetProcessDPIAware();
}

// The side of the icon that Windows draws for metric (SM_CXSMICON, SM_CXICON) on the
// window's display.
static int IconSide(HWND hWnd, int metric)
{
    // Both calls came with Windows 10 1607. Before it the process is system aware at
    // most, and the plain metric is the one at the system's scale.
    typedef UINT(WINAPI * DpiForWindow)(HWND);
    typedef int(WINAPI * MetricForDpi)(int, UINT);
    auto dpiForWindow = reinterpret_cast<DpiForWindow>(User32Call("GetDpiForWindow"));
    auto metricForDpi = reinterpret_cast<MetricForDpi>(User32Call("GetSystemMetricsForDpi"));
    if (dpiForWindow && metricForDpi)
        return metricForDpi(metric, dpiForWindow(hWnd));
    return GetSystemMetrics(metric);
}

void SetWindowIcons(HWND hDlg)
{
    // The caption shows the small icon, Alt+Tab the big one. Each is drawn from the
    // resource at its own size: a shared icon (LoadIcon) keeps the size it was first
    // loaded at, and Windows would stretch it.
    static const int icons[][2] = {{ICON_SMALL, SM_CXSMICON}, {ICON_BIG, SM_CXICON}};
    for (const auto &icon : icons) {
        int side = IconSide(hDlg, icon[1]);
        HICON loaded = static_cast<HICON>(
            LoadImageA(Monitor.hInst, MAKEINTRESOURCEA(IDI_VELLMARK), IMAGE_ICON, side, side, 0));
        // A failed load leaves the icon shown as it is.
        if (!loaded)
            continue;
        HICON replaced = reinterpret_cast<HICON>(SendMessageA(hDlg, WM_SETICON, icon[0], (LPARAM)loaded));
        if (replaced)
            DestroyIcon(replaced);
    }
}
