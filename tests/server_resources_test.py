#!/usr/bin/env python3
"""numoteka-server when a resource runs out, each row on a real server: it says what is wrong
(503 with Retry-After, /healthz 503 within 2 s), keeps answering what does not need what ran
out, never tells a player a win was kept when it was not, recovers by itself when the resource
is back, and SIGTERM ends it within 5 s.

- a replay worker dies while no descriptor is free (the server's limit lowered under it);
- 190 clients download a large file and read nothing, under a limit of 256 descriptors;
- every PostgreSQL process stopped (SIGSTOP) for 8 s; PostgreSQL stopped;
- SQLite's disk full: a small tmpfs in a private mount namespace the test makes (skipped, with
  a message, where it cannot be made; never under CI=true); the wins' tables gone.

Usage: server_resources_test.py NUMOTEKA_SERVER NUMOTEKA_QUICK"""
import contextlib, http.client, itertools, json, os, re, resource, signal, socket, sqlite3, subprocess, sys, \
    time

from replay_codes import forge, typed_bytes, won_daily_game
from scratch_postgres import ScratchPostgres, binaries
from test_run import TestRun

program, quick = map(os.path.abspath, sys.argv[1:3])
run = TestRun("resources", 280)
scratch, check, failures = run.scratch, run.check, run.failures
os.chmod(scratch, 0o755)
CI = os.environ.get("CI") == "true"
senders = itertools.count(1)

# A won day's game, and other games of that day: the same, after wrong keys at the menu.
day, won = won_daily_game(quick)
lines = b"".join(typed_bytes(won).splitlines(keepends=True))
games = (forge(won, b"9\n" * n + lines) for n in itertools.count(1))


def start(database, *args, limit=None, prefix=()):
    log = os.path.join(scratch, "log%d" % next(senders))
    limited = (lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (limit, limit))) if limit else None
    server = subprocess.Popen([*prefix, program, "--port", "0", "--database", database, *args],
                              stderr=open(log, "wb"), preexec_fn=limited)
    run.started.append(server)
    server.log = log
    for _ in range(3000):
        if found := re.search(r"listening on http://127\.0\.0\.1:(\d+)/", open(log).read()):
            server.port = int(found.group(1))
            return server
        if server.poll() is not None:
            break
        time.sleep(0.01)
    sys.exit("a server ended at start:\n" + open(log).read())


class Client:
    """A kept-alive connection, as a monitor or a proxy keeps one; each request from a client
    address of its own (X-Forwarded-For, this machine being a trusted proxy)."""

    def __init__(self, server):
        self.connection = http.client.HTTPConnection("127.0.0.1", server.port, timeout=10)

    def ask(self, path, body=None):
        """Status, answer, Retry-After and the seconds it took; no status when none came within
        10 s or the connection was closed."""
        begun = time.perf_counter()
        headers = {"X-Forwarded-For": "10.2.%d.%d" % divmod(next(senders) % 62500, 250)}
        try:
            self.connection.request("POST" if body else "GET", path, body, headers)
            answer = self.connection.getresponse()
            data = answer.read()
        except (OSError, http.client.HTTPException) as error:
            self.connection.close()
            return None, str(error).encode(), None, time.perf_counter() - begun
        return answer.status, data, answer.getheader("Retry-After"), time.perf_counter() - begun


def submit(client, code=None):
    return client.ask("/api/daily/wins", json.dumps({"code": code or next(games)}).encode())


def asked(server, path, timeout=5):
    """Status of a GET on a new connection, None when the server closed it unanswered; and the
    seconds it took."""
    begun = time.perf_counter()
    try:
        with socket.create_connection(("127.0.0.1", server.port), timeout=timeout) as connection:
            connection.sendall(b"GET %s HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n" % path.encode())
            head = connection.recv(12)
            return (int(head[9:12]) if head.startswith(b"HTTP/1.1 ") else None), time.perf_counter() - begun
    except (ConnectionError, socket.timeout):
        return None, time.perf_counter() - begun


def until(condition, seconds):
    """Seconds until `condition` held (polled every 50 ms), or None after `seconds`."""
    begun = time.perf_counter()
    while time.perf_counter() - begun < seconds:
        if condition():
            return time.perf_counter() - begun
        time.sleep(0.05)
    return None


def stops(server):
    begun = time.perf_counter()
    server.send_signal(signal.SIGTERM)
    with contextlib.suppress(subprocess.TimeoutExpired):
        server.wait(30)
    return server.returncode == 0 and time.perf_counter() - begun < 5


def workers(server):
    return [int(pid) for task in os.listdir("/proc/%d/task" % server.pid)
            for pid in open("/proc/%d/task/%s/children" % (server.pid, task)).read().split()]


def descriptors(server):
    return len(os.listdir("/proc/%d/fd" % server.pid))


def no_files(server, limit):
    subprocess.run(["prlimit", "--pid", str(server.pid), "--nofile=%d:" % limit], check=True)


# A replay worker dies while no descriptor is free: its submission is told to try again, so is
# the next (at once: no worker to wait for), /healthz still answers; once descriptors are free,
# the worker is started again and wins are stored. Then the same, and SIGTERM.
server = start(os.path.join(scratch, "workers.db"), "--workers", "1")
monitor = Client(server)
check(submit(monitor)[0] == 201, "a win before descriptors ran out")
_, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
for round in ("recovers", "stops"):
    no_files(server, descriptors(server))
    for pid in workers(server):
        os.kill(pid, signal.SIGKILL)
    for attempt in range(2):
        status, _, retry, took = submit(monitor)
        check((status, retry) == (503, "1") and took < 5, "no descriptor for a worker (%s %d): %s %s %.1f s"
              % (round, attempt, status, retry, took))
    status, _, _, took = monitor.ask("/healthz")
    check(status == 200 and took < 1, "/healthz with no descriptor free: %s %.1f s" % (status, took))
    if round == "stops":
        check(stops(server), "SIGTERM with no worker that can be started")
        break
    no_files(server, hard)
    time.sleep(1.1)  # a worker that could not be started is tried again after a second
    check(submit(monitor)[0] == 201, "a win once descriptors were free again")

# 190 clients download a large file and read nothing, under 256 descriptors: each is sent the
# file, told 503 or closed at once; new connections are answered or closed at once, a
# monitor's /healthz answers, and once the clients go, every request is answered again.
web = os.path.join(scratch, "web")
os.makedirs(web)
open(os.path.join(web, "index.html"), "w").write("<!DOCTYPE html>")
with open(os.path.join(web, "big.bin"), "wb") as big:
    big.truncate(64 << 20)
server = start(os.path.join(scratch, "files.db"), "--web", web, limit=256)
monitor = Client(server)
check(monitor.ask("/healthz")[0] == 200, "healthy before the downloads")
downloads = []
for _ in range(190):
    client = socket.socket()
    client.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    client.settimeout(5)
    with contextlib.suppress(OSError):
        client.connect(("127.0.0.1", server.port))
        client.sendall(b"GET /big.bin HTTP/1.1\r\nHost: x\r\n\r\n")
    downloads.append(client)
seen = []
for client in downloads:
    try:
        head = client.recv(12)
        seen.append(int(head[9:12]) if head else None)
    except socket.timeout:
        seen.append("no answer")
    except OSError:
        seen.append(None)
told = {what: seen.count(what) for what in set(seen)}
check("no answer" not in seen and seen.count(200) > 0, "190 downloads: %s" % told)
print("190 downloads under 256 descriptors: %s" % ", ".join("%s %d" % item for item in sorted(told.items(), key=str)))
for path in ("/index.html", "/healthz"):
    status, took = asked(server, path)
    check(status in (200, 503, None) and took < 1, "a new connection among the downloads: %s %.1f s" % (status, took))
status, _, _, took = monitor.ask("/healthz")
check(status == 200 and took < 1, "the monitor's /healthz among the downloads: %s %.1f s" % (status, took))
for client in downloads:
    client.close()
check(until(lambda: asked(server, "/index.html")[0] == 200, 5) is not None, "no answer once the downloads went")
check(stops(server), "SIGTERM after the downloads")

# PostgreSQL, its processes stopped for 8 s: the page's files and /healthz answer at once,
# /healthz says 503 within 2 s, rankings and submissions are told to try again; then, the
# database going on, all is well again without a restart. Then PostgreSQL stopped.
if not binaries():
    print("PostgreSQL (Debian's postgresql) is not installed: its rows cannot run")
    check(not CI, "PostgreSQL missing under CI=true")
else:
    postgres = ScratchPostgres()
    server = start(postgres.database("wins"), "--web", web)
    monitor = Client(server)
    check(submit(monitor)[0] == 201, "a win on PostgreSQL")
    postmaster = int(open(os.path.join(postgres.data, "postmaster.pid")).readline())
    processes = [postmaster] + [int(pid) for pid in os.listdir("/proc") if pid.isdigit() and
                                open("/proc/%s/stat" % pid).read().rsplit(")", 1)[-1].split()[1] == str(postmaster)]
    for pid in processes:
        os.kill(pid, signal.SIGSTOP)
    stopped = time.perf_counter()
    try:
        status, took = asked(server, "/index.html")
        check(status == 200 and took < 1, "a page's file, PostgreSQL stopped: %s %.1f s" % (status, took))
        said = until(lambda: asked(server, "/healthz")[0] == 503, 8)
        said = said and time.perf_counter() - stopped
        check(said is not None and said < 2.5, "/healthz with PostgreSQL stopped: 503 after %s s" % said)
        print("PostgreSQL stopped: a page's file in %.0f ms, /healthz 503 after %s s" % (took * 1000, said))
        for answer in (monitor.ask("/api/daily/%s/ranking?difficulty=2" % day), submit(monitor)):
            check(answer[:1] == (503,) and answer[2] and answer[3] < 5,
                  "PostgreSQL stopped: %s %s %.1f s" % (answer[0], answer[1][:80], answer[3]))
        time.sleep(max(0, 8 - (time.perf_counter() - stopped)))
    finally:
        for pid in processes:
            os.kill(pid, signal.SIGCONT)
    check(until(lambda: asked(server, "/healthz")[0] == 200, 10) is not None, "/healthz once PostgreSQL went on")
    check(submit(Client(server))[0] == 201, "a win once PostgreSQL went on")
    postgres.stop()
    monitor = Client(server)
    statuses = [submit(monitor)[:3:2] for _ in range(5)]
    check(statuses == [(503, "2")] * 5, "PostgreSQL stopped: %s" % statuses)
    check(until(lambda: asked(server, "/healthz")[0] == 503, 2.5) is not None, "/healthz with PostgreSQL stopped")
    postgres.start()
    check(until(lambda: asked(server, "/healthz")[0] == 200, 10) is not None, "/healthz with PostgreSQL back")
    check(submit(Client(server))[0] == 201, "a win with PostgreSQL back")
    check(stops(server), "SIGTERM on PostgreSQL")


# SQLite's disk full: the server runs in a mount namespace of its own with the database on a
# 4 MiB tmpfs, which the test fills and empties through /proc/PID/root.
def full_disk():
    if os.getuid() != 0 or subprocess.run(["unshare", "--mount", "--propagation", "private", "true"],
                                          capture_output=True).returncode != 0:
        return "a private mount namespace cannot be made here (it needs root)"
    folder = os.path.join(scratch, "small")
    os.makedirs(folder)
    server = start(os.path.join(folder, "wins.db"), prefix=[
        "unshare", "--mount", "--propagation", "private", "sh", "-c",
        'mount -t tmpfs -o size=4m tmpfs "$0" && exec "$@"', folder])
    seen = "/proc/%d/root%s" % (server.pid, folder)
    monitor = Client(server)
    check(submit(monitor)[0] == 201, "a win before the disk is full")
    with open(os.path.join(seen, "filler"), "wb") as filler:
        with contextlib.suppress(OSError):
            while True:
                filler.write(b"\0" * 65536)
                filler.flush()
    answers = [submit(monitor) for _ in range(20)]
    told = [status for status, *_ in answers]
    check(201 not in told[told.index(503):] if 503 in told else False, "disk full: %s" % told)
    print("disk full: %d submissions stored, then %d told 503" % (told.count(201), told.count(503)))
    check(all(retry for status, _, retry, _ in answers if status == 503), "disk full: no Retry-After")
    check(until(lambda: asked(server, "/healthz")[0] == 503, 2.5) is not None, "/healthz with the disk full")
    os.remove(os.path.join(seen, "filler"))
    check(until(lambda: asked(server, "/healthz")[0] == 200, 5) is not None, "/healthz with room again")
    check(submit(monitor)[0] == 201, "a win with room again")
    check(stops(server), "SIGTERM after the disk was full")


skipped = full_disk()
if skipped:
    print("the full disk's row is skipped: " + skipped)
    check(not CI, "the full disk's row skipped under CI=true: " + skipped)

# The wins' tables gone: submissions are told to try again, /healthz says 503 within 2 s.
database = os.path.join(scratch, "gone.db")
server = start(database)
monitor = Client(server)
check(submit(monitor)[0] == 201, "a win before the table went")
with contextlib.closing(sqlite3.connect(database)) as db:
    db.execute("DROP TABLE games")
check(until(lambda: asked(server, "/healthz")[0] == 503, 2.5) is not None, "/healthz with a table gone")
status, _, retry, _ = submit(monitor)
check((status, bool(retry)) == (503, True), "a win with a table gone: %s" % status)
check(stops(server), "SIGTERM with a table gone")

run.finish()
