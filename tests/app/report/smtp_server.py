#!/usr/bin/python3
"""Mail server for the error report tests.

Listens on 127.0.0.1 at a free port and prints "PORT <n>" once it accepts
connections. With --cert and --key it offers STARTTLS and requires it, and
requires AUTH with --user/--password before mail is accepted. Each message is
written to --out as NNN.json (envelope and parsed headers and body) and
NNN.eml (the bytes received). Stops when its standard input closes.
"""
import argparse
import email
import email.policy
import json
import os
import socket
import ssl
import sys

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword


class Recorder:
    def __init__(self, out):
        self.out = out
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.out, "%03d" % self.count)
        raw = envelope.original_content or envelope.content
        with open(base + ".eml", "wb") as f:
            f.write(raw)
        message = email.message_from_bytes(raw, policy=email.policy.default)
        record = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "subject": str(message["Subject"]),
            "from": str(message["From"]),
            "to": str(message["To"]),
            "reply_to": str(message["Reply-To"] or ""),
            "body": message.get_content(),
            "tls": session.ssl is not None,
        }
        with open(base + ".json.part", "w", encoding="utf-8") as f:
            json.dump(record, f)
        os.rename(base + ".json.part", base + ".json")
        return "250 OK"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--user", default="")
    parser.add_argument("--password", default="")
    args = parser.parse_args()

    options = {}
    if args.cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)

        def authenticate(server, session, envelope, mechanism, data):
            ok = (isinstance(data, LoginPassword) and data.login.decode() == args.user
                  and data.password.decode() == args.password)
            # handled=False: the server answers 535 itself.
            return AuthResult(success=ok, handled=False)

        options = dict(tls_context=context, require_starttls=True, auth_required=True,
                       auth_require_tls=True, authenticator=authenticate)
    else:
        # Plain server: takes AUTH without TLS, so a client that insists on
        # TLS must refuse to send.
        options = dict(auth_require_tls=False,
                       authenticator=lambda *a: AuthResult(success=True))

    controller = Controller(Recorder(args.out), hostname="127.0.0.1", port=free_port(), **options)
    controller.start()
    print("PORT", controller.port, flush=True)
    sys.stdin.read()
    controller.stop()


if __name__ == "__main__":
    main()
