#!/usr/bin/env python3
"""numoteka-server under load from wrk: GET of a day's ranking on 1 and 50 kept-alive
connections and on a new connection each, and POST of a new verified win (a known won game sent
under a new name each time, through this machine as a trusted proxy so that the rate limit
counts each under its own X-Forwarded-For). Requests a second, p50 and p99 for each, for every
server given, side by side, each on a scratch database of its own.

With --processes N, N processes of each server share the database, each loaded by a wrk of its
own with its share of the connections (as a balancer in front would spread them): the rates are
summed, the p50 is the processes' middle one and the p99 the worst. --postgresql puts the
database in a PostgreSQL started for the run; --workers N gives each process N replay workers.
With several servers, all run at once, each case taken by each in turn; --rounds N takes each
case N times so (the order of the servers reversed every other round), and gives the median of
the rounds: side by side in one run, so that the machine's other work falls on all alike.

Usage: server_load.py SECONDS [--processes N] [--postgresql] [--workers N] [--rounds N]
                      NUMOTEKA_SERVER [LABEL=NUMOTEKA_SERVER]..."""
import os, re, shutil, subprocess, sys, tempfile, time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from replay_codes import forge, typed_bytes  # noqa: E402

# A daily game won on normal as a person plays it: 2026-04-04, 12 turns.
WON = "AV00sAR2JaDngr2C64KkCqCivR-mHx-gv6SgYKC4H6i7vx-qpjpDATc"
RANKING = "/api/daily/2026-04-04/ranking?difficulty=1"
POSTS = r"""
local codes, n, id = {}, 0, 0
for line in io.lines(os.getenv("NUMOTEKA_CODES")) do codes[#codes + 1] = line end
local offset = tonumber(os.getenv("NUMOTEKA_OFFSET"))
local threads = 0
function setup(thread) threads = threads + 1; thread:set("id", threads) end
function init() n = offset + id * 100000 end
function request()
  n = n + 1
  local code = codes[n % #codes + 1]
  return wrk.format("POST", "/api/daily/2026-04-04/wins", {["Content-Type"] = "application/json",
    ["X-Forwarded-For"] = string.format("10.%d.%d.%d", math.floor(n / 65536) % 256,
                                       math.floor(n / 256) % 256, n % 256)}, '{"code": "' .. code .. '"}')
end
"""


def option(name, default):
    if name in sys.argv:
        at = sys.argv.index(name)
        value = sys.argv[at + 1] if default is not None else True
        del sys.argv[at:at + (2 if default is not None else 1)]
        return value
    return default


def start(program, database, workers, scratch):
    log = tempfile.NamedTemporaryFile("w+", dir=scratch, delete=False)
    server = subprocess.Popen([program, "--port", "0", "--database", database,
                               *(["--workers", workers] if workers else [])], stderr=log)
    while not (found := re.search(r"listening on (http://\S+)/", open(log.name).read())):
        if server.poll() is not None:
            sys.exit("%s did not start:\n%s" % (program, open(log.name).read()))
        time.sleep(0.05)
    return server, found.group(1)


def wrk(origins, seconds, connections, path, headers, script, offset=0):
    """Requests a second over all `origins`, each loaded by a wrk of its own; p50 and p99 in
    ms; and the answers that were not 2xx."""
    runs = []
    for number, origin in enumerate(origins):
        share = max(1, connections // len(origins))
        command = ["wrk", "-t", "2" if share > 1 and len(origins) == 1 else "1", "-c", str(share),
                   "-d", "%ss" % seconds, "--latency", *[arg for header in headers for arg in ("-H", header)]]
        if script:
            command += ["-s", script]
        runs.append(subprocess.Popen(command + [origin + path], stdout=subprocess.PIPE, text=True,
                                     env=dict(os.environ, NUMOTEKA_OFFSET=str(offset + number * 1000000))))
    rates, p50s, p99s, failed = [], [], [], 0
    scale = {"us": 0.001, "ms": 1, "s": 1000}
    for run in runs:
        shown = run.communicate()[0]
        latency = {q: float(v) * scale[u] for q, v, u in re.findall(r"\s(50|99)%\s+([\d.]+)(us|ms|s)\b", shown)}
        rates.append(float(re.search(r"Requests/sec:\s+([\d.]+)", shown).group(1)))
        p50s.append(latency.get("50", 0))
        p99s.append(latency.get("99", 0))
        failed += int(found.group(1)) if (found := re.search(r"Non-2xx or 3xx responses: (\d+)", shown)) else 0
    return sum(rates), sorted(p50s)[len(p50s) // 2], max(p99s), failed


def main():
    processes = int(option("--processes", "1"))
    postgresql = option("--postgresql", None)
    workers = option("--workers", "")
    rounds = int(option("--rounds", "1"))
    seconds = sys.argv[1]
    servers = [argument.partition("=")[::2] if "=" in argument else ("this", argument) for argument in sys.argv[2:]]
    scratch = tempfile.mkdtemp(prefix="numoteka_load_")
    postgres = None
    if postgresql:
        from scratch_postgres import ScratchPostgres
        postgres = ScratchPostgres()
    try:
        lines = typed_bytes(WON).splitlines(keepends=True)
        codes = os.path.join(scratch, "codes")
        with open(codes, "w") as out:
            for n in range(400000):
                out.write(forge(WON, b"".join([lines[0], b"p%d\n" % n, *lines[2:]])) + "\n")
        script = os.path.join(scratch, "posts.lua")
        open(script, "w").write(POSTS)
        os.environ["NUMOTEKA_CODES"] = codes
        cases = [("GET ranking, 1 connection", 1, RANKING, (), None),
                 ("GET ranking, 50 connections", 50, RANKING, (), None),
                 ("GET ranking, a new connection each", 50, RANKING, ("Connection: close",), None),
                 ("POST a new verified win, 50 connections", 50, "/", (), script)]
        print("%s, %d process%s%s%s" % ("PostgreSQL" if postgres else "SQLite", processes,
                                          "" if processes == 1 else "es",
                                          ", %s workers each" % workers if workers else "",
                                          ", the median of %d rounds" % rounds if rounds > 1 else ""))
        print("%-42s %-8s %12s %9s %9s" % ("", "server", "requests/s", "p50 ms", "p99 ms"))
        started = []
        try:
            for number, (label, program) in enumerate(servers):
                database = postgres.database("wins%d" % number) if postgres else \
                    os.path.join(tempfile.mkdtemp(dir=scratch), "wins.db")
                started.append([start(os.path.abspath(program), database, workers, scratch)
                                for _ in range(processes)])
            for name, connections, path, headers, lua in cases:
                if connections == 1 and processes > 1:
                    continue
                figures = [[] for _ in servers]
                for round in range(rounds):
                    order = range(len(servers)) if round % 2 == 0 else reversed(range(len(servers)))
                    for number in order:
                        # Each round's submissions are new games: codes apart from the others'.
                        figures[number].append(wrk([origin for _, origin in started[number]], seconds,
                                                   connections, path, headers, lua, round * 15000))
                for (label, _), runs in zip(servers, figures):
                    median = lambda column: sorted(run[column] for run in runs)[len(runs) // 2]
                    failed = sum(run[3] for run in runs)
                    print("%-42s %-8s %12.0f %9.2f %9.2f%s" % (name, label, median(0), median(1), median(2),
                          " (%d not 2xx)" % failed if failed else ""), flush=True)
        finally:
            for processes_of_server in started:
                for server, _ in processes_of_server:
                    server.terminate()
                    server.wait(30)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


main()
