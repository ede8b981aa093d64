// What the loopback mail servers of tests/mail/peers.py recorded, read from the test
// programs through Wine's Z: drive.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// One mail as aiosmtpd stored it.
struct DeliveredMail {
    std::string clientPort;     // tells connections apart
    std::string helo;
    std::string from;
    std::string to;             // recipients joined by ';'
    std::string clientAddress;
    std::string verdict;        // Python's email package: "ok", or what is wrong
    std::string subject;        // decoded, in UTF-8
    std::string tls;            // the TLS version of the session, "plain" without
    std::string content;        // as stored: dots unstuffed, line ends as sent
};

// The address of the server whose last number is host (25 aiosmtpd, 26 good, ... as
// tests/mail/peers.py lists them): the block of addresses is chosen when they start.
std::string PeerAddress(int host);

// The name the mailer greets the loopback servers with: the computer's fully-qualified
// name where it has one, else the address literal of the connection's own address.
std::string ExpectedGreeting();

// Forgets every record, so that a case sees only its own connections.
void ClearPeerRecords();

// The records of one server ("good", "aiosmtpd", ...) in the order its connections were
// taken, one raw byte string each. Waits up to ms for at least expected records, then a
// moment more, so that a connection too many is seen as well.
std::vector<std::string> PeerRecords(const char *server, size_t expected, DWORD ms = 5000);

// The records of aiosmtpd (or of its instances with TLS, "starttls" and "tlsonly"), taken apart.
std::vector<DeliveredMail> DeliveredMails(size_t expected, DWORD ms = 5000, const char *server = "aiosmtpd");
