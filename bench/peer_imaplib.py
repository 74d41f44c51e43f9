#!/usr/bin/env python3
"""The IMAP header pass done by Python's standard imaplib, as a yardstick for
mailsieve-bench: log in, EXAMINE the folder, one
UID FETCH 1:* (UID RFC822.SIZE BODY.PEEK[HEADER]), LOGOUT. Prints
"messages N" and "messages_per_second X" (the median of the runs); each run
is timed from connecting to the end of LOGOUT."""

import argparse
import imaplib
import statistics
import sys
import time


def header_pass(host, port, user, password, folder):
    started = time.perf_counter()
    imap = imaplib.IMAP4(host, port, timeout=60)
    imap.login(user, password)
    status, _ = imap.select(folder, readonly=True)
    if status != "OK":
        raise RuntimeError(f"EXAMINE {folder} failed")
    status, data = imap.uid("FETCH", "1:*", "(UID RFC822.SIZE BODY.PEEK[HEADER])")
    if status != "OK":
        raise RuntimeError("UID FETCH failed")
    # Each message comes as a (response text, header block) pair.
    count = sum(1 for item in data if isinstance(item, tuple))
    imap.logout()
    return count, time.perf_counter() - started


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--folder", default="INBOX")
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()

    rates = []
    count = 0
    for _ in range(args.runs):
        count, seconds = header_pass(args.host, args.port, args.user, args.password, args.folder)
        rates.append(count / seconds if seconds > 0 else 0.0)
    print(f"messages {count}")
    print(f"messages_per_second {statistics.median(rates):.1f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
