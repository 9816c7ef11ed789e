#!/usr/bin/env python3
"""numoteka-server on a free port with a scratch database, its codes made by the quick game: a
won daily game is ranked; forged, foreign, lost and cut codes and a table of malformed requests
are refused and leave the database as it was; 50 submissions at once are each stored once and
ranked right; the rate limit; one log line per request; SIGTERM during submissions keeps exactly
the answered ones.

Usage: server_test.py NUMOTEKA_SERVER NUMOTEKA_QUICK [--postgresql] [--reset-every N]
(--postgresql: on a PostgreSQL of the test's own instead of a SQLite file; --reset-every: the
test talks to the server through a proxy that resets every Nth connection, to see that a failing
network ends the test at once.)"""
import concurrent.futures, contextlib, datetime, http.client, itertools, json, os, random, re, signal, socket, \
    sqlite3, subprocess, sys, threading, time, urllib.error, urllib.request

from replay_codes import forge, typed_bytes
from scratch_postgres import ScratchPostgres, missing
from test_run import TestRun

program, quick = map(os.path.abspath, sys.argv[1:3])
options = sys.argv[3:]
reset_every = int(options[options.index("--reset-every") + 1]) if "--reset-every" in options else 0
postgres = "--postgresql" in options and (missing() or ScratchPostgres())
run = TestRun("server", 240)
scratch, servers, check = run.scratch, run.started, run.check
database = postgres.database("wins") if postgres else os.path.join(scratch, "wins.db")
log = os.path.join(scratch, "log")
senders, replies = itertools.count(), itertools.count()


def play(args, keys=""):
    """The quick game's daily line and replay code, or (None, None)."""
    shown = subprocess.run([quick, *args], input=keys, capture_output=True, text=True, cwd=scratch,
                           env=dict(os.environ, LANG="C.UTF-8")).stdout
    found = re.search(r"\n(ぬもてか .*)\nリプレイコード (\S+)\n", shown)
    return found.groups() if found else (None, None)


def start():
    server = run.start_server([program, "--port", "0", "--database", database], log)
    if not server.origin:
        sys.exit("server: it ended at start with status %d:\n%s" % (server.returncode, open(log).read()))
    return server, resetting_proxy(server.origin) if reset_every else server.origin


def resetting_proxy(origin):
    """An address that forwards to `origin`, resetting every `reset_every`th connection."""
    host, port = origin[len("http://"):].rsplit(":", 1)
    listener = socket.create_server(("127.0.0.1", 0), backlog=128)

    def pipe(source, sink):
        with contextlib.suppress(OSError):
            while data := source.recv(65536):
                sink.sendall(data)
        with contextlib.suppress(OSError):
            sink.shutdown(socket.SHUT_WR)

    def serve():
        for count in itertools.count(1):
            client, _ = listener.accept()
            if count % reset_every == 0:
                client.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\1\0\0\0\0\0\0\0")
                client.close()
                continue
            upstream = socket.create_connection((host, int(port)))
            for ends in ((client, upstream), (upstream, client)):
                threading.Thread(target=pipe, args=ends, daemon=True).start()

    threading.Thread(target=serve, daemon=True).start()
    return "http://127.0.0.1:%d" % listener.getsockname()[1]


def ask(path, body=None, sender=None):
    """Status and JSON answer; each request from an address of its own unless `sender`."""
    headers = {"X-Forwarded-For": sender or "10.0.%d.%d" % divmod(next(senders), 250),
               "Content-Type": "application/json"}
    request = urllib.request.Request(origin + path, data=body, headers=headers)
    try:
        with urllib.request.urlopen(request, timeout=60) as answer:
            status, body = answer.status, answer.read()
    except urllib.error.HTTPError as refused:
        status, body = refused.code, refused.read()
    next(replies)
    return status, json.loads(body)


def submit(day, code, sender=None):
    return ask("/api/daily/%s/wins" % day, json.dumps({"code": code}).encode(), sender)


def submit_through_crowd(day, code):
    """`submit`, sent again when the connection was refused or reset before any answer came
    (the kernel's queue of new connections was full): the server never saw it. An answer that
    the server sent, a refusal included, is the answer."""
    for attempt in itertools.count():
        try:
            return submit(day, code)
        except (ConnectionError, http.client.RemoteDisconnected, urllib.error.URLError) as error:
            if attempt == 20 or isinstance(error, urllib.error.URLError) and \
                    not isinstance(error.reason, ConnectionError):
                raise
            time.sleep(0.05 * attempt)


def rows():
    query = "SELECT day, difficulty, turns, name, code, id, game FROM wins ORDER BY day, difficulty, turns, id"
    if postgres:
        return [(d, int(n), int(t), name, code, int(i), game)
                for d, n, t, name, code, i, game in postgres.sql(database, query)]
    with contextlib.closing(sqlite3.connect("file:%s?mode=ro" % database, uri=True)) as db:
        return db.execute(query).fetchall()


# Days of November 2026 played with "11" at every prompt: the first won and the first lost.
games = {}
for date in itertools.takewhile(lambda _: len(games) < 2, range(1, 29)):
    day = "2026-11-%02d" % date
    line, code = play(["--daily=" + day], "1\nたろう\n1\n" + "11\n" * 300)
    games.setdefault(" 勝利 " in line, (day, line, code))
(day, line, won), (lost_day, _, lost) = games[True], games[False]
turns = int(re.search(r"(\d+)ターン", line).group(1))
lines = typed_bytes(won).splitlines(keepends=True)
named = lambda name: forge(won, b"".join([lines[0], name + b"\n", *lines[2:]]))
_, gave_up = play(["--daily=" + day], "1\nx\n1\n\n\n3\n")

server, origin = start()
status, answer = submit(day, won)
check((status, answer["place"], answer["turns"], answer["name"]) == (201, 1, turns, "たろう"),
      "the won game: %s %s" % (status, answer))
status, answer = submit(day, forge(won, b"".join(lines) + b"1\n3\n" * 50))
check((status, answer.get("code")) == (200, won), "lines added to the won game: %s" % answer)
status, ranking = ask("/api/daily/%s/ranking?difficulty=1" % day)
check(status == 200 and [(e["name"], e["turns"], e["replay"]) for e in ranking["ranking"]]
      == [("たろう", turns, "/?replay=" + won)], "the ranking: %s" % ranking)

# Refused, the database unchanged: 422 for codes, 400 for the request, 413 for its size.
nested = b"[" * 60000
REFUSED = [(day, won[:-3], 422), (day, forge(won, b"".join(lines[:40] + lines[50:])), 422),
           (day, forge(won, b"".join(lines[:-5])), 422), (lost_day, lost, 422), (day, gave_up, 422),
           (day, forge(won, b"".join(lines), 1), 422), ("2026-11-%02d" % (int(day[-2:]) % 28 + 1), won, 422),
           # Of a later version; the won game with more than 16 KiB of lines after it.
           (day, forge(won, b"".join(lines), version=2), 422), (day, forge(won, b"".join(lines) + b"3\n" * 8200), 422),
           (day, b'{"code": 5}', 400), (day, b"{", 400), (day, b'["%s"]' % won.encode(), 400),
           (day, json.dumps({"code": won, "turns": 1}).encode(), 400), (day, nested, 400),
           (day, b'{"code": "\xff"}', 400), (day, b"x" * 70000, 413), ("2026-13-01", won, 400),
           ("1999-12-31", won, 400), ("2999-01-01", won, 400), ("'%20OR%201=1--", won, 400)]
before = rows()
for date, body, expected in REFUSED:
    status, answer = ask("/api/daily/%s/wins" % date, body if isinstance(body, bytes) else
                         json.dumps({"code": body}).encode())
    check(status == expected and answer.get("error"), "%s %.60r: %s %s" % (date, body, status, answer))
# Each refusal says its kind beside its English, for a client's own words.
KINDS = [(day, won[:-3], "malformed"), (lost_day, lost, "not-won"), (day, gave_up, "not-won"),
         ("2026-11-%02d" % (int(day[-2:]) % 28 + 1), won, "wrong-day"), (day, b"{", "malformed"),
         (day, b"x" * 70000, "too-large"), ("2999-01-01", won, "future-day")]
for date, body, kind in KINDS:
    status, answer = ask("/api/daily/%s/wins" % date, body if isinstance(body, bytes) else
                         json.dumps({"code": body}).encode())
    check(answer.get("kind") == kind and answer.get("error"), "%s %.60r: %s %s, not %s" % (date, body, status, answer, kind))
for query in ["difficulty=4", "difficulty=1'%20OR%20'1'='1", ""]:
    check(ask("/api/daily/%s/ranking?%s" % (day, query))[0] == 400, "ranking?" + query)
check(rows() == before, "a refusal changed the database")

# Names as the game read them, shown as UTF-8 with control bytes as "?"; one the game refuses
# (over 10 bytes) is asked again, so never is the name. The same keys under another name are the
# same game: each submission is kept, and ranked as the game's first.
for name, shown in [(b"';DROP--", "';DROP--"), (b"<b>x</b>", "<b>x</b>"), (b"\x1b[2J", "?[2J"),
                    ("ぬも".encode("cp932"), "ぬも"), (b"ABCDEFGHIJK", None)]:
    status, answer = submit(day, named(name))
    # (A name asked again makes the game's next answer the name: other keys, another game.)
    check(status == 201 and ((answer["name"], answer["place"], answer["sameGameAs"]) == (shown, 1, "たろう")
                             if shown else answer["name"] != "ABCDEFGHIJK"), "name %r: %s %s" % (name, status, answer))
# Kept as UTF-8 text, as sqlite3 and psql show them to an operator; the control byte too.
names = {row[3] for row in rows()}
check({"たろう", "ぬも", "\x1b[2J"} <= names, "names as the database holds them: %s" % names)

# 50 copies at once, then again: each stored once, all at the place of their game.
before = rows()
crowd = [named(b"w%02d" % n) for n in range(50)]
for again in (False, True):
    with concurrent.futures.ThreadPoolExecutor(50) as pool:
        answers = list(pool.map(lambda code: submit_through_crowd(day, code), crowd))
    check([status for status, _ in answers] == [200 if again else 201] * 50, "50 at once: %s" % answers)
stored = rows()
check(len(stored) == len(before) + 50 and len({row[4] for row in stored}) == len(stored), "stored twice")
check({(answer["place"], answer["sameGameAs"]) for _, answer in answers} == {(1, "たろう")}, "places")
ranking = ask("/api/daily/%s/ranking?difficulty=1" % day)[1]["ranking"]
game = next(row[6] for row in stored if row[4] == won)
check([(e["name"], e["others"], e["code"]) for e in ranking[:1]] == [("たろう", [row[6] for row in stored].count(game) - 1, won)],
      "ranking of copies: %s" % ranking)

# Ten different games of another day: one sent under 16 names, and nine others (the same game
# but for wrong keys typed at the menu first) show as ten, the first once with its 15 other
# names; among equal turns, the first received comes first.
other_day, first = next((d, c) for d, c in (("2026-11-%02d" % n, play(["--daily=2026-11-%02d" % n],
                        "1\nはな\n1\n" + "11\n" * 300)[1]) for n in range(int(day[-2:]) + 1, 29))
                        if " 勝利 " in play(["--daily=" + d], "1\nはな\n1\n" + "11\n" * 300)[0])
first_lines = typed_bytes(first).splitlines(keepends=True)
ten = [first] + [forge(first, b"9\n" * n + b"".join(first_lines)) for n in range(1, 10)]
for n in range(16):
    submit(other_day, forge(first, b"".join([first_lines[0], b"n%02d\n" % n, *first_lines[2:]])) if n else first)
for code in ten[1:]:
    submit(other_day, code)
ranking = ask("/api/daily/%s/ranking?difficulty=1" % other_day)[1]["ranking"]
check([(typed_bytes(e["code"]), e["others"]) for e in ranking]
      == [(typed_bytes(code), 0 if n else 15) for n, code in enumerate(ten)],
      "ten games: %s" % [(e["name"], e["turns"], e["others"]) for e in ranking])

# The eleventh submission of a minute from one address, and still after a few seconds.
statuses = [submit(day, "x", "192.0.2.1")[0] for _ in range(11)]
time.sleep(7)
statuses.append(submit(day, "x", "192.0.2.1")[0])
check(statuses == [422] * 10 + [429] * 2, "rate limit: %s" % statuses)
check(submit(day, "x", "192.0.2.1")[1].get("kind") == "too-many", "the kind of 429")

# Fewer turns rank first, whenever they came: on a day of its own, a win of more turns is sent
# first, then one of fewer, then the first again (it keeps its place, behind).
turns_day, wins = "2026-11-16", {}
for seed in range(200):
    keys = random.Random(seed).choices(["11\n", "11\n", "12\n", "21\n"], k=400)
    line, code = play(["--daily=" + turns_day], "1\nたろう\n1\n" + "".join(keys))
    if line and " ふつう 勝利 " in line:
        wins.setdefault(int(re.search(r"(\d+)ターン", line).group(1)), code)
    if len(wins) == 2:
        break
(_, fast), (_, slow) = sorted(wins.items())
told = [(status, answer.get("place")) for status, answer in
        [submit(turns_day, slow), submit(turns_day, fast), submit(turns_day, slow)]]
check(told == [(201, 1), (201, 1), (200, 2)], "places of more and fewer turns: %s" % told)
ranking = ask("/api/daily/%s/ranking?difficulty=1" % turns_day)[1]["ranking"]
check([typed_bytes(e["code"]) for e in ranking] == [typed_bytes(fast), typed_bytes(slow)], "turns order: %s" % ranking)

# Today in Japan has begun: its ranking is shown, its games are taken (this one was given up).
today = (datetime.datetime.utcnow() + datetime.timedelta(hours=9)).strftime("%Y-%m-%d")
_, today_given_up = play(["--daily"], "1\nx\n1\n\n\n3\n")
check(ask("/api/daily/%s/ranking?difficulty=1" % today)[0] == 200 and
      submit(today, today_given_up)[1].get("error") == "the day's game in this replay is not won", "today in Japan")

# SIGTERM while submissions come: every one answered is kept, no other.
before = len(rows())
with concurrent.futures.ThreadPoolExecutor(40) as pool:
    sent = [pool.submit(submit, day, named(b"t%02d" % n)) for n in range(40)]
    time.sleep(0.02)
    server.send_signal(signal.SIGTERM)
    # Those it had not begun when the signal came are told 503, to try again.
    results = [future.result() for future in sent if not future.exception()]
    answered = [answer["code"] for status, answer in results if status in (200, 201)]
    check(all(status in (200, 201, 503) for status, _ in results), "SIGTERM: %s" % results)
check(server.wait(30) == 0 and not os.path.exists(database + "-wal"), "the server did not stop cleanly")
check(len(rows()) == before + len(answered) and set(answered) <= {row[4] for row in rows()},
      "SIGTERM: %d answered, %d stored" % (len(answered), len(rows()) - before))
logged = [line for line in open(log) if re.match(r"\d{4}-\d\d-\d\dT\S+ \S+ (GET|POST) /api/", line)]
replied = next(replies)
# A line for every answer a client got, and at most one for each that the stop cut off.
check(replied <= len(logged) <= replied + 40 - len(results), "%d log lines for %d answers" % (len(logged), replied))

if not postgres:
    with contextlib.closing(sqlite3.connect(database)) as db:
        check(db.execute("PRAGMA journal_mode").fetchone()[0] == "wal" and
              db.execute("PRAGMA integrity_check").fetchone()[0] == "ok", "the database after SIGTERM")
# A database of the first version, which kept no games: migrated at start, its wins grouped.
FIRST = ["CREATE TABLE wins (id %s, day TEXT NOT NULL, difficulty INTEGER NOT NULL, turns INTEGER NOT NULL, "
         "name %s NOT NULL, code TEXT NOT NULL UNIQUE, received BIGINT NOT NULL)"
         % (("BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY", "BYTEA") if postgres
            else ("INTEGER PRIMARY KEY", "BLOB"))]
FIRST += ["INSERT INTO wins (day, difficulty, turns, name, code, received) VALUES ('%s', 1, %d, %s, '%s', %d)"
          % (day, turns, ("'\\x%s'" if postgres else "X'%s'") % name.hex(), code, 1700000000000 + n)
          for n, (name, code) in enumerate([("たろう".encode("cp932"), won), (b"x", named(b"x")), (b"y", ten[1])])]
if postgres:
    database = postgres.database("first")
    for statement in FIRST:
        postgres.sql(database, statement)
else:
    database = os.path.join(scratch, "first.db")
    with contextlib.closing(sqlite3.connect(database)) as db:
        for statement in FIRST:
            db.execute(statement)
        db.commit()
server, origin = start()
ranking = ask("/api/daily/%s/ranking?difficulty=1" % day)[1]["ranking"]
check([(e["name"], e["others"]) for e in ranking] == [("たろう", 1), ("y", 0)], "migrated: %s" % ranking)
server.send_signal(signal.SIGTERM)
check(server.wait(30) == 0, "the migrated server did not stop cleanly")
if postgres:
    version = postgres.sql(database, "SELECT version FROM schema_version")
else:
    with contextlib.closing(sqlite3.connect(database)) as db:
        version = [[str(v) for v in row] for row in db.execute("SELECT version FROM schema_version")]
check(version == [["3"]], "the schema's version after the migration: %s" % version)

for args, status in [(["--version"], 0), (["--help"], 0), (["--port", "x"], 2), (["stray"], 2)]:
    check(subprocess.run([program, *args], capture_output=True).returncode == status, str(args))
print("server: %d log lines, %d of 40 answered before SIGTERM" % (len(logged), len(answered)))
run.finish()
