// The alert mailer against real servers on loopback addresses (tests/mail/peers.py):
// aiosmtpd for delivery, recording servers for the exact bytes and for servers that
// answer in pieces, refuse, stall, hang up or cannot be reached. The real dialog shows
// what the mail worker reports.
#include "mail/smtp.h"
#include "resources/resource.h"
#include "tests/mail/peer_records.h"
#include "tests/support/testing.h"

#include <doctest.h>

#include <winsock2.h>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char *const Alert = "Free disk space on disk C:\\ was below warning level of 10.00% on Tue Dec  8 02:46:40 2026\n"
                          ". Free space remaining 5.50 GB. Free percentage is 5.00%";
const char *const AlertOnWire = "Free disk space on disk C:\\ was below warning level of 10.00% on Tue Dec  8 02:46:40 2026\r\n"
                                ".. Free space remaining 5.50 GB. Free percentage is 5.00%";
// The body as a server stores it.
const char *const AlertStored = "Free disk space on disk C:\\ was below warning level of 10.00% on Tue Dec  8 02:46:40 2026\r\n"
                                ". Free space remaining 5.50 GB. Free percentage is 5.00%\r\n";

// Every wait of the exchange, shortened so that a stalled server costs a second.
const MailTimeLimits ShortLimits = {1000, 1000, 1000, 1000, 1000, 1000, 1000};

// The real dialog, which shows what the mail worker reports; one per test case.
struct Mailing : MainDialog {
    std::string server, recipients, from, host = "TESTHOST";
    bool noServer = false, noFrom = false;

    void Prepare(const char *server, const char *recipients, const char *from = "vellmark@example.test")
    {
        REQUIRE(WaitForMail());
        noServer = !server;
        noFrom = !from;
        this->server = server ? server : "";
        this->recipients = recipients;
        this->from = from ? from : "";
        host = "TESTHOST";
        MailLimits = ShortLimits;
        ClearPeerRecords();
    }

    // Hands the alert over as a check does.
    bool HandOver(const char *alert)
    {
        MailRequest request = {noServer ? nullptr : server.c_str(), noFrom ? nullptr : from.c_str(), host.c_str(),
                               recipients.c_str(), alert, hDlg, WM_MAILREPORT};
        return SendEmail(request);
    }

    // Hands the alert over and waits for its delivery to end; returns the milliseconds it
    // took.
    DWORD Send(const char *alert)
    {
        DWORD start = GetTickCount();
        REQUIRE(HandOver(alert));
        REQUIRE(WaitForMail());
        return GetTickCount() - start;
    }
};

// The commands up to RCPT for one recipient, as a server receives them; "" sends the null
// sender.
std::string Commands(const std::string &from, const std::string &recipient)
{
    return "EHLO " + ExpectedGreeting() + "\r\nMAIL FROM:<" + from + ">\r\nRCPT TO:<" + recipient + ">\r\n";
}

// The whole script the client writes for one recipient, as a server receives it, with the
// values of Date and Message-ID, which change with each copy, as "*" (see Masked).
std::string Script(const std::string &from, const std::string &recipient, const char *bodyOnWire)
{
    std::string sender = from.empty() ? "vellmark@" + ExpectedGreeting() : from;
    return Commands(from, recipient) + "DATA\r\n" + "Date: *\r\nFrom: Vellmark Alert <" + sender + ">\r\nTo: <" +
           recipient + ">\r\nSubject: Disk Space Problem on TESTHOST.\r\nMessage-ID: *\r\nMIME-Version: 1.0\r\n" +
           "Content-Type: text/plain; charset=us-ascii\r\nContent-Transfer-Encoding: 7bit\r\n\r\n" + bodyOnWire +
           "\r\n.\r\nQUIT\r\n";
}

// The value of a header field of a message, none when it has none.
std::string FieldOf(const std::string &message, const char *name)
{
    size_t at = message.find(std::string("\n") + name + ": ");
    if (at == std::string::npos || at > message.find("\r\n\r\n"))
        return "(none)";
    at += strlen(name) + 3;
    return message.substr(at, message.find("\r\n", at) - at);
}

// A script with the values of Date and Message-ID as "*".
std::string Masked(std::string record)
{
    for (const char *name : {"Date", "Message-ID"}) {
        std::string value = FieldOf(record, name);
        if (value != "(none)")
            record.replace(record.find(value, record.find(std::string("\n") + name + ": ")), value.size(), "*");
    }
    return record;
}

// Every recipient of a list, one cut to fit marked with a '!'.
std::vector<std::string> AllRecipients(const char *list)
{
    std::vector<std::string> found;
    char recipient[RecipientSize];
    bool whole;
    const char *cursor = list;
    while (NextRecipient(&cursor, recipient, sizeof recipient, &whole))
        found.push_back(std::string(recipient) + (whole ? "" : "!"));
    return found;
}

bool SocketLibraryStarted()
{
    SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (probe == INVALID_SOCKET)
        return WSAGetLastError() != WSANOTINITIALISED;
    closesocket(probe);
    return true;
}

// The starts of the socket library not undone: as many clean-ups as it takes to end it,
// and as many starts again.
int SocketLibraryStarts()
{
    int starts = 0;
    while (SocketLibraryStarted() && WSACleanup() == 0)
        starts++;
    WSADATA wsaData;
    for (int i = 0; i < starts; i++)
        WSAStartup(MAKEWORD(2, 2), &wsaData);
    return starts;
}

}  // namespace

TEST_CASE("the recipient list: ';' ends a recipient, spaces and line breaks are dropped")
{
    const std::string longest(256, 'a');
    const std::string tooLong(257, 'b');
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
        {longest + ";" + tooLong + ";dev@example.test", {longest, std::string(256, 'b') + "!", "dev@example.test"}},
        {tooLong + " ", {std::string(256, 'b') + "!"}},
    };
    for (const Case &c : cases) {
        CAPTURE(c.list);
        CHECK(AllRecipients(c.list.c_str()) == c.recipients);
        CHECK(HoldsRecipient(c.list.c_str()) == !c.recipients.empty());
    }
    CHECK(AllRecipients(nullptr).empty());
    CHECK_FALSE(HoldsRecipient(nullptr));

    // Nothing is written past the storage, whatever the list holds.
    char storage[12];
    memset(storage, 'x', sizeof storage);
    const char *cursor = "abcdefghijklmnop;abc;";
    bool whole;
    REQUIRE(NextRecipient(&cursor, storage, 8, &whole));
    CHECK_FALSE(whole);
    CHECK(std::string(storage) == "abcdefg");
    CHECK(storage[8] == 'x');
    REQUIRE(NextRecipient(&cursor, storage, 8, &whole));
    CHECK(whole);
    CHECK(std::string(storage) == "abc");
    CHECK_FALSE(NextRecipient(&cursor, storage, 8, &whole));
}

TEST_CASE("the body goes out with CR LF line ends and every leading dot doubled; addresses and names as servers "
          "take them")
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

    CopyVisible(out, sizeof out, "me@x\r\nrcpt to:");
    CHECK(std::string(out) == "me@xrcptto:");
    CopyVisible(out, 5, "\n\tabcdef");
    CHECK(std::string(out) == "abcd");

    // A path in one pair of brackets; none outside ASCII, none cut.
    struct Path {
        const char *address, *path;
    } paths[] = {
        {"ops@example.test", "<ops@example.test>"}, {"<ops@example.test>", "<ops@example.test>"}, {"", "<>"},
        {"<", "<<>"}, {"j\xC3\xA9@example", ""}, {"abcdefghijklmnopqr", ""},
        {"<abcdefghijklmnopq>", "<abcdefghijklmnopq>"},
    };
    for (const Path &p : paths) {
        CAPTURE(p.address);
        char path[24];
        memset(path, 'x', sizeof path);
        CHECK(BracketAddress(path, 20, p.address) == (*p.path != '\0'));
        CHECK(std::string(path) == p.path);
        CHECK(path[20] == 'x');
    }

    // The names a server takes as fully qualified in a greeting.
    const std::string label63(63, 'a');
    for (const std::string &name : std::vector<std::string>{"PC-7.corp.example.com", label63 + ".example"})
        CHECK(IsDomainName(name.c_str()));
    for (const std::string &name : std::vector<std::string>{"pc7", "pc_7.example.com", "-pc.example.com",
                                                            "pc-.example.com", "pc..example", ".example.com",
                                                            "example.com.", "p\xC3\xA9.example", label63 + "a.example"})
        CHECK_FALSE(IsDomainName(name.c_str()));
}

TEST_CASE("two recipients reach the real server on two connections, one recipient each")
{
    MessageBoxCatcher catcher;
    Mailing mailing;
    for (const char *list : {"ops@example.test;dev@example.test", "ops@example.test;dev@example.test;"}) {
        CAPTURE(list);
        mailing.Prepare(PeerAddress(25).c_str(), list);
        mailing.Send(Alert);
        std::vector<DeliveredMail> mails = DeliveredMails(2);
        REQUIRE(mails.size() == 2);
        CHECK(mails[0].clientPort != mails[1].clientPort);
        CHECK(mails[0].to == "ops@example.test");
        CHECK(mails[1].to == "dev@example.test");
        for (const DeliveredMail &mail : mails) {
            CAPTURE(mail.content);
            // The computer has no DNS domain here (or the test knows it): the connection's own
            // address, as the server saw it, in brackets.
            CHECK(mail.helo == ExpectedGreeting());
            if (ExpectedGreeting()[0] == '[')
                CHECK(mail.helo == "[" + mail.clientAddress + "]");
            CHECK(mail.from == "vellmark@example.test");
            // Every header field a reader needs, read by Python's email package without a
            // defect; the alert arrives as written, the line after the time text starting with '.'.
            CHECK(mail.verdict == "ok");
            CHECK(mail.subject == "Disk Space Problem on TESTHOST.");
            CHECK(FieldOf(mail.content, "From") == "Vellmark Alert <vellmark@example.test>");
            CHECK(FieldOf(mail.content, "To") == "<" + mail.to + ">");
            CHECK(mail.content.substr(mail.content.find("\r\n\r\n") + 4) == AlertStored);
        }
        // Each copy has a name of its own, on the right the name of the greeting.
        const std::string id = FieldOf(mails[0].content, "Message-ID");
        CHECK(id != FieldOf(mails[1].content, "Message-ID"));
        CHECK(id.substr(id.find('@')) == "@" + mails[0].helo + ">");
    }

    // With no sender, or one of spaces only, the null sender, which the server takes.
    for (const char *from : {static_cast<const char *>(nullptr), "   "}) {
        CAPTURE(from);
        mailing.Prepare(PeerAddress(25).c_str(), "ops@example.test", from);
        mailing.Send("short alert");
        std::vector<DeliveredMail> mails = DeliveredMails(1);
        REQUIRE(mails.size() == 1);
        CHECK(mails[0].from == "<>");
        CHECK(mails[0].to == "ops@example.test");
        // The header names an address at the greeting's name, which a reader takes.
        CHECK(FieldOf(mails[0].content, "From") == "Vellmark Alert <vellmark@" + mails[0].helo + ">");
        CHECK(mails[0].verdict == "ok");
    }

    // A computer's name outside ASCII arrives as it is, in encoded-words none of which is
    // longer than 75 characters; each holds whole characters.
    const char *host = "\xC3\x9C" "ber-\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE6\x97\xA5\xE6\x9C\xAC"
                       "\xE8\xAA\x9E\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE6\x97\xA5";
    mailing.Prepare(PeerAddress(25).c_str(), "ops@example.test");
    mailing.host = host;
    mailing.Send("short alert");
    std::vector<DeliveredMail> mails = DeliveredMails(1);
    REQUIRE(mails.size() == 1);
    CHECK(mails[0].verdict == "ok");
    CHECK(mails[0].subject == std::string("Disk Space Problem on ") + host + ".");
    CHECK(catcher.boxes.empty());
}

TEST_CASE("SpamAssassin's local rules find nothing wrong with the alert's header fields or its greeting")
{
    MessageBoxCatcher catcher;
    Mailing mailing;
    // With a sender and with none, as a recipient's server sees the alert after a relay.
    for (const char *from : {"vellmark@example.test", static_cast<const char *>(nullptr)}) {
        CAPTURE(from);
        mailing.Prepare(PeerAddress(25).c_str(), "spamcheck@example.test", from);
        mailing.Send(Alert);
        std::vector<std::string> verdicts = PeerRecords("spamassassin", 1, 60000);
        REQUIRE(verdicts.size() == 1);
        const std::string &status = verdicts[0];
        MESSAGE(status);
        REQUIRE(status.compare(0, 6, "score=") == 0);
        const std::string rules = "," + status.substr(status.find(" tests=") + 7);
        for (const char *rule : {",MISSING_", ",FSL_HELO_BARE_IP_", ",NO_FM_NAME_IP_HOSTN", ",TO_NO_BRKTS_"})
            CHECK(rules.find(rule) == std::string::npos);
    }
    CHECK(catcher.boxes.empty());
}

TEST_CASE("the wire: the whole script in CR LF, the dot doubled, no configured line break")
{
    MessageBoxCatcher catcher;
    Mailing mailing;
    mailing.Prepare(PeerAddress(26).c_str(), "ops@example.test", nullptr);
    mailing.Send(Alert);
    std::vector<std::string> records = PeerRecords("good", 1);
    REQUIRE(records.size() == 1);
    CHECK(Masked(records[0]) == Script("", "ops@example.test", AlertOnWire));

    // Addresses typed in their own brackets get no second pair; blanks around the sender
    // are no part of it.
    mailing.Prepare(PeerAddress(26).c_str(), "<ops@example.test>", "  <vm@example.test> ");
    mailing.Send("alert");
    records = PeerRecords("good", 1);
    REQUIRE(records.size() == 1);
    CHECK(Masked(records[0]) == Script("vm@example.test", "ops@example.test", "alert"));

    // A server that does not know EHLO is greeted with HELO, under the same name, on the
    // same connection, and takes the mail.
    mailing.Prepare(PeerAddress(40).c_str(), "ops@example.test");
    mailing.Send("alert");
    records = PeerRecords("oldhelo", 1);
    REQUIRE(records.size() == 1);
    std::string script = Script("vellmark@example.test", "ops@example.test", "alert");
    CHECK(Masked(records[0]) == script.insert(script.find("MAIL"), "HELO " + ExpectedGreeting() + "\r\n"));

    // A sender, recipient or computer name holding line breaks cannot start a command.
    mailing.Prepare(PeerAddress(26).c_str(), "ops@example.test\r\nrcpt to: evil@example.test", "me@example.test\r\nrcpt to: x@y");
    mailing.host = "TEST\r\nHOST";
    mailing.Send("line one\r\n.\r\nrcpt to: z@y");
    records = PeerRecords("good", 1);
    REQUIRE(records.size() == 1);
    CHECK(Masked(records[0]) == Script("me@example.testrcptto:x@y", "ops@example.testrcptto:evil@example.test",
                                       "line one\r\n..\r\nrcpt to: z@y"));
    CHECK(catcher.boxes.empty());
}

TEST_CASE("where the server offers STARTTLS the alert goes through TLS, also when its records come in pieces")
{
    MessageBoxCatcher catcher;
    Mailing mailing;
    // The relay passes the connection on to the server that takes nothing before
    // STARTTLS, its replies five bytes at a time.
    for (int host : {42, 44}) {
        CAPTURE(host);
        mailing.Prepare(PeerAddress(host).c_str(), "ops@example.test");
        MailLimits = {5000, 5000, 5000, 5000, 5000, 5000, 5000};
        mailing.Send(Alert);
        std::vector<DeliveredMail> mails = DeliveredMails(1, 5000, host == 42 ? "starttls" : "tlsonly");
        REQUIRE(mails.size() == 1);
        CHECK(mails[0].tls == "TLSv1.2");
        CHECK(mails[0].helo == ExpectedGreeting());
        CHECK(mails[0].verdict == "ok");
        CHECK(mails[0].content.substr(mails[0].content.find("\r\n\r\n") + 4) == AlertStored);
    }
    // After STARTTLS nothing but TLS records, the last of them an alert: close_notify.
    std::vector<std::string> records = PeerRecords("relay", 1);
    REQUIRE(records.size() == 1);
    const std::string plain = "EHLO " + ExpectedGreeting() + "\r\nSTARTTLS\r\n";
    REQUIRE(records[0].compare(0, plain.size(), plain) == 0);
    size_t at = plain.size();
    int type = 0;
    for (; at + 5 <= records[0].size(); at += 5 + (records[0][at + 3] & 0xFF) * 256 + (records[0][at + 4] & 0xFF))
        type = records[0][at];
    CHECK(at == records[0].size());
    CHECK(type == 21);
    CHECK(catcher.boxes.empty());
}

TEST_CASE("a failed TLS handshake: the recipient once more in the clear, where only a refusal is told")
{
    MessageBoxCatcher catcher;
    Mailing mailing;
    // The server never answers the handshake: it fails when the time is up, once for the
    // alert, and every recipient goes in the clear.
    mailing.Prepare(PeerAddress(45).c_str(), "ops@example.test;secret@example.test");
    CHECK(mailing.Send(Alert) < 1900);
    std::vector<std::string> records = PeerRecords("tlsstall", 3);
    REQUIRE(records.size() == 3);
    CHECK(records[0].find("EHLO " + ExpectedGreeting() + "\r\nSTARTTLS\r\n") == 0);
    CHECK(records[0].find("MAIL") == std::string::npos);
    CHECK(Masked(records[1]) == Script("vellmark@example.test", "ops@example.test", AlertOnWire));
    CHECK(records[2] == Commands("vellmark@example.test", "secret@example.test") + "QUIT\r\n");
    REQUIRE(catcher.boxes.size() == 1);
    CHECK(catcher.boxes[0].text == "Mail server refused secret@example.test: 530 5.7.0 Must issue a STARTTLS command "
                                   "first\n\nTried without encryption, since the TLS handshake failed");
}

TEST_CASE("without SECUR32 the alert goes in the clear where STARTTLS is offered" * doctest::skip())
{
    REQUIRE_FALSE(LoadLibraryA("secur32.dll"));
    MessageBoxCatcher catcher;
    Mailing mailing;
    mailing.Prepare(PeerAddress(42).c_str(), "ops@example.test");
    mailing.Send(Alert);
    std::vector<DeliveredMail> mails = DeliveredMails(1, 5000, "starttls");
    REQUIRE(mails.size() == 1);
    CHECK(mails[0].tls == "plain");
    CHECK(catcher.boxes.empty());
}

TEST_CASE("a reply is read whole, however many lines it has; its last line's code decides")
{
    struct Case {
        const char *line;
        int code;
        bool last;
    } cases[] = {
        {"250 ok\r\n", 250, true}, {"250\r\n", 250, true}, {"354\n", 354, true}, {"250-a\r\n", 250, false},
        {"25\n", -1, false}, {"ok\r\n", -1, false}, {"250+\r\n", -1, false}, {"2x0 ok\r\n", -1, false},
    };
    for (const Case &c : cases) {
        CAPTURE(c.line);
        bool last = !c.last;
        CHECK(ReplyLineCode(c.line, strlen(c.line), &last) == c.code);
        if (c.code >= 0)
            CHECK(last == c.last);
    }

    // A server that sends its greeting and every reply in several lines and pieces, with
    // pauses, gets each command only once the whole reply has come, and takes the mail.
    MessageBoxCatcher catcher;
    Mailing mailing;
    mailing.Prepare(PeerAddress(37).c_str(), "ops@example.test");
    MailLimits = {5000, 5000, 5000, 5000, 5000, 5000, 5000};
    mailing.Send(Alert);
    std::vector<std::string> records = PeerRecords("strict", 1);
    REQUIRE(records.size() == 1);
    CHECK(Masked(records[0]) == Script("vellmark@example.test", "ops@example.test", AlertOnWire));
    CHECK(catcher.boxes.empty());

    // A greeting longer than 4 KiB is read whole; "250-" and then a refusal after the final
    // '.' is a refusal, quoted by its own line.
    mailing.Prepare(PeerAddress(39).c_str(), "ops@example.test");
    mailing.Send(Alert);
    records = PeerRecords("verbose", 1);
    REQUIRE(records.size() == 1);
    CHECK(Masked(records[0]) == Script("vellmark@example.test", "ops@example.test", AlertOnWire));
    REQUIRE(catcher.boxes.size() == 1);
    CHECK(catcher.boxes[0].text == "Mail server refused ops@example.test: 554 5.7.1 rejected after checking");
}

TEST_CASE("spaces and line breaks in the list: one connection per recipient")
{
    MessageBoxCatcher catcher;
    Mailing mailing;
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
        mailing.Prepare(PeerAddress(26).c_str(), c.list);
        mailing.Send("alert");
        std::vector<std::string> records = PeerRecords("good", c.recipients.size());
        REQUIRE(records.size() == c.recipients.size());
        for (size_t i = 0; i < records.size(); i++)
            CHECK(Masked(records[i]) == Script("vellmark@example.test", c.recipients[i], "alert"));
    }
    CHECK(catcher.boxes.empty());
}

// The box text for a failure that ends the alert, and the recipients it did not reach.
std::string NotReached(const std::string &failure, const char *recipients)
{
    return failure + "\n\nThe alert did not reach: " + recipients;
}

TEST_CASE("a server that cannot be reached, or a text that names none: one box names every recipient, nothing is sent")
{
    MessageBoxCatcher catcher;
    Mailing mailing;
    const char *five = "a@example.test;b@example.test;c@example.test;d@example.test;e@example.test";
    const std::string told = NotReached("Couldn't connect to mail server", "a@example.test; b@example.test; "
                                        "c@example.test; d@example.test; e@example.test");
    // The good server's address as the socket library would also read it: its last number
    // in octal, and the short form with the last three numbers as one.
    const std::string good = PeerAddress(26);
    const std::string prefix = good.substr(0, good.size() - 2);
    int third = atoi(prefix.c_str() + prefix.find('.', 4) + 1);
    struct Case {
        std::string server;
        bool inForce;
        DWORD leastMs, mostMs;
    } cases[] = {
        {PeerAddress(33), true, 0, 900},        // nothing listens: refused at once
        // The request is never answered: the limit ends it, once for all five.
        {PeerAddress(30), true, 950, 1900},
        // A label longer than 63 characters: the resolver refuses it without asking anyone.
        {std::string(64, 'x') + ".test", true, 0, 900},
        {"", false, 0, 900},                    // the server was cleared while monitoring
        {prefix + "032", true, 0, 900},
        {"127." + std::to_string(third * 256 + 26), true, 0, 900},
        {"[" + good + "]", true, 0, 900},
    };
    for (const Case &c : cases) {
        CAPTURE(c.server);
        mailing.Prepare(c.inForce ? c.server.c_str() : nullptr, five);
        catcher.boxes.clear();
        DWORD spent = mailing.Send(Alert);
        CHECK(spent >= c.leastMs);
        CHECK(spent <= c.mostMs);
        REQUIRE(catcher.boxes.size() == 1);
        CHECK(catcher.boxes[0].caption == "Error");
        CHECK(catcher.boxes[0].text == told);
        CHECK(PeerRecords("good", 0, 200).empty());
    }
}

TEST_CASE("a refusal ends that recipient's exchange with quit and is shown; the next recipient is still tried")
{
    MessageBoxCatcher catcher;
    Mailing mailing;
    mailing.Prepare(PeerAddress(38).c_str(), "unknown@example.test;ops@example.test;unknown2@example.test");
    mailing.Send(Alert);
    std::vector<std::string> records = PeerRecords("picky", 3);
    REQUIRE(records.size() == 3);
    CHECK(records[0] == Commands("vellmark@example.test", "unknown@example.test") + "QUIT\r\n");
    CHECK(Masked(records[1]) == Script("vellmark@example.test", "ops@example.test", AlertOnWire));
    // Each refusal is told in a box of its own, one after the other.
    REQUIRE(catcher.boxes.size() == 2);
    CHECK(catcher.boxes[0].caption == "Error");
    CHECK(catcher.boxes[0].text == "Mail server refused unknown@example.test: 550 5.1.1 no such user");
    CHECK(catcher.boxes[1].text == "Mail server refused unknown2@example.test: 550 5.1.1 no such user");

    // A server that refuses its greeting gets nothing but quit from each recipient.
    catcher.boxes.clear();
    mailing.Prepare(PeerAddress(27).c_str(), "ops@example.test;dev@example.test");
    mailing.Send(Alert);
    records = PeerRecords("refuse", 2);
    REQUIRE(records.size() == 2);
    CHECK(records[0] == "QUIT\r\n");
    CHECK(records[1] == "QUIT\r\n");
    REQUIRE(catcher.boxes.size() == 2);
    CHECK(catcher.boxes[1].text == "Mail server refused dev@example.test: 554 no service here");

    // An address longer than any path a server takes is named, never skipped in silence;
    // the others still get the alert.
    catcher.boxes.clear();
    const std::string longest = std::string(243, 'l') + "@example.test";
    const std::string list = longest + ";" + std::string(257, 'x') + ";ops@example.test";
    mailing.Prepare(PeerAddress(26).c_str(), list.c_str());
    mailing.Send("alert");
    records = PeerRecords("good", 2);
    REQUIRE(records.size() == 2);
    CHECK(Masked(records[0]) == Script("vellmark@example.test", longest, "alert"));
    CHECK(Masked(records[1]) == Script("vellmark@example.test", "ops@example.test", "alert"));
    REQUIRE(catcher.boxes.size() == 1);
    CHECK(catcher.boxes[0].text ==
          "The alert was not sent to an address longer than 256 characters: " + std::string(256, 'x') + "...");

    // So is an address outside ASCII, which no path may hold; without a sender's, nobody
    // is mailed, and every recipient is named.
    catcher.boxes.clear();
    mailing.Prepare(PeerAddress(26).c_str(), "jos\xC3\xA9@example.test;ops@example.test");
    mailing.Send("alert");
    records = PeerRecords("good", 1);
    REQUIRE(records.size() == 1);
    CHECK(Masked(records[0]) == Script("vellmark@example.test", "ops@example.test", "alert"));
    mailing.Prepare(PeerAddress(26).c_str(), "ops@example.test;dev@example.test", "vm\xC3\xA9@example.test");
    mailing.Send("alert");
    CHECK(PeerRecords("good", 0, 200).empty());
    REQUIRE(catcher.boxes.size() == 2);
    CHECK(catcher.boxes[0].text ==
          "The alert was not sent to an address with characters outside ASCII: jos\xC3\xA9@example.test");
    CHECK(catcher.boxes[1].text == NotReached("The alert was not sent from an address with characters outside "
                                              "ASCII: vm\xC3\xA9@example.test", "ops@example.test; dev@example.test"));
}

TEST_CASE("a server that stops answering or hangs up costs one wait per alert, and names every recipient")
{
    MessageBoxCatcher catcher;
    Mailing mailing;
    mailing.Prepare(PeerAddress(28).c_str(), "ops@example.test;dev@example.test;qa@example.test");
    // While the alert is still being delivered, the next one is not handed over.
    DWORD start = GetTickCount();
    REQUIRE(mailing.HandOver(Alert));
    CHECK(MailInFlight());
    CHECK_FALSE(mailing.HandOver("the next check's alert"));
    REQUIRE(WaitForMail());
    DWORD spent = GetTickCount() - start;
    CHECK(spent >= 950);
    CHECK(spent < 1900);
    std::vector<std::string> records = PeerRecords("silent", 1);
    REQUIRE(records.size() == 1);
    CHECK(records[0].empty());
    const char *three = "ops@example.test; dev@example.test; qa@example.test";
    REQUIRE(catcher.boxes.size() == 1);
    CHECK(catcher.boxes[0].text ==
          NotReached("Mail server stopped answering before the alert reached ops@example.test", three));

    // A reply that never comes ends that exchange at its step: nothing after it is sent.
    mailing.Prepare(PeerAddress(29).c_str(), "ops@example.test");
    CHECK(mailing.Send(Alert) >= 950);
    records = PeerRecords("stall", 1);
    REQUIRE(records.size() == 1);
    CHECK(records[0] == Commands("vellmark@example.test", "ops@example.test"));
    REQUIRE(catcher.boxes.size() == 2);
    CHECK(catcher.boxes[1].text ==
          NotReached("Mail server stopped answering before the alert reached ops@example.test", "ops@example.test"));

    // One that hangs up at once holds nothing up either.
    mailing.Prepare(PeerAddress(31).c_str(), "ops@example.test;dev@example.test;qa@example.test");
    MailLimits.greeting = 10000;
    CHECK(mailing.Send(Alert) < 3000);
    CHECK(PeerRecords("hangup", 1).size() == 1);
    REQUIRE(catcher.boxes.size() == 3);
    CHECK(catcher.boxes[2].text ==
          NotReached("Mail server stopped answering before the alert reached ops@example.test", three));

    // The one-shot server takes the first connection and refuses the next ones: the first
    // recipient has the alert, the others are named.
    mailing.Prepare(PeerAddress(32).c_str(), "a@example.test;b@example.test;c@example.test");
    mailing.Send("alert");
    std::vector<std::string> first = PeerRecords("oneshot", 1);
    REQUIRE(first.size() == 1);
    CHECK(Masked(first[0]) == Script("vellmark@example.test", "a@example.test", "alert"));
    REQUIRE(catcher.boxes.size() == 4);
    CHECK(catcher.boxes[3].text == NotReached("Couldn't connect to mail server", "b@example.test; c@example.test"));
}

TEST_CASE("reports wait while a box is open, each shown once; a repeat of one open or waiting is dropped; "
          "one waits for each recipient and step, the newest")
{
    MessageBoxCatcher catcher;
    Mailing mailing;
    const std::string refused = NotReached("Couldn't connect to mail server", "ops@example.test");
    // While the first box is open, the same failure twice and another one twice come, and
    // a Stop or Start ends no alert then: the reports of alerts that ended stay.
    catcher.whileOpen = [&] {
        if (catcher.boxes.size() != 1)
            return;
        for (int i = 0; i < 4; i++) {
            if (i == 2) {
                mailing.recipients = "unknown@example.test";
                mailing.server = PeerAddress(38);
            }
            CHECK(mailing.HandOver(Alert));
            CHECK(PumpUntil([] { return !MailInFlight(); }, 5000));
        }
        CancelMail();
    };
    mailing.Prepare(PeerAddress(33).c_str(), "ops@example.test");
    mailing.Send(Alert);
    REQUIRE(catcher.boxes.size() == 2);
    CHECK(catcher.boxes[0].text == refused);
    CHECK(catcher.boxes[1].text == "Mail server refused unknown@example.test: 550 5.1.1 no such user");

    // Once answered, the same failure shows again.
    catcher.whileOpen = nullptr;
    mailing.Prepare(PeerAddress(33).c_str(), "ops@example.test");
    mailing.Send(Alert);
    REQUIRE(catcher.boxes.size() == 3);
    CHECK(catcher.boxes[2].text == refused);

    // A server that words every refusal anew, counting its connections: while the first box
    // is open, two more alerts to three recipients leave one report for each recipient.
    catcher.boxes.clear();
    catcher.whileOpen = [&] {
        for (int i = 0; i < 2 && catcher.boxes.size() == 1; i++) {
            CHECK(mailing.HandOver(Alert));
            CHECK(PumpUntil([] { return !MailInFlight(); }, 5000));
        }
    };
    mailing.Prepare(PeerAddress(41).c_str(), "a@example.test;b@example.test;c@example.test");
    mailing.Send(Alert);
    std::vector<std::string> texts;
    for (const CapturedBox &box : catcher.boxes)
        texts.push_back(box.text);
    const std::string words = ": 550 5.7.1 refused in session ";
    CHECK(texts == std::vector<std::string>{"Mail server refused a@example.test" + words + "1",
                                            "Mail server refused b@example.test" + words + "8",
                                            "Mail server refused c@example.test" + words + "9",
                                            "Mail server refused a@example.test" + words + "7"});
}

TEST_CASE("a cancelled alert lets go of its server at once, tries no one else and tells nothing")
{
    MessageBoxCatcher catcher;
    Mailing mailing;
    mailing.Prepare(PeerAddress(28).c_str(), "ops@example.test;dev@example.test");
    MailLimits = RfcMailTimeLimits;
    REQUIRE(mailing.HandOver(Alert));
    // The silent server writes its record when the connection ends.
    PumpFor(300);
    REQUIRE(PeerRecords("silent", 0, 0).empty());
    DWORD start = GetTickCount();
    CancelMail();
    CHECK_FALSE(MailInFlight());
    CHECK(PeerRecords("silent", 1, 2000).size() == 1);
    CHECK(GetTickCount() - start < 1000);

    // The next alert goes at once, to the server it names.
    mailing.server = PeerAddress(26);
    REQUIRE(mailing.HandOver("alert"));
    REQUIRE(WaitForMail());
    std::vector<std::string> records = PeerRecords("good", 2);
    REQUIRE(records.size() == 2);
    CHECK(Masked(records[1]) == Script("vellmark@example.test", "dev@example.test", "alert"));
    PumpFor(500);
    CHECK(PeerRecords("silent", 1, 0).size() == 1);

    // Also in the middle of a TLS handshake.
    mailing.Prepare(PeerAddress(45).c_str(), "ops@example.test");
    MailLimits = RfcMailTimeLimits;
    REQUIRE(mailing.HandOver(Alert));
    PumpFor(1000);
    REQUIRE(PeerRecords("tlsstall", 0, 0).empty());
    start = GetTickCount();
    CancelMail();
    records = PeerRecords("tlsstall", 1, 2000);
    CHECK(GetTickCount() - start < 1000);
    REQUIRE(records.size() == 1);
    CHECK(records[0].find("STARTTLS\r\n\x16\x03") != std::string::npos);
    CHECK(catcher.boxes.empty());
}

TEST_CASE("a server name is looked up again when the alert is sent")
{
    // A listener of the test's own where "localhost" leads; the connect completes in its
    // queue and is taken from there afterwards.
    WSADATA wsaData;
    REQUIRE(WSAStartup(MAKEWORD(2, 2), &wsaData) == 0);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    BOOL exclusive = TRUE;
    setsockopt(listener, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, (const char *)&exclusive, sizeof exclusive);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(25);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, (const sockaddr *)&address, sizeof address) != 0 || listen(listener, 5) != 0) {
        MESSAGE("skipped: port 25 of 127.0.0.1 is held by another program");
    } else {
        MessageBoxCatcher catcher;
        Mailing mailing;
        mailing.Prepare("localhost", "ops@example.test");
        mailing.Send(Alert);
        u_long nonBlocking = 1;
        ioctlsocket(listener, FIONBIO, &nonBlocking);
        SOCKET taken = accept(listener, nullptr, nullptr);
        CHECK(taken != INVALID_SOCKET);
        closesocket(taken);
        // The listener never answers, which is told.
        REQUIRE(catcher.boxes.size() == 1);
        CHECK(catcher.boxes[0].text ==
              NotReached("Mail server stopped answering before the alert reached ops@example.test", "ops@example.test"));
    }
    closesocket(listener);
    WSACleanup();
}

TEST_CASE("every start of the socket library is undone once, on every road")
{
    MessageBoxCatcher catcher;
    Mailing mailing;
    WSADATA wsaData;
    struct Case {
        std::string server;
        const char *list;
    } cases[] = {
        {PeerAddress(26), "ops@example.test;dev@example.test"},
        {PeerAddress(26), " "},
        {PeerAddress(33), "ops@example.test"},
        {PeerAddress(28), "ops@example.test"},
        {PeerAddress(27), "ops@example.test"},
        {std::string(64, 'x') + ".test", "ops@example.test"},
        {PeerAddress(45), "ops@example.test"},
    };
    // Wine's security library keeps a start of its own once it is loaded.
    const int before = SocketLibraryStarts();
    for (const Case &c : cases) {
        CAPTURE(c.server);
        CAPTURE(c.list);
        // Our own start must survive the delivery (no clean-up too many), and be the only one added.
        REQUIRE(WSAStartup(MAKEWORD(2, 2), &wsaData) == 0);
        mailing.Prepare(c.server.c_str(), c.list);
        mailing.Send("alert");
        CHECK(SocketLibraryStarts() == before + 1);
        WSACleanup();
    }
    CHECK(SocketLibraryStarts() == before);
}
