// Entry validation: the order of the checks, their messages, the server lookup and the
// two check-box flags.
#include "core/state.h"
#include "core/validation.h"
#include "resources/resource.h"
#include "tests/support/testing.h"

#include <doctest.h>

#include <winsock2.h>
#include <cstring>
#include <string>

namespace {

// For each message box, whether it offers Cancel: 'C' or '-'. (Wine ignores MB_TOPMOST,
// so staying on top cannot be seen here.)
std::string Looks;

LRESULT CALLBACK RecordLook(int code, WPARAM wParam, LPARAM lParam)
{
    HWND box = (HWND)wParam;
    if (code == HCBT_ACTIVATE && GetDlgItem(box, 0xFFFF)) {
        HWND cancel = GetDlgItem(box, IDCANCEL);
        Looks += cancel && (GetWindowLongA(cancel, GWL_STYLE) & WS_VISIBLE) ? 'C' : '-';
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The real dialog and a complete set of entries in force, both check boxes ticked while
// both flags say '0', so that taken flags show.
struct WithEntries : MainDialog {
    WithEntries(const char *to, const char *server)
    {
        PutTextInForce(&Monitor.DiskToMonitor, "C:\\");
        PutTextInForce(&Monitor.EmailAddress, to);
        PutTextInForce(&Monitor.EmailServer, server);
        SetDlgItemTextA(hDlg, IDC_SERVER, server);
        Monitor.WarningLevel = 10;
        Monitor.Seconds = 30;
        memcpy(Monitor.AutoStartValue, "0xy", 4);
        memcpy(Monitor.AutoStartMini, "0xy", 4);
        CheckDlgButton(hDlg, IDC_AUTOSTART, BST_CHECKED);
        CheckDlgButton(hDlg, IDC_AUTOMIN, BST_CHECKED);
    }
};

const char *Question = "Email not entered. Message will be displayed on screen";

}  // namespace

TEST_CASE("the first check that decides ends validation, and only a full run takes the flags")
{
    struct Row {
        bool drive; float level; UINT seconds; const char *to; const char *server; int answer;
        bool result; const char *text; const char *looks;
    } rows[] = {
        {false, 0, 0, nullptr, nullptr, IDOK, false, "Disk must be selected", "-"},
        {true, 0, 0, nullptr, nullptr, IDOK, true, "Warning Level not entered. No warnings will be given", "-"},
        {true, 10, 0, "ops@example.test", "127.0.0.1", IDOK, false, "Seconds Delay must be selected", "-"},
        {true, 10, 30, "ops@example.test", nullptr, IDOK, false, "Email Server must be entered if email address entered", "-"},
        {true, 10, 30, nullptr, nullptr, IDCANCEL, false, Question, "C"},
        {true, 10, 30, nullptr, nullptr, IDOK, true, Question, "C"},
        // A list of blanks and separators names nobody: it counts as no list.
        {true, 10, 30, " ; ;;\r\n", nullptr, IDCANCEL, false, Question, "C"},
        {true, 10, 30, "ops@example.test", "127.0.0.1", IDOK, true, nullptr, ""},
    };
    for (const Row &row : rows) {
        INFO("row with message: ", row.text ? row.text : "(none)", ", answer ", row.answer);
        WithEntries d(row.to, row.server);
        if (!row.drive)
            PutTextInForce(&Monitor.DiskToMonitor, nullptr);
        Monitor.WarningLevel = row.level;
        Monitor.Seconds = row.seconds;
        Looks.clear();
        MessageBoxCatcher catcher(row.answer);
        HHOOK hook = SetWindowsHookExA(WH_CBT, RecordLook, nullptr, GetCurrentThreadId());

        CHECK(CheckEntries() == row.result);
        UnhookWindowsHookEx(hook);
        REQUIRE(catcher.boxes.size() == (row.text ? 1u : 0u));
        if (row.text) {
            CHECK(catcher.boxes[0].caption == "Warning");
            CHECK(catcher.boxes[0].text == row.text);
        }
        CHECK(Looks == row.looks);
        const char *flags = row.result && row.level != 0 ? "1xy" : "0xy";
        CHECK(std::string(Monitor.AutoStartValue) == flags);
        CHECK(std::string(Monitor.AutoStartMini) == flags);
    }
}

TEST_CASE("a server name is replaced by its address; a failed lookup, or a text that is no plain address, is told and kept")
{
    // A label longer than 63 characters is refused by the resolver itself, so a lookup of
    // these names fails without asking any name server.
    const std::string unresolvable = std::string(64, 'x') + ".test";
    const std::string accented = std::string(64, '\xe9') + ".1";
    struct Row { std::string server, inForce; bool failed; } rows[] = {
        {"localhost", "127.0.0.1", false},
        {"10.0.0.25", "10.0.0.25", false},
        {"255.255.255.0", "255.255.255.0", false},
        {unresolvable, unresolvable, true},
        // Read by the socket library as other hosts than written (8.0.0.1, 127.0.0.1 for
        // 127.000.000.001 and 127.1), or not at all.
        {"010.0.0.1", "010.0.0.1", true},
        {"127.000.000.001", "127.000.000.001", true},
        {"127.1", "127.1", true},
        {"1234", "1234", true},
        {"[127.0.0.1]", "[127.0.0.1]", true},
        {"::1", "::1", true},
        {"10.0.0.256", "10.0.0.256", true},
        {"10.0.0.1.", "10.0.0.1.", true},
        {accented, accented, true},         // letters only outside the C locale: no name
    };
    for (const Row &row : rows) {
        INFO("server ", row.server);
        WithEntries d(nullptr, row.server.c_str());
        MessageBoxCatcher catcher(IDOK);
        CHECK(CheckEntries());              // no recipient: the question comes first, OK goes on

        // The server in force is a text of its own, not the socket library's buffer,
        // which the next conversion overwrites.
        WSADATA wsaData;
        REQUIRE(WSAStartup(MAKEWORD(2, 2), &wsaData) == 0);
        in_addr other;
        other.s_addr = inet_addr("127.1.2.3");
        CHECK(std::string(inet_ntoa(other)) == "127.1.2.3");
        WSACleanup();

        CHECK(std::string(Monitor.EmailServer) == row.inForce);
        CHECK(d.Text(IDC_SERVER) == row.inForce);
        REQUIRE(catcher.boxes.size() == (row.failed ? 2u : 1u));
        CHECK(catcher.boxes[0].text == Question);
        if (row.failed) {
            CHECK(catcher.boxes[1].caption == "Error");
            CHECK(catcher.boxes[1].text == "Couldn't resolve server name. Try IP address instead.");
        }
    }
}
