// The drive list: the platform's drive text split into roots, and the drive combo box
// filled with them.
#include "core/drives.h"

#include "core/state.h"
#include "resources/resource.h"

#include <cstring>

int SplitDriveText(const char *text, size_t size, char slots[DriveSlots][DriveSlotSize])
{
    int count = 0;
    int length = 0;
    for (size_t i = 0; i < size && count < DriveSlots; i++) {
        if (text[i]) {
            if (length < DriveSlotSize - 1)
                slots[count][length++] = text[i];
            continue;
        }
        if (length == 0)
            break;
        slots[count++][length] = 0;
        length = 0;
    }
    return count;
}

void FillDriveList(const char *text, size_t size)
{
    char slots[DriveSlots][DriveSlotSize];
    int count = SplitDriveText(text, size, slots);
    SendMessageA(Monitor.hWndDisk, CB_RESETCONTENT, 0, 0);
    for (int i = 0; i < count; i++) {
        // The box sorts its entries; the position it answers is right at this moment, and
        // the box moves its selection along with later insertions.
        LRESULT at = SendMessageA(Monitor.hWndDisk, CB_ADDSTRING, 0, (LPARAM)slots[i]);
        if (at >= 0 && slots[i][0] == Monitor.StartDisk[0])
            SendMessageA(Monitor.hWndDisk, CB_SETCURSEL, at, 0);
    }
}

bool PopulateDriveList()
{
    char field[100] = {};
    DWORD count = GetLogicalDriveStringsA(sizeof field, field);
    // A count above the field's size means the text did not fit: whatever the field
    // then holds is no list, and the list stays empty.
    bool listed = count != 0 && count <= sizeof field;
    if (!listed)
        field[0] = 0;
    FillDriveList(field, sizeof field);
    return listed;
}

bool ReadSelectedDrive()
{
    HWND hDlg = Monitor.hwndDlgSave;
    Monitor.Index = static_cast<int>(SendDlgItemMessageA(hDlg, IDC_DISK, CB_GETCURSEL, 0, 0));
    if (Monitor.Index == CB_ERR)
        return false;
    // CB_GETLBTEXT knows no buffer size, so an entry that would not fit counts as no drive.
    LRESULT length = SendDlgItemMessageA(hDlg, IDC_DISK, CB_GETLBTEXTLEN, Monitor.Index, 0);
    if (length == CB_ERR || length >= static_cast<LRESULT>(sizeof Monitor.buffer))
        return false;
    // Cleared first: the stored drive is the buffer's first four bytes, whatever the length.
    memset(Monitor.buffer, 0, sizeof Monitor.buffer);
    SendDlgItemMessageA(hDlg, IDC_DISK, CB_GETLBTEXT, Monitor.Index, (LPARAM)Monitor.buffer);
    return true;
}
