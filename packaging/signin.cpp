// What the all-users install's sign-in entry starts: the vellmark.exe beside it, unless
// the user's own sign-in entry of the same name starts a Vellmark already. The all-users
// install cannot reach any user's own entry, so this is where a user with both installs
// is kept to one Vellmark.
#include <windows.h>

#include <stdio.h>
#include <string.h>

static const char RunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Whatever the user's entry starts is the user's choice, so any command there counts.
static bool UserStartsOwnVellmark()
{
    char command[2 * MAX_PATH];
    DWORD size = sizeof command;
    LONG rc = RegGetValueA(HKEY_CURRENT_USER, RunKey, "Vellmark",
                           RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, command, &size);
    return rc == ERROR_MORE_DATA || (rc == ERROR_SUCCESS && command[0] != '\0');
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    if (UserStartsOwnVellmark())
        return 0;
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    char *name = length > 0 && length < sizeof path ? strrchr(path, '\\') : nullptr;
    if (!name)
        return 1;
    size_t room = sizeof path - (size_t)(name + 1 - path);
    if ((size_t)snprintf(name + 1, room, "vellmark.exe") >= room)
        return 1;
    // Started with this process's rights, which at sign-in are the user's own.
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(path, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 1;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}
