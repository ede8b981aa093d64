// Drives a running Vellmark from another process, as a user would: finds its dialog by
// title, reads and sets its controls, posts clicks and messages, answers message boxes,
// and seeds the settings key. Run in the program's Wine prefix and desktop.
//
//   driver COMMAND ARGS... [COMMAND ARGS...]   runs the commands in order, stops at the
//                                             first that fails
//   driver                                     reads one command per line from stdin;
//                                             arguments may be "quoted", and \n \r \t
//                                             \" \\ stand for those characters
//
// Each command prints one line, "ok [VALUE]" or "fail REASON", with line breaks, tabs
// and backslashes in VALUE written as \n \r \t \\. TITLE names a dialog exactly, or by
// its start when it ends in '*'. ID 0 is the dialog itself.
//
//   wait TITLE SECONDS        the dialog exists within SECONDS
//   shown TITLE SECONDS       the dialog is visible within SECONDS
//   gone TITLE SECONDS        no such dialog is left within SECONDS
//   title TITLE               its whole title
//   text TITLE ID             the control's text
//   enabled TITLE ID          1 or 0; likewise visible and checked (the check state)
//   slider TITLE ID           "POS MIN MAX"
//   combo TITLE ID            "COUNT SELECTION" then a tab before each entry
//   click TITLE ID            posts the click of an enabled button
//   tick TITLE ID 0|1         clicks an enabled check box until it has that state
//   select TITLE ID ENTRY     selects an entry of an enabled combo box, as a user does
//   settext TITLE ID TEXT     replaces an enabled box's text
//   slide TITLE ID POS        moves an enabled slider, as a user does
//   post TITLE MSG WP LP      posts any message to the dialog
//   box CAPTION SECONDS       the text of a message box shown within SECONDS
//   answer CAPTION BUTTON     presses BUTTON (1 OK, 2 Cancel) of the message box shown
//                             and waits until it has gone
//   boxes                     "CAPTION: TEXT" of every message box shown, tab before each
//   regdword NAME NUMBER      writes a value of the settings key; likewise regsz NAME TEXT
//   regget NAME               "dword N", "sz TEXT" (as stored, terminator dropped), or fails
//   regdel                    deletes the settings key
//   computername              the computer's name as programs see it
//   limited SECONDS COMMAND   runs the command line with the rights its user signed in
//                             with (the elevated token's limited twin) and prints its
//                             exit code; ends it and fails when it runs longer
//
// Exit code 0 when every command succeeded, 1 when one failed, 2 on a usage error.
#include <windows.h>
#include <commctrl.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char *const DialogClass = "#32770";
static const char *const SettingsKey = "SoftWare\\Tolvane\\Vellmark";
// The static control holding a message box's text.
static const int BoxTextId = 0xFFFF;
static const int OutSize = 4096;

// The result line of the command being run: "ok ..." or "fail ...".
static char Out[OutSize];

static bool Ok(const char *format = "", ...)
{
    va_list args;
    va_start(args, format);
    snprintf(Out, sizeof Out, "ok%s", *format ? " " : "");
    vsnprintf(Out + strlen(Out), sizeof Out - strlen(Out), format, args);
    va_end(args);
    return true;
}

static bool Fail(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    strcpy(Out, "fail ");
    vsnprintf(Out + 5, sizeof Out - 5, format, args);
    va_end(args);
    return false;
}

static bool TitleMatches(const char *title, const char *pattern)
{
    size_t n = strlen(pattern);
    if (n > 0 && pattern[n - 1] == '*')
        return strncmp(title, pattern, n - 1) == 0;
    return strcmp(title, pattern) == 0;
}

struct Search {
    const char *pattern;
    bool messageBox;    // only visible message boxes count
    HWND found;
};

static BOOL CALLBACK MatchWindow(HWND hWnd, LPARAM lParam)
{
    Search *search = (Search *)lParam;
    char cls[32] = "", title[256] = "";
    GetClassNameA(hWnd, cls, sizeof cls);
    GetWindowTextA(hWnd, title, sizeof title);
    if (strcmp(cls, DialogClass) != 0 || !TitleMatches(title, search->pattern))
        return TRUE;
    if (search->messageBox && !(IsWindowVisible(hWnd) && GetDlgItem(hWnd, BoxTextId)))
        return TRUE;
    search->found = hWnd;
    return FALSE;
}

// FindWindowA compares titles without regard to case, which would take the alert box
// "WARNING!!!" for a "Warning" box; this compares exactly.
static HWND FindDialog(const char *pattern, bool messageBox)
{
    Search search = {pattern, messageBox, nullptr};
    EnumWindows(MatchWindow, (LPARAM)&search);
    return search.found;
}

static void Escape(const char *text, char *out, size_t size)
{
    size_t at = 0;
    for (; *text && at + 3 < size; text++) {
        const char *pair = *text == '\n' ? "\\n" : *text == '\r' ? "\\r" : *text == '\t' ? "\\t"
                         : *text == '\\' ? "\\\\" : nullptr;
        if (pair) {
            memcpy(out + at, pair, 2);
            at += 2;
        } else {
            out[at++] = *text;
        }
    }
    out[at] = '\0';
}

// Appends the message boxes shown, so that a failed wait tells what stood in the way.
static BOOL CALLBACK ListBox(HWND hWnd, LPARAM lParam)
{
    char *list = (char *)lParam;
    char cls[32] = "", title[256] = "", text[1024] = "", line[1400], escaped[1400];
    GetClassNameA(hWnd, cls, sizeof cls);
    if (strcmp(cls, DialogClass) != 0 || !IsWindowVisible(hWnd) || !GetDlgItem(hWnd, BoxTextId))
        return TRUE;
    GetWindowTextA(hWnd, title, sizeof title);
    GetDlgItemTextA(hWnd, BoxTextId, text, sizeof text);
    snprintf(line, sizeof line, "%s: %s", title, text);
    Escape(line, escaped, sizeof escaped);
    size_t used = strlen(list);
    snprintf(list + used, OutSize / 2 - used, "\t%s", escaped);
    return TRUE;
}

static const char *OpenBoxes()
{
    static char list[OutSize / 2];
    list[0] = '\0';
    EnumWindows(ListBox, (LPARAM)list);
    return list;
}

static ULONGLONG Deadline(double seconds)
{
    return GetTickCount64() + (ULONGLONG)(seconds * 1000);
}

// Another process's window can only be polled for. want: 0 gone, 1 exists, 2 visible.
static bool WaitForDialog(const char *pattern, double seconds, int want)
{
    ULONGLONG deadline = Deadline(seconds);
    for (;;) {
        HWND hDlg = FindDialog(pattern, false);
        int state = !hDlg ? 0 : IsWindowVisible(hDlg) ? 2 : 1;
        if (want == 0 ? state == 0 : state >= want)
            return Ok();
        if (GetTickCount64() >= deadline)
            break;
        Sleep(20);
    }
    const char *what = want == 0 ? "is still there" : want == 1 ? "did not appear" : "was not shown";
    return Fail("the dialog \"%s\" %s within %.1f s; message boxes:%s", pattern, what, seconds, OpenBoxes());
}

static bool FindControl(const char *pattern, int id, HWND *hDlg, HWND *hCtl)
{
    *hDlg = FindDialog(pattern, false);
    if (!*hDlg)
        return Fail("no dialog \"%s\"; message boxes:%s", pattern, OpenBoxes());
    *hCtl = id == 0 ? *hDlg : GetDlgItem(*hDlg, id);
    if (!*hCtl)
        return Fail("the dialog \"%s\" has no control %d", pattern, id);
    return true;
}

// A user can act only on an enabled control; a message posted to a disabled one would
// still act, so the driver refuses instead.
static bool FindEnabledControl(const char *pattern, int id, HWND *hDlg, HWND *hCtl)
{
    if (!FindControl(pattern, id, hDlg, hCtl))
        return false;
    if (!IsWindowEnabled(*hCtl))
        return Fail("control %d is disabled", id);
    return true;
}

// Sends a message to another process's window, giving up after 5 s rather than hanging
// on a program that is busy (mailing, say); 0 then.
static LRESULT Ask(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, bool wide = false)
{
    DWORD_PTR result = 0;
    if (wide)
        SendMessageTimeoutW(hWnd, message, wParam, lParam, SMTO_NORMAL, 5000, &result);
    else
        SendMessageTimeoutA(hWnd, message, wParam, lParam, SMTO_NORMAL, 5000, &result);
    return (LRESULT)result;
}

// WM_GETTEXT, since GetWindowTextA does not ask a control of another process for its
// text but returns the one it was created with.
static bool ReadText(HWND hCtl)
{
    char text[OutSize / 2] = "", escaped[OutSize - 8];
    Ask(hCtl, WM_GETTEXT, sizeof text, (LPARAM)text);
    Escape(text, escaped, sizeof escaped);
    return Ok("%s", escaped);
}

// Across processes only the W form of CB_GETLBTEXT fills the buffer correctly under Wine.
static bool ComboEntry(HWND hCombo, int index, char *out, size_t size)
{
    WCHAR wide[256];
    LRESULT n = Ask(hCombo, CB_GETLBTEXTLEN, index, 0, true);
    if (n == CB_ERR || n >= (LRESULT)(sizeof wide / sizeof wide[0]))
        return false;
    Ask(hCombo, CB_GETLBTEXT, index, (LPARAM)wide, true);
    return WideCharToMultiByte(CP_ACP, 0, wide, -1, out, (int)size, nullptr, nullptr) > 0;
}

static bool ReadCombo(HWND hCombo)
{
    int count = (int)Ask(hCombo, CB_GETCOUNT, 0, 0);
    int selection = (int)Ask(hCombo, CB_GETCURSEL, 0, 0);
    char list[OutSize / 2] = "", entry[256], escaped[600];
    for (int i = 0; i < count; i++) {
        if (!ComboEntry(hCombo, i, entry, sizeof entry))
            return Fail("entry %d of the list cannot be read", i);
        Escape(entry, escaped, sizeof escaped);
        size_t used = strlen(list);
        snprintf(list + used, sizeof list - used, "\t%s", escaped);
    }
    return Ok("%d %d%s", count, selection, list);
}

static bool SelectEntry(HWND hDlg, HWND hCombo, int id, const char *wanted)
{
    int count = (int)Ask(hCombo, CB_GETCOUNT, 0, 0);
    char entry[256];
    for (int i = 0; i < count; i++) {
        if (!ComboEntry(hCombo, i, entry, sizeof entry) || strcmp(entry, wanted) != 0)
            continue;
        Ask(hCombo, CB_SETCURSEL, i, 0);
        PostMessageA(hDlg, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), (LPARAM)hCombo);
        return Ok();
    }
    return Fail("the list has no entry \"%s\"", wanted);
}

static bool Tick(HWND hBox, int wanted)
{
    ULONGLONG deadline = Deadline(5);
    while ((int)Ask(hBox, BM_GETCHECK, 0, 0) != wanted) {
        if (GetTickCount64() >= deadline)
            return Fail("the check box did not change");
        // A click the box takes for its own: it changes its state and tells the dialog.
        Ask(hBox, BM_CLICK, 0, 0);
        Sleep(20);
    }
    return Ok();
}

static bool Slide(HWND hDlg, HWND hSlider, int position)
{
    Ask(hSlider, TBM_SETPOS, TRUE, position);
    position = (int)Ask(hSlider, TBM_GETPOS, 0, 0);
    PostMessageA(hDlg, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, position), (LPARAM)hSlider);
    return Ok("%d", position);
}

static bool WaitForBox(const char *caption, double seconds)
{
    ULONGLONG deadline = Deadline(seconds);
    HWND hBox;
    while (!(hBox = FindDialog(caption, true))) {
        if (GetTickCount64() >= deadline)
            return Fail("no message box \"%s\" within %.1f s; message boxes:%s", caption, seconds, OpenBoxes());
        Sleep(20);
    }
    return ReadText(GetDlgItem(hBox, BoxTextId));
}

// Waits until the box has gone, so that the next look for a box cannot find it again.
static bool Answer(const char *caption, int button)
{
    HWND hBox = FindDialog(caption, true);
    if (!hBox)
        return Fail("no message box \"%s\" to answer; message boxes:%s", caption, OpenBoxes());
    PostMessageA(hBox, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), (LPARAM)GetDlgItem(hBox, button));
    ULONGLONG deadline = Deadline(5);
    while (IsWindow(hBox) && IsWindowVisible(hBox)) {
        if (GetTickCount64() >= deadline)
            return Fail("the message box \"%s\" did not close", caption);
        Sleep(10);
    }
    return Ok();
}

static bool WriteSetting(const char *name, DWORD type, const void *data, DWORD size)
{
    HKEY hKey;
    LONG rc = RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &hKey, nullptr);
    if (rc == ERROR_SUCCESS) {
        rc = RegSetValueExA(hKey, name, 0, type, (const BYTE *)data, size);
        RegCloseKey(hKey);
    }
    return rc == ERROR_SUCCESS ? Ok() : Fail("writing \"%s\" failed (error %ld)", name, rc);
}

static bool ReadSetting(const char *name)
{
    char data[OutSize / 2] = "", escaped[OutSize - 16];
    DWORD type = 0, size = sizeof data - 1;
    HKEY hKey;
    LONG rc = RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, KEY_QUERY_VALUE, &hKey);
    if (rc == ERROR_SUCCESS) {
        rc = RegQueryValueExA(hKey, name, nullptr, &type, (BYTE *)data, &size);
        RegCloseKey(hKey);
    }
    if (rc != ERROR_SUCCESS)
        return Fail("no value \"%s\" (error %ld)", name, rc);
    if (type == REG_DWORD && size == 4)
        return Ok("dword %ld", *(LONG *)data);
    if (type != REG_SZ)
        return Fail("\"%s\" has type %lu and %lu bytes", name, type, size);
    data[size] = '\0';
    Escape(data, escaped, sizeof escaped);
    return Ok("sz %s", escaped);
}

static bool DeleteSettings()
{
    LONG rc = RegDeleteKeyA(HKEY_CURRENT_USER, SettingsKey);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? Ok() : Fail("deleting the key failed (error %ld)", rc);
}

// Wine runs every program elevated; the installer acts on the token's elevation, so the
// user's own rights have to be asked for.
static bool RunLimited(char *commandLine, double seconds)
{
    HANDLE token = nullptr, limited = nullptr;
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    TOKEN_LINKED_TOKEN linked = {};
    DWORD size;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return Fail("no token (error %lu)", GetLastError());
    bool twin = GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size) &&
                type == TokenElevationTypeFull &&
                GetTokenInformation(token, TokenLinkedToken, &linked, sizeof linked, &size);
    CloseHandle(token);
    if (!twin)
        return Fail("the driver is not elevated, so it has no limited token");
    bool duplicated = DuplicateTokenEx(linked.LinkedToken, MAXIMUM_ALLOWED, nullptr, SecurityImpersonation,
                                       TokenPrimary, &limited);
    CloseHandle(linked.LinkedToken);
    if (!duplicated)
        return Fail("the limited token cannot be used (error %lu)", GetLastError());
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    bool started = CreateProcessAsUserA(limited, nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr,
                                        nullptr, &startup, &process);
    CloseHandle(limited);
    if (!started)
        return Fail("\"%s\" did not start (error %lu)", commandLine, GetLastError());
    CloseHandle(process.hThread);
    DWORD code = 0;
    bool ended = WaitForSingleObject(process.hProcess, (DWORD)(seconds * 1000)) == WAIT_OBJECT_0;
    if (ended)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hProcess);
    return ended ? Ok("%lu", code) : Fail("\"%s\" still ran after %.1f s", commandLine, seconds);
}

static bool Number(const char *text, long long *value)
{
    char *end = nullptr;
    *value = strtoll(text, &end, 0);
    return end != text && *end == '\0';
}

static bool Seconds(const char *text, double *value)
{
    char *end = nullptr;
    *value = strtod(text, &end);
    return end != text && *end == '\0' && *value >= 0;
}

struct Command {
    const char *name;
    int arguments;
    const char *numbers;    // per argument: 'n' a number, 's' seconds, '-' text
};

static const Command Commands[] = {
    {"wait", 2, "-s"}, {"shown", 2, "-s"}, {"gone", 2, "-s"}, {"title", 1, "-"},
    {"text", 2, "-n"}, {"enabled", 2, "-n"}, {"visible", 2, "-n"}, {"checked", 2, "-n"},
    {"slider", 2, "-n"}, {"combo", 2, "-n"}, {"click", 2, "-n"}, {"tick", 3, "-nn"},
    {"select", 3, "-n-"}, {"settext", 3, "-n-"}, {"slide", 3, "-nn"}, {"post", 4, "-nnn"},
    {"box", 2, "-s"}, {"answer", 2, "-n"}, {"boxes", 0, ""}, {"regdword", 2, "-n"},
    {"regsz", 2, "--"}, {"regget", 1, "-"}, {"regdel", 0, ""}, {"computername", 0, ""},
    {"limited", 2, "s-"},
};

// Runs one command with its arguments; *usage is set when the arguments were wrong.
static bool Run(const Command *c, char **args, bool *usage)
{
    long long n[4] = {0, 0, 0, 0};
    double seconds = 0;
    for (int i = 0; i < c->arguments; i++) {
        bool good = c->numbers[i] == 'n' ? Number(args[i], &n[i]) : c->numbers[i] == 's' ? Seconds(args[i], &seconds) : true;
        if (!good) {
            *usage = true;
            return Fail("\"%s\" is no number for %s", args[i], c->name);
        }
    }
    const char *name = c->name;
    if (!strcmp(name, "wait") || !strcmp(name, "shown") || !strcmp(name, "gone"))
        return WaitForDialog(args[0], seconds, name[0] == 'w' ? 1 : name[0] == 's' ? 2 : 0);
    if (!strcmp(name, "box"))
        return WaitForBox(args[0], seconds);
    if (!strcmp(name, "answer"))
        return Answer(args[0], (int)n[1]);
    if (!strcmp(name, "boxes"))
        return Ok("%s", OpenBoxes());
    if (!strcmp(name, "regdword")) {
        DWORD value = (DWORD)n[1];
        return WriteSetting(args[0], REG_DWORD, &value, sizeof value);
    }
    if (!strcmp(name, "regsz"))
        return WriteSetting(args[0], REG_SZ, args[1], (DWORD)strlen(args[1]) + 1);
    if (!strcmp(name, "regget"))
        return ReadSetting(args[0]);
    if (!strcmp(name, "regdel"))
        return DeleteSettings();
    if (!strcmp(name, "limited"))
        return RunLimited(args[1], seconds);
    if (!strcmp(name, "computername")) {
        char host[MAX_COMPUTERNAME_LENGTH + 1] = "";
        DWORD size = sizeof host;
        return GetComputerNameA(host, &size) ? Ok("%s", host) : Fail("no computer name");
    }
    HWND hDlg, hCtl;
    int id = c->arguments > 1 && strcmp(name, "post") != 0 ? (int)n[1] : 0;
    bool acts = !strcmp(name, "click") || !strcmp(name, "tick") || !strcmp(name, "select") ||
                !strcmp(name, "settext") || !strcmp(name, "slide");
    if (!(acts ? FindEnabledControl(args[0], id, &hDlg, &hCtl) : FindControl(args[0], id, &hDlg, &hCtl)))
        return false;
    if (!strcmp(name, "title") || !strcmp(name, "text"))
        return ReadText(hCtl);
    if (!strcmp(name, "enabled"))
        return Ok("%d", IsWindowEnabled(hCtl) ? 1 : 0);
    if (!strcmp(name, "visible"))
        return Ok("%d", IsWindowVisible(hCtl) ? 1 : 0);
    if (!strcmp(name, "checked"))
        return Ok("%d", (int)Ask(hCtl, BM_GETCHECK, 0, 0));
    if (!strcmp(name, "slider"))
        return Ok("%d %d %d", (int)Ask(hCtl, TBM_GETPOS, 0, 0), (int)Ask(hCtl, TBM_GETRANGEMIN, 0, 0),
                  (int)Ask(hCtl, TBM_GETRANGEMAX, 0, 0));
    if (!strcmp(name, "combo"))
        return ReadCombo(hCtl);
    if (!strcmp(name, "tick"))
        return Tick(hCtl, (int)n[2]);
    if (!strcmp(name, "select"))
        return SelectEntry(hDlg, hCtl, id, args[2]);
    if (!strcmp(name, "settext"))
        return Ask(hCtl, WM_SETTEXT, 0, (LPARAM)args[2]) ? Ok() : Fail("the text was not taken");
    if (!strcmp(name, "slide"))
        return Slide(hDlg, hCtl, (int)n[2]);
    // Posted, not sent: a click or message that opens a message box would otherwise hold
    // the driver until the box is closed.
    bool posted = !strcmp(name, "click")
                      ? PostMessageA(hDlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)hCtl)
                      : PostMessageA(hDlg, (UINT)n[1], (WPARAM)n[2], (LPARAM)n[3]);
    return posted ? Ok() : Fail("posting failed (error %lu)", GetLastError());
}

// Runs the command at args[0] and moves *count past it and its arguments.
static bool RunNext(char **args, int *count, bool *usage)
{
    for (const Command &c : Commands) {
        if (strcmp(args[0], c.name) != 0)
            continue;
        if (*count <= c.arguments) {
            *usage = true;
            return Fail("%s needs %d arguments", c.name, c.arguments);
        }
        *count = c.arguments + 1;
        return Run(&c, args + 1, usage);
    }
    *usage = true;
    return Fail("unknown command \"%s\"", args[0]);
}

// Splits a line into arguments in place: blanks separate, quotes group, backslash escapes.
static int SplitLine(char *line, char **args, int most)
{
    int count = 0;
    char *in = line;
    while (count < most) {
        while (*in == ' ' || *in == '\t' || *in == '\r' || *in == '\n')
            in++;
        if (!*in)
            break;
        char *out = in;
        args[count++] = out;
        bool quoted = false;
        for (; *in && (quoted || (*in != ' ' && *in != '\t' && *in != '\r' && *in != '\n')); in++) {
            if (*in == '"') {
                quoted = !quoted;
            } else if (*in == '\\' && in[1]) {
                in++;
                *out++ = *in == 'n' ? '\n' : *in == 'r' ? '\r' : *in == 't' ? '\t' : *in;
            } else {
                *out++ = *in;
            }
        }
        bool more = *in != '\0';
        *out = '\0';
        if (more)
            in++;
    }
    return count;
}

static int ReadCommands()
{
    static char line[8192];
    char *args[8];
    while (fgets(line, sizeof line, stdin)) {
        int count = SplitLine(line, args, 8);
        if (count == 0)
            continue;
        bool usage = false;
        int used = count;
        RunNext(args, &used, &usage);
        if (used != count && !usage)
            Fail("too many arguments for %s", args[0]);
        puts(Out);
        fflush(stdout);
    }
    return 0;
}

int main(int argc, char **argv)
{
    if (argc < 2)
        return ReadCommands();
    for (int at = 1; at < argc;) {
        bool usage = false;
        int count = argc - at;
        bool done = RunNext(argv + at, &count, &usage);
        puts(Out);
        if (!done)
            return usage ? 2 : 1;
        at += count;
    }
    return 0;
}
