// The settings store: LoadSettings and SaveSettings over the settings key. The stored
// layout (names, types, byte counts) is the contract with every earlier install, so it
// is kept byte for byte.
#include "settings/settings.h"

#include "core/monitoring.h"
#include "core/state.h"

#include <shlwapi.h>

#include <cstring>

static const char SettingsKey[] = "SoftWare\\Tolvane\\Vellmark";

static_assert(sizeof Monitor.StartDisk > 4, "a stored drive without terminator must still end inside its field");

// The settings key while LoadSettings reads it; null when there is none to read.
static HKEY ReadKey;

// Reads one value, at most readSize bytes, into a zero-filled field of fieldSize bytes.
// Settings imported from a .reg file often hold numbers as 4 binary bytes and texts as
// binary bytes, which read as their bytes say. A text where a number belongs, a number of
// another size or a type that is neither counts as a failed read, so a REG_SZ "20" never
// becomes the number 12338. After a failure the field is empty again, whatever the
// platform left in it. True when the value was read.
static bool ReadValue(const char *name, void *field, DWORD fieldSize, DWORD readSize, bool text)
{
    memset(field, 0, fieldSize);
    Monitor.valuesize = readSize;
    Monitor.KeyType = REG_NONE;
    DWORD result = ReadKey ? SHQueryValueExA(ReadKey, name, nullptr, &Monitor.KeyType, field, &Monitor.valuesize)
                           : ERROR_FILE_NOT_FOUND;
    DWORD type = Monitor.KeyType;
    bool expected = text ? type == REG_SZ || type == REG_EXPAND_SZ || type == REG_BINARY
                         : (type == REG_DWORD || type == REG_BINARY) && Monitor.valuesize == sizeof(DWORD);
    bool read = result == ERROR_SUCCESS && expected;
    if (!read)
        memset(field, 0, fieldSize);
    else if (text)
        // The flags are as large as their read, and a stored "1abc" fills them whole; only
        // their first character counts, and the last byte keeps them a text.
        static_cast<char *>(field)[fieldSize - 1] = 0;
    return read;
}

// A free text whole: its box's longest with the terminator a save stores.
static void ReadText(const char *name, char *field, DWORD fieldSize)
{
    ReadValue(name, field, fieldSize, fieldSize - 1, true);
}

// A flag as a save writes it, the text "1" or "0", or as .reg files and policy tools
// write one, the number 1 or 0. Another number counts as missing.
static void ReadFlag(const char *name, char *flag, DWORD flagSize)
{
    DWORD number;
    if (!ReadValue(name, &number, sizeof number, sizeof number, false) || Monitor.KeyType != REG_DWORD) {
        ReadValue(name, flag, flagSize, flagSize, true);
        return;
    }
    memset(flag, 0, flagSize);
    if (number <= 1)
        flag[0] = static_cast<char>('0' + number);
}

static void ShowReadFailure(const char *message)
{
    MessageBoxA(nullptr, message, "Error", MB_ICONERROR);
}

void LoadSettings()
{
    // One open for all the reads, not one per read. Without the key (a first run) every
    // read fails, as it must.
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, KEY_QUERY_VALUE, &ReadKey) != ERROR_SUCCESS)
        ReadKey = nullptr;
    ReadValue("Disk", Monitor.StartDisk, sizeof Monitor.StartDisk, 4, true);
    if (!ReadValue("Warning", &Monitor.StartWarning2, sizeof Monitor.StartWarning2, 4, false))
        ShowReadFailure("Failed to get warning");
    Monitor.StartWarning = static_cast<float>(Monitor.StartWarning2 / 100.0);
    if (!ReadValue("Seconds", &Monitor.StartSeconds, sizeof Monitor.StartSeconds, 4, false))
        ShowReadFailure("Failed to get seconds");
    if (!ReadValue("TimeType", &Monitor.StartTimeType, sizeof Monitor.StartTimeType, 4, false))
        ShowReadFailure("Failed to get time type");
    // A text longer than its box takes (stored by another hand) is not loaded and its
    // field stays empty.
    ReadText("EmailAddress", Monitor.StartEmailAddress, sizeof Monitor.StartEmailAddress);
    ReadText("FromAddress", Monitor.StartFromEmail, sizeof Monitor.StartFromEmail);
    ReadText("EmailServer", Monitor.StartEmailServer, sizeof Monitor.StartEmailServer);
    ReadText("CommandToRun", Monitor.StartCommand, sizeof Monitor.StartCommand);
    ReadFlag("AutoStart", Monitor.AutoStartValue, sizeof Monitor.AutoStartValue);
    ReadFlag("AutoMin", Monitor.AutoStartMini, sizeof Monitor.AutoStartMini);
    if (ReadKey)
        RegCloseKey(ReadKey);
    ReadKey = nullptr;
}

DWORD EncodeWarning(float level)
{
    // Extended precision holds any float times 100 exactly, so only the cut loses
    // anything: 20.3f lies just below 20.3 and is stored as 2029.
    long double hundredths = static_cast<long double>(level) * 100.0L;
    if (!(hundredths >= -9223372036854775808.0L && hundredths < 9223372036854775808.0L))
        return 0;
    return static_cast<DWORD>(static_cast<unsigned long long>(static_cast<long long>(hundredths)));
}

// Each value is written through a key opened for it alone and closed at once, so no
// handle is held between writes. A failure is silent and leaves the former value.
static void WriteValue(const char *name, DWORD type, const void *data, DWORD size)
{
    HKEY created;
    // Asks for no access: this handle only makes sure that every part of the path exists.
    if (RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE, 0,
                        nullptr, &created, &Monitor.dwDisposition) == ERROR_SUCCESS)
        RegCloseKey(created);
    // Without an open key hKey would name a handle already closed.
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, KEY_ALL_ACCESS, &Monitor.hKey) != ERROR_SUCCESS)
        return;
    RegSetValueExA(Monitor.hKey, name, 0, type, static_cast<const BYTE *>(data), size);
    RegCloseKey(Monitor.hKey);
}

// A free text is passed as its characters without the terminator, none as zero bytes.
// RegSetValueExA counts the terminator that follows the characters itself, as it did
// for every earlier install, so a text reads back as a text; zero bytes stay zero.
static void WriteText(const char *name, const char *text)
{
    WriteValue(name, REG_SZ, text ? text : "", text ? static_cast<DWORD>(strlen(text)) : 0);
}

static void WriteFlag(const char *name, HWND checkBox)
{
    WriteValue(name, REG_SZ, SendMessageA(checkBox, BM_GETCHECK, 0, 0) == BST_CHECKED ? "1" : "0", 2);
}

void SaveSettings()
{
    // What the window shows, the level read as Start reads it.
    ReadEntries(WithCommand | WithLevel);

    // Values left out here keep what an earlier save wrote; nothing is ever deleted.
    if (Monitor.DiskToMonitor)
        WriteValue("Disk", REG_SZ, Monitor.buffer, 4);
    WriteText("EmailServer", Monitor.EmailServer);
    WriteText("CommandToRun", Monitor.Command);
    WriteText("EmailAddress", Monitor.EmailAddress);
    WriteText("FromAddress", Monitor.FromAddress);
    if (Monitor.Seconds != 0)
        WriteValue("Seconds", REG_DWORD, &Monitor.Seconds, sizeof(DWORD));
    if (Monitor.TimeType == 0)
        Monitor.TimeType = 1;
    WriteValue("TimeType", REG_DWORD, &Monitor.TimeType, sizeof(DWORD));
    DWORD warning = EncodeWarning(Monitor.WarningLevel);
    WriteValue("Warning", REG_DWORD, &warning, sizeof warning);
    WriteFlag("AutoStart", Monitor.hWndAutoStart);
    WriteFlag("AutoMin", Monitor.hWndAutoMinimize);
}
