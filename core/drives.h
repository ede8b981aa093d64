// The drive list: the roots of the machine's logical drives in the drive combo box.
#pragma once

#include <cstddef>

// One root with its terminator per slot, one slot per possible drive letter.
const int DriveSlots = 26;
const int DriveSlotSize = 4;

// Splits a drive text as the platform gives it (roots one after the other, each with
// its terminator, the list ended by an empty text) into slots and returns the number of
// roots. Reads only the size bytes of text and writes only the slots, whatever the text
// holds: a text longer than a root keeps its first three characters, and one cut off by
// the end of the field is dropped.
int SplitDriveText(const char *text, size_t size, char slots[DriveSlots][DriveSlotSize]);

// Replaces the drive list's entries with the roots of a drive text, in order, and
// selects the root whose first character equals that of the stored drive.
void FillDriveList(const char *text, size_t size);

// Fills the drive list with the machine's drive roots. False, and the list empty, when
// the platform gives none.
bool PopulateDriveList();

// Reads the drive list's selection into Monitor.Index and its root into Monitor.buffer.
// False when nothing is selected, or when the entry would not fit buffer.
bool ReadSelectedDrive();
