"""The benchmark's mail server: aiosmtpd hands every delivered mail to Recorder, which
appends one JSON line per mail to a file (sender, recipients, the session's TLS version
or null, the content as stored and its SHA-256, taken without the header fields that
differ for each copy: Date, To and Message-ID), so the benchmark can count the mails and
tell that two clients sent the same.

    /usr/bin/python3 -m aiosmtpd -n -l 127.0.0.80:25 -c smtpsink.Recorder FILE
    (with --tlscert CERT --tlskey KEY it takes mail only after STARTTLS)
"""
import hashlib
import json
import re

EACH_COPY = re.compile(rb"^(Date|To|Message-ID):[^\r\n]*\r\n", re.M | re.I)


class Recorder:
    def __init__(self, path):
        self.path = path

    @classmethod
    def from_cli(cls, parser, *args):
        if len(args) != 1:
            parser.error("smtpsink.Recorder takes one argument, the record file")
        return cls(args[0])

    async def handle_DATA(self, server, session, envelope):
        content = envelope.original_content or b""
        header, _, body = content.partition(b"\r\n\r\n")
        line = {
            "from": envelope.mail_from,
            "rcpts": envelope.rcpt_tos,
            "tls": session.ssl["cipher"][1] if session.ssl else None,
            "sha256": hashlib.sha256(EACH_COPY.sub(b"", header + b"\r\n") + b"\r\n" + body).hexdigest(),
            "content": content.decode("latin-1"),
        }
        with open(self.path, "a") as record:
            record.write(json.dumps(line) + "\n")
        return "250 OK"
