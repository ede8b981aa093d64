#!/usr/bin/python3
"""Mail servers on loopback addresses for the mailer tests, run in the background.

    peers.py start DIR   start the servers, wait until all listen, record into DIR
    peers.py stop DIR    end the servers started for DIR (by the pid kept in DIR)

The servers listen on port 25 of the first block of addresses 127.0.N.25 to .45 that
is free (127.0.0.x when no other run holds it); DIR/ready holds the block's prefix,
"127.0.N.", once every server listens. Every connection a server takes is written, when
it ends, to DIR/<server>-<nnnn>.bin (nnnn counts connections across all servers, in the
order they were taken). The recording servers write the raw bytes received; aiosmtpd
writes, per delivered mail, the client's port, the HELO name, the sender, the recipients
joined by ';', the client's address, what Python's email package finds wrong with the
message ("ok" when nothing) and its Subject as a reader sees it, one line each, then the
message content as it stored it. A mail for a recipient whose name starts with
"spamcheck" is also judged by SpamAssassin's local rules, after a relay's Received line
naming the client's greeting: DIR/spamassassin-<nnnn>.bin holds "score=S tests=A,B",
the rules that fired ("none" for none). The record's last line before the content holds the
TLS version of the session ("plain" without). The servers with TLS use a certificate
made at start, which nobody trusts.

    .25  aiosmtpd, the real server
    .26  good     answers like a plain SMTP server
    .27  refuse   refuses the greeting and every command
    .28  silent   never answers
    .29  stall    answers the greeting, EHLO and MAIL, then never again
    .30  backlog  a full listen queue: a connect is never answered
    .31  hangup   closes every connection at once
    .32  oneshot  like good, but refuses connections for 3 s after taking one
    .33  nothing listens: a connect is refused
    .34  midclose answers the greeting and EHLO, then closes at the next command
    .35  flood    answers the greeting and every command with 64 KB
    .36  drip     sends replies one byte a second, whatever the client sends
    .37  strict   like good, but sends its greeting and each reply in several lines and
                  pieces with pauses, and notes any byte that comes before a reply is whole
    .38  picky    like good, but refuses a recipient whose name starts with "unknown"
    .39  verbose  like good, but greets in eleven lines of 406 bytes, and answers the
                  final '.' with "250-" and then a refusal
    .40  oldhelo  like good, but knows no EHLO: answers it 502
    .41  varying  like good, but refuses every recipient with words that name the
                  connection, counted from 1
    .42  starttls aiosmtpd offering STARTTLS
    .43  tlsonly  aiosmtpd taking no mail before STARTTLS
    .44  relay    passes each connection on to .43, its replies five bytes at a time so
                  that TLS records arrive in pieces, and adds two replies in the clear
                  after the 220 to STARTTLS; records what the client sent
    .45  tlsstall offers STARTTLS, answers it with 220, then never again; in the clear
                  like good, but refuses a recipient "secret..." for want of TLS
"""
import datetime
import email
import email.policy
import email.utils
import os
import re
import select
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time

PORT = 25
LIFETIME_S = 1800  # ends itself even when nobody stops it
PYTHON = "/usr/bin/python3"  # the one with aiosmtpd

counter_lock = threading.Lock()
counter = [0]


def next_number():
    with counter_lock:
        counter[0] += 1
        return counter[0]


def write_record(folder, name, number, data):
    path = os.path.join(folder, "%s-%04d.bin" % (name, number))
    with open(path + ".tmp", "wb") as f:
        f.write(data)
    os.replace(path + ".tmp", path)  # a reader never sees half a record


def listener(address, backlog=5):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind((address, PORT))
    s.listen(backlog)
    return s


def send(conn, text):
    try:
        conn.sendall(text.encode())
    except OSError:
        pass


def converse(conn, replies, most_lines=None, unread=None, passed=None):
    """Reads until the client closes (or most_lines lines have come), answering each line
    that ends in LF with replies(line); returns every byte received. unread, when given,
    holds what came after the line being answered; passed, when given, is called with
    every piece received."""
    received = bytearray()
    pending = b""
    lines = 0
    while most_lines is None or lines < most_lines:
        try:
            chunk = conn.recv(4096)
        except OSError:
            break
        if not chunk:
            break
        received += chunk
        if passed:
            passed(chunk)
        pending += chunk
        while b"\n" in pending:
            line, pending = pending.split(b"\n", 1)
            lines += 1
            if unread is not None:
                unread[:] = pending
            answer = replies(line + b"\n")
            if answer:
                send(conn, answer)
    return bytes(received)


def good_replies(replies=None):
    """Answers like a plain SMTP server; replies maps a command (or "." for the end of
    the data) to another reply, or a function of the line giving one."""
    state = {"data": False, "quit": False}
    replies = replies or {}

    def answer(name, line, usual):
        other = replies.get(name, usual)
        return other(line) if callable(other) else other

    def reply(line):
        if state["quit"]:
            return None
        if state["data"]:
            if line == b".\r\n":
                state["data"] = False
                return answer(".", line, "250 queued\r\n")
            return None
        command = line.strip().lower()
        name = (command.split(b":")[0] if b":" in command else command.split(b" ")[0]).decode(errors="replace")
        if command == b"data":
            state["data"] = True
            return answer(name, line, "354 end with .\r\n")
        if command == b"quit":
            state["quit"] = True
            return answer(name, line, "221 bye\r\n")
        return answer(name, line, "250 ok\r\n")

    return reply


def serve_good(conn):
    send(conn, "220 good peer\r\n")
    return converse(conn, good_replies())


def serve_picky(conn):
    refuse = lambda line: "550 5.1.1 no such user\r\n" if b"unknown" in line else "250 ok\r\n"  # noqa: E731
    send(conn, "220 picky peer\r\n")
    return converse(conn, good_replies({"rcpt to": refuse}))


STRICT_PAUSE_S = 0.15
# Each reply in pieces: the lines of a multi-line reply, and lines cut in two.
STRICT_REPLIES = {
    "greeting": ["220-strict peer, one moment\r\n", "220-still gree", "ting\r\n", "220 ready\r\n"],
    "ehlo": ["250-strict peer\r\n", "250 8BITMIME\r\n"],
    "mail from": ["25", "0 ok\r\n"],
    "rcpt to": ["250-looking\r\n", "250 ", "ok\r\n"],
    "data": ["354-go ahead\r\n", "354 end with .\r\n"],
    ".": ["250-queued\r\n", "250 as 1\r\n"],
    "quit": ["221-bye\r\n", "221 bye\r\n"],
}


def serve_strict(conn):
    """Checks before each piece of a reply whether the client sent anything after the
    line being answered: a client that does so has not waited for the whole reply."""
    early = []
    unread = bytearray()  # what the client sent after the line being answered

    def slowly(name):
        def reply(line):
            for piece in STRICT_REPLIES[name]:
                time.sleep(STRICT_PAUSE_S)
                if unread or select.select([conn], [], [], 0)[0]:
                    early.append(name)
                    break
                send(conn, piece)
            return None
        return reply

    slowly("greeting")(b"")
    replies = {name: slowly(name) for name in STRICT_REPLIES}
    received = converse(conn, good_replies(replies), unread=unread)
    return received + b"".join(b"\n!early during the reply to " + name.encode() for name in early)


def serve_oldhelo(conn):
    send(conn, "220 old peer\r\n")
    return converse(conn, good_replies({"ehlo": "502 5.5.1 EHLO not known\r\n"}))


varying_count = [0]


def serve_varying(conn):
    with counter_lock:
        varying_count[0] += 1
        session = varying_count[0]
    send(conn, "220 varying peer\r\n")
    return converse(conn, good_replies({"rcpt to": "550 5.7.1 refused in session %d\r\n" % session}))


def serve_verbose(conn):
    send(conn, "".join("220-%s\r\n" % ("%02d" % i * 200) for i in range(11)) + "220 verbose peer\r\n")
    end = "250-accepted for checking\r\n554 5.7.1 rejected after checking\r\n"
    return converse(conn, good_replies({".": end}))


def serve_tlsstall(conn):
    """After 220 to STARTTLS, silence: what the client sends then is its TLS."""
    started = []
    demand = lambda line: "530 5.7.0 Must issue a STARTTLS command first\r\n" if b"<secret" in line else "250 ok\r\n"  # noqa: E731
    replies = good_replies({"ehlo": "250-tlsstall peer\r\n250 STARTTLS\r\n", "rcpt to": demand,
                            "starttls": lambda line: started.append(line) or "220 go ahead\r\n"})
    send(conn, "220 tlsstall peer\r\n")
    return converse(conn, lambda line: None if started else replies(line))


# Replies a man in the middle adds after 220 to STARTTLS: a client that read them as
# replies inside TLS would take the second as a refusal of MAIL.
INJECTED = b"250 injected\r\n554 injected\r\n"


def serve_relay(conn, target):
    """Passes the connection on to target, its replies in pieces of five bytes, with
    INJECTED after the 220 to STARTTLS."""
    upstream = socket.create_connection((target, PORT))
    conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def down():
        try:
            while True:
                chunk = upstream.recv(4096)
                if not chunk:
                    break
                if chunk.startswith(b"220 Ready to start TLS"):
                    conn.sendall(chunk + INJECTED)  # in one piece: read with the 220
                    continue
                for i in range(0, len(chunk), 5):
                    conn.sendall(chunk[i:i + 5])
                    time.sleep(0.001)
            conn.shutdown(socket.SHUT_WR)
        except OSError:
            pass

    def up(chunk):
        try:
            upstream.sendall(chunk)
        except OSError:
            pass  # what comes after the server's close is still recorded

    threading.Thread(target=down, daemon=True).start()
    received = converse(conn, lambda line: None, passed=up)
    upstream.close()
    return received


def serve_refuse(conn):
    send(conn, "554 no service here\r\n")
    return converse(conn, lambda line: "550 refused\r\n")


def serve_silent(conn):
    return converse(conn, lambda line: None)


def serve_stall(conn):
    send(conn, "220 stalling peer\r\n")
    answered = [0]

    def reply(line):
        answered[0] += 1
        return "250 ok\r\n" if answered[0] <= 2 else None

    return converse(conn, reply)


def serve_hangup(conn):
    return b""


def serve_midclose(conn):
    """Answers the greeting and EHLO, then hangs up after the next command."""
    send(conn, "220 closing peer\r\n")
    return converse(conn, lambda line: "250 ok\r\n" if line.startswith(b"EHLO") else None, 2)


FLOOD = "250-" + "x" * 60 + "\r\n"


def serve_flood(conn):
    reply = FLOOD * (65536 // len(FLOOD))
    send(conn, reply)
    return converse(conn, lambda line: reply)


def serve_drip(conn):
    ended = threading.Event()

    def drip():
        replies = b"220 dripping peer\r\n" + b"250 ok\r\n" * 100
        for i in range(len(replies)):
            try:
                conn.send(replies[i:i + 1])
            except OSError:
                return
            if ended.wait(1.0):
                return

    threading.Thread(target=drip, daemon=True).start()
    received = converse(conn, lambda line: None)
    ended.set()
    return received


def run_server(folder, name, s, handler):
    def handle(conn, number):
        with conn:
            data = handler(conn)
        write_record(folder, name, number, data)

    def loop():
        while True:
            conn, _ = s.accept()
            threading.Thread(target=handle, args=(conn, next_number()), daemon=True).start()

    threading.Thread(target=loop, daemon=True).start()


def run_oneshot(folder, s):
    address = s.getsockname()[0]
    holder = [s]

    def loop():
        while True:
            conn, _ = holder[0].accept()
            holder[0].close()  # from here on a connect is refused
            number = next_number()
            with conn:
                data = serve_good(conn)
            write_record(folder, "oneshot", number, data)
            time.sleep(3)
            while True:
                try:
                    holder[0] = listener(address)
                    break
                except OSError:
                    time.sleep(0.1)

    threading.Thread(target=loop, daemon=True).start()


HEADER_FIELDS = ("Date", "From", "To", "Subject", "Message-ID", "MIME-Version", "Content-Type",
                 "Content-Transfer-Encoding")


def examine(content):
    """What Python's email package finds wrong with a message: a header field missing or
    twice, a defect of the message or of a field, a line over 998 bytes, an encoded-word
    over 75 characters, a Date more than two minutes from now. "ok" when nothing."""
    message = email.message_from_bytes(content, policy=email.policy.default)
    problems = ["message: %r" % d for d in message.defects]
    for name in HEADER_FIELDS:
        values = message.get_all(name) or []
        if len(values) != 1:
            problems.append("%d %s fields" % (len(values), name))
        problems += ["%s: %r" % (name, d) for v in values for d in v.defects]
    if any(len(line) > 998 for line in content.split(b"\r\n")):
        problems.append("a line over 998 bytes")
    head = content.split(b"\r\n\r\n", 1)[0]
    problems += ["%r is over 75 characters" % w for w in re.findall(rb"=\?[^?]*\?[QB]\?[^?]*\?=", head, re.I)
                 if len(w) > 75]
    date = message["Date"]
    if date is not None and date.datetime is not None:
        now = datetime.datetime.now(datetime.timezone.utc)
        if date.datetime.tzinfo is None or abs((date.datetime - now).total_seconds()) > 120:
            problems.append("Date %s is not now (%s)" % (date, now))
    return "; ".join(problems) or "ok", str(message["Subject"])


def judge_spam(folder, number, helo, content):
    """SpamAssassin's local rules on the message as a recipient's server sees it after one
    relay, which names the client's greeting and a public address with reverse DNS."""
    received = ("Received: from %s (dns.google [8.8.8.8])\r\n\tby mx.example.net (Postfix) with ESMTP id 4A1B2C3D4E\r\n"
                "\tfor <spamcheck@example.net>; %s\r\n" % (helo, email.utils.format_datetime(
                    datetime.datetime.now(datetime.timezone.utc))))
    with tempfile.TemporaryDirectory() as home:  # it keeps its settings there
        result = subprocess.run(["spamassassin", "-t", "-L", "--cf=use_bayes 0", "--cf=bayes_auto_learn 0"],
                                input=received.encode() + content, capture_output=True, timeout=120,
                                env=dict(os.environ, HOME=home))
    head = result.stdout.split(b"\n\n", 1)[0].decode(errors="replace")
    found = re.search(r"^X-Spam-Status: .*?score=(\S+) .*?tests=(.*?)\s+autolearn=", head, re.M | re.S)
    verdict = "score=%s tests=%s" % (found[1], re.sub(r"\s+", "", found[2])) if found else "no verdict: " + head
    write_record(folder, "spamassassin", number, verdict.encode())


def run_aiosmtpd(folder, address, name="aiosmtpd", **tls):
    from aiosmtpd.controller import Controller

    class Recorder:
        async def handle_DATA(self, server, session, envelope):
            number = next_number()
            verdict, subject = examine(envelope.original_content)
            head = "%d\n%s\n%s\n%s\n%s\n%s\n%s\n%s\n" % (session.peer[1], session.host_name, envelope.mail_from,
                                                       ";".join(envelope.rcpt_tos), session.peer[0], verdict, subject,
                                                       session.ssl["cipher"][1] if session.ssl else "plain")
            write_record(folder, name, number, head.encode() + envelope.original_content)
            if any(to.startswith("spamcheck") for to in envelope.rcpt_tos):
                threading.Thread(target=judge_spam, daemon=True,
                                 args=(folder, number, session.host_name, envelope.original_content)).start()
            return "250 OK"

    controller = Controller(Recorder(), hostname=address, port=PORT, **tls)
    controller.start()
    return controller


def tls_context(folder):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem"))
    return context


def claim_addresses():
    """Holds port 25 on the first block of addresses 127.0.N.25 to .45 that no other
    process holds: test runs of other build trees may be under way at the same time."""
    for third in [0] + list(range(25, 125)):
        prefix = "127.0.%d." % third
        held = {}
        try:
            for host in range(25, 46):
                if host == 30:
                    held[host] = listener(prefix + "30", 0)
                elif host == 33:
                    # Bound and not listening: nobody else can listen here, a connect is refused.
                    held[host] = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
                    held[host].bind((prefix + "33", PORT))
                else:
                    held[host] = listener(prefix + str(host))
            return prefix, held
        except OSError:
            for s in held.values():
                s.close()
    raise OSError("no free block of loopback addresses with port 25")


def serve(folder):
    prefix, held = claim_addresses()
    # One connection nobody accepts fills a queue of length 0: later requests are dropped.
    filler = socket.create_connection((prefix + "30", PORT))
    for host in (25, 42, 43):
        held[host].close()  # aiosmtpd binds the address itself
    controllers = [run_aiosmtpd(folder, prefix + "25"),
                   run_aiosmtpd(folder, prefix + "42", "starttls", tls_context=tls_context(folder)),
                   run_aiosmtpd(folder, prefix + "43", "tlsonly", tls_context=tls_context(folder), require_starttls=True)]
    run_server(folder, "good", held[26], serve_good)
    run_server(folder, "refuse", held[27], serve_refuse)
    run_server(folder, "silent", held[28], serve_silent)
    run_server(folder, "stall", held[29], serve_stall)
    run_server(folder, "hangup", held[31], serve_hangup)
    run_oneshot(folder, held[32])
    run_server(folder, "midclose", held[34], serve_midclose)
    run_server(folder, "flood", held[35], serve_flood)
    run_server(folder, "drip", held[36], serve_drip)
    run_server(folder, "strict", held[37], serve_strict)
    run_server(folder, "picky", held[38], serve_picky)
    run_server(folder, "verbose", held[39], serve_verbose)
    run_server(folder, "oldhelo", held[40], serve_oldhelo)
    run_server(folder, "varying", held[41], serve_varying)
    run_server(folder, "relay", held[44], lambda conn: serve_relay(conn, prefix + "43"))
    run_server(folder, "tlsstall", held[45], serve_tlsstall)
    with open(os.path.join(folder, "ready.tmp"), "w") as f:
        f.write(prefix)
    os.replace(os.path.join(folder, "ready.tmp"), os.path.join(folder, "ready"))
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    time.sleep(LIFETIME_S)
    del filler, controllers
    os._exit(0)


def pid_path(folder):
    return os.path.join(folder, "peers.pid")


def running(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"  # a zombie has ended
    except (OSError, IndexError):
        return False


def stop(folder):
    try:
        with open(pid_path(folder)) as f:
            pid = int(f.read())
    except (OSError, ValueError):
        return 0
    # Only our own server for this folder is ended, never a process that took its pid.
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            command = f.read().split(b"\0")
    except OSError:
        command = []
    if os.path.abspath(__file__).encode() in command and folder.encode() in command:
        os.kill(pid, signal.SIGTERM)
        for _ in range(100):
            if not running(pid):
                break
            time.sleep(0.05)
        else:
            os.kill(pid, signal.SIGKILL)
    os.remove(pid_path(folder))
    return 0


def start(folder):
    os.makedirs(folder, exist_ok=True)
    stop(folder)  # a server left by a run that was cut short
    for name in os.listdir(folder):
        os.remove(os.path.join(folder, name))
    made = subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                           "/CN=peers.test", "-keyout", os.path.join(folder, "key.pem"),
                           "-out", os.path.join(folder, "cert.pem")], capture_output=True, text=True)
    if made.returncode != 0:
        sys.stderr.write("no certificate for the mail peers:\n" + made.stderr)
        return 1
    log = open(os.path.join(folder, "serve.log"), "w")
    child = subprocess.Popen([PYTHON, os.path.abspath(__file__), "serve", folder],
                             stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)
    with open(pid_path(folder), "w") as f:
        f.write(str(child.pid))
    for _ in range(200):
        if os.path.exists(os.path.join(folder, "ready")):
            return 0
        if child.poll() is not None:
            break
        time.sleep(0.05)
    stop(folder)
    with open(os.path.join(folder, "serve.log")) as f:
        sys.stderr.write("the mail peers did not start:\n" + f.read())
    return 1


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("start", "stop", "serve"):
        sys.stderr.write(__doc__)
        sys.exit(2)
    where = os.path.abspath(sys.argv[2])
    if sys.argv[1] == "serve":
        serve(where)
    sys.exit(start(where) if sys.argv[1] == "start" else stop(where))
