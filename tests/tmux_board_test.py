#!/usr/bin/env python3
"""Plays the real game inside tmux and checks that the markers stand above and below their
squares on the board line, as they do on a console where every double-byte character is two
columns wide. tmux, like most UTF-8 terminals, draws "―", "□" and "◆" in one column. Then the
same in English (--lang=en), whose board is ASCII in cells of two columns, and whose screen holds
no character beyond ASCII but the name typed.

Usage: tmux_board_test.py PATH_TO_GAME
"""
import os
import re
import subprocess
import sys
import tempfile
import time
import unicodedata

# What each language shows: the board, its markers, and what the test waits for.
LANGUAGES = {
    "ja": dict(arguments="", board_start=" [START]―", squares="[□◆]", human="プ", computer="コ",
               menu=r"メニュー", title="戦え！ぬもてかゲーム", name_prompt=r"半角10字以内",
               greeting=r"よろしくっ.*>>", turn=r"たろうさんの番です（1ターン目）\n>>",
               turn_menu=r"1\.ダイスを振る", enter=r"（Enter）--->",
               computer_rolled=r"マサルはダイスを振った！\n\n\s*(\d)!!\n\n>>"),
    "en": dict(arguments="--lang=en", board_start=" [START]--", squares=r"\[\]|<>", human="P",
               computer="C", menu=r"MENU", title="Fight! The Numoteka Game",
               name_prompt=r"10 letters at most", greeting=r"Nice to meetcha!.*>>",
               turn=r"たろう's turn \(turn 1\)\n>>", turn_menu=r"1\.Roll the die",
               enter=r"\(Enter\)--->", computer_rolled=r"Max rolled the die!\n\n\s*(\d)!!\n\n>>"),
}


def width(text):
    """Columns of `text` on a terminal that draws ambiguous characters narrow."""
    return sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in text)


def column_of(line, char):
    return width(line[: line.index(char)])


def square_column(board_line, square, squares):
    """Column of square 1..29 on the board line, or of the middle of [START] for 0."""
    if square == 0:
        return column_of(board_line, "[") + 3
    found = list(re.finditer(squares, board_line))
    if len(found) < square:
        raise AssertionError("no square %d on %r" % (square, board_line))
    return width(board_line[:found[square - 1].start()])


class Tmux:
    def __init__(self, game, workdir, arguments, language):
        self.socket = "numoteka-test-%d-%s" % (os.getpid(), language)
        self.env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8")
        self.env.pop("TMUX", None)
        self.run("new-session", "-d", "-x", "200", "-y", "50", "-c", workdir,
                 "env LC_ALL=C.UTF-8 LANG=C.UTF-8 %s %s" % (game, arguments))
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


def board_after(text, at, board_start):
    """The marker line, board line and marker line of the first board at or after `at`."""
    lines = text[at:].split("\n")
    for index, line in enumerate(lines):
        if line.startswith(board_start):
            return lines[index - 1], line, lines[index + 1]
    raise AssertionError("no board after %d" % at)


def check(failures, what, marker_line, marker, board_line, square, squares):
    got = column_of(marker_line, marker)
    want = square_column(board_line, square, squares)
    if got != want:
        failures.append("%s: %s at column %d, square %d at column %d\n%s\n%s"
                        % (what, marker, got, square, want, marker_line, board_line))


def play(game, language):
    """One game in `language` up to the computer's first move: what went wrong."""
    shows = LANGUAGES[language]
    failures = []

    def board_check(what, marker_line, marker, board_line, square):
        check(failures, "%s: %s" % (language, what), marker_line, marker, board_line, square,
              shows["squares"])

    end_of_board = r"\[GOAL\]\n[^\n]*%s\n\n>>" % shows["computer"]
    with tempfile.TemporaryDirectory() as workdir:
        tmux = Tmux(game, workdir, shows["arguments"], language)
        try:
            text, at, _ = tmux.wait_for(shows["menu"])
            if shows["title"] not in text:
                failures.append("%s: title not readable:\n%s" % (language, text))
            above, board, below = board_after(text, 0, shows["board_start"])
            board_check("start", above, shows["human"], board, 0)
            board_check("start", below, shows["computer"], board, 0)

            tmux.keys("1")
            tmux.wait_for(shows["name_prompt"])
            tmux.keys("たろう")
            tmux.wait_for(r"1\.normal")
            tmux.keys("1")
            tmux.wait_for(shows["greeting"])
            tmux.keys("")
            text, at, _ = tmux.wait_for(shows["turn"])
            tmux.keys("")
            tmux.wait_for(shows["turn_menu"], at)
            tmux.keys("1")
            tmux.wait_for(shows["enter"], at)
            tmux.keys("")
            text, at, match = tmux.wait_for(r"\n\t?\s*(\d)!!\s*\n>>", at)
            human_roll = int(match.group(1))
            tmux.keys("")
            text, _, _ = tmux.wait_for(end_of_board, at)
            above, board, _ = board_after(text, at, shows["board_start"])
            board_check("human rolled %d" % human_roll, above, shows["human"], board, human_roll)

            # Answer "1" to whatever asks, one key at a time, until the computer has moved.
            computer_roll = None
            for _ in range(200):
                text = tmux.settle()
                match = re.search(shows["computer_rolled"], text)
                if match:
                    computer_roll = int(match.group(1))
                    tmux.keys("")
                    text, _, _ = tmux.wait_for(end_of_board, match.end())
                    _, board, below = board_after(text, match.end(), shows["board_start"])
                    board_check("computer rolled %d" % computer_roll, below, shows["computer"],
                                board, computer_roll)
                    break
                tmux.keys("1")
            if computer_roll is None:
                failures.append("%s: the computer never moved:\n%s" % (language, tmux.screen()))
            if language == "en" and not tmux.screen().replace("たろう", "").isascii():
                failures.append("en: more than ASCII and the name:\n" + tmux.screen())
        finally:
            tmux.close()
    return failures


def main():
    game = os.path.abspath(sys.argv[1])
    failures = []
    for language in LANGUAGES:
        failures += play(game, language)
    if failures:
        print("\n\n".join(failures))
    print("tmux: %d passed, %d failed" % (len(LANGUAGES) - len({f[:2] for f in failures}),
                                         len({f[:2] for f in failures})))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
