#!/usr/bin/env python3
"""Several numoteka-server processes on one database, as behind a load balancer: on a
PostgreSQL of the test's own, three processes take 200 different won games at once, spread over
them, while one is killed (kill -9) halfway; on one SQLite file, two processes. Every win a
client was told of is stored, each once, the places told are exactly 1 to 200 and every process
shows the same ranking; the limit of submissions holds for a client across the processes.
Then: /healthz turns 503 while the database is away (PostgreSQL stopped, the SQLite file
read-only) and 200 when it is back; a replay worker that stops answers 503 and is replaced, one
that died is replaced unseen; /metrics counts what happened.

Usage: server_cluster_test.py NUMOTEKA_SERVER NUMOTEKA_QUICK"""
import concurrent.futures, itertools, json, os, re, signal, sqlite3, subprocess, sys, tempfile, time, \
    urllib.error, urllib.request

from replay_codes import forge, typed_bytes, won_daily_game
from scratch_postgres import NOBODY, ScratchPostgres, missing
from test_run import TestRun

program, quick = map(os.path.abspath, sys.argv[1:3])
missing()
run = TestRun("cluster", 280)
scratch, started, check, failures = run.scratch, run.started, run.check, run.failures
os.chmod(scratch, 0o755)
senders = itertools.count()


def start(database, *args, user=None):
    log = tempfile.mktemp(dir=scratch)
    server = run.start_server([program, "--port", "0", "--database", database, *args], log, user)
    if not server.origin:
        sys.exit("a server ended at start:\n" + open(log).read())
    return server


def ask(server, path, body=None, sender=None):
    """Status, JSON answer and headers; each request from a client of its own unless `sender`."""
    request = urllib.request.Request(server.origin + path, data=body, headers={
        "X-Forwarded-For": sender or "10.1.%d.%d" % divmod(next(senders) % 62500, 250),
        "Content-Type": "application/json"})
    try:
        with urllib.request.urlopen(request, timeout=60) as answer:
            return answer.status, json.loads(answer.read() or b"null"), answer.headers
    except urllib.error.HTTPError as refused:
        return refused.code, json.loads(refused.read() or b"null"), refused.headers


def submit(server, code, sender=None):
    return ask(server, "/api/daily/wins", json.dumps({"code": code}).encode(), sender)


def until(condition, what, seconds=30):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    failures.append(what)
    return False


# A won day's game, and 199 other games of that day: the same, after wrong keys at the menu.
day, won = won_daily_game(quick)
lines = b"".join(typed_bytes(won).splitlines(keepends=True))
games = [won] + [forge(won, b"9\n" * n + lines) for n in range(1, 200)]


def burst(servers, killed=None):
    """Every game sent at once, spread over the servers; `killed` is killed halfway. A request
    the dead server did not answer is sent to another, as a load balancer does. The answers."""
    told = []

    def send(n):
        for attempt in itertools.count():
            server = servers[(n + attempt) % len(servers)]
            if attempt > 2 * len(servers):
                raise RuntimeError("no server answered")
            try:
                answer = submit(server, games[n])
            except OSError:
                continue
            told.append(n)
            if killed and len(told) == len(games) // 2 and killed.poll() is None:
                killed.send_signal(signal.SIGKILL)
            return answer

    with concurrent.futures.ThreadPoolExecutor(50) as pool:
        return list(pool.map(send, range(len(games))))


def check_cluster(name, servers, stored_codes, killed=None):
    answers = burst(servers, killed)
    acknowledged = [answer["code"] for status, answer, _ in answers if status in (200, 201)]
    check(len(acknowledged) == len(games), "%s: %d of %d acknowledged: %s" % (
        name, len(acknowledged), len(games), [a for a in answers if a[0] not in (200, 201)][:3]))
    codes = stored_codes()
    check(sorted(codes) == sorted(set(codes)) and set(acknowledged) <= set(codes) and len(codes) == len(games),
          "%s: %d stored (%d distinct) for %d acknowledged" % (name, len(codes), len(set(codes)), len(acknowledged)))
    places = sorted(answer["place"] for status, answer, _ in answers if status in (200, 201))
    check(places == list(range(1, len(games) + 1)), "%s: places told %s" % (name, places[:20]))
    alive = [server for server in servers if server.poll() is None]
    rankings = lambda: [ask(server, "/api/daily/%s/ranking?difficulty=1" % day)[1]["ranking"] for server in alive]
    until(lambda: all(ranking == rankings()[0] and len(ranking) == 10 for ranking in rankings()),
          "%s: the processes show different rankings" % name)
    # The limit holds for one client whichever process takes its submissions.
    statuses = [submit(alive[n % len(alive)], "x", "192.0.2.50")[0] for n in range(30)]
    check(statuses.count(429) == 20 and statuses.count(422) == 10, "%s: the limit across processes: %s"
          % (name, statuses))
    print("%s: %d processes, %d games acknowledged, each stored once" % (name, len(servers), len(acknowledged)))
    return alive


# Three processes on one PostgreSQL, one killed during the burst.
postgres = ScratchPostgres()
uri = postgres.database("wins")
cluster = [start(uri, "--workers", "1") for _ in range(3)]
alive = check_cluster("postgresql", cluster, lambda: [code for code, in postgres.sql(uri, "SELECT code FROM wins")],
                      killed=cluster[2])

# /healthz while PostgreSQL is stopped, and once it is back; the server was not restarted.
check(ask(alive[0], "/healthz")[0] == 200, "healthy at first")
postgres.stop()
until(lambda: ask(alive[0], "/healthz")[0] == 503, "/healthz with PostgreSQL stopped")
postgres.start()
until(lambda: ask(alive[0], "/healthz")[0] == 200, "/healthz with PostgreSQL back")
check(submit(alive[0], forge(won, b"8\n" + lines))[0] == 201, "a win stored after PostgreSQL came back")

# Replay workers: all of one server's stopped, a submission is told to try again, and they are
# replaced; one that died is replaced before it is missed.
server = alive[1]
workers = lambda: [int(pid) for task in os.listdir("/proc/%d/task" % server.pid)
                   for pid in open("/proc/%d/task/%s/children" % (server.pid, task)).read().split()]
for pid in workers():
    os.kill(pid, signal.SIGSTOP)
status, _, headers = submit(server, forge(won, b"7\n" + lines))
check(status == 503 and headers["Retry-After"] == "1", "a stopped worker: %s" % status)
dead = workers()
check(len(dead) == 1, "the workers after one was replaced: %s" % dead)
for pid in dead:
    os.kill(pid, signal.SIGKILL)


def gone(pid):
    """Whether a process has died (its parent may not have reaped it yet)."""
    try:
        return open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()[0] == "Z"
    except FileNotFoundError:
        return True


until(lambda: all(gone(pid) for pid in dead), "the killed workers did not die")
check(submit(server, forge(won, b"7\n" + lines))[0] == 201, "a submission after a worker died")
metrics = urllib.request.urlopen(server.origin + "/metrics", timeout=30).read().decode()
for pattern in [r'numoteka_requests_total\{route="wins",status="201"\} \d+', r'route="wins",status="503"\} 1\n',
                r'numoteka_submissions_refused_total\{reason="unavailable"\} 1\n', r"numoteka_rate_limited_total \d+",
                r'numoteka_replay_duration_seconds_bucket\{le="\+Inf"\} \d+', r"numoteka_open_connections [1-9]",
                r"numoteka_wins_stored_total [1-9]"]:
    check(re.search(pattern, metrics), "no %s in /metrics" % pattern)
# The first process answered /healthz while PostgreSQL was away.
check(re.search(r"numoteka_database_errors_total [1-9]",
                urllib.request.urlopen(alive[0].origin + "/metrics", timeout=30).read().decode()),
      "no database errors counted")

# Two processes on one SQLite file, then the file made read-only and writable again. The server
# runs as an unprivileged user, whom a file's mode binds (root it does not).
for server in alive:
    server.send_signal(signal.SIGTERM)
    check(server.wait(30) == 0, "a server did not stop")
folder = tempfile.mkdtemp(dir=scratch)
os.chmod(folder, 0o777)
database = os.path.join(folder, "wins.db")
user = NOBODY if os.getuid() == 0 else None
pair = [start(database, "--workers", "1", user=user) for _ in range(2)]


def sqlite_codes():
    with sqlite3.connect("file:%s?mode=ro" % database, uri=True) as db:
        return [code for code, in db.execute("SELECT code FROM wins")]


check_cluster("sqlite", pair, sqlite_codes)
os.chmod(database, 0o444)
until(lambda: ask(pair[0], "/healthz")[0] == 503, "/healthz with the SQLite file read-only")
os.chmod(database, 0o644)
until(lambda: ask(pair[0], "/healthz")[0] == 200, "/healthz with the SQLite file writable again")
run.finish()
