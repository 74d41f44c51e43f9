"""What the Python peer scripts of mailsieve-bench share: the command line
(--host, --port, --user, --password, --runs) and the report of a header pass
timed over the runs: "messages N" and "messages_per_second X", the median."""

import argparse
import statistics
import time


def main(description, header_pass, add_arguments=None):
    """Runs header_pass(args), which returns how many messages it read, the
    --runs times the command line asks for, and prints the report; the
    script's own options come from add_arguments(parser)."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--runs", type=int, default=3)
    if add_arguments:
        add_arguments(parser)
    args = parser.parse_args()

    rates = []
    count = 0
    for _ in range(args.runs):
        started = time.perf_counter()
        count = header_pass(args)
        seconds = time.perf_counter() - started
        rates.append(count / seconds if seconds > 0 else 0.0)
    print(f"messages {count}")
    print(f"messages_per_second {statistics.median(rates):.1f}")
    return 0
