// Moving texts between the Monitor state and the dialog's controls.
#pragma once

#include <windows.h>

// Replaces a box's whole text: select all, then replace the selection. A box that already
// shows the very text is left alone.
void ReplaceBoxText(HWND hWnd, const char *text);

// Reads box id of the dialog into a text in force: a copy of its text, or none when the
// box is empty. Leaves the length read in Monitor.len.
void ReadBoxText(int id, char **field);
