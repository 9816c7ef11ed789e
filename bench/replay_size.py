#!/usr/bin/env python3
"""How long the replay codes of daily games are when a person plays them: the game (the quick
build, on a pipe) is answered as a player answers, one line at a time, Enter at every ">>" and
"--->", "1" in the menus, a name, and a random choice in the mini-games. Prints each code's
length beside the length of zlib's best compression of the same typed bytes (with the code's
11 bytes of header and checksum), both in base64url characters.

Usage: replay_size.py NUMOTEKA_QUICK [DAYS]
"""
import base64
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
    game.wait()
    for line in shown.decode().splitlines():
        if line.startswith("リプレイコード "):
            return line.split(" ", 1)[1]
    return None


def typed_bytes(code):
    """The lines a code stands for (the same reading as src/core/replay.cpp)."""
    raw = base64.urlsafe_b64decode(code + "=" * (-len(code) % 4))[7:-4]
    common = [b"\n", b"1\n", b"2\n", b"3\n"]
    typed, last, at = b"", b"", 0
    while at < len(raw):
        kind, count = raw[at] >> 5, raw[at] & 31
        at += 1
        if kind < 4:
            typed += common[kind] * (count + 1)
        elif kind == 5:
            typed += b"\n" * count + b"1\n"
        elif kind == 4:
            typed += last * (count + 1)
        else:
            shift = 0
            while count >= 31 and shift == 0 or (shift and raw[at - 1] & 128):
                count += (raw[at] & 127) << shift
                shift += 7
                at += 1
            last = raw[at:at + count]
            typed += last
            at += count
    return typed


def main():
    quick = sys.argv[1]
    days = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    pick = random.Random(932)
    ours, zlibs = [], []
    for n in range(days):
        day = "2026-11-%02d" % (n % 28 + 1)
        code = play(quick, day, pick)
        deflated = len(zlib.compress(typed_bytes(code), 9)) - 6 + 11
        ours.append(len(code))
        zlibs.append((deflated * 4 + 2) // 3)
        print("%s: code %d characters, zlib would make %d" % (day, ours[-1], zlibs[-1]))
    print("median: code %d characters, zlib %d" % (statistics.median(ours),
                                                    statistics.median(zlibs)))


if __name__ == "__main__":
    main()
