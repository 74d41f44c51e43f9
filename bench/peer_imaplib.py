#!/usr/bin/env python3
"""The IMAP header pass done by Python's standard imaplib, as a yardstick for
mailsieve-bench: log in, EXAMINE the folder, one
UID FETCH 1:* (UID RFC822.SIZE BODY.PEEK[HEADER]), LOGOUT. Prints
"messages N" and "messages_per_second X" (the median of the runs); each run
is timed from connecting to the end of LOGOUT."""

import imaplib
import sys

import peerbench


def header_pass(args):
    imap = imaplib.IMAP4(args.host, args.port, timeout=60)
    imap.login(args.user, args.password)
    status, _ = imap.select(args.folder, readonly=True)
    if status != "OK":
        raise RuntimeError(f"EXAMINE {args.folder} failed")
    status, data = imap.uid("FETCH", "1:*", "(UID RFC822.SIZE BODY.PEEK[HEADER])")
    if status != "OK":
        raise RuntimeError("UID FETCH failed")
    # Each message comes as a (response text, header block) pair.
    count = sum(1 for item in data if isinstance(item, tuple))
    imap.logout()
    return count


def add_arguments(parser):
    parser.add_argument("--folder", default="INBOX")


if __name__ == "__main__":
    sys.exit(peerbench.main(__doc__, header_pass, add_arguments))
