// Moving texts between the Monitor state and the dialog's controls.
#include "core/boxes.h"

#include "core/state.h"

#include <cstdlib>
#include <cstring>

void ReplaceBoxText(HWND hWnd, const char *text)
{
    // Every check rewrites seven boxes, mostly with what they already show, and each
    // replacement costs a redraw.
    char shown[256];
    size_t length = strlen(text);
    if (length < sizeof shown && GetWindowTextLengthA(hWnd) == static_cast<int>(length) &&
        GetWindowTextA(hWnd, shown, sizeof shown) == static_cast<int>(length) && memcmp(shown, text, length) == 0)
        return;
    SendMessageA(hWnd, EM_SETSEL, 0, -1);
    SendMessageA(hWnd, EM_REPLACESEL, FALSE, (LPARAM)text);
}

void ReadBoxText(int id, char **field)
{
    Monitor.len = GetWindowTextLengthA(GetDlgItem(Monitor.hwndDlgSave, id));
    if (Monitor.len < 1) {
        PutTextInForce(field, nullptr);
        return;
    }
    char *text = static_cast<char *>(calloc(Monitor.len + 1, 1));
    if (!text)
        return;     // out of memory: the field keeps its value
    GetDlgItemTextA(Monitor.hwndDlgSave, id, text, Monitor.len + 1);
    PutTextInForce(field, text);
    free(text);
}
