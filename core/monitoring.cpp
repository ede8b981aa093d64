// Monitoring start and stop: the entries taken into the settings in force, the check
// timer and its period, the window title, the tooltip and the locked entry controls; and
// the interval units the slider offers.
#include "core/monitoring.h"

#include "core/boxes.h"
#include "core/drives.h"
#include "core/sampling.h"
#include "core/state.h"
#include "core/trayicon.h"
#include "core/validation.h"
#include "core/warning.h"
#include "mail/smtp.h"
#include "resources/resource.h"

#include <commctrl.h>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

const IntervalUnit IntervalUnits[3] = {
    {1, "Seconds", 10, 90, 30, 5, 5, 5, 1000},
    {2, "Minutes", 1, 100, 5, 5, 5, 5, 60000},
    {3, "Hours", 1, 12, 1, 1, 5, 5, 3600000},
};

// Locked while monitoring runs, in this order; Stop always takes the opposite state.
static const int EntryControls[] = {IDC_DISK,    IDC_WARNING, IDC_SECONDS, IDC_EMAIL,     IDC_FROM,
                                    IDC_SERVER,  IDC_COMMAND, IDC_START,   IDC_AUTOSTART, IDC_AUTOMIN};

const IntervalUnit &UnitForCode(int code)
{
    if (code == 2 || code == 3)
        return IntervalUnits[code - 1];
    return IntervalUnits[0];
}

int PeriodForInterval(UINT count, int code)
{
    // A count of 0 (no level, no interval) would arm a timer that runs as fast as the
    // platform can, a share of a core spent on nothing.
    unsigned long long ms = static_cast<unsigned long long>(count) * UnitForCode(code).msPerUnit;
    return ms < 1000 ? 1000 : ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

int StoredUnitCode()
{
    return Monitor.StartTimeType == 0 ? 0 : UnitForCode(static_cast<int>(Monitor.StartTimeType)).code;
}

void SetUpUnit(int code, UINT position, bool showInBoxes)
{
    const IntervalUnit &unit = UnitForCode(code);
    // Clamped here rather than by the slider, which takes a signed position: a stored
    // count beyond 2^31 would otherwise land on the minimum.
    int clamped = position < static_cast<UINT>(unit.rangeMin)   ? unit.rangeMin
                  : position > static_cast<UINT>(unit.rangeMax) ? unit.rangeMax
                                                                : static_cast<int>(position);
    SendMessageA(Monitor.hWndSeconds, TBM_SETRANGE, TRUE, MAKELPARAM(unit.rangeMin, unit.rangeMax));
    SendMessageA(Monitor.hWndSeconds, TBM_SETPOS, TRUE, clamped);
    SendMessageA(Monitor.hWndSeconds, TBM_SETTICFREQ, unit.tickFrequency, 0);
    SendMessageA(Monitor.hWndSeconds, TBM_SETPAGESIZE, 0, unit.pageSize);
    SendMessageA(Monitor.hWndSeconds, TBM_SETLINESIZE, 0, unit.lineSize);
    Monitor.TrackPosition = static_cast<int>(SendMessageA(Monitor.hWndSeconds, TBM_GETPOS, 0, 0));
    if (showInBoxes) {
        SetWindowTextA(Monitor.hTimeType, unit.label);
        SetDlgItemInt(Monitor.hwndDlgSave, IDC_INTERVAL, Monitor.TrackPosition, TRUE);
    }
}

static const char *SkipDigits(const char *p)
{
    while (isdigit(static_cast<unsigned char>(*p)))
        p++;
    return p;
}

// The length of text's leading decimal number as the C runtime reads one: blanks, a sign,
// digits with at most one point among them, and an exponent when digits follow its 'e';
// 0 when text starts with none. MinGW's strtof also takes "inf", "nan" and "0x14".
static size_t LeadingDecimalLength(const char *text)
{
    const char *p = text;
    while (isspace(static_cast<unsigned char>(*p)))
        p++;
    if (*p == '+' || *p == '-')
        p++;
    const char *whole = p;
    p = SkipDigits(p);
    bool digits = p != whole;
    if (*p == '.') {
        const char *fraction = ++p;
        p = SkipDigits(p);
        digits = digits || p != fraction;
    }
    if (!digits)
        return 0;
    if (*p == 'e' || *p == 'E') {
        const char *exponent = p + 1;
        if (*exponent == '+' || *exponent == '-')
            exponent++;
        if (isdigit(static_cast<unsigned char>(*exponent)))
            p = SkipDigits(exponent);
    }
    return static_cast<size_t>(p - text);
}

// The level is the box's leading decimal number; an empty box, one that starts with
// anything else, or a number too large for a float gives 0, no warnings.
static void ReadWarningLevel()
{
    char *text = nullptr;
    ReadBoxText(IDC_WARNING, &text);
    float level = 0;
    if (text) {
        text[LeadingDecimalLength(text)] = 0;
        // The platform's reader (msvcrt's atof) does the rest, rather than MinGW's strtof,
        // which would link a conversion of its own into the program.
        level = static_cast<float>(atof(text));
    }
    Monitor.WarningLevel = std::isfinite(level) ? level : 0;
    free(text);
}

static void ReadInterval()
{
    Monitor.Seconds = GetDlgItemInt(Monitor.hwndDlgSave, IDC_INTERVAL, nullptr, FALSE);
}

void ReadEntries(unsigned entries)
{
    PutTextInForce(&Monitor.DiskToMonitor, ReadSelectedDrive() ? Monitor.buffer : nullptr);
    ReadBoxText(IDC_EMAIL, &Monitor.EmailAddress);
    ReadBoxText(IDC_FROM, &Monitor.FromAddress);
    ReadBoxText(IDC_SERVER, &Monitor.EmailServer);
    // The address a look-up showed in the box stands for the name typed there.
    if (Monitor.EmailServer && strcmp(Monitor.EmailServer, Monitor.ServerAddress) == 0)
        PutTextInForce(&Monitor.EmailServer, Monitor.ServerName);
    if (entries & WithCommand)
        ReadBoxText(IDC_COMMAND, &Monitor.Command);
    if (entries & WithLevel)
        ReadWarningLevel();
    ReadInterval();
}

// Points the sampler at the drive in force, shown selected. The drive list stays usable
// while validation's boxes are open, and a drive chosen there is sampled at once; going
// active on it would watch one drive under the other's name. The marks of the other
// drive go with it.
static void WatchDriveInForce()
{
    if (Monitor.pszDrive && lstrcmpiA(Monitor.pszDrive, Monitor.DiskToMonitor) == 0)
        return;
    lstrcpynA(Monitor.buffer, Monitor.DiskToMonitor, sizeof Monitor.buffer);
    Monitor.pszDrive = Monitor.buffer;
    SendMessageA(Monitor.hWndDisk, CB_SELECTSTRING, (WPARAM)-1, (LPARAM)Monitor.buffer);
    ResetMarks();
}

// Set while validation's boxes are open. They pump messages with the dialog still
// usable, so a second Start pressed meanwhile would open boxes inside boxes without end.
static bool Validating;

// Runs one part of validation under the guard. A way out taken while its boxes were open
// counts as a refusal, whatever the boxes answered.
static bool Validate(bool (*check)())
{
    Validating = true;
    bool accepted = check() && !Monitor.Ending;
    Validating = false;
    return accepted;
}

static void LockEntries(bool locked)
{
    for (int id : EntryControls)
        EnableWindow(GetDlgItem(Monitor.hwndDlgSave, id), !locked);
    EnableWindow(GetDlgItem(Monitor.hwndDlgSave, IDC_STOP), locked);
}

// Samples the drive in force, arms the check timer with WarningTime and shows the active
// state everywhere. An alert still in flight was raised with the settings before: it
// ends, so that the next check's alert goes out with these. Failures told before are
// told anew, a drive that cannot be read at once.
static void GoActive()
{
    CancelMail();
    ForgetFailuresTold();
    WatchDriveInForce();
    GetCurrentDiskUsage();
    // A timer that cannot be armed is not reported; the window shows active all the same.
    SetTimer(Monitor.hwndDlgSave, IDT_CHECK, static_cast<UINT>(Monitor.WarningTime), nullptr);
    SetWindowTextA(Monitor.hwndDlgSave, "Vellmark - Active");
    UpdateTrayTip();
    LockEntries(true);
    if (Monitor.AutoStartMini[0] == '1')
        MiniMizeToTray();
    CheckDrive();
}

// The tail every interactive Start shares once its entries are read. The interval is read
// again: the unit menu may have changed it while validation's boxes were open.
static void ValidateAndGoActive()
{
    if (!Validate(CheckEntries))
        return;
    ReadInterval();
    Monitor.WarningTime = PeriodForInterval(Monitor.Seconds, Monitor.TimeType);
    GoActive();
}

void StartMonitoring()
{
    if (Validating)
        return;
    ReadEntries(WithCommand | WithLevel);
    ValidateAndGoActive();
}

void StartMonitoringFromTray()
{
    if (Validating)
        return;
    ReadEntries(WithLevel);
    ValidateAndGoActive();
}

void StartAndMinimize()
{
    if (Validating)
        return;
    PutTextInForce(&Monitor.DiskToMonitor, Monitor.StartDisk);
    PutTextInForce(&Monitor.EmailAddress, Monitor.StartEmailAddress);
    PutTextInForce(&Monitor.FromAddress, Monitor.StartFromEmail);
    PutTextInForce(&Monitor.EmailServer, Monitor.StartEmailServer);
    PutTextInForce(&Monitor.Command, Monitor.StartCommand);
    Monitor.WarningLevel = Monitor.StartWarning;
    Monitor.Seconds = Monitor.StartSeconds;
    Monitor.TimeType = StoredUnitCode();
    if (!Validate(CheckRequiredEntries))
        return;
    // The flags decide whether the start hides the window, so they are taken first.
    if (Monitor.WarningLevel != 0)
        TakeCheckBoxes();
    // The period comes from the stored count, while the slider shows the unit's default:
    // the interval box keeps what start-up wrote into it.
    Monitor.WarningTime = PeriodForInterval(Monitor.Seconds, Monitor.TimeType);
    SetUpUnit(Monitor.TimeType, UnitForCode(Monitor.TimeType).defaultPosition, false);
    GoActive();
    // At sign-in nobody may be there to answer: what the start tells or asks comes only
    // now, with the checks running. A question refused ends them again, as a refusal
    // would have, with the window shown.
    if (!Validate(ConfirmEntries) && !Monitor.Ending) {
        StopMonitoring();
        if (Monitor.Minimized)
            RestoreFromTray();
    }
}

void StopMonitoring()
{
    KillTimer(Monitor.hwndDlgSave, IDT_CHECK);
    CancelMail();
    SetWindowTextA(Monitor.hwndDlgSave, "Vellmark - Inactive");
    SetTrayTip("Vellmark - Inactive");
    NotifyTray(NIM_MODIFY);
    LockEntries(false);
}
