#!/usr/bin/env python3
"""How long the replay codes of daily games are when a person plays them: the game (the quick
build, on a pipe) is answered as a player answers, one line at a time, Enter at every ">>" and
"--->", "1" in the menus, a name, and a random choice in the mini-games. Prints each code's
length beside the length of zlib's best compression of the same typed bytes (with the code's
11 bytes of header and checksum), both in base64url characters. The game reads each line once
it waits for it, so the lines typed before the code appears are the lines its code holds.

Usage: replay_size.py NUMOTEKA_QUICK [DAYS]
"""
import os
import random
import select
import statistics
import subprocess
import sys
import zlib

ANSWERS = [  # the end of what the game shows, and what a player types then
    ("ランキングを見る\n", None),  # the menu: play once, then quit
    ("（半角10字以内）\n--->", "たろう\n"),
    ("1.normal 2.easy 3.hard\n--->", "1\n"),
    ("3.あきらめる\n", "1\n"),
    ("2.しない\n", "1\n"),
    ("1.グー　2.チョキ　3.パー\n", "123"),
    ("1.大きい！ 2.小さい！\n", "12"),
    ("2.説明を聞く\n", "1\n"),
    (">>", "\n"),
    ("--->", "\n"),
]


def answer(shown, played, pick):
    for ending, typed in ANSWERS:
        if shown.endswith(ending):
            if typed is None:
                return "2\n" if played else "1\n"
            return pick.choice(typed) + "\n" if "\n" not in typed else typed
    return None


def play(quick, day, pick):
    game = subprocess.Popen([quick, "--daily=" + day], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, env=dict(os.environ, LANG="C.UTF-8"))
    shown = b""
    played = False
    daily_keys = ""  # what was typed in the day's game: what its code holds
    while True:
        ready, _, _ = select.select([game.stdout], [], [], 0.05)
        if ready:
            chunk = os.read(game.stdout.fileno(), 65536)
            if not chunk:
                break
            shown += chunk
            continue
        text = shown.decode("utf-8", "replace")
        played = played or "リプレイコード" in text
        typed = answer(text, played, pick)
        if typed is None:
            continue
        game.stdin.write(typed.encode())
        game.stdin.flush()
        if not played:
            daily_keys += typed
    game.wait()
    for line in shown.decode().splitlines():
        if line.startswith("リプレイコード "):
            return line.split(" ", 1)[1], daily_keys.encode("cp932")
    return None, b""


def main():
    quick = sys.argv[1]
    days = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    pick = random.Random(932)
    ours, zlibs = [], []
    for n in range(days):
        day = "2026-11-%02d" % (n % 28 + 1)
        code, typed = play(quick, day, pick)
        deflated = len(zlib.compress(typed, 9)) - 6 + 11
        ours.append(len(code))
        zlibs.append((deflated * 4 + 2) // 3)
        print("%s: code %d characters, zlib would make %d" % (day, ours[-1], zlibs[-1]))
    print("median: code %d characters, zlib %d" % (statistics.median(ours),
                                                    statistics.median(zlibs)))


if __name__ == "__main__":
    main()
