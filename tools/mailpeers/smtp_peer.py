#!/usr/bin/python3
"""SMTP test peer for the mail client's tests, built on aiosmtpd.

Listens on 127.0.0.1 (a free port, written to --port-file once listening), stores every
message it accepts as raw bytes in --dir (msg-N.eml, envelope in msg-N.env), optionally
offers AUTH LOGIN without TLS for one test user (--auth user:password), and can refuse
recipients with a chosen reply (--reject-rcpt "550 5.1.1 ...")."""

import argparse
import asyncio
import os
import signal

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Capture:
    def __init__(self, folder, reject_rcpt):
        self.folder = folder
        self.reject_rcpt = reject_rcpt
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.reject_rcpt:
            return self.reject_rcpt
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.folder, "msg-%d" % self.count)
        with open(base + ".eml.tmp", "wb") as f:
            f.write(envelope.original_content)
        with open(base + ".env", "w") as f:
            f.write("from=%s\n" % envelope.mail_from)
            for r in envelope.rcpt_tos:
                f.write("rcpt=%s\n" % r)
            f.write("auth=%s\n" % (session.authenticated and "yes" or "no"))
        os.rename(base + ".eml.tmp", base + ".eml")
        return "250 Message accepted for delivery"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port-file", required=True)
    ap.add_argument("--dir", required=True)
    ap.add_argument("--auth", default="")
    ap.add_argument("--reject-rcpt", default="")
    args = ap.parse_args()

    handler = Capture(args.dir, args.reject_rcpt)
    user, _, password = args.auth.partition(":")

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = isinstance(auth_data, LoginPassword) and auth_data.login.decode() == user and \
            auth_data.password.decode() == password
        return AuthResult(success=ok, handled=False)

    def factory():
        if args.auth:
            return SMTP(handler, hostname="peer.example.it", authenticator=authenticator,
                        auth_require_tls=False, auth_exclude_mechanism=["PLAIN"], decode_data=False)
        return SMTP(handler, hostname="peer.example.it", decode_data=False)

    loop = asyncio.new_event_loop()
    server = loop.run_until_complete(loop.create_server(factory, "127.0.0.1", 0))
    port = server.sockets[0].getsockname()[1]
    with open(args.port_file + ".tmp", "w") as f:
        f.write(str(port))
    os.rename(args.port_file + ".tmp", args.port_file)
    loop.add_signal_handler(signal.SIGTERM, loop.stop)
    loop.run_forever()


if __name__ == "__main__":
    main()
