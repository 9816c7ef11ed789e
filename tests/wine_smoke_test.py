#!/usr/bin/env python3
"""Runs the Windows build under Wine with piped input: its command line answered as the Linux
build answers it, start-up to quit, a game given up (in English too), and a won game saved into a
ranking folder
named on the command line (made with its parents) and then shown through the environment
variable. The ranking files the .exe writes must be the very bytes the Linux build writes for
the same game. Two .exe games held at the save prompt of their wins then save into one folder
at the same moment: both wins must be kept.

Both builds take the seed on the command line; the Linux one is the game with its pauses
shortened (tools/quick_game.cpp), which finds in a moment how many keys the seed's game needs
to win and save.

Usage: wine_smoke_test.py NUMOTEKA_EXE NUMOTEKA_QUICK
"""
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

from game_texts import BOARD_AT_START, FAREWELL, MENU, OPENING, SAVE_PROMPT, SAVED

GIVE_UP = (MENU + "プレイヤーの名前を入力してください（半角10字以内）\n--->"
           + "コンピュータの強さを設定してください･･･1.normal 2.easy 3.hard\n--->"
           + "ふにゃんこ丸\t「ありぇ？ここどこ？」\n\t･･････強さ：easy\n\n>>"
           + "ゲーム開始！！\n\n\nたろうさんの番です（1ターン目）\n>>" + BOARD_AT_START
           + "1.ダイスを振る　2.ステータスを見る 3.あきらめる\n")
FILES = ("dice_data.dat", "name_data.dat")
# The game this seed plays on KEYS is won by the human.
SEED = "5"
# Keys that play on whatever is asked: "1" at every menu and prompt. Its period of three keeps
# a two-key menu answer from locking onto the Enter.
KEYS = b"11\n"


def sjis(text):
    return text.encode("cp932")


def find_program(candidates):
    for candidate in candidates:
        path = shutil.which(candidate)
        if path:
            return path
    raise SystemExit("wine is not installed")


class Wine:
    def __init__(self, exe, prefix):
        self.exe = exe
        self.command = find_program(("wine", "wine64", "/usr/lib/wine/wine64"))
        self.server = find_program(("wineserver", "/usr/lib/wine/wineserver64",
                                    "/usr/lib/wine/wineserver"))
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="")
        self.env.pop("NUMOTEKA_RANKING_DIR", None)
        # Make the prefix once, so that later runs start in about a second.
        subprocess.run([self.command, "wineboot", "--init"], env=self.env,
                       capture_output=True, timeout=300)

    def stop(self):
        """Waits for the prefix's wineserver to end, so that nothing writes there any more."""
        subprocess.run([self.server, "-w"], env=self.env, timeout=60)

    def play(self, typed, workdir, arguments=(), env=None):
        """Exit status, standard output and standard error, CR LF read as LF (text mode)."""
        run = subprocess.run([self.command, self.exe, *arguments], input=typed, cwd=workdir,
                             env=dict(self.env, **(env or {})), capture_output=True,
                             timeout=900)
        return (run.returncode, run.stdout.replace(b"\r\n", b"\n"),
                run.stderr.replace(b"\r\n", b"\n"))


def play_linux(quick, typed, workdir, arguments=(), env=None):
    """The Linux build on a Shift_JIS locale, as the .exe speaks code page 932."""
    full_env = dict(os.environ, LANG="ja_JP.SJIS", **(env or {}))
    for variable in ("LC_ALL", "LC_CTYPE", "NUMOTEKA_RANKING_DIR"):
        if variable not in (env or {}):
            full_env.pop(variable, None)
    run = subprocess.run([quick, *arguments], input=typed, cwd=workdir, env=full_env,
                         capture_output=True, timeout=120)
    return run.returncode, run.stdout, run.stderr


def read_file(path):
    """The bytes of a file, or None when there is none."""
    try:
        with open(path, "rb") as file:
            return file.read()
    except FileNotFoundError:
        return None


def fresh_folder(parent, name):
    folder = os.path.join(parent, name)
    os.makedirs(os.path.join(folder, "System"))
    return folder


def fewest(low, high, holds):
    """The least n from low to high for which holds(n), given that holds(high) and that it
    goes on holding from the first n it holds for."""
    while low < high:
        middle = (low + high) // 2
        if holds(middle):
            high = middle
        else:
            low = middle + 1
    return high


def keys_until_saved(quick, seed, scratch):
    """How many KEYS the game from `seed` takes to win and save a game."""
    def saves(presses):
        folder = fresh_folder(tempfile.mkdtemp(dir=scratch), "game")
        return sjis(SAVED) in play_linux(quick, KEYS * presses, folder, ["--seed", seed])[1]
    low, high = 1, 1
    while not saves(high):
        if high >= 100000:
            raise SystemExit("the game from seed %s never saves" % seed)
        low, high = high, high * 2
    return fewest(low, high, saves)


def keys_to_save_prompt(quick, seed, name, scratch):
    """Keys that play `seed`'s game under `name` on normal up to the save prompt of its win, the
    last of them a line feed, or None: found as the fewest keys of the stream that reach it."""
    stream = b"1\n" + name + b"\n1\n" + KEYS * 3000

    def reaches(length):
        folder = fresh_folder(tempfile.mkdtemp(dir=scratch), "game")
        shown = play_linux(quick, stream[:length], folder, ["--seed", seed])[1]
        won = shown.find(sjis("*************%sさんの勝利" % name.decode()))
        return 0 <= won < shown.find(sjis(SAVE_PROMPT))
    if not reaches(len(stream)):
        return None
    length = fewest(len(name) + 6, len(stream), reaches)
    return stream[:length] if stream[length - 1:length] == b"\n" else None


class HeldGame:
    """An .exe game whose keys are written as the test goes, its screen read all along."""

    def __init__(self, wine, workdir, arguments):
        self.process = subprocess.Popen([wine.command, wine.exe, *arguments], cwd=workdir,
                                        env=wine.env, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.shown = b""
        self.reader = threading.Thread(target=self._read)
        self.reader.start()

    def _read(self):
        for chunk in iter(lambda: self.process.stdout.read1(4096), b""):
            self.shown += chunk.replace(b"\r\n", b"\n")

    def type(self, keys):
        self.process.stdin.write(keys)
        self.process.stdin.flush()

    def wait_for(self, ending, seconds=300):
        deadline = time.time() + seconds
        while not self.shown.endswith(ending) and time.time() < deadline:
            time.sleep(0.05)
        return self.shown.endswith(ending)

    def finish(self):
        self.process.stdin.close()
        self.reader.join(300)
        return self.process.wait(300)


def saved_wins(folder):
    """The names and turn counts of the normal table's wins in a ranking folder."""
    counts = read_file(os.path.join(folder, "dice_data.dat")).split(b"\r\n")[:10]
    names = read_file(os.path.join(folder, "name_data.dat")).split(b"\r\n")[:10]
    return {(name, count) for name, count in zip(names, counts) if name}


class Checks:
    def __init__(self):
        self.passed = 0
        self.failures = []

    def expect(self, ok, message):
        if ok:
            self.passed += 1
        else:
            self.failures.append(message)


def main():
    exe, quick = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    checks = Checks()
    with tempfile.TemporaryDirectory() as scratch:
        wine = Wine(exe, os.path.join(scratch, "prefix"))

        for arguments in (["--version"], ["-h"], ["--bogus"], ["--seed", "0x1"], ["stray"],
                          ["--lang=en", "-h"], ["--bogus", "--lang=en"], ["--daily", "2026-12-01"]):
            folder = fresh_folder(scratch, "options")
            ours = wine.play(b"2\n", folder, arguments)
            theirs = play_linux(quick, b"2\n", folder, arguments)
            checks.expect(ours == theirs,
                          "%s: %r\nLinux: %r" % (" ".join(arguments), ours, theirs))
            shutil.rmtree(folder)

        status, shown, _ = wine.play(b"2\n", fresh_folder(scratch, "quit"))
        checks.expect(status == 0 and shown == sjis(OPENING + MENU + FAREWELL),
                      "start-up to quit: status %d, screen %r" % (status, shown))

        typed = b"1\n" + sjis("たろう") + b"\n2\n\n\n3\n2\n"
        status, shown, _ = wine.play(typed, fresh_folder(scratch, "give_up"))
        checks.expect(status == 0 and shown == sjis(OPENING + GIVE_UP + MENU + FAREWELL),
                      "give-up game: status %d, screen %r" % (status, shown))
        # In English: what the Linux build shows, ASCII but the name typed.
        folder = fresh_folder(scratch, "english")
        ours = wine.play(typed, folder, ["--lang=en"])
        theirs = play_linux(quick, typed, folder, ["--lang=en"])
        checks.expect(ours == theirs and ours[1].replace(sjis("たろう"), b"").isascii()
                      and b"1.Roll the die" in ours[1],
                      "English give-up game: %r\nLinux: %r" % (ours, theirs))

        typed = KEYS * keys_until_saved(quick, SEED, scratch)
        windows = fresh_folder(scratch, "windows")
        status, shown, _ = wine.play(typed, windows,
                                     ["--seed", SEED, "--ranking-dir", "ranking\\of\\wins"])
        linux = fresh_folder(scratch, "linux")
        expected = play_linux(quick, typed, linux,
                              ["--seed", SEED, "--ranking-dir", "ranking/of/wins"])
        print("the .exe played seed %s: %d keys, %d saves" %
              (SEED, len(typed), shown.count(sjis(SAVED))))
        checks.expect((status, shown) == expected[:2] and sjis(SAVED) in shown,
                      "won game: status %d, screen %r\nLinux: %r"
                      % (status, shown[-400:], expected[1][-400:]))
        for name in FILES:
            ours = read_file(os.path.join(windows, "ranking", "of", "wins", name))
            theirs = read_file(os.path.join(linux, "ranking", "of", "wins", name))
            checks.expect(ours is not None and ours == theirs and ours.count(b"\r\n") == 30,
                          "%s differs:\n%r\n%r" % (name, ours, theirs))
        checks.expect(not os.listdir(os.path.join(windows, "System")),
                      "the .exe saved into System as well")

        variable = {"NUMOTEKA_RANKING_DIR": "ranking\\of\\wins"}
        status, shown, _ = wine.play(b"3\n1\n2\n", windows, env=variable)
        _, expected, _ = play_linux(quick, b"3\n1\n2\n", linux,
                                    env={"NUMOTEKA_RANKING_DIR": "ranking/of/wins"})
        heading = sjis("\nコンピュータ：マサル normal\n      名前\t\tターン数\n")
        checks.expect(status == 0 and shown == expected and heading in shown,
                      "ranking display: status %d\n%r\n%r" % (status, shown, expected))

        # A won daily game's replay code from the Linux build, played back by the .exe: the same
        # bytes, so the day gives both builds one seed; a code with a character changed is refused.
        folder = fresh_folder(scratch, "daily")
        typed = b"1\n" + sjis("たろう") + b"\n1\n" + b"11\n" * 300
        _, shown, _ = play_linux(quick, typed, folder, ["--daily=2026-11-06"])
        code = shown.split(sjis("リプレイコード "))[1].split(b"\n")[0].decode()
        ours = wine.play(b"", folder, ["--replay", code])
        theirs = play_linux(quick, b"", folder, ["--replay", code])
        checks.expect(ours == theirs and ours[0] == 0 and sjis("2026-11-06 ふつう 勝利") in ours[1]
                      and shown.startswith(ours[1][:-len(sjis(FAREWELL))]),
                      "daily replay: %r\nLinux: %r" % (ours[1][-300:], theirs[1][-300:]))
        changed = code[:-1] + ("A" if code[-1] != "A" else "B")
        status, _, complaint = wine.play(b"", folder, ["--lang=en", "--replay=" + changed])
        checks.expect(status == 2 and b"invalid replay code" in complaint,
                      "a changed code: status %d, %r" % (status, complaint))

        # Two games held at the save prompt of their wins, then saving into one folder together.
        shared = os.path.join(scratch, "shared")
        os.makedirs(shared)
        held, expected = [], set()
        for seed in map(str, range(1, 100)):
            name = b"w%d" % len(held)
            keys = keys_to_save_prompt(quick, seed, name, scratch)
            if keys is None:
                continue
            alone = fresh_folder(scratch, "alone-" + seed)
            play_linux(quick, keys + b"1\n", alone, ["--seed", seed, "--ranking-dir", "wins"])
            expected |= saved_wins(os.path.join(alone, "wins"))
            held.append(HeldGame(wine, shared, ["--seed", seed, "--ranking-dir", "wins"]))
            held[-1].type(keys)
            if len(held) == 2:
                break
        at_prompt = all(game.wait_for(sjis(SAVE_PROMPT)) for game in held)
        for game in held:
            game.type(b"1\n")
        statuses = [game.finish() for game in held]
        kept = saved_wins(os.path.join(shared, "wins"))
        checks.expect(at_prompt and statuses == [0, 0] and len(expected) == 2 and
                      all(sjis(SAVED) in game.shown for game in held) and kept == expected,
                      "two saves at once: statuses %r, kept %r, expected %r"
                      % (statuses, kept, expected))
        wine.stop()
    if checks.failures:
        print("\n\n".join(checks.failures))
    print("wine: %d passed, %d failed" % (checks.passed, len(checks.failures)))
    return 1 if checks.failures else 0


if __name__ == "__main__":
    sys.exit(main())
