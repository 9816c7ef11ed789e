"""Replay codes read and made apart from the game's own codec, for the server's tests and
benchmark: the lines a code holds, and a code with other lines (its checksum made anew, its
practice mark kept)."""
import base64, itertools, os, re, subprocess, zlib

PRACTICE_MARK = 0xC1
RANKING_FOUND_MARK = 0xC2


def typed_bytes(code, marked=None, marks=None):
    """The lines a code holds, read apart from the game's own decoder; `marked`, a list, gets
    whether the code ends in the practice mark; `marks`, a list, gets the marks at its end."""
    raw = base64.urlsafe_b64decode(code + "=" * (-len(code) % 4))[7:-4]
    common = [b"\n", b"1\n", b"2\n", b"3\n"]
    typed, last, at = b"", b"", 0
    while at < len(raw):
        kind, count = raw[at] >> 5, raw[at] & 31
        at += 1
        if kind < 4:
            typed += common[kind] * (count + 1)
        elif kind == 4:
            typed += last * (count + 1)
        elif kind == 5:
            typed += b"\n" * count + b"1\n"
        elif raw[at - 1] in (PRACTICE_MARK, RANKING_FOUND_MARK) and all(
                byte in (PRACTICE_MARK, RANKING_FOUND_MARK) for byte in raw[at:]):
            if marked is not None and raw[at - 1] == PRACTICE_MARK:
                marked.append(True)
            if marks is not None:
                marks.append(raw[at - 1])
        else:
            for shift in itertools.count(0, 7) if count == 31 else ():
                count += (raw[at] & 127) << shift
                at += 1
                if raw[at - 1] < 128:
                    break
            last = raw[at:at + count]
            typed += last
            at += count
    return typed


def forge(code, typed, day_shift=0, version=None):
    """`code` with its lines replaced by `typed` (one literal token), its marks kept, its day
    moved and, if given, another version byte."""
    head = bytearray(base64.urlsafe_b64decode(code + "=" * (-len(code) % 4))[:7])
    head[5] = (head[5] + day_shift) % 256
    head[0] = head[0] if version is None else version
    rest, body = len(typed) - 31, head + b"\xff"
    while True:
        body.append(rest & 127 | (128 if rest > 127 else 0))
        rest >>= 7
        if not rest:
            break
    body += typed
    marks = []
    typed_bytes(code, marks=marks)
    body += bytes(marks)
    return base64.urlsafe_b64encode(body + zlib.crc32(body).to_bytes(4, "little")).decode().rstrip("=")


def won_daily_game(quick):
    """The first day of November 2026 that the quick game wins with "11" at every prompt: its
    date and its replay code."""
    for date in range(1, 29):
        day = "2026-11-%02d" % date
        shown = subprocess.run([quick, "--daily=" + day], input="1\nたろう\n1\n" + "11\n" * 300,
                               capture_output=True, text=True, env=dict(os.environ, LANG="C.UTF-8")).stdout
        if " 勝利 " in shown:
            return day, re.search(r"\nリプレイコード (\S+)\n", shown).group(1)
    raise SystemExit("no day of November 2026 won")
