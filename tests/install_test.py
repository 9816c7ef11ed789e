#!/usr/bin/env python3
"""The install rules, into a DESTDIR with the prefix /usr as the Debian package has it: exactly
the program, the gzipped man pages (English and Japanese), the README, the copyright file and
the gzipped changelog, in Debian's places for a game. The installed program then answers
--version, plays start-up to quit from another folder, creating nothing there nor in the home,
and names in --help the data folder it keeps the ranking in.

Usage: install_test.py CMAKE BUILD_DIR VERSION
"""
import gzip
import os
import pwd
import subprocess
import sys
import tempfile

from game_texts import FAREWELL, MENU, OPENING

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
INSTALLED = ["usr/games/numoteka", "usr/share/doc/numoteka/README.md",
             "usr/share/doc/numoteka/changelog.gz", "usr/share/doc/numoteka/copyright",
             "usr/share/man/ja/man6/numoteka.6.gz", "usr/share/man/man6/numoteka.6.gz"]


def files_below(folder):
    found = []
    for root, _, names in os.walk(folder):
        found += [os.path.relpath(os.path.join(root, name), folder) for name in names]
    return sorted(found)


def main():
    cmake, build, version = sys.argv[1:4]
    failures = []
    with tempfile.TemporaryDirectory() as scratch:
        stage = os.path.join(scratch, "stage")
        subprocess.run([cmake, "--install", build, "--prefix", "/usr"], check=True,
                       env=dict(os.environ, DESTDIR=stage), stdout=subprocess.DEVNULL)
        installed = files_below(stage)
        if installed != INSTALLED:
            failures.append("installed %r, expected %r" % (installed, INSTALLED))
            print("\n".join(failures))
            return 1
        program = os.path.join(stage, INSTALLED[0])
        if not os.access(program, os.X_OK):
            failures.append("the program is not executable")
        with open(os.path.join(SOURCE, "README.md"), "rb") as source, \
                open(os.path.join(stage, INSTALLED[1]), "rb") as copy:
            if source.read() != copy.read():
                failures.append("the installed README differs from the repository's")
        for page in INSTALLED[4:]:
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
    if failures:
        print("\n".join(failures))
    print("install: %d passed, %d failed" % (11 - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
