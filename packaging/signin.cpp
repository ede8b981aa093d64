// What the all-users install's sign-in entry starts: the vellmark.exe beside it, for a
// user who has set Vellmark up, unless the user's own sign-in entry of the same name
// starts a Vellmark already. The all-users install cannot reach any user's own entry or
// settings, so this is where a user with both installs is kept to one Vellmark, and a
// user who never set it up is spared a first run's boxes at every sign-in.
#include <windows.h>

#include <stdio.h>
#include <string.h>

static const char RunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
static const char SettingsKey[] = "SoftWare\\Tolvane\\Vellmark";

// A Save Settings with a drive chosen stores "Disk".
static bool UserSetUpVellmark()
{
    return RegGetValueA(HKEY_CURRENT_USER, SettingsKey, "Disk", RRF_RT_ANY, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
}

// Whatever program the user's entry starts is the user's choice, so any program there
// counts; an entry left behind by a copy since deleted starts nothing, and stops nothing.
// The program is the entry's first token, quoted or up to the first blank, with its
// environment variables expanded.
static bool UserStartsOwnVellmark()
{
    static char command[8192], expanded[8192];
    DWORD size = sizeof command;
    LONG rc = RegGetValueA(HKEY_CURRENT_USER, RunKey, "Vellmark", RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                           nullptr, command, &size);
    // Too long to look into: the user's choice stands.
    if (rc == ERROR_MORE_DATA)
        return true;
    if (rc != ERROR_SUCCESS)
        return false;
    DWORD length = ExpandEnvironmentStringsA(command, expanded, sizeof expanded);
    if (length == 0 || length > sizeof expanded)
        return true;
    char *program = expanded + strspn(expanded, " \t");
    char *end;
    if (*program == '"')
        end = strchr(++program, '"');
    else
        end = strpbrk(program, " \t");
    if (end)
        *end = '\0';
    DWORD attributes = GetFileAttributesA(program);
    return *program && attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    if (!UserSetUpVellmark() || UserStartsOwnVellmark())
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
