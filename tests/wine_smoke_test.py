#!/usr/bin/env python3
"""Runs the Windows build under Wine with piped input: start-up to quit, a game given up, and a
won game saved into the ranking and then shown. The ranking files the .exe writes must be the
very bytes the Linux build writes for the same game.

The .exe seeds its generator from the clock, so the Linux build replays the game with each seed
near the time of the run (tools/seeded_game.cpp) and the one whose screen matches is the same
game.

Usage: wine_smoke_test.py NUMOTEKA_EXE NUMOTEKA_SEEDED
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

SLASHES = "/" * 76
TITLE = "\n＊◆＊□＊戦え！ぬもてかゲーム＊■＊◇＊\n\n\n"
LEGEND = "プ･･･プレイヤー\nコ･･･コンピュータ\n\n"
BOARD_AT_START = ("\n　　プ\n [START]―□□□□◆□□□□◆□□□□◆□□□□◆□□□□◆□□□□―[GOAL]\n"
                  "　　コ\n\n")
MENU = "\n◆メニュー◆\n\n1.ゲームを始める 　2.ゲームをやめる　3.ランキングを見る\n"
FAREWELL = "ゲームを終了します\n\n\n" + SLASHES + "\n\n\n"
OPENING = TITLE + LEGEND + BOARD_AT_START
GIVE_UP = (MENU + "プレイヤーの名前を入力してください（半角10字以内）\n--->"
           + "コンピュータの強さを設定してください･･･1.normal 2.easy 3.hard\n--->"
           + "ふにゃんこ丸\t「ありぇ？ここどこ？」\n\t･･････強さ：easy\n\n>>"
           + "ゲーム開始！！\n\n\nたろうさんの番です（1ターン目）\n>>" + BOARD_AT_START
           + "1.ダイスを振る　2.ステータスを見る 3.あきらめる\n")
SAVED = "セーブしました！\n".encode("cp932")
FILES = ("dice_data.dat", "name_data.dat")


def sjis(text):
    return text.encode("cp932")


def find_wine():
    for candidate in ("wine", "wine64", "/usr/lib/wine/wine64"):
        path = shutil.which(candidate)
        if path:
            return path
    raise SystemExit("wine is not installed")


class Wine:
    def __init__(self, exe, prefix):
        self.exe = exe
        self.command = find_wine()
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="")
        # Make the prefix once, so that later runs start in about a second.
        subprocess.run([self.command, "wineboot", "--init"], env=self.env,
                       capture_output=True, timeout=300)

    def play(self, typed, workdir):
        run = subprocess.run([self.command, self.exe], input=typed, cwd=workdir, env=self.env,
                             capture_output=True, timeout=900)
        # Text mode on Windows ends written lines with CR LF.
        return run.returncode, run.stdout.replace(b"\r\n", b"\n")


def replay(seeded, seed, typed, workdir):
    env = dict(os.environ, LANG="ja_JP.SJIS")
    env.pop("LC_ALL", None)
    env.pop("LC_CTYPE", None)
    run = subprocess.run([seeded, str(seed)], input=typed, cwd=workdir, env=env,
                         capture_output=True, timeout=120)
    return run.returncode, run.stdout


def fresh_folder(parent, name):
    folder = os.path.join(parent, name)
    os.makedirs(os.path.join(folder, "System"))
    return folder


# Keys that play on whatever is asked: "1" at every menu and prompt. Its period of three keeps
# a two-key menu answer from locking onto the Enter.
KEYS = b"11\n"


def keys_until_saved(seeded, seed, scratch):
    """How many KEYS the game from `seed` takes to win and save a game."""
    low, high = 1, 1
    while high < 100000:
        folder = tempfile.mkdtemp(dir=scratch)
        os.makedirs(os.path.join(folder, "System"))
        if SAVED in replay(seeded, seed, KEYS * high, folder)[1]:
            break
        low, high = high, high * 2
    else:
        raise SystemExit("the game from seed %d never saves" % seed)
    while low < high:
        middle = (low + high) // 2
        folder = tempfile.mkdtemp(dir=scratch)
        os.makedirs(os.path.join(folder, "System"))
        if SAVED in replay(seeded, seed, KEYS * middle, folder)[1]:
            high = middle
        else:
            low = middle + 1
    return high


def main():
    exe, seeded = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    failures = []
    with tempfile.TemporaryDirectory() as scratch:
        wine = Wine(exe, os.path.join(scratch, "prefix"))

        status, shown = wine.play(b"2\n", fresh_folder(scratch, "quit"))
        if status != 0 or shown != sjis(OPENING + MENU + FAREWELL):
            failures.append("start-up to quit: status %d, screen %r" % (status, shown))

        typed = b"1\n" + sjis("たろう") + b"\n2\n\n\n3\n2\n"
        status, shown = wine.play(typed, fresh_folder(scratch, "give_up"))
        if status != 0 or shown != sjis(OPENING + GIVE_UP + MENU + FAREWELL):
            failures.append("give-up game: status %d, screen %r" % (status, shown))

        # KEYS play games until the human wins one and saves it, as many as any seed that the
        # .exe may take in the next seconds needs.
        start = int(time.time())
        presses = max(keys_until_saved(seeded, seed, scratch) for seed in range(start, start + 8))
        typed = KEYS * presses
        windows = fresh_folder(scratch, "windows")
        status, shown = wine.play(typed, windows)
        end = int(time.time())
        if status != 0 or SAVED not in shown or not shown.endswith(sjis(FAREWELL)):
            failures.append("won game: status %d, no save or no farewell in %r"
                            % (status, shown[-400:]))
        linux = None
        for seed in range(start - 2, end + 3):
            candidate = fresh_folder(scratch, "linux-%d" % seed)
            if replay(seeded, seed, typed, candidate) == (0, shown):
                linux = candidate
                print("the .exe played seed %d: %d keys, %d saves" %
                      (seed, len(typed), shown.count(SAVED)))
                break
        if linux is None:
            failures.append("no seed from %d to %d replays the game of the .exe" % (start, end))
        else:
            for name in FILES:
                with open(os.path.join(windows, "System", name), "rb") as written:
                    ours = written.read()
                with open(os.path.join(linux, "System", name), "rb") as written:
                    theirs = written.read()
                if ours != theirs or ours.count(b"\r\n") != 30:
                    failures.append("%s differs:\n%r\n%r" % (name, ours, theirs))
            status, shown = wine.play(b"3\n1\n2\n", windows)
            _, expected = replay(seeded, 0, b"3\n1\n2\n", linux)
            heading = sjis("\nコンピュータ：マサル normal\n      名前\t\tターン数\n")
            if status != 0 or shown != expected or heading not in shown:
                failures.append("ranking display: status %d\n%r\n%r" % (status, shown, expected))
    if failures:
        print("\n\n".join(failures))
        print("wine: 0 passed, %d failed" % len(failures))
        return 1
    print("wine: 4 passed, 0 failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
