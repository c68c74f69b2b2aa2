#!/usr/bin/python3
"""Reads one stored message the way a standard client does, for the mail tests.

    read_mail.py MESSAGE.eml OUTPUT

Parses the raw bytes with Python's email package (policy=default) and writes one line per
finding to OUTPUT, every value hex-encoded (UTF-8 for texts):

    defect <text>              a defect of the message, of a part or of a header
    header <name> <value>      each top-level header, decoded
    body <text>                the first text part's content (the whole body when not MIME)
    attachment <name> <bytes>  each MIME attachment: file name and decoded content
    uu <name> <bytes>          each "begin ... end" block of a plain body, decoded line by
                               line with binascii.a2b_uu
    error <text>               a uuencoded line that binascii refused, or a block without "end"
"""

import binascii
import os
import sys
from email import policy
from email.parser import BytesParser


def hexed(text):
    return (text if isinstance(text, bytes) else str(text).encode("utf-8", "surrogateescape")).hex()


def main():
    source, target = sys.argv[1], sys.argv[2]
    with open(source, "rb") as f:
        raw = f.read()
    msg = BytesParser(policy=policy.default).parsebytes(raw)
    out = []
    for part in msg.walk():
        out += [("defect", hexed(repr(d))) for d in part.defects]
        for name, value in part.items():
            out += [("defect", hexed("%s: %r" % (name, d))) for d in getattr(value, "defects", ())]
    for name, value in msg.items():
        out.append(("header", hexed(name), hexed(str(value))))
    body = msg.get_body(preferencelist=("plain", "html"))
    if body is not None:
        out.append(("body", hexed(body.get_content())))
    for part in msg.iter_attachments():
        out.append(("attachment", hexed(part.get_filename() or ""), hexed(part.get_content())))
    if not msg.is_multipart():
        lines = msg.get_payload(decode=True).split(b"\r\n")
        i = 0
        while i < len(lines):
            if lines[i].startswith(b"begin "):
                name = lines[i].split(b" ", 2)[2]
                data = b""
                i += 1
                while i < len(lines) and lines[i] != b"end":
                    try:
                        data += binascii.a2b_uu(lines[i])
                    except binascii.Error as e:
                        out.append(("error", hexed("line %d: %s" % (i, e))))
                    i += 1
                if i == len(lines):
                    out.append(("error", hexed("no end line")))
                out.append(("uu", hexed(name), hexed(data)))
            i += 1
    with open(target + ".tmp", "w") as f:
        for row in out:
            f.write(" ".join(row) + "\n")
    os.rename(target + ".tmp", target)


if __name__ == "__main__":
    main()
