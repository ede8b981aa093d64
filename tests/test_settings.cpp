// The settings store against the real registry of the test prefix: what a save writes,
// byte for byte, what a start-up loads back, and stored values of the wrong kind.
#include "core/drives.h"
#include "core/state.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "tests/support/testing.h"

#include <doctest.h>
#include <shlwapi.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char SettingsKey[] = "SoftWare\\Tolvane\\Vellmark";
const char ThreeDrives[] = "A:\\\0C:\\\0D:\\\0";   // the literal's own zero ends the list

// Removes the whole vendor branch, so that a save must create every part of the path.
void ForgetSettings()
{
    SHDeleteKeyA(HKEY_CURRENT_USER, "SoftWare\\Tolvane");
}

void Store(const char *name, DWORD type, const void *data, DWORD size)
{
    HKEY key;
    REQUIRE(RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr) == ERROR_SUCCESS);
    CHECK(RegSetValueExA(key, name, 0, type, static_cast<const BYTE *>(data), size) == ERROR_SUCCESS);
    RegCloseKey(key);
}

// Reads a value back with the plain registry call, not through the loader.
void CheckStored(const char *name, DWORD type, const std::string &bytes)
{
    INFO("value ", name);
    HKEY key;
    REQUIRE(RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, KEY_READ, &key) == ERROR_SUCCESS);
    static char data[16384];
    DWORD size = sizeof data, stored = REG_NONE;
    LONG result = RegQueryValueExA(key, name, nullptr, &stored, reinterpret_cast<BYTE *>(data), &size);
    RegCloseKey(key);
    REQUIRE(result == ERROR_SUCCESS);
    CHECK(stored == type);
    CHECK(std::string(data, size) == bytes);
}

std::string Dword(DWORD value)
{
    return std::string(reinterpret_cast<const char *>(&value), sizeof value);
}

// A text passed without its terminator reads back with one: RegSetValueExA counts the
// zero that follows the characters.
std::string Text(const char *text)
{
    return std::string(text, strlen(text) + 1);
}

std::string InForce(const char *text)
{
    return text ? text : "(none)";
}

// Every stored setting on one line, so that a whole load is checked at once; a flag
// with no character shows as '-'.
std::string Loaded()
{
    static char line[20000];
    snprintf(line, sizeof line, "%s|%ld|%g|%lu|%lu|%s|%s|%s|%s|%c|%c", Monitor.StartDisk,
             Monitor.StartWarning2, Monitor.StartWarning, Monitor.StartSeconds, Monitor.StartTimeType,
             Monitor.StartEmailAddress, Monitor.StartFromEmail, Monitor.StartEmailServer,
             Monitor.StartCommand, Monitor.AutoStartValue[0] ? Monitor.AutoStartValue[0] : '-',
             Monitor.AutoStartMini[0] ? Monitor.AutoStartMini[0] : '-');
    return line;
}

struct Entries {
    int drive;                      // position in the drive list, -1 for none
    const char *email, *from, *server, *command, *interval;
    bool autoStart, autoMin;
};

// Fills a fresh dialog with the entries and presses Save Settings, as a user would.
void SaveFromDialog(const Entries &e, int timeType, const char *level)
{
    MainDialog d;
    HWND hDlg = d.hDlg;
    FillDriveList(ThreeDrives, sizeof ThreeDrives);
    SendMessageA(Monitor.hWndDisk, CB_SETCURSEL, e.drive, 0);
    SetDlgItemTextA(hDlg, IDC_EMAIL, e.email);
    SetDlgItemTextA(hDlg, IDC_FROM, e.from);
    SetDlgItemTextA(hDlg, IDC_SERVER, e.server);
    SetDlgItemTextA(hDlg, IDC_COMMAND, e.command);
    SetDlgItemTextA(hDlg, IDC_INTERVAL, e.interval);
    CheckDlgButton(hDlg, IDC_AUTOSTART, e.autoStart ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(hDlg, IDC_AUTOMIN, e.autoMin ? BST_CHECKED : BST_UNCHECKED);
    SetDlgItemTextA(hDlg, IDC_WARNING, level);
    Monitor.TimeType = timeType;
    d.Command(IDC_SAVE);
}

void CheckBoxes(const MessageBoxCatcher &catcher, const std::vector<std::string> &texts)
{
    REQUIRE(catcher.boxes.size() == texts.size());
    for (size_t i = 0; i < texts.size(); i++) {
        CHECK(catcher.boxes[i].caption == "Error");
        CHECK(catcher.boxes[i].text == texts[i]);
    }
}

}  // namespace

TEST_CASE("a save followed by a start-up gives back every setting, byte for byte")
{
    ForgetSettings();
    SaveFromDialog({2, "ops@example.test;\r\nlead@example.test", "vellmark@example.test", "127.0.0.5",
                    "cmd /c cleanup.bat", "45", true, true},
                   2, "20.3");
    CHECK(InForce(Monitor.DiskToMonitor) == "D:\\");
    CHECK(InForce(Monitor.EmailAddress) == "ops@example.test;\r\nlead@example.test");
    CHECK(Monitor.Seconds == 45);

    CheckStored("Disk", REG_SZ, std::string("D:\\\0", 4));
    CheckStored("EmailServer", REG_SZ, Text("127.0.0.5"));
    CheckStored("CommandToRun", REG_SZ, Text("cmd /c cleanup.bat"));
    CheckStored("EmailAddress", REG_SZ, Text("ops@example.test;\r\nlead@example.test"));
    CheckStored("FromAddress", REG_SZ, Text("vellmark@example.test"));
    CheckStored("Seconds", REG_DWORD, Dword(45));
    CheckStored("TimeType", REG_DWORD, Dword(2));
    CheckStored("Warning", REG_DWORD, Dword(2029));
    CheckStored("AutoStart", REG_SZ, std::string("1\0", 2));
    CheckStored("AutoMin", REG_SZ, std::string("1\0", 2));

    ResetMonitor();
    MessageBoxCatcher catcher;
    LoadSettings();
    CHECK(catcher.boxes.empty());
    CHECK(Loaded() == "D:\\|2029|20.29|45|2|ops@example.test;\r\nlead@example.test|vellmark@example.test|"
                      "127.0.0.5|cmd /c cleanup.bat|1|1");
}

TEST_CASE("a first run without the key shows the three boxes in order and loads nothing")
{
    ForgetSettings();
    ResetMonitor();
    MessageBoxCatcher catcher;
    LoadSettings();
    CheckBoxes(catcher, {"Failed to get warning", "Failed to get seconds", "Failed to get time type"});
    CHECK(Loaded() == "|0|0|0|0|||||-|-");
}

TEST_CASE("empty boxes, no drive, no interval and no unit; what a save leaves out stays")
{
    ForgetSettings();
    SaveFromDialog({1, "ops@example.test", "a@example.test", "127.0.0.5", "x.exe", "30", true, false}, 3, "5");
    SaveFromDialog({-1, "", "", "", "", "", false, false}, 0, "");
    CHECK(Monitor.DiskToMonitor == nullptr);
    CHECK(Monitor.EmailAddress == nullptr);
    CHECK(Monitor.TimeType == 1);
    CheckStored("Disk", REG_SZ, std::string("C:\\\0", 4));
    CheckStored("Seconds", REG_DWORD, Dword(30));
    for (const char *name : {"EmailServer", "CommandToRun", "EmailAddress", "FromAddress"})
        CheckStored(name, REG_SZ, "");
    CheckStored("TimeType", REG_DWORD, Dword(1));
    CheckStored("Warning", REG_DWORD, Dword(0));

    ResetMonitor();
    MessageBoxCatcher catcher;
    LoadSettings();
    CHECK(catcher.boxes.empty());
    CHECK(Loaded() == "C:\\|0|0|30|1|||||0|0");

    // With no interval ever saved, only its own box comes back.
    ForgetSettings();
    SaveFromDialog({0, "", "", "", "", "0", false, false}, 0, "");
    ResetMonitor();
    LoadSettings();
    CheckBoxes(catcher, {"Failed to get seconds"});
    CHECK(Loaded() == "A:\\|0|0|0|1|||||0|0");
}

TEST_CASE("the warning level is stored in hundredths, cut toward zero, and loads back signed")
{
    const struct {
        float level;
        DWORD stored;
    } cases[] = {
        {20.3f, 2029}, {12.34f, 1234}, {10.5f, 1050}, {5.1f, 509}, {-5.0f, static_cast<DWORD>(-500)},
        {5e7f, 705032704},      // 5,000,000,000 keeps its low 32 bits
        {INFINITY, 0}, {-INFINITY, 0}, {NAN, 0}, {1e17f, 0}, {-1e17f, 0},
    };
    for (const auto &c : cases) {
        INFO("level ", c.level);
        CHECK(EncodeWarning(c.level) == c.stored);
    }

    ForgetSettings();
    SaveFromDialog({-1, "", "", "", "", "", false, false}, 1, "-5");
    CheckStored("Warning", REG_DWORD, Dword(0xFFFFFE0C));
    ResetMonitor();
    MessageBoxCatcher catcher;
    LoadSettings();
    CHECK(Monitor.StartWarning2 == -500);
    CHECK(Monitor.StartWarning == -5.0f);
}

TEST_CASE("values of the wrong type or size load as missing, never as garbage")
{
    ForgetSettings();
    // A recipient list longer than its box takes, put there by the program, is saved
    // whole but not loaded.
    std::string list;
    while (list.size() < sizeof Monitor.StartEmailAddress)
        list += "user@example.test;";
    list.resize(sizeof Monitor.StartEmailAddress);
    SaveFromDialog({-1, list.c_str(), "", "", "", "", false, false}, 1, "");
    CheckStored("EmailAddress", REG_SZ, Text(list.c_str()));

    // Texts that end exactly at their read size (one byte short of their field) carry no
    // terminator: the byte after them is not zero, so the platform adds none.
    const DWORD serverRead = sizeof Monitor.StartEmailServer - 1, fromRead = sizeof Monitor.StartFromEmail - 1;
    std::string server = std::string(serverRead, 's') + "X", from = std::string(fromRead + 1, 'f') + "X";
    ULONGLONG wide = 30;
    DWORD two = 2, drive = 0x005C3A43;   // "C:\" as the bytes of a number; a flag is 0 or 1
    Store("Warning", REG_SZ, "20", 3);   // as a number, these bytes would be 12338
    Store("Seconds", REG_BINARY, "\x1e\x00", 2);
    Store("TimeType", REG_QWORD, &wide, sizeof wide);
    Store("Disk", REG_DWORD, &drive, sizeof drive);
    Store("EmailServer", REG_SZ, server.data(), serverRead);
    Store("FromAddress", REG_SZ, from.data(), fromRead + 1);
    Store("CommandToRun", REG_MULTI_SZ, "a\0b\0", 5);
    Store("AutoStart", REG_SZ, "1abcX", 4);
    Store("AutoMin", REG_DWORD, &two, sizeof two);

    ResetMonitor();
    strcpy(Monitor.StartFromEmail, "left over");
    MessageBoxCatcher catcher;
    LoadSettings();
    CheckBoxes(catcher, {"Failed to get warning", "Failed to get seconds", "Failed to get time type"});
    CHECK(Loaded() == "|0|0|0|0|||" + std::string(serverRead, 's') + "||1|-");
    CHECK(Monitor.AutoStartValue[3] == 0);
}

TEST_CASE("settings imported from a .reg file: binary numbers and binary or expandable texts load as their bytes say")
{
    ForgetSettings();
    Store("Disk", REG_BINARY, "D:\\", 3);
    Store("Warning", REG_BINARY, "\xd0\x07\x00\x00", 4);           // hex:d0,07,00,00
    Store("Seconds", REG_BINARY, "\x2d\x00\x00\x00", 4);
    Store("TimeType", REG_BINARY, "\x02\x00\x00\x00", 4);
    Store("EmailAddress", REG_BINARY, "ops@example.test", 16);
    Store("FromAddress", REG_EXPAND_SZ, "vellmark@example.test", 22);
    Store("EmailServer", REG_BINARY, "127.0.0.5\0", 10);
    Store("CommandToRun", REG_EXPAND_SZ, "cleanup.cmd", 12);
    Store("AutoStart", REG_BINARY, "1", 1);
    Store("AutoMin", REG_EXPAND_SZ, "0", 2);
    ResetMonitor();
    MessageBoxCatcher catcher;
    LoadSettings();
    CHECK(catcher.boxes.empty());
    CHECK(Loaded() == "D:\\|2000|20|45|2|ops@example.test|vellmark@example.test|127.0.0.5|cleanup.cmd|1|0");
}

TEST_CASE("what the boxes hold, a start-up loads whole")
{
    // A long command and a list of 46 recipients, 1,196 characters, after a restart.
    ForgetSettings();
    MessageBoxCatcher catcher;
    std::string list, command = "cmd /c echo " + std::string(288, 'x');
    for (int i = 0; i < 46; i++) {
        char recipient[32];
        snprintf(recipient, sizeof recipient, "recipient-%02d@example.test;", i);
        list += recipient;
    }
    REQUIRE(list.size() == 1196);
    SaveFromDialog({1, list.c_str(), "", "127.0.0.5", command.c_str(), "30", false, false}, 1, "10");
    {
        MainDialog d([] { LoadSettings(); });
        CHECK(d.Text(IDC_EMAIL) == list);
        CHECK(d.Text(IDC_COMMAND) == command);
    }

    // Each box filled to what it takes, and typed into once more, loads back whole.
    const struct { int id; const char *field; } boxes[] = {
        {IDC_EMAIL, Monitor.StartEmailAddress}, {IDC_FROM, Monitor.StartFromEmail},
        {IDC_SERVER, Monitor.StartEmailServer}, {IDC_COMMAND, Monitor.StartCommand},
    };
    std::string full[4];
    {
        MainDialog d;
        for (int i = 0; i < 4; i++) {
            HWND box = GetDlgItem(d.hDlg, boxes[i].id);
            full[i] = std::string(SendMessageA(box, EM_GETLIMITTEXT, 0, 0), 'a' + i);
            SetWindowTextA(box, full[i].c_str());
            SendMessageA(box, EM_SETSEL, full[i].size(), full[i].size());
            SendMessageA(box, EM_REPLACESEL, TRUE, (LPARAM) "z");
        }
        d.Command(IDC_SAVE);
    }
    ResetMonitor();
    LoadSettings();
    for (int i = 0; i < 4; i++) {
        INFO("box ", boxes[i].id);
        CHECK((boxes[i].field == full[i]));     // not printed: thousands of characters
    }
}

TEST_CASE("a server name stays a name in the store after a Start has shown its address")
{
    ForgetSettings();
    MainDialog d;
    FillDriveList(ThreeDrives, sizeof ThreeDrives);
    SendMessageA(Monitor.hWndDisk, CB_SETCURSEL, 1, 0);
    SetDlgItemTextA(d.hDlg, IDC_WARNING, "10");
    SetDlgItemTextA(d.hDlg, IDC_INTERVAL, "30");
    SetDlgItemTextA(d.hDlg, IDC_EMAIL, "ops@example.test");
    SetDlgItemTextA(d.hDlg, IDC_SERVER, "localhost");
    MessageBoxCatcher catcher;
    for (int start : {IDC_START, IDM_START}) {  // through Stop and a second Start
        d.Command(IDC_STOP);
        d.Command(start);
        CHECK(d.Text(IDC_SERVER) == "127.0.0.1");
        CHECK(InForce(Monitor.EmailServer) == "127.0.0.1");
        d.Command(IDC_SAVE);
        CheckStored("EmailServer", REG_SZ, Text("localhost"));
    }
    // Whatever is typed over the address is saved as typed.
    d.Command(IDC_STOP);
    SetDlgItemTextA(d.hDlg, IDC_SERVER, "127.0.0.5");
    d.Command(IDC_SAVE);
    CheckStored("EmailServer", REG_SZ, Text("127.0.0.5"));
    CHECK(catcher.boxes.empty());
}
