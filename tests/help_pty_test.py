#!/usr/bin/env python3
"""--help on a real (pseudo-)terminal prints the usage text without asking the terminal how wide
it draws ambiguous characters (the cursor question ESC [ 6 n), which a plain start does ask.

Usage: help_pty_test.py NUMOTEKA
"""
import os
import pty
import select
import subprocess
import sys
import time

from game_texts import USAGE_FIRST_LINE

CURSOR_QUESTION = b"\x1b[6n"


def run_on_terminal(argv, typed=b"", after=b""):
    """Runs argv on a fresh terminal in a UTF-8 locale; `typed` is sent once the terminal has
    received `after`. Returns the exit status and all the terminal received."""
    master, slave = pty.openpty()
    env = dict(os.environ, LANG="C.UTF-8")
    env.pop("LC_ALL", None)
    env.pop("LC_CTYPE", None)
    program = subprocess.Popen(argv, stdin=slave, stdout=slave, stderr=slave, env=env)
    os.close(slave)
    shown = b""
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        if select.select([master], [], [], 0.2)[0]:
            try:
                chunk = os.read(master, 4096)
            except OSError:  # the terminal closes when the program is gone
                break
            if not chunk:
                break
            shown += chunk
            if typed and after in shown:
                os.write(master, typed)
                typed = b""
        elif program.poll() is not None:
            break
    try:
        status = program.wait(timeout=5)
    except subprocess.TimeoutExpired:
        program.kill()
        status = -1
    os.close(master)
    return status, shown


def main():
    binary = sys.argv[1]
    failures = []
    status, shown = run_on_terminal([binary, "--help"])
    text = shown.replace(b"\r\n", b"\n").decode("utf-8", "replace")
    if status != 0 or not text.startswith(USAGE_FIRST_LINE) or b"\x1b" in shown:
        failures.append("--help: status %d, terminal got %r" % (status, shown[:300]))
    # The control: without --help the question is asked, so its absence above means something.
    status, shown = run_on_terminal([binary], b"2\n", after="ランキングを見る".encode())
    if status != 0 or CURSOR_QUESTION not in shown:
        failures.append("plain start: status %d, no cursor question in %r" % (status, shown[:300]))
    if failures:
        print("\n".join(failures))
    print("help on a terminal: %d passed, %d failed" % (2 - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
