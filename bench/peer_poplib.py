#!/usr/bin/env python3
"""The header pass done by Python's standard poplib, as a yardstick for
mailsieve-bench: log in, STAT, then LIST n and TOP n 1 for every message,
QUIT. Prints "messages N" and "messages_per_second X" (the median of the
runs); each run is timed from connecting to the end of QUIT."""

import argparse
import poplib
import statistics
import sys
import time


def header_pass(host, port, user, password):
    started = time.perf_counter()
    pop = poplib.POP3(host, port, timeout=60)
    pop.user(user)
    pop.pass_(password)
    count, _size = pop.stat()
    for n in range(1, count + 1):
        pop.list(n)
        pop.top(n, 1)
    pop.quit()
    return count, time.perf_counter() - started


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()

    rates = []
    count = 0
    for _ in range(args.runs):
        count, seconds = header_pass(args.host, args.port, args.user, args.password)
        rates.append(count / seconds if seconds > 0 else 0.0)
    print(f"messages {count}")
    print(f"messages_per_second {statistics.median(rates):.1f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
