#!/usr/bin/env python3
"""numoteka-server against what anyone on the internet may send. Each row of ABUSES sends
something hostile to a real server (a scratch database and web folder) and checks the sound
answer; then a GET among 500 slow and 500 idle connections, SIGTERM with them open, and the
server's peak memory: at most 32 MB above its idle figure, or under --most-memory-mb in all.

Usage: server_abuse_test.py NUMOTEKA_SERVER [--most-memory-mb N]"""
import contextlib, gzip, os, re, resource, shutil, signal, socket, sqlite3, sys, tempfile, threading, \
    time

from test_run import TestRun

program = os.path.abspath(sys.argv[1])
most_memory_mb = int(sys.argv[3]) if sys.argv[2:3] == ["--most-memory-mb"] else None
run = TestRun("abuse", 300)
scratch, started, check = run.scratch, run.started, run.check
resource.setrlimit(resource.RLIMIT_NOFILE, (resource.getrlimit(resource.RLIMIT_NOFILE)[1],) * 2)


def start(*args, database="wins.db", user=None):
    """A server on a free port: (process, port), or (process, None) when it ended at start."""
    # AddressSanitizer keeps up to 256 MB of freed memory to catch its use; 1 MB still catches a
    # use soon after, and leaves the server's own memory to be measured.
    sanitizer = os.environ.get("ASAN_OPTIONS", "") + ":quarantine_size_mb=1:thread_local_quarantine_size_kb=64"
    server = run.start_server([program, "--port", "0", "--database", os.path.join(scratch, database), *args],
                              os.path.join(scratch, "log"), user, dict(os.environ, ASAN_OPTIONS=sanitizer))
    return server, int(server.origin.rsplit(":", 1)[1]) if server.origin else None


def log_text():
    return open(os.path.join(scratch, "log"), "rb").read()


def exchange(data, port=None, chunks=(), wait=30):
    """Sends `data` (then each of `chunks` while the server reads), returns all it answered
    until it closed the connection."""
    with socket.create_connection(("127.0.0.1", port or PORT), timeout=wait) as connection:
        def send():
            with contextlib.suppress(OSError):
                connection.sendall(data)
                for chunk in chunks:
                    connection.sendall(chunk)
        sender = threading.Thread(target=send, daemon=True)
        sender.start()
        answer = b""
        with contextlib.suppress(OSError):
            while part := connection.recv(65536):
                answer += part
        return answer


def sent_whole(data):
    """What a client that sends all of `data` before it reads, as HTTP libraries do, sees: a
    reset while it sends (the server closed with what it sent unread) loses the answer."""
    with socket.create_connection(("127.0.0.1", PORT), timeout=30) as connection:
        connection.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4096)
        try:
            connection.sendall(data)
        except OSError:
            return b"(reset while sending)"
        answer = b""
        with contextlib.suppress(OSError):
            while part := connection.recv(65536):
                answer += part
        return answer


def head_of(size):
    """A GET of the page whose head (request line, fields, the blank line) is `size` bytes."""
    start = b"GET /index.html HTTP/1.1\r\nHost: x\r\nConnection: close\r\nX-Pad: "
    return start + b"p" * (size - len(start) - 4) + b"\r\n\r\n"


def statuses(answer):
    return [int(status) for status in re.findall(rb"^HTTP/1\.1 (\d{3}) ", answer, re.M)]


def answers_and_bodies(stream, seen=lambda body: body):
    """The status and what `seen` makes of the body of each answer in `stream`."""
    found = []
    while stream.startswith(b"HTTP/1.1 "):
        head, _, stream = stream.partition(b"\r\n\r\n")
        length = int(re.search(rb"Content-Length: (\d+)", head).group(1))
        found.append((int(head[9:12]), seen(stream[:length])))
        stream = stream[length:]
    return found


def request(target, method="GET", headers=(), body=b""):
    lines = ["%s %s HTTP/1.1" % (method, target), "Host: x", "Connection: close", *headers]
    if body:
        lines.append("Content-Length: %d" % len(body))
    return "\r\n".join(lines).encode("latin-1") + b"\r\n\r\n" + body


def memory_kb(server, field):
    return int(re.search(r"%s:\s+(\d+)" % field, open("/proc/%d/status" % server.pid).read()).group(1))


def submit_from(*forwarded):
    """A submission whose code is refused (422), through the trusted proxy (this machine) with
    these X-Forwarded-For lines: 429 once its client has sent ten."""
    return statuses(exchange(request("/api/daily/wins", "POST", ["X-Forwarded-For: " + line for line in forwarded],
                                     b'{"code": "x"}')))[0]


def endless(piece):
    return (piece for _ in range(10 ** 9))


# The web folder: a page, a link out of it, and a file beside it that must stay out of reach.
web = os.path.join(scratch, "web")
os.makedirs(os.path.join(web, "0123456789abcdef"))
PAGE = b"// page\n" * 800
for name, data in [("index.html", b"<!DOCTYPE html>"), ("page.js", PAGE), ("0123456789abcdef/x.js", b"1")]:
    open(os.path.join(web, name), "wb").write(data)
open(os.path.join(scratch, "secret.txt"), "w").write("secret")
os.symlink(os.path.join(scratch, "secret.txt"), os.path.join(web, "out.txt"))
os.symlink("page.js", os.path.join(web, "in.js"))

server, PORT = start("--web", web)
idle_kb = memory_kb(server, "VmHWM")

# Eight clients that send a byte every 3 s, from the start: the rest is answered meanwhile, and
# each is told 408 once its request has taken 10 s.
slow = [socket.create_connection(("127.0.0.1", PORT)) for _ in range(8)]
slow_stop = threading.Event()


def dribble():
    for byte in endless(b"G"):
        for connection in slow:
            with contextlib.suppress(OSError):
                connection.send(byte)
        if slow_stop.wait(3):
            return


threading.Thread(target=dribble, daemon=True).start()

ranking = "/api/daily/2026-11-01/ranking?difficulty=1"
POST_HEAD = "POST /api/daily/wins HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
ABUSES = [
    ("a brotli body", lambda: statuses(exchange(request("/api/daily/wins", "POST", ["Content-Encoding: br"],
                                                         os.urandom(405)))), [415]),
    ("a gzip body", lambda: statuses(exchange(request("/api/daily/wins", "POST", ["Content-Encoding: gzip"],
                                                       gzip.compress(b" " * 60_000_000)))), [415]),
    ("100 MB chunked", lambda: statuses(exchange((POST_HEAD + "Transfer-Encoding: chunked\r\n\r\n").encode(),
                                                 chunks=(b"100000\r\n" + b" " * 0x100000 + b"\r\n"
                                                         for _ in range(100))))[:1], [413]),
    ("a body said to be 100 MB", lambda: statuses(exchange((POST_HEAD + "Content-Length: 100000000\r\n\r\n").encode(),
                                                           chunks=endless(b" " * 65536))), [413]),
    ("100,000 header lines", lambda: statuses(exchange(b"GET / HTTP/1.1\r\n" + b"X-A: b\r\n" * 100_000 + b"\r\n")), [431]),
    ("headers streamed without end", lambda: statuses(exchange(b"GET / HTTP/1.1\r\nX-A: ", chunks=endless(b"b" * 65536))),
     [431]),
    ("65 header lines", lambda: statuses(exchange(b"GET / HTTP/1.1\r\n" + b"X-A: b\r\n" * 65 + b"\r\n")), [400]),
    ("2,000 ranges", lambda: answers_and_bodies(exchange(request("/page.js", headers=["Range: bytes=" + ",".join(
        ["0-"] * 2000)])), len), [(200, len(PAGE))]),
    ("a NUL in the path", lambda: statuses(exchange(request("/page.js%00.html")))
     + statuses(exchange(request("/page.js\x00.html"))), [404, 400]),
    ("paths out of the folder", lambda: [statuses(exchange(request(path)))[0] for path in
                                         ["/out.txt", "/../secret.txt", "/%2e%2e/secret.txt", "/in.js"]], [404, 404, 404, 200]),
    ("two requests in one write", lambda: answers_and_bodies(exchange(
        b"GET /0123456789abcdef/x.js HTTP/1.1\r\nHost: x\r\n\r\n" + request("/index.html"))),
     [(200, b"1"), (200, b"<!DOCTYPE html>")]),
    ("a request line that is none", lambda: statuses(exchange(b"\x16\x03\x01 nonsense\r\n\r\n")), [400]),
    ("a C1 control in the address", lambda: statuses(exchange(b"GET /\x9b2J%C2%9B\xc2\x9b HTTP/1.1\r\nHost: x\r\n"
                                                              b"Connection: close\r\n\r\n")), [404]),
    ("a method the page has no use for", lambda: statuses(exchange(request("/page.js", "DELETE"))), [405]),
    ("an unknown API address", lambda: statuses(exchange(request("/api/daily/2026-11-01/everything"))), [404]),
    ("the first of two X-Forwarded-For lines", lambda: [submit_from("10.9.9.%d" % n, "192.0.2.77") for n in range(11)],
     [422] * 10 + [429]),
    ("X-Forwarded-For ending in a trusted proxy", lambda: [submit_from("192.0.2.78, 127.0.0.1") for n in range(11)],
     [422] * 10 + [429]),
    ("one IPv6 /64", lambda: [submit_from("2001:db8:1:2::%x" % n) for n in range(11)], [422] * 10 + [429]),
    # Each limit at its edge: taken, and refused one byte beyond.
    ("a head of 8 KiB, and of a byte more", lambda: statuses(exchange(head_of(8192)))
     + statuses(exchange(head_of(8193))), [200, 431]),
    ("a body of 64 KiB, and of a byte more", lambda: [statuses(exchange(request("/", "POST", body=b" " * size)))[0]
                                                      for size in (65536, 65537)], [405, 413]),
    # A client still sending when the answer closes the connection sees the answer, not a reset:
    # what it sends on is read and dropped (these 250,000 bytes are less than LINGER_BYTES more
    # than what the server reads before it answers).
    ("a body too large, its client sending on", lambda: statuses(sent_whole(
        (POST_HEAD + "Content-Length: 250000\r\n\r\n").encode() + b" " * 250000)), [413]),
    ("an encoded body, its client sending on", lambda: statuses(sent_whole(
        (POST_HEAD + "Content-Encoding: gzip\r\nContent-Length: 60000\r\n\r\n").encode() + b" " * 250000)),
     [415]),
    ("a head too large, its client sending on", lambda: statuses(sent_whole(b"GET / HTTP/1.1\r\nX-A: " + b"b" * 250000)),
     [431]),
]
for name, send, wanted in ABUSES:
    got = send()
    check(got == wanted, "%s: %s, not %s" % (name, got, wanted))

log = log_text()
check(b"\x9b" not in log and b"/\\x9b2J%C2%9B\\xc2\\x9b " in log, "the log writes a C1 control raw")
check(re.search(rb"Z 127\.0\.0\.1 - - 400 \d+ [\d.]+ms bad request", log), "a malformed request is not logged")
headers = exchange(request("/page.js")).split(b"\r\n\r\n")[0]
for header in [b"X-Content-Type-Options: nosniff", b"X-Frame-Options: DENY", b"Content-Security-Policy: default-src",
               b"Referrer-Policy: ", b"Content-Type: text/javascript"]:
    check(header in headers, "no %s" % header.decode())

# Each submission costs the same whatever the number of clients of the minute: counted in the
# server's own processor time, which other work on the machine does not stretch.
def post_times(first, count):
    fields = lambda: open("/proc/%d/stat" % server.pid).read().rsplit(")", 1)[1].split()
    before = fields()
    for n in range(first, first + count):
        submit_from("10.%d.%d.%d" % (n >> 16 & 255, n >> 8 & 255, n & 255))
    after = fields()
    return sum(int(after[i]) - int(before[i]) for i in (11, 12)) / os.sysconf("SC_CLK_TCK")


early = post_times(0, 300)
post_times(300, 3400)
late = post_times(3700, 300)
check(late < 3 * early + 0.05, "300 submissions took %.2f s first, %.2f s after 3,700 clients" % (early, late))

# A database error: the client is told to try again (503, Retry-After), the log keeps the cause.
with contextlib.closing(sqlite3.connect(os.path.join(scratch, "wins.db"))) as db:
    db.execute("DROP TABLE submissions")
answer = exchange(request("/api/daily/wins", "POST", body=b'{"code": "x"}'))
check(statuses(answer) == [503] and b"\r\nRetry-After: " in answer
      and answer.endswith(b'{"error":"the database cannot be used now: try again"}')
      and b"no such table: submissions" in log_text(), "a database error: %r" % answer[-80:])

# 50 clients connecting at once are all taken: the queue of new connections holds them.
clients = [socket.socket() for _ in range(200)]
refused = sum(1 for client in clients if client.connect_ex(("127.0.0.1", PORT)) != 0)
check(refused == 0, "%d of 200 connections at once refused" % refused)
for client in clients:
    client.close()

# The slow clients were told 408 once their requests took 10 s (not the 30 s a kept-alive
# connection may wait), as the log's times of their requests say.
slow_stop.set()
for connection in slow:
    connection.settimeout(30)
    with contextlib.suppress(OSError):
        check(connection.recv(100).startswith(b"HTTP/1.1 408 "), "a slow client not told 408")
for _ in range(100):  # each is logged once its answer is written
    timed_out = [float(ms) for ms in re.findall(rb" 408 \d+ ([\d.]+)ms ", log_text())]
    if len(timed_out) == 8:
        break
    time.sleep(0.05)
check(len(timed_out) == 8 and all(10000 <= ms < 20000 for ms in timed_out), "408 after %s ms" % timed_out)

# A GET among 500 idle and 500 slow connections: the best of five within 100 ms.
crowd = [socket.create_connection(("127.0.0.1", PORT)) for _ in range(1000)]
for connection in crowd[500:]:
    connection.send(b"GET / HTTP/1.1\r\nHost")
times = []
for _ in range(5):
    begun = time.perf_counter()
    check(statuses(exchange(request(ranking))) == [200], "no ranking among 1,000 connections")
    times.append(time.perf_counter() - begun)
check(min(times) < 0.1, "a GET among 1,000 connections took %.0f ms" % (min(times) * 1000))
peak_kb = memory_kb(server, "VmHWM")

# SIGTERM with the 1,000 connections open: the server ends, in 5 s at most.
begun = time.perf_counter()
server.send_signal(signal.SIGTERM)
check(server.wait(30) == 0 and time.perf_counter() - begun < 5, "SIGTERM took %.1f s" % (time.perf_counter() - begun))
for connection in crowd:
    connection.close()
if most_memory_mb:
    check(peak_kb < most_memory_mb * 1024, "peak memory %d KB" % peak_kb)
else:
    check(peak_kb - idle_kb < 32 * 1024, "peak memory %d KB, %d KB idle" % (peak_kb, idle_kb))

# A server whose trusted proxy is elsewhere: this machine is a client like any other. Its
# X-Forwarded-For is not believed, and it keeps 32 connections open at most.
untrusting, port = start("--trusted-proxy", "192.0.2.99", database="untrusting.db")
statuses_seen = [statuses(exchange(request("/api/daily/wins", "POST", ["X-Forwarded-For: 10.8.0.%d" % n],
                                           b'{"code": "x"}'), port))[0] for n in range(11)]
check(statuses_seen == [422] * 10 + [429], "X-Forwarded-For believed from anyone: %s" % statuses_seen)
many = [socket.create_connection(("127.0.0.1", port), timeout=30) for _ in range(40)]
for connection in many:
    with contextlib.suppress(OSError):
        connection.sendall(b"GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n")
answered = 0
for connection in many:
    with contextlib.suppress(OSError):
        answered += connection.recv(100).startswith(b"HTTP/1.1 200 ")
for connection in many:
    connection.close()
check(answered == 32, "%d of 40 connections of one client answered" % answered)
untrusting.send_signal(signal.SIGTERM)
untrusting.wait(30)

# A port taken, a database that cannot be written or is damaged: exit status 1, one line why.
other, port = start(database="other.db")
check(start("--port", str(port))[0].wait(30) == 1, "a second server on a taken port")
other.send_signal(signal.SIGTERM)
other.wait(30)
shutil.copy(os.path.join(scratch, "wins.db"), os.path.join(scratch, "damaged.db"))
with open(os.path.join(scratch, "damaged.db"), "r+b") as damaged:
    damaged.seek(4096 + 8)
    damaged.write(b"\xff" * 200)
readonly = tempfile.mkdtemp(dir=scratch)
shutil.copy(os.path.join(scratch, "wins.db"), os.path.join(readonly, "wins.db"))
for path in (scratch, readonly):
    os.chmod(path, 0o755)
os.chmod(os.path.join(readonly, "wins.db"), 0o444)
for database, user, why in [("damaged.db", None, rb"damaged"), (os.path.join(readonly, "wins.db"),
                                                               65534 if os.getuid() == 0 else None, rb"read-?only")]:
    at = len(log_text())
    ended, port = start(database=database, user=user)
    said = log_text()[at:]
    check(port is None and ended.wait(30) == 1 and said.count(b"\n") == 1 and re.search(why, said),
          "%s: %s %r" % (database, port, said))

print("abuse: %d rows; peak memory %d KB (%d KB idle); GET among 1,000 connections in %.1f ms"
      % (len(ABUSES), peak_kb, idle_kb, min(times) * 1000))
run.finish()
