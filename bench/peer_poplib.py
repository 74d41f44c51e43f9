#!/usr/bin/env python3
"""The header pass done by Python's standard poplib, as a yardstick for
mailsieve-bench: log in, STAT, then LIST n and TOP n 1 for every message,
QUIT. Prints "messages N" and "messages_per_second X" (the median of the
runs); each run is timed from connecting to the end of QUIT."""

import poplib
import sys

import peerbench


def header_pass(args):
    pop = poplib.POP3(args.host, args.port, timeout=60)
    pop.user(args.user)
    pop.pass_(args.password)
    count, _size = pop.stat()
    for n in range(1, count + 1):
        pop.list(n)
        pop.top(n, 1)
    pop.quit()
    return count


if __name__ == "__main__":
    sys.exit(peerbench.main(__doc__, header_pass))
