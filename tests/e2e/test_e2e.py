#!/usr/bin/python3
"""The whole program, run under Wine and driven from outside as a user would, through
the driver (tests/driver) in the same prefix and desktop.

    test_e2e.py WINE_RUN VELLMARK_EXE DRIVER_EXE

Five runs of the program, each checked in groups:
  1. no settings key: the three start-up errors, the inactive window, a drive chosen,
     Start and Stop, then entries made, started, stopped and saved; ended by Exit
  2. the restart shows what was saved; Escape and WM_ENDSESSION(0) leave it running;
     ended by WM_CLOSE
  3. an automatic start mailing every second to a real SMTP server on loopback; ended
     by the tray menu's Exit while active
  4. an automatic start whose alert waits on a mail server that never answers: the
     window answers, Stop works; ended by Exit while the alert still waits
  5. an automatic start hidden to the tray, restored and hidden again; ended by
     WM_ENDSESSION(1)
  6. an automatic start at sign-in before the network is up: monitoring runs while the
     look-up failure waits for a click, and a mail failure that recurs shows once
  7. four more runs, each ended by one way out while a message box is open: the
     e-mail question at start-up, or the alert box of a check every second
Every way out must end the program with exit code 0. Every wait is bounded, and every
process started here is ended, also after a failure. Prints one line per check.
"""
import email
import email.policy
import os
import re
import select
import socket
import subprocess
import sys
import threading
import time

from aiosmtpd.controller import Controller



def program_ids():
    """The program's ids by their names in resources/resource.h."""
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "resources", "resource.h")
    with open(path) as f:
        return {m.group(1): int(m.group(2)) for m in re.finditer(r"^#define\s+(\w+)\s+(\d+)\s*$", f.read(), re.M)}


ID = program_ids()
WM_CLOSE, WM_ENDSESSION, WM_COMMAND, WM_LBUTTONDBLCLK = 0x10, 0x16, 0x111, 0x203
IDOK, IDCANCEL = 1, 2
WM_TRAYICON, TRAY_ICON_ID = ID["WM_TRAYICON"], ID["TRAY_ICON_ID"]
IDM_EXIT, IDM_RESTORE, IDM_MINUTES, IDM_HOURS = ID["IDM_EXIT"], ID["IDM_RESTORE"], ID["IDM_MINUTES"], ID["IDM_HOURS"]
START, STOP, EXIT, RESET, MINIMIZE, SAVE = (ID[n] for n in ("IDC_START", "IDC_STOP", "IDC_EXIT", "IDC_RESET",
                                                            "IDC_MINIMIZE", "IDC_SAVE"))
DISK, WARNING, SLIDER, INTERVAL, UNIT = (ID[n] for n in ("IDC_DISK", "IDC_WARNING", "IDC_SECONDS", "IDC_INTERVAL",
                                                         "IDC_TIMETYPE"))
EMAIL, SERVER, FROM, COMMAND, AUTOSTART, AUTOMIN, SIZE = (ID[n] for n in ("IDC_EMAIL", "IDC_SERVER", "IDC_FROM",
                                                                          "IDC_COMMAND", "IDC_AUTOSTART",
                                                                          "IDC_AUTOMIN", "IDC_DISKSIZE"))
# Locked while monitoring is active; the buttons after them stay usable.
ENTRIES = [DISK, WARNING, SLIDER, EMAIL, FROM, SERVER, COMMAND, START, AUTOSTART, AUTOMIN]
ALWAYS = [RESET, EXIT, MINIMIZE, SAVE]
WINDOW = "Vellmark*"

wine_run, vellmark_exe, driver_exe = sys.argv[1:4]
failures = []
driver = None
driver_output = b""
last_failure = [""]  # the driver's last "fail" line, shown when a check fails


class Abort(Exception):
    """A step failed that later steps of the run depend on."""


def check(what, got, expected):
    ok = got == expected
    print("%s  %s" % ("ok  " if ok else "FAIL", what) + ("" if ok else ": got %r, expected %r" % (got, expected)))
    if not ok:
        failures.append(what)
        if last_failure[0]:
            print("      driver: %s" % last_failure[0])
    return ok


def quote(text):
    for a, b in (("\\", "\\\\"), ('"', '\\"'), ("\n", "\\n"), ("\r", "\\r"), ("\t", "\\t")):
        text = text.replace(a, b)
    return '"%s"' % text


def unescape(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            out.append({"n": "\n", "r": "\r", "t": "\t"}.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def ask(*words):
    """Runs one driver command; its value, or None when it failed. The driver bounds its
    own waits (20 s at most here), so an answer later than 30 s means it hangs."""
    global driver_output
    last_failure[0] = ""
    driver.stdin.write((" ".join(quote(str(w)) for w in words) + "\n").encode())
    driver.stdin.flush()
    deadline = time.monotonic() + 30
    while b"\n" not in driver_output:
        ready, _, _ = select.select([driver.stdout], [], [], max(0, deadline - time.monotonic()))
        chunk = os.read(driver.stdout.fileno(), 4096) if ready else b""
        if not chunk:
            raise Abort("the driver gave no answer to %s" % " ".join(map(str, words)))
        driver_output += chunk
    line, driver_output = driver_output.split(b"\n", 1)
    line = line.decode(errors="replace").rstrip("\r")
    if line.startswith("fail"):
        last_failure[0] = line
        return None
    return unescape(line[3:])


def must(*words):
    value = ask(*words)
    if value is None:
        raise Abort("%s: %s" % (" ".join(map(str, words)), last_failure[0]))
    return value


def until(probe, expected, seconds=5):
    """Polls probe() until it gives expected or the time is up; gives the last value."""
    deadline = time.monotonic() + seconds
    while True:
        value = probe()
        if value == expected or time.monotonic() > deadline:
            return value
        time.sleep(0.05)


def text(id):
    return ask("text", WINDOW, id)


def state(query, ids):
    return [ask(query, WINDOW, id) for id in ids]


def start_program():
    return subprocess.Popen([wine_run, vellmark_exe], stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def ends_with_zero(program, what, seconds=15):
    try:
        code = program.wait(seconds)
    except subprocess.TimeoutExpired:
        code = "still running"
    check("%s ends the program with exit code 0" % what, code, 0)


def stays_running(program, marker, label, what):
    """Posts a unit choice after the messages under test: once its label shows, they
    have been handled too, so the program must still run with its window shown."""
    ask("post", WINDOW, WM_COMMAND, marker, 0)
    check("%s: the program goes on" % what, (until(lambda: text(UNIT), label), program.poll()), (label, None))
    check("%s: the window stays shown" % what, ask("visible", WINDOW, 0), "1")


def seed(values):
    must("regdel")
    for name, value in values.items():
        must("regdword" if isinstance(value, int) else "regsz", name, value)


def first_run():
    must("regdel")
    program = start_program()
    yield program
    for i, expected in enumerate(["Failed to get warning", "Failed to get seconds", "Failed to get time type"]):
        check("start-up error box %d" % (i + 1), ask("box", "Error", 20 if i == 0 else 5), expected)
        must("answer", "Error", IDOK)
    must("shown", WINDOW, 10)
    check("no box is left open", ask("boxes"), "")
    check("the title", ask("title", WINDOW), "Vellmark - Inactive")
    drives = must("combo", WINDOW, DISK).split("\t")
    check("no drive is selected, C: is offered", (drives[0].split()[1], "C:\\" in drives[1:]), ("-1", True))
    check("warning level, interval number and unit label",
          [text(WARNING), text(INTERVAL), text(UNIT)], ["", "", "Seconds"])
    check("the slider: position, lowest, highest", ask("slider", WINDOW, SLIDER), "30 10 90")
    check("Autostart and Minimize on start show ticked", state("checked", [AUTOSTART, AUTOMIN]), ["1", "1"])
    check("Start enabled, Stop disabled", state("enabled", [START, STOP]), ["1", "0"])

    print("-- a drive chosen, Start with no warning level, Stop")
    must("select", WINDOW, DISK, "C:\\")
    check("the chosen drive is selected", until(lambda: text(DISK), "C:\\"), "C:\\")
    check("the drive's size is shown", text(SIZE).endswith(" GB"), True)
    must("click", WINDOW, START)
    check("Start without a level warns", ask("box", "Warning", 10), "Warning Level not entered. No warnings will be given")
    must("answer", "Warning", IDOK)
    check("Stop is enabled", until(lambda: ask("enabled", WINDOW, STOP), "1"), "1")
    check("the title when active", ask("title", WINDOW), "Vellmark - Active")
    check("the entries are locked", state("enabled", ENTRIES), ["0"] * len(ENTRIES))
    check("Reset, Exit, Minimize To Tray, Save stay usable", state("enabled", ALWAYS), ["1"] * 4)
    check("the window stays shown", ask("visible", WINDOW, 0), "1")
    must("click", WINDOW, STOP)
    check("Stop is disabled again", until(lambda: ask("enabled", WINDOW, STOP), "0"), "0")
    check("the title after Stop", ask("title", WINDOW), "Vellmark - Inactive")
    check("the entries are unlocked", state("enabled", ENTRIES), ["1"] * len(ENTRIES))

    print("-- entries made, started with a level, stopped and saved")
    for id, value in SAVED_TEXTS.items():
        must("settext", WINDOW, id, value)
    must("tick", WINDOW, AUTOSTART, 0)
    must("tick", WINDOW, AUTOMIN, 0)
    must("post", WINDOW, WM_COMMAND, IDM_MINUTES, 0)
    check("choosing minutes sets up the slider", until(lambda: ask("slider", WINDOW, SLIDER), "5 1 100"), "5 1 100")
    check("the unit label reads Minutes", text(UNIT), "Minutes")
    must("slide", WINDOW, SLIDER, 45)
    check("the slider's number is shown", until(lambda: text(INTERVAL), "45"), "45")
    must("click", WINDOW, START)
    check("a complete Start needs no box", until(lambda: ask("enabled", WINDOW, STOP), "1"), "1")
    check("no box is open", ask("boxes"), "")
    must("click", WINDOW, STOP)
    until(lambda: ask("enabled", WINDOW, STOP), "0")
    must("click", WINDOW, SAVE)
    # "AutoMin" is the last value a save writes.
    check("Save Settings writes the settings", until(lambda: ask("regget", "AutoMin"), "sz 0"), "sz 0")
    must("click", WINDOW, EXIT)
    ends_with_zero(program, "Exit")


SAVED_TEXTS = {WARNING: "12.5", EMAIL: "ops@example.test;\r\nduty@example.test", SERVER: "127.0.0.60",
               FROM: "vellmark@example.test", COMMAND: "c:\\tools\\notify.cmd disk"}


def restart():
    program = start_program()
    yield program
    must("shown", WINDOW, 15)
    check("no start-up box", ask("boxes"), "")
    check("the title", ask("title", WINDOW), "Vellmark - Inactive")
    check("the saved drive is selected", text(DISK), "C:\\")
    check("the saved level", text(WARNING), "12.50")
    check("the saved texts", [text(id) for id in SAVED_TEXTS if id != WARNING],
          [v for id, v in SAVED_TEXTS.items() if id != WARNING])
    check("the saved interval and unit", [ask("slider", WINDOW, SLIDER), text(INTERVAL), text(UNIT)],
          ["45 1 100", "45", "Minutes"])
    check("the saved check boxes", state("checked", [AUTOSTART, AUTOMIN]), ["0", "0"])
    print("-- Escape and WM_ENDSESSION(0) do not end it; WM_CLOSE does")
    must("post", WINDOW, WM_COMMAND, IDCANCEL, 0)
    stays_running(program, IDM_HOURS, "Hours", "Escape")
    must("post", WINDOW, WM_ENDSESSION, 0, 0)
    stays_running(program, IDM_MINUTES, "Minutes", "WM_ENDSESSION(0)")
    must("post", WINDOW, WM_CLOSE, 0, 0)
    ends_with_zero(program, "WM_CLOSE")


def start_mail_server():
    """aiosmtpd on port 25 of 127.0.0.60, or of the first 127.0.N.60 that is free when
    another test run holds it."""
    class Keep:
        def __init__(self):
            self.mails = []

        async def handle_DATA(self, server, session, envelope):
            self.mails.append(envelope)
            return "250 OK"

    for third in range(0, 40):
        handler = Keep()
        controller = Controller(handler, hostname="127.0.%d.60" % third, port=25)
        try:
            controller.start()
            return controller, handler.mails
        except OSError:
            continue
    raise Abort("no loopback address free for the mail server")


def mailing_autostart(server, mails):
    address = server.hostname
    seed({"Disk": "C:\\", "Warning": 10000, "Seconds": 1, "TimeType": 1,
          "EmailAddress": "first@example.test;second@example.test", "EmailServer": address,
          "FromAddress": "vellmark@example.test", "CommandToRun": "", "AutoStart": "1", "AutoMin": "0"})
    program = start_program()
    yield program
    check("the automatic start shows the active window", ask("shown", "Vellmark - Active", 15), "")
    check("no box is open", ask("boxes"), "")
    check("the entries are locked, Stop is enabled", state("enabled", ENTRIES + [STOP]), ["0"] * len(ENTRIES) + ["1"])
    check("an alert reaches each recipient", until(lambda: len(mails) >= 2, True, 15), True)
    host = must("computername")
    first = mails[:2]
    check("the envelopes", sorted((m.mail_from, tuple(m.rcpt_tos)) for m in first),
          [("vellmark@example.test", ("first@example.test",)), ("vellmark@example.test", ("second@example.test",))])
    content = first[0].content.decode(errors="replace")
    message = email.message_from_bytes(first[0].content, policy=email.policy.default)
    check("the subject names the computer", str(message["Subject"]), "Disk Space Problem on %s." % host)
    check("the body is the alert", "Free disk space on disk C:\\ was below warning level of 100.00% on " in content,
          True)
    must("post", WINDOW, WM_COMMAND, IDM_EXIT, 0)
    ends_with_zero(program, "the tray menu's Exit while active")


def start_silent_server():
    """A server on port 25 of 127.0.0.61, or of the first 127.0.N.61 that is free, that
    takes every connection and never answers; the list of connections taken fills as
    they come."""
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    for third in range(0, 40):
        try:
            listener.bind(("127.0.%d.61" % third, 25))
            break
        except OSError:
            continue
    else:
        raise Abort("no loopback address free for the silent server")
    listener.listen(5)
    taken = []

    def take():
        while True:
            try:
                taken.append(listener.accept()[0])
            except OSError:
                return

    threading.Thread(target=take, daemon=True).start()
    return listener, taken


def alert_on_silent_server(address, taken):
    seed({"Disk": "C:\\", "Warning": 10000, "Seconds": 1, "TimeType": 1, "EmailAddress": "first@example.test",
          "EmailServer": address, "FromAddress": "vellmark@example.test", "AutoStart": "1", "AutoMin": "0"})
    program = start_program()
    yield program
    must("shown", "Vellmark - Active", 15)
    check("the alert waits on the silent server", until(lambda: len(taken) >= 1, True, 15), True)
    longest, titles = 0, set()
    for _ in range(20):
        asked = time.monotonic()
        titles.add(ask("title", WINDOW))
        longest = max(longest, time.monotonic() - asked)
        time.sleep(0.1)
    print("      longest answer while the alert waits: %.0f ms" % (longest * 1000))
    check("the window answers within a second while the alert waits", (titles, longest < 1), ({"Vellmark - Active"}, True))
    check("the checks meanwhile send no second alert", len(taken), 1)
    must("click", WINDOW, STOP)
    check("Stop works while the alert waits", until(lambda: ask("title", WINDOW), "Vellmark - Inactive"), "Vellmark - Inactive")
    check("no box is open", ask("boxes"), "")
    asked = time.monotonic()
    must("click", WINDOW, EXIT)
    ends_with_zero(program, "Exit while the alert waits")
    # The server would hold the alert for minutes; the program does not wait for it.
    took = time.monotonic() - asked
    print("      ended %.0f ms after Exit" % (took * 1000))
    check("the program ends within 5 s", took < 5, True)


def tray_autostart():
    seed({"Disk": "C:\\", "Warning": 1, "Seconds": 30, "TimeType": 1, "EmailAddress": "first@example.test",
          "EmailServer": "127.0.0.60", "AutoStart": "1", "AutoMin": "1"})
    program = start_program()
    yield program
    must("wait", "Vellmark - Active", 15)
    check("the automatic start keeps the window hidden", until(lambda: ask("visible", WINDOW, 0), "1", 1.5), "0")
    # A callback for another icon must not restore; the unit choice posted after it shows
    # when it has been handled.
    must("post", WINDOW, WM_TRAYICON, 7, WM_LBUTTONDBLCLK)
    must("post", WINDOW, WM_COMMAND, IDM_MINUTES, 0)
    until(lambda: text(UNIT), "Minutes")
    check("another icon's double click changes nothing", ask("visible", WINDOW, 0), "0")
    for hide, restore, what in [(None, (WM_TRAYICON, TRAY_ICON_ID, WM_LBUTTONDBLCLK), "a double click on the icon"),
                                (MINIMIZE, (WM_TRAYICON, TRAY_ICON_ID, WM_LBUTTONDBLCLK), "a double click on the icon"),
                                (MINIMIZE, (WM_COMMAND, IDM_RESTORE, 0), "the tray menu's Restore")]:
        if hide:
            must("click", WINDOW, hide)
            check("Minimize To Tray hides the window", until(lambda: ask("visible", WINDOW, 0), "0"), "0")
        must("post", WINDOW, *restore)
        check("%s restores the window" % what, until(lambda: ask("visible", WINDOW, 0), "1"), "1")
    check("monitoring goes on", ask("title", WINDOW), "Vellmark - Active")
    check("no box is open", ask("boxes"), "")
    must("post", WINDOW, WM_ENDSESSION, 1, 0)
    ends_with_zero(program, "WM_ENDSESSION(1)")


def signin_without_network():
    # The resolver refuses a label of more than 63 characters at once, as it fails a
    # name when no network is up yet.
    seed({"Disk": "C:\\", "Warning": 10000, "Seconds": 1, "TimeType": 1, "EmailAddress": "first@example.test",
          "EmailServer": "x" * 64 + ".test", "FromAddress": "vellmark@example.test", "AutoStart": "1", "AutoMin": "1"})
    program = start_program()
    yield program
    check("the look-up failure is told", ask("box", "Error", 15), "Couldn't resolve server name. Try IP address instead.")
    check("monitoring runs while it waits for a click", ask("title", WINDOW), "Vellmark - Active")
    check("the window is hidden to the tray meanwhile", ask("visible", WINDOW, 0), "0")
    time.sleep(3.5)  # three checks or more, each failing to mail the same way
    failure = "Error: Couldn't connect to mail server\n\nThe alert did not reach: first@example.test"
    check("the mail failure of every check shows once, beside the look-up failure",
          sorted(ask("boxes").split("\t")[1:]), sorted([failure, "Error: Couldn't resolve server name. Try IP address instead."]))
    must("post", WINDOW, WM_COMMAND, EXIT, 0)
    ends_with_zero(program, "Exit with both boxes open", 5)


def box_open_at_exit(label, way, box):
    """Ends the program by one way out while a box is open. A box's own loop used to
    keep the program alive, checking on, until somebody closed the box."""
    def scenario():
        seed({"Disk": "C:\\", "Warning": 10000, "Seconds": 1, "TimeType": 1, "AutoStart": "1", "AutoMin": "0"})
        program = start_program()
        yield program
        check("the e-mail question at start-up", ask("box", "Warning", 15),
              "Email not entered. Message will be displayed on screen")
        if box == "WARNING!!!":
            must("answer", "Warning", IDOK)
            check("a check below the level shows the alert", ask("box", box, 10).startswith("Free disk space"), True)
        must("post", WINDOW, *way)
        # It ends at once; the bound only leaves room for a loaded machine.
        ends_with_zero(program, "%s with the box %s open" % (label, box), 5)
        check("no box is left", ask("boxes"), "")
    return scenario


def run(title, scenario):
    """Runs one scenario, a generator that yields the program it started as soon as it
    has started it, so that the program is ended here whatever happens after."""
    print("-- " + title)
    steps = scenario()
    program = next(steps)
    try:
        for _ in steps:
            pass
    except Abort as stop:
        failures.append(str(stop))
        print("FAIL  %s" % stop)
    finally:
        if program.poll() is None:
            program.kill()
            program.wait(10)


def main():
    global driver
    started = time.monotonic()
    driver = subprocess.Popen([wine_run, driver_exe], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL)
    server = None
    try:
        run("first run with no settings key", first_run)
        run("restart with the saved settings", restart)
        server, mails = start_mail_server()
        run("automatic start mailing alerts", lambda: mailing_autostart(server, mails))
        silent, taken = start_silent_server()
        server.stop()
        server = None
        try:
            run("an alert waiting on a silent mail server", lambda: alert_on_silent_server(silent.getsockname()[0], taken))
        finally:
            silent.close()
            for conn in taken:
                conn.close()
        run("automatic start to the tray", tray_autostart)
        run("automatic start at sign-in before the network is up", signin_without_network)
        for label, way, box in [("WM_ENDSESSION(1)", (WM_ENDSESSION, 1, 0), "Warning"),
                                ("Exit", (WM_COMMAND, EXIT, 0), "WARNING!!!"),
                                ("the tray menu's Exit", (WM_COMMAND, IDM_EXIT, 0), "WARNING!!!"),
                                ("WM_CLOSE", (WM_CLOSE, 0, 0), "WARNING!!!")]:
            run("%s with the box %s open" % (label, box), box_open_at_exit(label, way, box))
        ask("regdel")
    except Abort as stop:
        failures.append(str(stop))
        print("FAIL  %s" % stop)
    finally:
        if server:
            server.stop()
        driver.stdin.close()
        try:
            driver.wait(10)
        except subprocess.TimeoutExpired:
            driver.kill()
            driver.wait(10)
    print("%d failure(s) in %.1f s" % (len(failures), time.monotonic() - started))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
