#!/usr/bin/python3
"""Vellmark's footprint and speed, each measured side by side with its floor in the same
run, so that the ratios hold on a busy machine: the program's own window with nothing
behind it, and minimal dialog programs, all built with the same flags; the bare drive
query; and curl sending the same mails, plain and with STARTTLS. Prints one table.

    measure.py BUILD_DIR [--runs N] [--watch SECONDS] [--calls N] [--mail-rounds N] [--one-rounds N]
               [--answer-rounds N]

bench/run.sh builds the programs and runs this inside the test bed (a private Wine
prefix with its own wineserver and display: WINEPREFIX and DISPLAY are set).
"""
import argparse
import datetime
import json
import os
import platform
import re
import select
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

SETTINGS_KEY = r"HKEY_CURRENT_USER\SoftWare\Tolvane\Vellmark"
MAIL_HOST = "127.0.0.80"     # a loopback address of the benchmark's own; the program mails port 25
TLS_MAIL_HOST = "127.0.0.81"  # the same, for the server that takes mail only after STARTTLS
RECIPIENTS = 50
SENDER = "vellmark@example.test"
PROBES, PROBE_PAUSE_MS = 200, 20  # the window's answers in one round, over about 5 s of 1 s checks
EARLY_SECONDS = 10           # the first memory reading; the second is at the end of the watch
SETTLE_SECONDS = 5           # idle CPU is counted from this long after the window showed
SIZE_LIMIT = 65536           # bytes of the stripped exe
START_ROUNDS = 50            # rounds of the start-up work timed in one process

# Windows' own DLLs that a small Win32 program may import. A compiler's runtime
# (libstdc++-6.dll, libgcc_s_seh-1.dll, libwinpthread-1.dll, vcruntime140.dll) is not one.
WINDOWS_DLLS = {
    "advapi32.dll", "bcrypt.dll", "comctl32.dll", "comdlg32.dll", "crypt32.dll", "dnsapi.dll",
    "dwmapi.dll", "gdi32.dll", "imm32.dll", "iphlpapi.dll", "kernel32.dll", "mpr.dll",
    "msvcrt.dll", "mswsock.dll", "netapi32.dll", "ntdll.dll", "ole32.dll", "oleaut32.dll",
    "psapi.dll", "rpcrt4.dll", "secur32.dll", "setupapi.dll", "shcore.dll", "shell32.dll",
    "shlwapi.dll", "ucrtbase.dll", "user32.dll", "userenv.dll", "uxtheme.dll", "version.dll",
    "winhttp.dll", "wininet.dll", "winmm.dll", "winspool.drv", "ws2_32.dll", "wsock32.dll",
}


def is_windows_dll(name):
    name = name.lower()
    return name in WINDOWS_DLLS or name.startswith(("api-ms-win-", "ext-ms-win-"))


def imports(exe):
    """The DLLs an executable imports, as its import table names them."""
    out = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", exe], check=True, capture_output=True,
                         text=True).stdout
    return [line.split("DLL Name:", 1)[1].strip() for line in out.splitlines() if "DLL Name:" in line]


def section_table(exe):
    """The sections of an executable as (name, bytes, offset in the file), in file order."""
    out = subprocess.run(["x86_64-w64-mingw32-objdump", "-h", exe], check=True, capture_output=True,
                         text=True).stdout
    rows = [line.split() for line in out.splitlines()]
    return [(row[1], int(row[2], 16), int(row[5], 16)) for row in rows if len(row) >= 7 and row[0].isdigit()]


def sections(exe):
    """The sections of an executable as (name, bytes) in file order, as its headers list them."""
    return [(name, length) for name, length, _ in section_table(exe)]


def delay_imports(exe):
    """The DLLs an executable loads at their first call: named in its import data but not
    in its import table. The MinGW linker leaves the delay-load directory of the headers
    empty, so the names are what there is to go by."""
    with open(exe, "rb") as image:
        data = image.read()
    named = []
    for name, length, offset in section_table(exe):
        if name == ".idata":
            named += [m.group(1).decode() for m in re.finditer(rb"([A-Za-z0-9_.-]+\.dll)\0", data[offset:offset + length],
                                                                re.IGNORECASE)]
    listed = {dll.lower() for dll in imports(exe)}
    return [dll for dll in named if dll.lower() not in listed]


def memory_kib(pid):
    """(private, resident) memory of a Linux process in KiB: the private pages of all its
    mappings (smaps_rollup), and VmRSS."""
    private = 0
    with open(f"/proc/{pid}/smaps_rollup") as rollup:
        for line in rollup:
            field, _, rest = line.partition(":")
            if field in ("Private_Clean", "Private_Dirty", "Private_Hugetlb"):
                private += int(rest.split()[0])
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return private, int(line.split()[1])
    raise RuntimeError(f"process {pid} has no VmRSS")


def cpu_seconds(pid):
    """CPU time a Linux process has used so far, in seconds, over all its threads, to the
    nanosecond (schedstat) rather than the 10 ms of the clock tick."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as schedstat:
                total += int(schedstat.read().split()[0])
        except FileNotFoundError:
            pass        # the thread ended between the listing and the read
    return total / 1e9


def thread_count(pid):
    return len(os.listdir(f"/proc/{pid}/task"))


def ratio(value, floor):
    return value / floor if floor else float("inf")


def reg_text(values):
    """A REGEDIT4 file that sets the settings key to values: int as REG_DWORD, str as REG_SZ."""
    lines = ["REGEDIT4", "", f"[{SETTINGS_KEY}]"]
    for name, value in values.items():
        if isinstance(value, int):
            lines.append(f'"{name}"=dword:{value:08x}')
        else:
            escaped = value.replace("\\", "\\\\").replace('"', '\\"')
            lines.append(f'"{name}"="{escaped}"')
    return "\r\n".join(lines) + "\r\n"


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Bench:
    def __init__(self, build, args):
        self.args = args
        self.vellmark = os.path.join(build, "vellmark.exe")
        self.minimal = os.path.join(build, "bench", "bench_minimal.exe")
        # The floors of start-up and memory, by name: program and the title of its window.
        # The first, the program's own window behind an empty procedure, is the limit; the
        # one-button dialogs keep the figures comparable with earlier runs.
        self.floors = {
            "window": (os.path.join(build, "bench", "bench_window.exe"), "Vellmark"),
            "minimal": (self.minimal, "Minimal"),
            "minimal_cc": (os.path.join(build, "bench", "bench_minimal_cc.exe"), "Minimal with common controls"),
        }
        self.window_again = os.path.join(build, "bench", "bench_window_again.exe")
        self.helper = os.path.join(build, "bench", "bench_startup.exe")
        self.sampler = os.path.join(build, "bench", "bench_sample.exe")
        self.starter = os.path.join(build, "bench", "bench_start.exe")
        self.mailer = os.path.join(build, "bench", "bench_mail.exe")
        self.prober = os.path.join(build, "bench", "bench_probe.exe")
        self.work = tempfile.mkdtemp(prefix="vellmark-bench-")
        self.started = []       # every process started, so that none outlives the run

    # Processes

    def wine(self, *args, timeout=600):
        # Output goes through files, not pipes: a Wine program may start a system process
        # that inherits its handles and outlives it, and a pipe would stay open with it.
        with tempfile.TemporaryFile("w+") as out, tempfile.TemporaryFile("w+") as err:
            code = subprocess.run(["wine", *args], stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                  timeout=timeout).returncode
            out.seek(0)
            err.seek(0)
            if code != 0:
                raise RuntimeError(f"{' '.join(args)} failed ({code}): {err.read().strip()} {out.read().strip()}")
            return out.read()

    def launch(self, exe, *args):
        process = subprocess.Popen(["wine", exe, *args], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        self.started.append(process)
        return process

    def hold_desktop(self):
        # Its output is read up to "ready" only: the explorer it may start inherits it.
        holder = subprocess.Popen(["wine", self.helper, "hold"], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL, text=True)
        self.started.append(holder)
        if holder.stdout.readline().strip() != "ready":
            raise RuntimeError("the desktop did not come up")

    def end_all(self):
        """Ends every process the benchmark started and removes its working files."""
        for process in self.started:
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        self.started = []
        shutil.rmtree(self.work, ignore_errors=True)

    def close_windows(self, title, processes):
        self.wine(self.helper, "close", title)
        for process in processes:
            try:
                process.wait(timeout=15)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()

    def seed(self, values):
        # Without these values the program opens three error boxes before its window.
        subprocess.run(["wine", "reg", "delete", SETTINGS_KEY, "/f"], stdin=subprocess.DEVNULL,
                       capture_output=True)
        path = os.path.join(self.work, "settings.reg")
        with open(path, "w", newline="") as reg:
            reg.write(reg_text(values))
        self.wine("reg", "import", path)

    def seed_monitoring(self, seconds):
        # An automatic start at the interval, the window left shown. The level, 0.01 %, is
        # set so that no box asks about it and lies below any real free share, so no alert
        # is raised; with a recipient and a dotted server no box asks about mail either.
        self.seed({"Disk": "C:\\", "Warning": 1, "Seconds": seconds, "TimeType": 1, "AutoStart": "1",
                   "AutoMin": "0", "EmailAddress": "bench@example.test", "EmailServer": MAIL_HOST})

    # The six measures

    def size(self):
        figures = {}
        for name, exe in (("vellmark", self.vellmark), ("minimal", self.minimal),
                          ("window", self.floors["window"][0])):
            dlls, delayed = imports(exe), delay_imports(exe)
            figures[name] = {"bytes": os.path.getsize(exe), "imports": dlls, "delayed": delayed,
                             "sections": sections(exe),
                             "foreign": [dll for dll in dlls + delayed if not is_windows_dll(dll)]}
        return figures

    def startup(self):
        self.seed({"Warning": 0, "Seconds": 30, "TimeType": 1, "AutoStart": "0", "AutoMin": "0"})
        launches = [("vellmark", self.vellmark, "Vellmark - Inactive")]
        launches += [(name, exe, title) for name, (exe, title) in self.floors.items()]
        launches.append(("window_again", self.window_again, self.floors["window"][1]))
        programs = {windows_path(exe): name for name, exe, _ in launches}
        out = self.wine(self.helper, "time", str(self.args.runs),
                        *[arg for _, exe, title in launches for arg in (windows_path(exe), title)])
        times = {name: [] for name in programs.values()}
        for line in out.splitlines():
            exe, _, ms = line.rsplit(" ", 2)
            times[programs[exe]].append(float(ms))
        figures = {name: statistics.median(values) for name, values in times.items()}
        # The same start with the same settings, its work timed in one process.
        for line in self.wine(self.starter, str(START_ROUNDS)).splitlines():
            name, _, us = line.split()
            figures[f"work_{name}"] = float(us) / 1000
        return figures

    def watch(self):
        """The watch in two rounds, as only one Vellmark runs in a session: Vellmark
        monitoring at 1 s (memory) beside the floors, idle (memory); then Vellmark
        monitoring at 10 s (CPU) beside the minimal dialog, still idle (CPU)."""
        watch = self.args.watch
        self.seed_monitoring(1)
        fast = self.launch(self.vellmark)
        self.wine(self.helper, "wait", "Vellmark - Active", "1", "60")
        fast_start = time.monotonic()
        floors = {}
        for name, (exe, title) in self.floors.items():
            process = self.launch(exe)
            self.wine(self.helper, "wait", title, "1", "60")
            floors[name] = (process, time.monotonic())
        minimal = floors["minimal"][0]
        # Each reading at its moment, in the order of the moments.
        readings = read_at([(fast_start + EARLY_SECONDS, "fast_early", lambda: memory_kib(fast.pid)),
                            (fast_start + watch, "fast_late", lambda: memory_kib(fast.pid))] +
                           [(start + watch, f"{name}_late", lambda pid=process.pid: memory_kib(pid))
                            for name, (process, start) in floors.items()])
        if fast.poll() is not None:
            raise RuntimeError("a watched program ended during the watch")
        self.close_windows("Vellmark - Active", (fast,))

        # Idle CPU is counted from a while after the window showed: the first moments (the
        # first paints) still belong to the start.
        self.seed_monitoring(10)
        slow = self.launch(self.vellmark)
        self.wine(self.helper, "wait", "Vellmark - Active", "1", "60")
        slow_start = time.monotonic()
        threads = lambda: (thread_count(slow.pid), thread_count(minimal.pid))  # noqa: E731
        readings.update(read_at([
            (slow_start + SETTLE_SECONDS, "slow_cpu_from", lambda: cpu_seconds(slow.pid)),
            (slow_start + SETTLE_SECONDS + watch, "slow_cpu_to", lambda: cpu_seconds(slow.pid)),
            (slow_start + SETTLE_SECONDS, "minimal_cpu_from", lambda: cpu_seconds(minimal.pid)),
            (slow_start + SETTLE_SECONDS + watch, "minimal_cpu_to", lambda: cpu_seconds(minimal.pid)),
            (slow_start + SETTLE_SECONDS, "threads_from", threads),
            (slow_start + SETTLE_SECONDS + watch, "threads_to", threads)]))
        for process in (slow, *(process for process, _ in floors.values())):
            if process.poll() is not None:
                raise RuntimeError("a watched program ended during the watch")
        self.close_windows("Vellmark - Active", (slow,))
        for name, (process, _) in floors.items():
            self.close_windows(self.floors[name][1], (process,))
        return {"fast_early": readings["fast_early"], "fast_late": readings["fast_late"],
                **{f"{name}_late": readings[f"{name}_late"] for name in floors},
                "slow_cpu": readings["slow_cpu_to"] - readings["slow_cpu_from"],
                "minimal_cpu": readings["minimal_cpu_to"] - readings["minimal_cpu_from"],
                "threads_changed": readings["threads_from"] != readings["threads_to"]}

    def sample(self):
        out = self.wine(self.sampler, str(self.args.calls))
        figures = {}
        for line in out.splitlines():
            state, name, calls, value = line.split()
            figures[(state, name)] = float(value) / int(calls) if int(calls) else float(value)
        return figures

    def start_sink(self, host, record, *tls):
        """The benchmark's mail server on port 25 of host, recording into record; tls
        holds its certificate options, when it is to take mail only after STARTTLS."""
        open(record, "w").close()
        log = record + ".log"
        with open(log, "w") as out:
            sink = subprocess.Popen(
                ["/usr/bin/python3", "-m", "aiosmtpd", "-n", "-l", f"{host}:25", *tls, "-c", "smtpsink.Recorder", record],
                env=dict(os.environ, PYTHONPATH=os.path.dirname(os.path.abspath(__file__))),
                stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        self.started.append(sink)
        wait_for_listener(host, 25, sink, log)
        return sink

    def mailer_times(self, host, recipients, message, alerts):
        """The milliseconds of each of alerts, sent one after the other by one process."""
        lines = [line.split() for line in self.wine(self.mailer, host, str(recipients), windows_path(message),
                                                       str(alerts)).splitlines() if line.strip()]
        if len(lines) != alerts or any(line[0] != "mail" or line[3] != "0" for line in lines):
            raise RuntimeError(f"the mailer reported failures: {lines}")
        return [float(line[2]) for line in lines]

    def curl_time(self, host, recipients, message, *tls):
        start = time.perf_counter()
        for i in range(1, recipients + 1):
            subprocess.run(["curl", "-s", "-S", f"smtp://{host}:25", *tls, "--mail-from", SENDER,
                            "--mail-rcpt", f"bench{i:02d}@example.test", "--upload-file", message],
                           check=True, stdin=subprocess.DEVNULL)
        return (time.perf_counter() - start) * 1000

    def mail(self):
        record = os.path.join(self.work, "mails.jsonl")
        sink = self.start_sink(MAIL_HOST, record)
        try:
            message = os.path.join(self.work, "message.txt")
            totals = {"vellmark": [], "curl": []}
            seen = 0
            for _ in range(self.args.mail_rounds):
                # Each round's alert carries its own time, so the two clients of one round
                # send the same mail, and the next round another.
                totals["vellmark"] += self.mailer_times(MAIL_HOST, RECIPIENTS, message, 1)
                seen, digest = check_mails(record, seen, "vellmark", None)
                totals["curl"].append(self.curl_time(MAIL_HOST, RECIPIENTS, message))
                seen, digest = check_mails(record, seen, "curl", digest)
            return {name: statistics.median(values) for name, values in totals.items()}
        finally:
            sink.terminate()
            sink.wait(timeout=10)

    def one_mail(self):
        """One mail to one recipient, plain and with STARTTLS, each against curl to the same
        server. Each round starts the program's mailer for two alerts, as a running Vellmark
        sends them: the first also loads the socket library and, with STARTTLS, the security
        library, and is kept apart; the second is the measure. curl starts anew for each
        mail, taking what it negotiates (TLS 1.3 where the program has 1.2)."""
        cert, key = os.path.join(self.work, "cert.pem"), os.path.join(self.work, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj",
                        "/CN=bench.test", "-keyout", key, "-out", cert], check=True, capture_output=True)
        one = [["bench01@example.test"]]
        figures = {}
        for name, host, tls, curl_tls in (("plain", MAIL_HOST, (), ()),
                                          ("starttls", TLS_MAIL_HOST, ("--tlscert", cert, "--tlskey", key),
                                           ("--ssl-reqd", "-k"))):
            record = os.path.join(self.work, f"one-{name}.jsonl")
            message = os.path.join(self.work, f"one-{name}.txt")
            sink = self.start_sink(host, record, *tls)
            try:
                times = {"first": [], "vellmark": [], "curl": []}
                seen = 0
                for _ in range(self.args.one_rounds):
                    first, second = self.mailer_times(host, 1, message, 2)
                    times["first"].append(first)
                    times["vellmark"].append(second)
                    seen, digest = check_mails(record, seen, "vellmark", None, one * 2, bool(tls))
                    times["curl"].append(self.curl_time(host, 1, message, *curl_tls))
                    seen, digest = check_mails(record, seen, "curl", digest, one, bool(tls))
                figures[name] = {part: statistics.median(values) for part, values in times.items()}
                with open(record) as lines:
                    mails = [json.loads(line) for line in lines]
                figures[name]["versions"] = {client: mails[at]["tls"] for client, at in (("vellmark", 0), ("curl", 2))}
            finally:
                sink.terminate()
                sink.wait(timeout=10)
        return figures

    def answer(self):
        """The window's longest answer to WM_NULL while an alert waits on a mail server that
        takes the connection and never answers, against the same probe on the same window
        checking every second with no alert. Rounds alternate between the two, so that a
        busy moment of the machine falls on both alike; each round starts the program anew."""
        silent = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        silent.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        silent.bind((MAIL_HOST, 25))
        silent.listen(5)    # the connection waits in the queue, never answered
        longest = {"idle": [], "alert": []}
        try:
            for _ in range(self.args.answer_rounds):
                for state in longest:
                    if state == "idle":
                        self.seed_monitoring(1)
                    else:
                        # 101 % is above any drive's free share: every check raises the alert.
                        self.seed({"Disk": "C:\\", "Warning": 10100, "Seconds": 1, "TimeType": 1, "AutoStart": "1",
                                   "AutoMin": "0", "EmailAddress": "bench@example.test", "EmailServer": MAIL_HOST})
                    program = self.launch(self.vellmark)
                    self.wine(self.helper, "wait", "Vellmark - Active", "1", "60")
                    # The first check comes a second after the start; its alert then waits.
                    time.sleep(1.5)
                    out = self.wine(self.prober, "Vellmark - Active", str(PROBES), str(PROBE_PAUSE_MS)).split()
                    longest[state].append(float(out[2]))
                    self.close_windows("Vellmark - Active", (program,))
            if not select.select([silent], [], [], 0)[0]:
                raise RuntimeError("no alert reached the silent mail server")
        finally:
            silent.close()
        return {state: {"median": statistics.median(values), "worst": max(values)} for state, values in longest.items()}


def answer_row(figures, args):
    a, i = figures["alert"], figures["idle"]
    return (f"7 Longest answer, alert on a silent server, median of {args.answer_rounds} ({PROBES} probes each)",
            f"{a['median']:.1f} ms (worst {a['worst']:.1f})", f"{i['median']:.1f} ms idle (worst {i['worst']:.1f})",
            f"{ratio(a['median'], i['median']):.2f}x", "< 50 ms", verdict(a["median"] < 50))


def pause_until(moment):
    delay = moment - time.monotonic()
    if delay > 0:
        time.sleep(delay)


def read_at(events):
    """Runs each (moment, name, read) at its moment, in the order of the moments; the
    readings by name."""
    readings = {}
    for moment, name, read in sorted(events, key=lambda event: event[0]):
        pause_until(moment)
        readings[name] = read()
    return readings


def wait_for_listener(host, port, server, log, seconds=15):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if server.poll() is not None:
            with open(log) as out:
                raise RuntimeError(f"the mail server ended: {out.read().strip()}")
        try:
            socket.create_connection((host, port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.1)
    raise RuntimeError(f"no mail server listens on {host}:{port}")


def check_mails(record, seen, client, digest, expected=None, tls=False):
    """Checks the mails delivered after the first seen: exactly one to each recipient (or
    to the sorted recipients of expected), all with the same content, which must also be
    digest (the other client's) when given, and with tls all through TLS. Returns the
    count of mails now seen and the content's digest."""
    with open(record) as lines:
        mails = [json.loads(line) for line in lines]
    new = mails[seen:]
    expected = expected or [[f"bench{i:02d}@example.test"] for i in range(1, RECIPIENTS + 1)]
    if sorted(mail["rcpts"] for mail in new) != expected:
        raise RuntimeError(f"{client}: {len(new)} mails arrived, not one to each of {len(expected)} recipients")
    if tls and not all(mail.get("tls") for mail in new):
        raise RuntimeError(f"{client}: a mail arrived without TLS")
    digests = {mail["sha256"] for mail in new} | ({digest} if digest else set())
    if len(digests) != 1:
        contents = {mail["sha256"]: mail.get("content") for mail in mails}
        raise RuntimeError(f"{client}: the mails differ from each other or from the other client's: " +
                           " | ".join(repr(contents.get(d)) for d in sorted(digests)))
    return len(mails), digests.pop()


def machine():
    with open("/proc/cpuinfo") as cpuinfo:
        model = next((line.split(":", 1)[1].strip() for line in cpuinfo if line.startswith("model name")), "?")
    with open("/proc/meminfo") as meminfo:
        memory = int(meminfo.readline().split()[1]) // 1024
    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    system = platform.freedesktop_os_release().get("PRETTY_NAME", "Linux")
    return f"{model}, {os.cpu_count()} cores, {memory} MiB; {system}; {wine}"


# The floors below the first, as the rows under a measure name them.
FLOOR_ROWS = (("minimal", "    (one-button dialog)"), ("minimal_cc", "    (the same, with the common controls)"))


def verdict(met):
    return "met" if met else "MISSED"


def floor_rows(rows, label, value, floors, limit, show):
    """A measure against the program's own window (its goal: at most limit times that
    floor), then against each one-button floor for comparison with earlier runs."""
    r = ratio(value, floors["window"])
    rows.append((label, show(value), show(floors["window"]) + " this window", f"{r:.2f}x", f"<= {limit:.2f}x",
                 verdict(r <= limit)))
    for name, sub_label in FLOOR_ROWS:
        rows.append((sub_label, "", show(floors[name]), f"{ratio(value, floors[name]):.2f}x", "", ""))


def table(size, startup, watch, sample, mail, args):
    """The rows of the table: measure, Vellmark, floor, ratio or figure, goal, verdict."""
    v, m, w = size["vellmark"], size["minimal"], size["window"]
    rows = [
        ("1 Size, stripped exe", f"{v['bytes']:,} B", f"{m['bytes']:,} B", f"{ratio(v['bytes'], m['bytes']):.2f}x",
         f"<= {SIZE_LIMIT:,} B", verdict(v["bytes"] <= SIZE_LIMIT)),
        ("    (the program's window alone)", "", f"{w['bytes']:,} B", f"{ratio(v['bytes'], w['bytes']):.2f}x", "", ""),
        ("  Imported DLLs (listed below)", f"{len(v['imports'])} + {len(v['delayed'])} at first use",
         f"{len(m['imports'])}",
         "foreign: " + (" ".join(v["foreign"]) or "none"), "Windows' only", verdict(not v["foreign"])),
    ]
    floor_rows(rows, f"2 Start-up to window shown, median of {args.runs}", startup["vellmark"], startup, 1.10,
               lambda ms: f"{ms:.1f} ms")
    rows.append(("    (this window again: the run's own spread)", f"{startup['window_again']:.1f} ms", "",
                 f"{ratio(startup['window_again'], startup['window']):.2f}x", "", ""))
    late = {name: watch[f"{name}_late"] for name in ("window", "minimal", "minimal_cc")}
    fp, fr = watch["fast_late"]
    floor_rows(rows, f"3 Private memory after {args.watch} s (1 s checks)", fp,
               {name: private for name, (private, _) in late.items()}, 1.10, lambda kib: f"{kib:,} KiB")
    floor_rows(rows, f"  Resident memory after {args.watch} s", fr,
               {name: resident for name, (_, resident) in late.items()}, 1.2, lambda kib: f"{kib:,} KiB")
    ep, er = watch["fast_early"]
    rows.append((f"  Growth {EARLY_SECONDS} s -> {args.watch} s (private, resident)",
                 f"{fp - ep:+,} / {fr - er:+,} KiB",
                 "", "", "flat (0)", verdict(fp - ep <= 0 and fr - er <= 0)))
    for state, label in (("shown", "window shown"), ("tray", "in the tray")):
        s, q = sample[(state, "sample")], sample[(state, "raw_query")]
        rows.append((f"4 One sample, {label} ({args.calls:,} calls, median round)", f"{s:.1f} us",
                     f"{q:.1f} us raw query",
                     f"{ratio(s, q):.2f}x", "<= 1.2x", verdict(ratio(s, q) <= 1.2)))
    share = watch["slow_cpu"] / args.watch * 100
    floor_share = watch["minimal_cpu"] / args.watch * 100
    rows.append((f"5 Idle CPU over {args.watch} s (10 s checks) from {SETTLE_SECONDS} s",
                 f"{watch['slow_cpu'] * 1000:.1f} ms = {share:.3f} %",
                 f"{watch['minimal_cpu'] * 1000:.1f} ms = {floor_share:.3f} %", "of one core", "< 0.1 %",
                 verdict(share < 0.1)))
    per_v, per_c = mail["vellmark"] / RECIPIENTS, mail["curl"] / RECIPIENTS
    rows.append((f"6 Mail to {RECIPIENTS}, median of {args.mail_rounds} (per recipient)",
                 f"{mail['vellmark']:.0f} ms ({per_v:.2f} ms)", f"{mail['curl']:.0f} ms ({per_c:.2f} ms) curl",
                 f"{ratio(per_v, per_c):.2f}x", "<= 1x", verdict(per_v <= per_c)))
    return rows


def one_mail_rows(one, args):
    rows = []
    for name, label in (("plain", "8 One mail, plain"), ("starttls", "9 One mail with STARTTLS")):
        v, c = one[name]["vellmark"], one[name]["curl"]
        rows.append((f"{label}, median of {args.one_rounds}", f"{v:.1f} ms", f"{c:.1f} ms curl",
                     f"{ratio(v, c):.2f}x", "<= 1x", verdict(v <= c)))
    return rows


def print_table(rows, notes):
    header = ("Measure", "Vellmark", "Floor", "Ratio", "Goal", "")
    widths = [max(len(str(row[i])) for row in [header, *rows]) for i in range(len(header))]
    for row in [header, tuple("-" * w for w in widths), *rows]:
        print("  ".join(str(cell).ljust(width) for cell, width in zip(row, widths)).rstrip())
    for note in notes:
        print(note)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("--runs", type=int, default=41, help="start-ups of each program (default 41)")
    parser.add_argument("--watch", type=int, default=60, help="seconds to watch memory and CPU (default 60)")
    parser.add_argument("--calls", type=int, default=10000, help="samples and raw queries (default 10000)")
    parser.add_argument("--mail-rounds", type=int, default=3, help="alerts and curl loops (default 3)")
    parser.add_argument("--one-rounds", type=int, default=11, help="single mails of each kind (default 11)")
    parser.add_argument("--answer-rounds", type=int, default=3, help="rounds of window probes (default 3)")
    args = parser.parse_args()
    if args.watch <= EARLY_SECONDS:
        parser.error(f"--watch must be longer than {EARLY_SECONDS} s")

    bench = Bench(args.build, args)
    load_before = os.getloadavg()
    began = datetime.datetime.now().astimezone()
    try:
        bench.hold_desktop()
        # The start-ups come after the shorter measures, once the desktop's own start has
        # long settled.
        size = bench.size()
        sample = bench.sample()
        mail = bench.mail()
        one = bench.one_mail()
        answer = bench.answer()
        startup = bench.startup()
        watch = bench.watch()
    finally:
        bench.end_all()
    load_after = os.getloadavg()
    notes = [
        "",
        f"Date: {began:%Y-%m-%d %H:%M %Z}; machine: {machine()}",
        f"Load average (1, 5, 15 min) before: {' '.join(f'{x:.2f}' for x in load_before)};"
        f" after: {' '.join(f'{x:.2f}' for x in load_after)}",
    ]
    notes.append(f"Imports: vellmark.exe {' '.join(size['vellmark']['imports'])},"
                 f" at first use {' '.join(size['vellmark']['delayed']) or 'none'};"
                 f" the minimal dialog {' '.join(size['minimal']['imports'])};"
                 f" the program's window alone {' '.join(size['window']['imports'])}")
    notes.append("Sections of vellmark.exe (bytes): " +
                 ", ".join(f"{name} {length:,}" for name, length in size["vellmark"]["sections"]))
    parts = [f"{label} {sample[('shown', name)]:.1f} / {sample[('tray', name)]:.1f} us"
             for name, label in (("part_lookup_and_query", "look-up and query"),
                                 ("part_four_mark_boxes", "the four mark boxes"), ("part_tooltip", "the tooltip"))]
    notes.append("Parts of one sample (window shown / in the tray): " + ", ".join(parts))
    work = [f"{label} {startup[f'work_part_{name}']:.2f}"
            for name, label in (("settings", "settings"), ("drive_list", "drive list"),
                                ("first_sample", "first sample"), ("unit_set_up", "unit set-up"),
                                ("tray_record", "tray record"))]
    notes.append(f"Start-up work in one process, median of {START_ROUNDS} (ms): the window made and shown"
                 f" {startup['work_window']:.2f} by the floor's empty procedure, {startup['work_program']:.2f} by"
                 f" the program's; the program's parts: {', '.join(work)}")
    notes.append(f"One mail: the mailer's first alert, which loads the libraries: {one['plain']['first']:.1f} ms"
                 f" plain, {one['starttls']['first']:.1f} ms with STARTTLS; TLS versions: Vellmark"
                 f" {one['starttls']['versions']['vellmark']}, curl {one['starttls']['versions']['curl']}")
    if not sample[("tray", "icon_present")]:
        notes.append("Note: the shell took no tray icon, so the tray row measures a dialog without one.")
    if watch["threads_changed"]:
        notes.append("Note: a watched program started or ended threads; the CPU figure counts only live threads.")
    print_table(table(size, startup, watch, sample, mail, args) + [answer_row(answer, args)] +
                one_mail_rows(one, args), notes)


if __name__ == "__main__":
    sys.exit(main())
