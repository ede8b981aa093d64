// Moving texts between the Monitor state and the dialog's controls, and the one-at-a-time
// message box: the small Win32 helpers every part uses.
#pragma once

#include <windows.h>

// Replaces a read-only box's whole text: select all, then replace the selection.
void ReplaceBoxText(HWND hWnd, const char *text);

// Shows a message box with no owner, unless the box guarded by *open is still open.
// A box's own message loop goes on delivering check ticks, and a tick that fails again
// would open a further box over it, a nested loop each, until the stack runs out.
void ShowUnstackedBox(bool *open, const char *text, const char *caption, UINT flags);

// Reads box id of the dialog into a text in force: a copy of its text, or none when the
// box is empty. Leaves the length read in Monitor.len.
void ReadBoxText(int id, char **field);
