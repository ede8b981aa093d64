// Sharp at any display scale: the DPI awareness declared at start-up.
#include "ui/dpi.h"

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

