// The drive list: roots in order, the stored drive's letter selected, and a slot walk
// that stays inside its field and slots whatever the platform's text holds.
#include "core/drives.h"
#include "core/state.h"
#include "resources/resource.h"
#include "tests/support/testing.h"

#include <doctest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> ListEntries()
{
    std::vector<std::string> entries;
    LRESULT count = SendMessageA(Monitor.hWndDisk, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; i++) {
        char text[64] = "";
        if (SendMessageA(Monitor.hWndDisk, CB_GETLBTEXTLEN, i, 0) < (LRESULT)sizeof text)
            SendMessageA(Monitor.hWndDisk, CB_GETLBTEXT, i, (LPARAM)text);
        entries.push_back(text);
    }
    return entries;
}

std::string SelectedEntry()
{
    LRESULT at = SendMessageA(Monitor.hWndDisk, CB_GETCURSEL, 0, 0);
    return at == CB_ERR ? "(none)" : ListEntries()[at];
}

}  // namespace

TEST_CASE("the roots are listed in order and the stored drive's first letter selects")
{
    MainDialog d;
    const char drives[] = "A:\\\0C:\\\0D:\\\0";
    const struct {
        const char *stored, *selected;
    } cases[] = {
        {"D:\\", "D:\\"}, {"c:\\", "(none)"}, {"C:", "C:\\"}, {"", "(none)"},
    };
    for (const auto &c : cases) {
        INFO("stored drive ", c.stored);
        strcpy(Monitor.StartDisk, c.stored);
        FillDriveList(drives, sizeof drives);
        CHECK(ListEntries() == std::vector<std::string>{"A:\\", "C:\\", "D:\\"});
        CHECK(SelectedEntry() == c.selected);
    }
    // Roots out of letter order are sorted by the box; the selection follows its root.
    strcpy(Monitor.StartDisk, "C:\\");
    FillDriveList("D:\\\0C:\\\0A:\\\0", 13);
    CHECK(ListEntries() == std::vector<std::string>{"A:\\", "C:\\", "D:\\"});
    CHECK(SelectedEntry() == "C:\\");
}

TEST_CASE("the slot walk never reads past the field nor writes past the 26 slots")
{
    // The field ends where the process may no longer read: any look at the byte after
    // its last one ends the test program.
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    DWORD page = system.dwPageSize;
    char *pages = static_cast<char *>(VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    REQUIRE(pages);
    DWORD old;
    REQUIRE(VirtualProtect(pages + page, page, PAGE_NOACCESS, &old));
    char *field = pages + page - 100;

    struct {
        char slots[DriveSlots][DriveSlotSize];
        char guard[8];
    } out;
    memset(&out, 0x55, sizeof out);
    // 25 roots fill all 100 bytes, leaving no room for the empty text that ends a list.
    for (int i = 0; i < 25; i++)
        memcpy(field + 4 * i, std::string(1, char('A' + i)).append(":\\").c_str(), 4);
    CHECK(SplitDriveText(field, 100, out.slots) == 25);
    CHECK(std::string(out.slots[0]) == "A:\\");
    CHECK(std::string(out.slots[24]) == "Y:\\");

    // No terminator anywhere, and an empty list: no roots.
    memset(field, 'x', 100);
    CHECK(SplitDriveText(field, 100, out.slots) == 0);
    memset(field, 0, 100);
    CHECK(SplitDriveText(field, 100, out.slots) == 0);

    // More texts than slots, each longer than a root: 26 roots of three characters.
    char text[300] = {};
    for (int i = 0; i < 30; i++)
        memcpy(text + 8 * i, "Q:\\tail", 8);
    CHECK(SplitDriveText(text, sizeof text, out.slots) == DriveSlots);
    CHECK(std::string(out.slots[25]) == "Q:\\");
    CHECK(std::string(out.guard, sizeof out.guard) == std::string(sizeof out.guard, '\x55'));
    VirtualFree(pages, 0, MEM_RELEASE);
}

TEST_CASE("the machine's own drives: every root in letter order, the stored one selected")
{
    MainDialog d([] { strcpy(Monitor.StartDisk, "C:\\"); });
    PopulateDriveList();
    CHECK(PopulateDriveList());     // a second fill replaces the first
    std::vector<std::string> entries = ListEntries();
    std::vector<std::string> expected;
    DWORD drives = GetLogicalDrives();
    for (int letter = 0; letter < 26; letter++)
        if (drives & (1u << letter))
            expected.push_back(std::string(1, char('A' + letter)) + ":\\");
    CHECK(entries == expected);
    CHECK(SelectedEntry() == "C:\\");
}
