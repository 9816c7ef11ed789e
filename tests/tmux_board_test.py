#!/usr/bin/env python3
"""Plays the real game inside tmux and checks that the markers stand above and below their
squares on the board line, as they do on a console where every double-byte character is two
columns wide. tmux, like most UTF-8 terminals, draws "―", "□" and "◆" in one column.

Usage: tmux_board_test.py PATH_TO_GAME
"""
import os
import re
import subprocess
import sys
import tempfile
import time
import unicodedata

BOARD_START = " [START]―"
SQUARES = "□◆"


def width(text):
    """Columns of `text` on a terminal that draws ambiguous characters narrow."""
    return sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in text)


def column_of(line, char):
    return width(line[: line.index(char)])


def square_column(board_line, square):
    """Column of square 1..29 on the board line, or of the middle of [START] for 0."""
    if square == 0:
        return column_of(board_line, "[") + 3
    seen = 0
    for index, char in enumerate(board_line):
        if char in SQUARES:
            seen += 1
            if seen == square:
                return width(board_line[:index])
    raise AssertionError("no square %d on %r" % (square, board_line))


class Tmux:
    def __init__(self, game, workdir):
        self.socket = "numoteka-test-%d" % os.getpid()
        self.env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8")
        self.env.pop("TMUX", None)
        self.run("new-session", "-d", "-x", "200", "-y", "50", "-c", workdir,
                 "env LC_ALL=C.UTF-8 LANG=C.UTF-8 %s" % game)
        self.run("set-option", "-g", "history-limit", "50000")

    def run(self, *args):
        return subprocess.run(["tmux", "-L", self.socket, *args], env=self.env, check=True,
                              capture_output=True, text=True).stdout

    def screen(self):
        return self.run("capture-pane", "-p", "-J", "-S", "-50000")

    def keys(self, literal):
        self.run("send-keys", "-l", literal)
        self.run("send-keys", "Enter")

    def wait_for(self, pattern, start=0, timeout=20.0):
        deadline = time.time() + timeout
        while time.time() < deadline:
            text = self.screen()
            match = re.search(pattern, text[start:], re.S)
            if match:
                return text, start + match.start(), match
            time.sleep(0.05)
        raise AssertionError("timed out waiting for %r in:\n%s" % (pattern, self.screen()))

    def settle(self, quiet=0.3, timeout=20.0):
        """The screen once it has stopped changing: the game is waiting for a key."""
        deadline = time.time() + timeout
        text = self.screen()
        since = time.time()
        while time.time() < deadline:
            time.sleep(0.05)
            now = self.screen()
            if now != text:
                text, since = now, time.time()
            elif time.time() - since >= quiet:
                return text
        raise AssertionError("the screen never settled:\n" + text)

    def close(self):
        subprocess.run(["tmux", "-L", self.socket, "kill-server"], env=self.env,
                       capture_output=True)


def board_after(text, at):
    """The marker line, board line and marker line of the first board at or after `at`."""
    lines = text[at:].split("\n")
    for index, line in enumerate(lines):
        if line.startswith(BOARD_START):
            return lines[index - 1], line, lines[index + 1]
    raise AssertionError("no board after %d" % at)


def check(failures, what, marker_line, marker, board_line, square):
    got = column_of(marker_line, marker)
    want = square_column(board_line, square)
    if got != want:
        failures.append("%s: %s at column %d, square %d at column %d\n%s\n%s"
                        % (what, marker, got, square, want, marker_line, board_line))


def main():
    game = os.path.abspath(sys.argv[1])
    failures = []
    with tempfile.TemporaryDirectory() as workdir:
        tmux = Tmux(game, workdir)
        try:
            text, at, _ = tmux.wait_for(r"メニュー")
            if "戦え！ぬもてかゲーム" not in text:
                failures.append("title not readable:\n" + text)
            above, board, below = board_after(text, 0)
            check(failures, "start", above, "プ", board, 0)
            check(failures, "start", below, "コ", board, 0)

            tmux.keys("1")
            tmux.wait_for(r"半角10字以内")
            tmux.keys("たろう")
            tmux.wait_for(r"1\.normal")
            tmux.keys("1")
            tmux.wait_for(r"よろしくっ.*>>")
            tmux.keys("")
            text, at, _ = tmux.wait_for(r"たろうさんの番です（1ターン目）\n>>")
            tmux.keys("")
            tmux.wait_for(r"1\.ダイスを振る", at)
            tmux.keys("1")
            tmux.wait_for(r"（Enter）--->", at)
            tmux.keys("")
            text, at, match = tmux.wait_for(r"\n\t?\s*(\d)!!\s*\n>>", at)
            human_roll = int(match.group(1))
            tmux.keys("")
            text, _, _ = tmux.wait_for(r"\[GOAL\]\n[^\n]*コ\n\n>>", at)
            above, board, _ = board_after(text, at)
            check(failures, "human rolled %d" % human_roll, above, "プ", board, human_roll)

            # Answer "1" to whatever asks, one key at a time, until the computer has moved.
            computer_roll = None
            for _ in range(200):
                text = tmux.settle()
                match = re.search(r"マサルはダイスを振った！\n\n\s*(\d)!!\n\n>>", text)
                if match:
                    computer_roll = int(match.group(1))
                    tmux.keys("")
                    text, _, _ = tmux.wait_for(r"\[GOAL\]\n[^\n]*コ\n\n>>", match.end())
                    _, board, below = board_after(text, match.end())
                    check(failures, "computer rolled %d" % computer_roll, below, "コ", board,
                          computer_roll)
                    break
                tmux.keys("1")
            if computer_roll is None:
                failures.append("the computer never moved:\n" + tmux.screen())
        finally:
            tmux.close()
    if failures:
        print("\n\n".join(failures))
        print("tmux: 0 passed, 1 failed")
        return 1
    print("tmux: 1 passed, 0 failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
