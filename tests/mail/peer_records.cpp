// Reading the records of the loopback mail servers.
#include "tests/mail/peer_records.h"

#include "mail/message.h"
#include "tests/support/testing.h"

#include <algorithm>
#include <cstdio>

namespace {

// MAIL_PEER_DIR is the records folder as Wine sees it, "Z:" and the Linux path.
std::string RecordPath(const std::string &name)
{
    std::string path = std::string(MAIL_PEER_DIR) + "/" + name;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::vector<std::string> RecordNames(const std::string &pattern)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(RecordPath(pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = found.cFileName;
        // "*.bin" also matches the ".bin.tmp" of a record still being written.
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".bin") == 0)
            names.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
        return a.substr(a.rfind('-')) < b.substr(b.rfind('-'));
    });
    return names;
}

std::string ReadWholeFile(const std::string &path)
{
    std::string data;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return data;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        data.append(chunk, n);
    fclose(f);
    return data;
}

std::string TakeLine(std::string &text)
{
    size_t end = text.find('\n');
    std::string line = text.substr(0, end);
    text.erase(0, end == std::string::npos ? text.size() : end + 1);
    return line;
}

}  // namespace

std::string PeerAddress(int host)
{
    static std::string prefix;
    if (prefix.empty())
        prefix = ReadWholeFile(RecordPath("ready"));
    return prefix + std::to_string(host);
}

std::string ExpectedGreeting()
{
    char name[256];
    DWORD size = sizeof name;
    if (GetComputerNameExA(ComputerNameDnsFullyQualified, name, &size) && IsDomainName(name))
        return name;
    // Linux gives a connection to any loopback address the source address 127.0.0.1.
    return "[127.0.0.1]";
}

void ClearPeerRecords()
{
    for (const std::string &name : RecordNames("*-*.bin"))
        DeleteFileA(RecordPath(name).c_str());
}

std::vector<std::string> PeerRecords(const char *server, size_t expected, DWORD ms)
{
    std::string pattern = std::string(server) + "-*.bin";
    PumpUntil([&] { return RecordNames(pattern).size() >= expected; }, ms);
    PumpFor(200);
    std::vector<std::string> records;
    for (const std::string &name : RecordNames(pattern))
        records.push_back(ReadWholeFile(RecordPath(name)));
    return records;
}

std::vector<DeliveredMail> DeliveredMails(size_t expected, DWORD ms, const char *server)
{
    std::vector<DeliveredMail> mails;
    for (std::string record : PeerRecords(server, expected, ms)) {
        DeliveredMail mail;
        mail.clientPort = TakeLine(record);
        mail.helo = TakeLine(record);
        mail.from = TakeLine(record);
        mail.to = TakeLine(record);
        mail.clientAddress = TakeLine(record);
        mail.verdict = TakeLine(record);
        mail.subject = TakeLine(record);
        mail.tls = TakeLine(record);
        mail.content = record;
        mails.push_back(mail);
    }
    return mails;
}
