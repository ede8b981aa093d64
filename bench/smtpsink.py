"""The benchmark's mail server: aiosmtpd hands every delivered mail to Recorder, which
appends one JSON line per mail to a file (sender, recipients, the content as stored and
its SHA-256), so the benchmark can count the mails and tell that two clients sent the same.

    /usr/bin/python3 -m aiosmtpd -n -l 127.0.0.80:25 -c smtpsink.Recorder FILE
"""
import hashlib
import json


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
        line = {
            "from": envelope.mail_from,
            "rcpts": envelope.rcpt_tos,
            "sha256": hashlib.sha256(content).hexdigest(),
            "content": content.decode("latin-1"),
        }
        with open(self.path, "a") as record:
            record.write(json.dumps(line) + "\n")
        return "250 OK"
