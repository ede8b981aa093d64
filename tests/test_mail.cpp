// The alert mailer against real servers on loopback addresses (tests/mail/peers.py):
// aiosmtpd for delivery, recording servers for the exact bytes and for servers that
// refuse, stall, hang up or cannot be reached.
#include "core/state.h"
#include "mail/smtp.h"
#include "tests/mail/peer_records.h"
#include "tests/support/testing.h"

#include <doctest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const char *const Alert = "Free disk space on disk C:\\ was below warning level of 10.00% on Tue Dec  8 02:46:40 2026\n"
                          ". Free space remaining 5.50 GB. Free percentage is 5.00%";
const char *const AlertOnWire = "Free disk space on disk C:\\ was below warning level of 10.00% on Tue Dec  8 02:46:40 2026\r\n"
                                ".. Free space remaining 5.50 GB. Free percentage is 5.00%";

void PrepareMail(const char *server, const char *recipients, const char *from = "vellmark@example.test")
{
    ResetMonitor();
    strcpy(Monitor.MyHostName, "TESTHOST");
    PutTextInForce(&Monitor.EmailServer, server);
    PutTextInForce(&Monitor.EmailAddress, recipients);
    PutTextInForce(&Monitor.FromAddress, from);
    MailWaitMs = 1000;
    ClearPeerRecords();
}

// The whole script the client writes for one recipient, as a server receives it.
std::string Script(const char *from, const char *recipient, const char *bodyOnWire)
{
    return std::string("HELO 192.168.1.1\r\n") + "mail from: " + from + "\r\n" + "rcpt to: " + recipient + "\r\n" +
           "data\r\n" + "Subject: Disk Space Problem on TESTHOST.\r\n\r\n" + bodyOnWire + "\r\n.\r\n" + "quit\r\n";
}

std::vector<std::string> AllRecipients(const char *list, size_t size = RecipientSize)
{
    std::vector<std::string> found;
    char recipient[RecipientSize + 8];
    const char *cursor = list;
    while (NextRecipient(&cursor, recipient, size))
        found.push_back(recipient);
    return found;
}

DWORD MillisecondsOf(void (*call)(const char *), const char *argument)
{
    DWORD start = GetTickCount();
    call(argument);
    return GetTickCount() - start;
}

bool SocketLibraryStarted()
{
    SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (probe == INVALID_SOCKET)
        return WSAGetLastError() != WSANOTINITIALISED;
    closesocket(probe);
    return true;
}

}  // namespace

TEST_CASE("the recipient list: ';' ends a recipient, spaces and line breaks are dropped")
{
    const std::string longest(99, 'a');
    const std::string tooLong(100, 'b');
    struct Case {
        std::string list;
        std::vector<std::string> recipients;
    } cases[] = {
        {"ops@example.test;dev@example.test", {"ops@example.test", "dev@example.test"}},
        {"ops@example.test;dev@example.test;", {"ops@example.test", "dev@example.test"}},
        {"  ops@example.test  ", {"ops@example.test"}},
        {" ops @ example.test ; dev@example.test", {"ops@example.test", "dev@example.test"}},
        {"ops@example.test dev@example.test", {"ops@example.testdev@example.test"}},
        {"ops@example.test\r\ndev@example.test", {"ops@example.testdev@example.test"}},
        {"ops@example.test\ndev@example.test\r", {"ops@example.testdev@example.test"}},
        {" \r\n \n\r ", {}},
        {"", {}},
        {";ops@example.test;; ;dev@example.test", {"ops@example.test", "dev@example.test"}},
        {";", {}},
        {"Ops@Example.TEST\t,<x>", {"Ops@Example.TEST\t,<x>"}},
        {longest + ";" + tooLong + ";dev@example.test", {longest, "dev@example.test"}},
        {tooLong + " ", {}},
    };
    for (const Case &c : cases) {
        CAPTURE(c.list);
        CHECK(AllRecipients(c.list.c_str()) == c.recipients);
    }
    CHECK(AllRecipients(nullptr).empty());

    // Nothing is written past the storage, whatever the list holds.
    char storage[12];
    memset(storage, 'x', sizeof storage);
    const char *cursor = "abcdefghijklmnop;abc;";
    REQUIRE(NextRecipient(&cursor, storage, 8));
    CHECK(std::string(storage) == "abc");
    CHECK(std::string(storage + 4, 8) == "efgxxxxx");
    CHECK_FALSE(NextRecipient(&cursor, storage, 8));
}

TEST_CASE("the body goes out with CR LF line ends and every leading dot doubled")
{
    struct Case {
        const char *text;
        const char *wire;
    } cases[] = {
        {Alert, AlertOnWire},
        {".first", "..first"},
        {"a\r\nb", "a\r\nb"},
        {"a\rb", "a\r\nb"},
        {"a\n\nb\r\r", "a\r\n\r\nb\r\n\r\n"},
        {"a.b\n.\n..c", "a.b\r\n..\r\n...c"},
        {"\r\n.\r\n", "\r\n..\r\n"},
        {"", ""},
    };
    for (const Case &c : cases) {
        CAPTURE(c.text);
        char out[256];
        CHECK(EncodeMailBody(out, sizeof out, c.text));
        CHECK(std::string(out) == c.wire);
    }

    // Too little room: what fits, never half a line end or half a doubled dot.
    char out[16];
    memset(out, 'x', sizeof out);
    CHECK_FALSE(EncodeMailBody(out, 4, "ab\ncd"));
    CHECK(std::string(out) == "ab");
    CHECK_FALSE(EncodeMailBody(out, 4, "ab\n.c"));
    CHECK(std::string(out) == "ab");
    CHECK_FALSE(EncodeMailBody(out, 7, "ab\n.c"));
    CHECK(std::string(out) == "ab\r\n..");
    CHECK(out[7] == 'x');

    CopyWithoutLineBreaks(out, sizeof out, "me@x\r\nrcpt to:");
    CHECK(std::string(out) == "me@xrcpt to:");
    CopyWithoutLineBreaks(out, 5, "\nabcdef");
    CHECK(std::string(out) == "abcd");
}

TEST_CASE("two recipients reach the real server on two connections, one recipient each")
{
    MessageBoxCatcher catcher;
    for (const char *list : {"ops@example.test;dev@example.test", "ops@example.test;dev@example.test;"}) {
        CAPTURE(list);
        PrepareMail(PeerAddress(25).c_str(), list);
        SendEmail(Alert);
        std::vector<DeliveredMail> mails = DeliveredMails(2);
        REQUIRE(mails.size() == 2);
        CHECK(mails[0].clientPort != mails[1].clientPort);
        CHECK(mails[0].to == "ops@example.test");
        CHECK(mails[1].to == "dev@example.test");
        for (const DeliveredMail &mail : mails) {
            CHECK(mail.helo == "192.168.1.1");
            CHECK(mail.from == "vellmark@example.test");
            // The alert arrives as written, the line after the time text starting with '.'.
            CHECK(mail.content == std::string("Subject: Disk Space Problem on TESTHOST.\r\n\r\n") +
                                      "Free disk space on disk C:\\ was below warning level of 10.00% on Tue Dec  8 "
                                      "02:46:40 2026\r\n. Free space remaining 5.50 GB. Free percentage is 5.00%\r\n");
        }
    }

    // With no sender, the null sender, which the server takes.
    PrepareMail(PeerAddress(25).c_str(), "ops@example.test", nullptr);
    SendEmail("short alert");
    std::vector<DeliveredMail> mails = DeliveredMails(1);
    REQUIRE(mails.size() == 1);
    CHECK(mails[0].from == "<>");
    CHECK(mails[0].to == "ops@example.test");
    CHECK(catcher.boxes.empty());
}

TEST_CASE("the wire: the whole script in CR LF, the dot doubled, no configured line break")
{
    MessageBoxCatcher catcher;
    PrepareMail(PeerAddress(26).c_str(), "ops@example.test", nullptr);
    SendEmail(Alert);
    std::vector<std::string> records = PeerRecords("good", 1);
    REQUIRE(records.size() == 1);
    CHECK(records[0] == Script("<>", "ops@example.test", AlertOnWire));

    // A sender, recipient or computer name holding line breaks cannot start a command.
    PrepareMail(PeerAddress(26).c_str(), "ops@example.test\r\nrcpt to: evil@example.test", "me@example.test\r\nrcpt to: x@y");
    strcpy(Monitor.MyHostName, "TEST\r\nHOST");
    SendEmail("line one\r\n.\r\nrcpt to: z@y");
    records = PeerRecords("good", 1);
    REQUIRE(records.size() == 1);
    CHECK(records[0] == Script("me@example.testrcpt to: x@y", "ops@example.testrcptto:evil@example.test",
                               "line one\r\n..\r\nrcpt to: z@y"));
    CHECK(catcher.boxes.empty());
}

TEST_CASE("spaces and line breaks in the list: one connection per recipient, none for none")
{
    MessageBoxCatcher catcher;
    struct Case {
        const char *list;
        std::vector<std::string> recipients;
    } cases[] = {
        {"  ops@example.test \r\n", {"ops@example.test"}},
        {"ops@example.test\r\ndev@example.test", {"ops@example.testdev@example.test"}},
        {";ops@example.test;;dev@example.test", {"ops@example.test", "dev@example.test"}},
    };
    for (const Case &c : cases) {
        CAPTURE(c.list);
        PrepareMail(PeerAddress(26).c_str(), c.list);
        SendEmail("alert");
        std::vector<std::string> records = PeerRecords("good", c.recipients.size());
        REQUIRE(records.size() == c.recipients.size());
        for (size_t i = 0; i < records.size(); i++)
            CHECK(records[i] == Script("vellmark@example.test", c.recipients[i].c_str(), "alert"));
    }

    // Only spaces and line breaks: the first connection is opened and closed unused.
    PrepareMail(PeerAddress(26).c_str(), " \r\n \n ");
    SendEmail("alert");
    std::vector<std::string> records = PeerRecords("good", 1);
    REQUIRE(records.size() == 1);
    CHECK(records[0].empty());
    CHECK(catcher.boxes.empty());
}

TEST_CASE("a server that cannot be reached: one box, the call ends, nothing is sent")
{
    MessageBoxCatcher catcher;
    const char *five = "a@example.test;b@example.test;c@example.test;d@example.test;e@example.test";
    struct Case {
        std::string server;
        bool inForce;
        DWORD leastMs;
    } cases[] = {
        {PeerAddress(33), true, 0},       // nothing listens: refused at once
        {PeerAddress(30), true, 950},     // the request is never answered: the limit ends it
        {"mail.example.test", true, 0},   // a name validation could not resolve
        {"", false, 0},                   // the server was cleared while monitoring
    };
    for (const Case &c : cases) {
        CAPTURE(c.server);
        PrepareMail(c.inForce ? c.server.c_str() : nullptr, five);
        catcher.boxes.clear();
        DWORD spent = MillisecondsOf(SendEmail, Alert);
        CHECK(spent >= c.leastMs);
        CHECK(spent < MailWaitMs + 2000);
        REQUIRE(catcher.boxes.size() == 1);
        CHECK(catcher.boxes[0].caption == "Error");
        CHECK(catcher.boxes[0].text == "Couldn't connect to mail server");
    }
}

TEST_CASE("a server that refuses every command still receives the whole script, silently")
{
    MessageBoxCatcher catcher;
    PrepareMail(PeerAddress(27).c_str(), "ops@example.test;dev@example.test");
    SendEmail(Alert);
    std::vector<std::string> records = PeerRecords("refuse", 2);
    REQUIRE(records.size() == 2);
    CHECK(records[0] == Script("vellmark@example.test", "ops@example.test", AlertOnWire));
    CHECK(records[1] == Script("vellmark@example.test", "dev@example.test", AlertOnWire));

    // One that hangs up at once holds nothing up either, and each recipient is tried.
    PrepareMail(PeerAddress(31).c_str(), "ops@example.test;dev@example.test;qa@example.test");
    MailWaitMs = 10000;
    DWORD spent = MillisecondsOf(SendEmail, Alert);
    CHECK(spent < 3000);
    CHECK(PeerRecords("hangup", 3).size() == 3);
    CHECK(catcher.boxes.empty());
}

TEST_CASE("a server that stops answering costs one limit per recipient, and the next is tried")
{
    MessageBoxCatcher catcher;
    PrepareMail(PeerAddress(28).c_str(), "ops@example.test;dev@example.test");
    DWORD spent = MillisecondsOf(SendEmail, Alert);
    CHECK(spent >= 1900);
    CHECK(spent < 5000);
    std::vector<std::string> records = PeerRecords("silent", 2);
    REQUIRE(records.size() == 2);
    CHECK(records[0].empty());
    CHECK(records[1].empty());

    // A reply that never comes ends that exchange at its step: nothing after it is sent.
    PrepareMail(PeerAddress(29).c_str(), "ops@example.test");
    spent = MillisecondsOf(SendEmail, Alert);
    CHECK(spent >= 950);
    CHECK(spent < 4000);
    records = PeerRecords("stall", 1);
    REQUIRE(records.size() == 1);
    CHECK(records[0] == "HELO 192.168.1.1\r\nmail from: vellmark@example.test\r\nrcpt to: ops@example.test\r\n");
    CHECK(catcher.boxes.empty());
}

namespace {

// While the box of a failed connect is open the user may restart monitoring with other
// entries; the call under way goes on with the list it started with.
LRESULT CALLBACK RestartOnBox(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE) {
        PutTextInForce(&Monitor.EmailServer, PeerAddress(26).c_str());
        PutTextInForce(&Monitor.EmailAddress, "other@example.test");
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

TEST_CASE("a later recipient whose connect fails gets nothing; the next one is still served")
{
    MessageBoxCatcher catcher;
    HHOOK hook = SetWindowsHookExA(WH_CBT, RestartOnBox, nullptr, GetCurrentThreadId());
    REQUIRE(hook);
    // The one-shot server takes the first connection and refuses the next.
    PrepareMail(PeerAddress(32).c_str(), "a@example.test;b@example.test;c@example.test");
    SendEmail("alert");
    UnhookWindowsHookEx(hook);

    REQUIRE(catcher.boxes.size() == 1);
    CHECK(catcher.boxes[0].text == "Couldn't connect to mail server");
    std::vector<std::string> first = PeerRecords("oneshot", 1);
    REQUIRE(first.size() == 1);
    CHECK(first[0] == Script("vellmark@example.test", "a@example.test", "alert"));
    std::vector<std::string> rest = PeerRecords("good", 1);
    REQUIRE(rest.size() == 1);
    CHECK(rest[0] == Script("vellmark@example.test", "c@example.test", "alert"));
}

namespace {

// One check tick that arrives while the box is open mails again, once to a server that
// works and once to one that cannot be reached. (A box may be activated more than once.)
bool tickPending = false;

LRESULT CALLBACK TickOnBox(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE && tickPending) {
        tickPending = false;
        PutTextInForce(&Monitor.EmailServer, PeerAddress(26).c_str());
        SendEmail("inner alert");
        PutTextInForce(&Monitor.EmailServer, PeerAddress(33).c_str());
        SendEmail("inner alert");
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

TEST_CASE("while an error box is open, mail still goes out but no second box piles up")
{
    MessageBoxCatcher catcher;
    HHOOK hook = SetWindowsHookExA(WH_CBT, TickOnBox, nullptr, GetCurrentThreadId());
    REQUIRE(hook);
    PrepareMail(PeerAddress(33).c_str(), "ops@example.test");
    tickPending = true;
    SendEmail("alert");
    UnhookWindowsHookEx(hook);

    CHECK(catcher.boxes.size() == 1);
    std::vector<std::string> records = PeerRecords("good", 1);
    REQUIRE(records.size() == 1);
    CHECK(records[0] == Script("vellmark@example.test", "ops@example.test", "inner alert"));

    // Once it is closed, the next failure shows its box again.
    PrepareMail(PeerAddress(33).c_str(), "ops@example.test");
    SendEmail("alert");
    CHECK(catcher.boxes.size() == 2);
}

TEST_CASE("every start of the socket library is undone once, on every road")
{
    MessageBoxCatcher catcher;
    WSADATA wsaData;
    struct Case {
        int server;
        const char *list;
    } cases[] = {
        {26, "ops@example.test;dev@example.test"},
        {26, " "},
        {33, "ops@example.test"},
        {28, "ops@example.test"},
    };
    REQUIRE_FALSE(SocketLibraryStarted());
    for (const Case &c : cases) {
        CAPTURE(c.server);
        CAPTURE(c.list);
        // Our own start must survive the call (no clean-up too many), and be the only one left.
        REQUIRE(WSAStartup(MAKEWORD(2, 2), &wsaData) == 0);
        PrepareMail(PeerAddress(c.server).c_str(), c.list);
        SendEmail("alert");
        CHECK(SocketLibraryStarted());
        WSACleanup();
        CHECK_FALSE(SocketLibraryStarted());
    }
}
