#!/usr/bin/python3
"""The program left alone at the shortest interval, as at an empty desk over a weekend,
only shorter: an automatic start checking every second, the drive below the warning
level and no recipient list, so that every check raises the alert and nobody answers.

    long_run.py WINE_RUN VELLMARK_EXE DRIVER_EXE SECONDS

Watches it through the driver (tests/driver) for SECONDS after it went active, asking
its window for its title every second, and reads the process's private memory every
10 s. Passes when the program still runs at the end, every answer came within a
second, at most one alert box was open at a time, and the private memory grew by no
more than GROWTH_LIMIT_KB after the first 20 s. Removes the settings it stored and ends
the program and the driver, also after a failure.
"""
import os
import select
import subprocess
import sys
import time

WINDOW = "Vellmark - Active"
IDOK = 1
# A box left open on every check added about 15 kB each (1.5 MB in 100 s); with at most
# one box open the memory did not move at all after the first 10 s.
GROWTH_LIMIT_KB = 512

wine_run, vellmark_exe, driver_exe, seconds = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
failures = []


def check(what, ok, detail=""):
    print("%s  %s%s" % ("ok  " if ok else "FAIL", what, "" if ok else ": " + detail))
    if not ok:
        failures.append(what)


def ask(driver, *words):
    """One driver command; its value, or None when it failed or gave no answer."""
    quoted = ['"%s"' % str(w).replace("\\", "\\\\").replace('"', '\\"') for w in words]
    driver.stdin.write((" ".join(quoted) + "\n").encode())
    driver.stdin.flush()
    line = b""
    deadline = time.monotonic() + 30
    while not line.endswith(b"\n"):
        ready, _, _ = select.select([driver.stdout], [], [], max(0, deadline - time.monotonic()))
        chunk = os.read(driver.stdout.fileno(), 1) if ready else b""
        if not chunk:
            return None
        line += chunk
    line = line.decode(errors="replace").rstrip("\r\n")
    return line[3:] if line.startswith("ok") else None


def private_kb(pid):
    """Anonymous resident memory of the program's Linux process: Wine runs the Windows
    program in the process that wine_run execs into."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("RssAnon:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def watch(driver, program):
    settings = [("regsz", "Disk", "C:\\"), ("regdword", "Seconds", 1), ("regdword", "TimeType", 1),
                # 101% is above the free percentage of any drive, whatever the host holds.
                ("regdword", "Warning", 10100), ("regsz", "AutoStart", "1"), ("regsz", "AutoMin", "0")]
    if ask(driver, "regdel") is None or any(ask(driver, *s) is None for s in settings):
        return check("the settings are stored", False)
    program.append(subprocess.Popen([wine_run, vellmark_exe], stdin=subprocess.DEVNULL,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    pid = program[0].pid
    # The automatic start asks whether to go on without a recipient list.
    if ask(driver, "box", "Warning", 20) is None or ask(driver, "answer", "Warning", IDOK) is None:
        return check("the start-up question is answered", False)
    if ask(driver, "wait", WINDOW, 10) is None:
        return check("monitoring starts", False)

    start = time.monotonic()
    longest, most_boxes, memory = 0.0, 0, {}
    while time.monotonic() - start < seconds:
        asked = time.monotonic()
        title = ask(driver, "title", WINDOW)
        took = time.monotonic() - asked
        if title != WINDOW:
            return check("the window answers", False, "after %.0f s it gave %r" % (asked - start, title))
        longest = max(longest, took)
        boxes = ask(driver, "boxes") or ""
        most_boxes = max(most_boxes, boxes.count("\tWARNING!!!:"))
        mark = int(time.monotonic() - start) // 10 * 10
        if mark not in memory:
            memory[mark] = private_kb(pid)
        time.sleep(max(0, 1 - (time.monotonic() - asked)))
    memory[seconds] = private_kb(pid)

    print("private memory (kB): " + " ".join("%ds:%s" % (t, kb) for t, kb in sorted(memory.items())))
    print("longest answer: %.0f ms" % (longest * 1000))
    check("the program still runs after %d s" % seconds, program[0].poll() is None)
    check("the window answered within a second every time", longest < 1.0, "longest %.3f s" % longest)
    check("at most one alert box was open at a time", most_boxes <= 1, "%d were" % most_boxes)
    first, last = memory.get(20), memory[seconds]
    check("private memory grew by at most %d kB after 20 s" % GROWTH_LIMIT_KB,
          first is not None and last is not None and last - first <= GROWTH_LIMIT_KB,
          "%s kB at 20 s, %s kB at the end" % (first, last))


def main():
    driver = subprocess.Popen([wine_run, driver_exe], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL)
    program = []
    try:
        watch(driver, program)
    finally:
        for p in program:
            p.kill()
            p.wait()
        ask(driver, "regdel")
        driver.stdin.close()
        driver.wait(10)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
