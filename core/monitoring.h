// Starting and stopping monitoring, the interval units, and the period they give the
// check timer.
#pragma once

#include <windows.h>

// One interval unit as the slider shows it and as the period counts it.
struct IntervalUnit {
    int code;                       // 1 seconds, 2 minutes, 3 hours
    const char *label;              // the text of the unit label
    int rangeMin;
    int rangeMax;
    int defaultPosition;
    int tickFrequency;
    int pageSize;
    int lineSize;
    int msPerUnit;
};

// Seconds, minutes and hours, in code order.
extern const IntervalUnit IntervalUnits[3];

// The unit a code stands for where an interval is counted: 2 minutes, 3 hours, and every
// other code (0, none chosen, included) seconds.
const IntervalUnit &UnitForCode(int code);

// The check timer's period in milliseconds for count units of the given code. A period
// beyond what the timer can hold is cut to the longest one, never wrapped.
int PeriodForInterval(UINT count, int code);

// Puts the unit of code (as UnitForCode reads it) on the interval slider: its range,
// ticks, page and line size, and position clamped into the range; then reads the position
// back into Monitor.TrackPosition. With showInBoxes the unit label takes the unit's text
// and the interval box the position. Keeping the slider's own position under the seconds
// range is SetUpUnit(1, its position, false).
void SetUpUnit(int code, UINT position, bool showInBoxes);

// The three ways into monitoring: the Start button, Start in the tray menu (which keeps
// the command in force), and the automatic start from the stored settings. Each reads
// its entries, validates them, samples once, arms the check timer and locks the entries.
void StartMonitoring();
void StartMonitoringFromTray();
void StartAndMinimize();

// Kills the check timer and unlocks the entries; the settings in force stay.
void StopMonitoring();
