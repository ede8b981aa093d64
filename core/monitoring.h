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

// The check timer's period in milliseconds for count units of the given code, at least
// a second. A period beyond what the timer can hold is cut to the longest one, never
// wrapped.
int PeriodForInterval(UINT count, int code);

// The stored unit as it is put in force: 0 when none is stored, and any code outside 1
// to 3 as seconds.
int StoredUnitCode();

// Puts the unit of code (as UnitForCode reads it) on the interval slider: its range,
// ticks, page and line size, and position clamped into the range; then reads the position
// back into Monitor.TrackPosition. With showInBoxes the unit label takes the unit's text
// and the interval box the position. Keeping the slider's own position under the seconds
// range is SetUpUnit(1, its position, false).
void SetUpUnit(int code, UINT position, bool showInBoxes);

// What ReadEntries takes besides the drive, the recipients, the sender, the server and
// the interval: Start and Save Settings take both, the tray's Start keeps the command in
// force.
const unsigned WithCommand = 1;
const unsigned WithLevel = 2;

// Reads the dialog's entries into the settings in force. While the server box shows the
// address a look-up put there, the server entry is the name it was looked up from.
void ReadEntries(unsigned entries);

// Start monitoring, from the Start button: the entries read, validated with the user,
// one sample, the check timer armed, the entries locked. An alert in flight ends.
void StartMonitoring();

// The same from the tray menu, which keeps the command in force.
void StartMonitoringFromTray();

// The automatic start at program start, from the stored settings. What it tells or asks
// the user comes once monitoring runs, so that nobody needs to be there.
void StartAndMinimize();

// Kills the check timer, ends an alert in flight and unlocks the entries; the settings in
// force stay.
void StopMonitoring();
