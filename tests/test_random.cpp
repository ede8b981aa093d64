// Random input for the two readers of text that anybody may have written: the recipient
// list and the stored settings. Each run is fixed by its seed, printed on failure;
// VELLMARK_SEED=N runs another one.
#include "core/state.h"
#include "mail/smtp.h"
#include "settings/settings.h"

#include <doctest.h>
#include <shlwapi.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// A generator of our own: the library's distributions differ between implementations,
// and a seed must give the same run everywhere.
struct Random {
    uint64_t state;
    uint32_t Next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<uint32_t>(state >> 32);
    }
    uint32_t Below(uint32_t n) { return Next() % n; }
};

uint64_t Seed()
{
    const char *text = getenv("VELLMARK_SEED");
    return text && *text ? strtoull(text, nullptr, 0) : 20261208;
}

// Bytes the readers treat apart (line breaks, ';', blanks, '%' of an expandable text),
// anything else but the zero that ends a text, and now and then a long run of one byte.
std::string RandomText(Random &random, size_t most)
{
    static const char Special[] = "\r\n; %";
    std::string text;
    size_t length = random.Below(4) == 0 ? random.Below(static_cast<uint32_t>(most) + 1) : random.Below(200);
    while (text.size() < length) {
        char c = random.Below(2) ? Special[random.Below(sizeof Special - 1)]
                                 : static_cast<char>(1 + random.Below(255));
        text.append(random.Below(30) == 0 ? 1 + random.Below(300) : 1, c);
    }
    text.resize(length);
    return text;
}

// Runs random recipient lists through the reader.
void RunRecipientLists(uint64_t seed, int cases)
{
    Random random = {seed};
    for (int n = 0; n < cases; n++) {
        std::string list = RandomText(random, 3000);
        INFO("case ", n);
        // Guard bytes on both sides of the recipient's storage.
        char storage[8 + RecipientSize + 8];
        memset(storage, 0x5A, sizeof storage);
        char *recipient = storage + 8;
        const char *cursor = list.c_str();
        std::string kept;
        bool whole, allWhole = true;
        int count = 0;
        while (NextRecipient(&cursor, recipient, RecipientSize, &whole)) {
            size_t length = strnlen(recipient, RecipientSize);
            REQUIRE(length < RecipientSize);
            REQUIRE(length > 0);
            REQUIRE(strpbrk(recipient, " \r\n;") == nullptr);
            REQUIRE(cursor <= list.c_str() + list.size());
            kept += recipient;
            allWhole = allWhole && whole;
            count++;
        }
        for (size_t i = 0; i < 8; i++) {
            REQUIRE(storage[i] == 0x5A);
            REQUIRE(storage[8 + RecipientSize + i] == 0x5A);
        }
        CHECK(HoldsRecipient(list.c_str()) == (count > 0));
        // Only separators and blanks are dropped: no other byte is lost or made up.
        if (allWhole) {
            std::string rest;
            for (char c : list)
                if (!strchr(" \r\n;", c))
                    rest += c;
            REQUIRE(kept == rest);
        }
    }
}

const char SettingsKey[] = "SoftWare\\Tolvane\\Vellmark";

struct Loaded {
    const char *name;
    void *field;
    size_t fieldSize;
    DWORD readSize;
    bool number;
};

// The values LoadSettings reads and the fields it fills, as the program lays them out.
const Loaded Values[] = {
    {"Disk", Monitor.StartDisk, sizeof Monitor.StartDisk, 4, false},
    {"Warning", &Monitor.StartWarning2, sizeof Monitor.StartWarning2, 4, true},
    {"Seconds", &Monitor.StartSeconds, sizeof Monitor.StartSeconds, 4, true},
    {"TimeType", &Monitor.StartTimeType, sizeof Monitor.StartTimeType, 4, true},
    {"EmailAddress", Monitor.StartEmailAddress, sizeof Monitor.StartEmailAddress, RecipientsLength + 1, false},
    {"FromAddress", Monitor.StartFromEmail, sizeof Monitor.StartFromEmail, FromLength + 1, false},
    {"EmailServer", Monitor.StartEmailServer, sizeof Monitor.StartEmailServer, ServerLength + 1, false},
    {"CommandToRun", Monitor.StartCommand, sizeof Monitor.StartCommand, CommandLength + 1, false},
    {"AutoStart", Monitor.AutoStartValue, sizeof Monitor.AutoStartValue, 4, false},
    {"AutoMin", Monitor.AutoStartMini, sizeof Monitor.AutoStartMini, 4, false},
};

// The loader's boxes are counted and never created, which costs nothing and waits for
// nobody. A message box is a top-level dialog; its caption is set only after creation.
int boxesCancelled;

LRESULT CALLBACK CancelBoxes(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND) {
        const CREATESTRUCTA *create = reinterpret_cast<CBT_CREATEWNDA *>(lParam)->lpcs;
        bool dialog = IS_INTRESOURCE(create->lpszClass) ? LOWORD(reinterpret_cast<ULONG_PTR>(create->lpszClass)) == 32770
                                                        : strcmp(create->lpszClass, "#32770") == 0;
        if (dialog && !create->hwndParent) {
            boxesCancelled++;
            return 1;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Stores a random value under name, or none: any type, any size around the read size.
// *size is the size stored, which for a text the platform lengthens by the zero that
// follows the bytes given.
std::string StoreRandomValue(Random &random, HKEY key, const Loaded &value, DWORD *type, DWORD *size)
{
    static const DWORD Types[] = {REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_BINARY, REG_DWORD, REG_QWORD, REG_NONE};
    if (random.Below(8) == 0) {
        RegDeleteValueA(key, value.name);
        *type = REG_NONE;
        *size = 0;
        return "(missing)";
    }
    // Most numbers are numbers, of any value: each one that is not costs a box.
    bool number = value.number && random.Below(4) != 0;
    *type = number ? REG_DWORD : Types[random.Below(sizeof Types / sizeof Types[0])];
    const size_t sizes[] = {0, 1, 2, 3, 4, 5, 8, value.readSize - 1, value.readSize, value.readSize + 1};
    size_t length = number ? 4 : random.Below(3) ? sizes[random.Below(sizeof sizes / sizeof sizes[0])] : random.Below(1100);
    std::string data = RandomText(random, length);
    data.resize(length, random.Below(2) ? '\0' : '1');
    // A text is stored without a terminator only when no zero follows its bytes.
    std::string followed = data + (random.Below(2) ? 'X' : '\0');
    REQUIRE(RegSetValueExA(key, value.name, 0, *type, reinterpret_cast<const BYTE *>(followed.data()),
                           static_cast<DWORD>(data.size())) == ERROR_SUCCESS);
    REQUIRE(RegQueryValueExA(key, value.name, nullptr, nullptr, nullptr, size) == ERROR_SUCCESS);
    return data;
}

// Runs random stored settings through the loader.
void RunStoredSettings(uint64_t seed, int cases)
{
    Random random = {seed};
    HKEY key;
    REQUIRE(RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
            ERROR_SUCCESS);
    HHOOK hook = SetWindowsHookExA(WH_CBT, CancelBoxes, nullptr, GetCurrentThreadId());
    REQUIRE(hook);
    static MonitorState before, after;
    for (int n = 0; n < cases; n++) {
        INFO("case ", n);
        DWORD types[10], sizes[10];
        std::string stored[10];
        for (int i = 0; i < 10; i++)
            stored[i] = StoreRandomValue(random, key, Values[i], &types[i], &sizes[i]);

        // Every byte but the fields read is marked, and the fields are zero as at start.
        memset(&Monitor, 0xA5, sizeof Monitor);
        for (const Loaded &value : Values)
            memset(value.field, 0, value.fieldSize);
        memcpy(&before, &Monitor, sizeof Monitor);
        boxesCancelled = 0;
        LoadSettings();

        // Apart from the fields read, only the level in percent and the loader's scratch
        // values may have changed.
        memcpy(&after, &Monitor, sizeof Monitor);
        for (const Loaded &value : Values) {
            size_t offset = static_cast<char *>(value.field) - reinterpret_cast<char *>(&Monitor);
            memcpy(reinterpret_cast<char *>(&after) + offset, reinterpret_cast<char *>(&before) + offset,
                   value.fieldSize);
        }
        after.StartWarning = before.StartWarning;
        after.valuesize = before.valuesize;
        after.KeyType = before.KeyType;
        REQUIRE(memcmp(&after, &before, sizeof before) == 0);

        int failedNumbers = 0;
        for (int i = 0; i < 10; i++) {
            const Loaded &value = Values[i];
            INFO("value ", std::string(value.name), ", type ", types[i], ", ", sizes[i], " bytes");
            const char *field = static_cast<const char *>(value.field);
            if (value.number) {
                bool loaded = (types[i] == REG_DWORD || types[i] == REG_BINARY) && sizes[i] == 4;
                failedNumbers += !loaded;
                REQUIRE(memcmp(field, loaded ? stored[i].data() : "\0\0\0\0", 4) == 0);
            } else {
                REQUIRE(memchr(field, '\0', value.fieldSize) != nullptr);
                // A plain or binary text that fits its read is loaded as stored, up to its
                // first zero.
                if ((types[i] == REG_SZ || types[i] == REG_BINARY) && sizes[i] <= value.readSize)
                    REQUIRE(std::string(field) == std::string(stored[i].c_str()).substr(0, value.fieldSize - 1));
            }
        }
        // Each number that could not be read is told in a box of its own.
        REQUIRE(boxesCancelled == failedNumbers);
    }
    UnhookWindowsHookEx(hook);
    RegCloseKey(key);
    SHDeleteKeyA(HKEY_CURRENT_USER, SettingsKey);
    memset(&Monitor, 0, sizeof Monitor);
}

}  // namespace

TEST_CASE("random recipient lists: every recipient fits, holds no blank or line break, nothing past it is written")
{
    const uint64_t seed = Seed();
    INFO("seed ", seed);
    RunRecipientLists(seed, 4000);
}

TEST_CASE("random stored settings: every field ends inside itself, nothing else is written, a bad number is told")
{
    const uint64_t seed = Seed();
    INFO("seed ", seed);
    // A case costs about a millisecond of registry calls under Wine.
    RunStoredSettings(seed, 2000);
}
