#!/usr/bin/env python3
"""The install rules, into a DESTDIR with the prefix /usr as the Debian package has it: exactly
the program, the gzipped man pages (English and Japanese), the README, the copyright file and
the gzipped changelog, in Debian's places for a game. The installed program then answers
--version, plays start-up to quit from another folder, creating nothing there nor in the home,
and names in --help the data folder it keeps the ranking in.

In a build with the server, its rules (component server, left out above) as make install uses
them, with the prefix /usr/local: the program, its man page, copyright file and changelog, the
page of build/web and a systemd unit that names the program there; without that page, a refusal
that says to run make web.

Usage: install_test.py CMAKE BUILD_DIR VERSION
"""
import gzip
import os
import pwd
import re
import subprocess
import sys
import tempfile

from game_texts import FAREWELL, MENU, OPENING

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# The documents the README links to, installed as in the tree.
DOCUMENTS = ["doc/board.png", "doc/daily.md", "doc/development.md", "doc/guide.ja.md",
             "doc/server.md", "doc/web.md"]
MAN_PAGES = ["usr/share/man/ja/man6/numoteka.6.gz", "usr/share/man/man6/numoteka.6.gz"]
INSTALLED = ["usr/games/numoteka", "usr/share/doc/numoteka/README.md",
             "usr/share/doc/numoteka/changelog.gz", "usr/share/doc/numoteka/copyright",
             *MAN_PAGES, *("usr/share/doc/numoteka/" + name for name in DOCUMENTS)]


def files_below(folder):
    found = []
    for root, _, names in os.walk(folder):
        found += [os.path.relpath(os.path.join(root, name), folder) for name in names]
    return sorted(found)


SERVER_INSTALLED = ["usr/local/lib/systemd/system/numoteka-server.service",
                    "usr/local/sbin/numoteka-server",
                    "usr/local/share/doc/numoteka-server/changelog.gz",
                    "usr/local/share/doc/numoteka-server/copyright",
                    "usr/local/share/doc/numoteka-server/server.md",
                    "usr/local/share/man/man8/numoteka-server.8.gz"]


def check_server_install(cmake, build, stage, failures):
    page = os.path.join(SOURCE, "build", "web")
    run = subprocess.run([cmake, "--install", build, "--component", "server", "--prefix",
                          "/usr/local"], env=dict(os.environ, DESTDIR=stage),
                         capture_output=True, text=True)
    if not os.path.isfile(os.path.join(page, "index.html")):
        if run.returncode == 0 or not re.search(r"run\s+'make\s+web'\s+first", run.stderr):
            failures.append("the server installed without a page: status %d\n%s"
                            % (run.returncode, run.stderr))
        return
    expected = sorted(SERVER_INSTALLED + [os.path.join("usr/local/share/numoteka/web", name)
                                          for name in files_below(page)])
    if run.returncode != 0 or files_below(stage) != expected:
        failures.append("the server installed %r (status %d), expected %r\n%s"
                        % (files_below(stage), run.returncode, expected, run.stderr))
        return
    with open(os.path.join(stage, SERVER_INSTALLED[0])) as unit:
        if "\nExecStart=/usr/local/sbin/numoteka-server\n" not in unit.read():
            failures.append("the installed unit does not start /usr/local/sbin/numoteka-server")


def main():
    cmake, build, version = sys.argv[1:4]
    failures = []
    checks = 11
    with tempfile.TemporaryDirectory() as scratch:
        stage = os.path.join(scratch, "stage")
        subprocess.run([cmake, "--install", build, "--prefix", "/usr"], check=True,
                       env=dict(os.environ, DESTDIR=stage), stdout=subprocess.DEVNULL)
        installed = files_below(stage)
        if installed != sorted(INSTALLED):
            failures.append("installed %r, expected %r" % (installed, sorted(INSTALLED)))
            print("\n".join(failures))
            return 1
        program = os.path.join(stage, INSTALLED[0])
        if not os.access(program, os.X_OK):
            failures.append("the program is not executable")
        with open(os.path.join(SOURCE, "README.md"), "rb") as source, \
                open(os.path.join(stage, INSTALLED[1]), "rb") as copy:
            if source.read() != copy.read():
                failures.append("the installed README differs from the repository's")
        for page in MAN_PAGES:
            with gzip.open(os.path.join(stage, page), "rt") as text:
                if '.TH NUMOTEKA 6 ' not in text.read():
                    failures.append("%s does not decompress to a page of section 6" % page)

        elsewhere = os.path.join(scratch, "elsewhere")
        os.mkdir(elsewhere)
        home = os.path.join(scratch, "home")
        os.mkdir(home)
        env = dict(os.environ, LANG="C.UTF-8", HOME=home)
        for variable in ("LC_ALL", "LC_CTYPE", "NUMOTEKA_RANKING_DIR", "XDG_DATA_HOME"):
            env.pop(variable, None)
        run = subprocess.run([program, "--version"], cwd=elsewhere, env=env,
                             capture_output=True, timeout=60)
        if run.returncode != 0 or run.stdout != ("numoteka %s\n" % version).encode():
            failures.append("--version: status %d, %r" % (run.returncode, run.stdout))
        run = subprocess.run([program], input=b"2\n", cwd=elsewhere, env=env,
                             capture_output=True, timeout=60)
        if run.returncode != 0 or run.stdout.decode() != OPENING + MENU + FAREWELL:
            failures.append("start-up to quit: status %d, %r" % (run.returncode, run.stdout))
        if os.listdir(elsewhere) or os.listdir(home):
            failures.append("the game left %r where it ran, %r in the home"
                            % (os.listdir(elsewhere), os.listdir(home)))
        # The last line of --help: the data folder, by XDG_DATA_HOME (an absolute path), HOME,
        # or the home of the password database.
        own = pwd.getpwuid(os.getuid()).pw_dir
        for variables, folder in (({}, home + "/.local/share"), ({"XDG_DATA_HOME": "/x/y"}, "/x/y"),
                                  ({"XDG_DATA_HOME": "x/y"}, home + "/.local/share"),
                                  ({"HOME": ""}, own + "/.local/share")):
            run = subprocess.run([program, "--help"], env=dict(env, **variables),
                                 capture_output=True, timeout=60)
            if not run.stdout.decode().endswith("\n  %s/numoteka\n" % folder):
                failures.append("--help with %r: %r" % (variables, run.stdout[-80:]))

        with open(os.path.join(build, "CMakeCache.txt")) as cache:
            if "\nNUMOTEKA_SERVER:BOOL=ON\n" in cache.read():
                checks += 1
                check_server_install(cmake, build, os.path.join(scratch, "server"), failures)
    if failures:
        print("\n".join(failures))
    print("install: %d passed, %d failed" % (checks - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
