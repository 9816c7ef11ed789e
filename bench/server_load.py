#!/usr/bin/env python3
"""numoteka-server under load from wrk: GET of a day's ranking on 1 and 50 kept-alive
connections and on a new connection each, and POST of a new verified win (a known won game sent
under a new name each time, through this machine as a trusted proxy so that the rate limit
counts each under its own X-Forwarded-For). Requests a second, p50 and p99 for each, for every
server given, side by side; each server runs on a scratch database of its own.

Usage: server_load.py SECONDS NUMOTEKA_SERVER [LABEL=NUMOTEKA_SERVER]..."""
import os, re, shutil, subprocess, sys, tempfile, time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from replay_codes import forge, typed_bytes  # noqa: E402

# A daily game won on normal as a person plays it: 2026-04-04, 12 turns.
WON = "AV00sAR2JaDngr2C64KkCqCivR-mHx-gv6SgYKC4H6i7vx-qpjpDATc"
RANKING = "/api/daily/2026-04-04/ranking?difficulty=1"
POSTS = r"""
local codes, n, id = {}, 0, 0
for line in io.lines(os.getenv("NUMOTEKA_CODES")) do codes[#codes + 1] = line end
local threads = 0
function setup(thread) threads = threads + 1; thread:set("id", threads) end
function init() n = id * 1000000 end
function request()
  n = n + 1
  local code = codes[n % #codes + 1]
  return wrk.format("POST", "/api/daily/2026-04-04/wins", {["Content-Type"] = "application/json",
    ["X-Forwarded-For"] = string.format("10.%d.%d.%d", math.floor(n / 65536) % 256,
                                       math.floor(n / 256) % 256, n % 256)}, '{"code": "' .. code .. '"}')
end
"""


def start(program, scratch):
    log = open(os.path.join(scratch, "log"), "w+")
    server = subprocess.Popen([program, "--port", "0", "--database", os.path.join(scratch, "wins.db")],
                              stderr=log)
    while not (found := re.search(r"listening on (http://\S+)/", open(log.name).read())):
        if server.poll() is not None:
            sys.exit("%s did not start:\n%s" % (program, open(log.name).read()))
        time.sleep(0.05)
    return server, found.group(1)


def wrk(origin, seconds, connections, path="/", headers=(), script=None):
    """Requests a second, p50 and p99 in ms, and the statuses that were not 2xx."""
    command = ["wrk", "-t", "2" if connections > 1 else "1", "-c", str(connections), "-d", "%ss" % seconds,
               "--latency", *[arg for header in headers for arg in ("-H", header)]]
    if script:
        command += ["-s", script]
    shown = subprocess.run(command + [origin + path], capture_output=True, text=True).stdout
    scale = {"us": 0.001, "ms": 1, "s": 1000}
    latency = {q: float(v) * scale[u] for q, v, u in re.findall(r"\s(50|99)%\s+([\d.]+)(us|ms|s)\b", shown)}
    failed = re.search(r"Non-2xx or 3xx responses: (\d+)", shown)
    return (float(re.search(r"Requests/sec:\s+([\d.]+)", shown).group(1)), latency.get("50"), latency.get("99"),
            int(failed.group(1)) if failed else 0)


def main():
    seconds = sys.argv[1]
    servers = [argument.partition("=")[::2] if "=" in argument else ("this", argument) for argument in sys.argv[2:]]
    scratch = tempfile.mkdtemp(prefix="numoteka_load_")
    try:
        lines = typed_bytes(WON).splitlines(keepends=True)
        codes = os.path.join(scratch, "codes")
        with open(codes, "w") as out:
            for n in range(200000):
                out.write(forge(WON, b"".join([lines[0], b"p%d\n" % n, *lines[2:]])) + "\n")
        script = os.path.join(scratch, "posts.lua")
        open(script, "w").write(POSTS)
        os.environ["NUMOTEKA_CODES"] = codes
        cases = [("GET ranking, 1 connection", 1, RANKING, (), None),
                 ("GET ranking, 50 connections", 50, RANKING, (), None),
                 ("GET ranking, a new connection each", 50, RANKING, ("Connection: close",), None),
                 ("POST a new verified win, 50 connections", 50, "/", (), script)]
        print("%-42s %-8s %12s %9s %9s" % ("", "server", "requests/s", "p50 ms", "p99 ms"))
        for label, program in servers:
            folder = tempfile.mkdtemp(dir=scratch)
            server, origin = start(os.path.abspath(program), folder)
            try:
                for name, connections, path, headers, lua in cases:
                    rate, p50, p99, failed = wrk(origin, seconds, connections, path, headers, lua)
                    print("%-42s %-8s %12.0f %9.2f %9.2f%s" % (name, label, rate, p50 or 0, p99 or 0,
                          " (%d not 2xx)" % failed if failed else ""), flush=True)
            finally:
                server.terminate()
                server.wait(30)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


main()
