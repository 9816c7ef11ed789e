#!/usr/bin/env python3
"""Unpacks each release package into a scratch folder and plays the game from there: the Linux
.tar.gz and .deb answer --version with the package's version and play start-up to quit from
another folder; the .deb's program saves a won game into the player's data folder and shows it
in a second run; the Windows .zip, under Wine, saves a won game into its own System folder, the
same bytes the Linux build saves for that game. The .deb's control fields are checked, and
lintian finds no error or warning in it. The program `make play` runs still saves only into a
System folder.

Usage: package_check.py RELEASE_BUILD_DIR WINDOWS_BUILD_DIR NUMOTEKA_QUICK
"""
import glob
import os
import re
import subprocess
import sys
import tarfile
import tempfile
import zipfile

from game_texts import FAREWELL, MENU, NO_RECORD, OPENING, SAVE_FAILED, SAVED
from wine_smoke_test import KEYS, SEED, Checks, Wine, keys_until_saved, play_linux, read_file

LINUX_FILES = ["games/numoteka", "share/doc/numoteka/README.md",
               "share/doc/numoteka/changelog.gz", "share/doc/numoteka/copyright",
               "share/man/ja/man6/numoteka.6.gz", "share/man/man6/numoteka.6.gz"]


def only(pattern):
    found = glob.glob(pattern)
    if len(found) != 1:
        raise SystemExit("expected one package %s, found %r" % (pattern, found))
    return found[0]


def files_below(folder):
    found = []
    for root, _, names in os.walk(folder):
        found += [os.path.relpath(os.path.join(root, name), folder) for name in names]
    return sorted(found)


def player_env(home, **variables):
    env = dict(os.environ, LANG="C.UTF-8", HOME=home, **variables)
    for variable in ("LC_ALL", "LC_CTYPE", "NUMOTEKA_RANKING_DIR", "XDG_DATA_HOME"):
        if variable not in variables:
            env.pop(variable, None)
    return env


def check_wins_kept(checks, label, program, typed, scratch, xdg, kept=True):
    """A seeded game won and saved, then the ranking shown, where there is no System and with
    HOME in a scratch folder: the installed program keeps the win in the player's data folder,
    every folder it makes there for the player alone; `make play`'s program keeps nothing."""
    home, elsewhere = tempfile.mkdtemp(dir=scratch), tempfile.mkdtemp(dir=scratch)
    data = os.path.join(home, "data") if xdg else os.path.join(home, ".local", "share")
    env = player_env(home, **({"XDG_DATA_HOME": data} if xdg else {}))
    won, shown = (subprocess.run([program, *arguments], input=keys, cwd=elsewhere, env=env,
                                 capture_output=True, timeout=900).stdout.decode()
                  for arguments, keys in ((["--seed", SEED], typed), ([], b"3\n1\n2\n")))
    modes = {oct(os.stat(root).st_mode & 0o7777) for root, _, _ in os.walk(home)}
    if kept:
        ok = (SAVED in won and re.search(r"\n 1位：名無し\t\t +\d+\n", shown)
              and modes == {"0o700"} and sorted(os.listdir(os.path.join(data, "numoteka")))
              == ["dice_data.dat", "name_data.dat", "ranking.lock"])
    else:
        ok = SAVE_FAILED in won and NO_RECORD in shown and not os.listdir(home)
    checks.expect(ok and not os.listdir(elsewhere), "%s: %r\n%r\nfolders %r"
                  % (label, won[-200:], shown[-300:], sorted(os.walk(home))))


def check_linux_tree(checks, label, tree, version, scratch, extra=()):
    """The unpacked tree below the prefix: its files, and its program run from elsewhere."""
    expected = sorted(LINUX_FILES + list(extra))
    checks.expect(files_below(tree) == expected,
                  "%s holds %r, expected %r" % (label, files_below(tree), expected))
    program = os.path.join(tree, "games", "numoteka")
    elsewhere = tempfile.mkdtemp(dir=scratch)
    env = player_env(tempfile.mkdtemp(dir=scratch))
    run = subprocess.run([program, "--version"], cwd=elsewhere, env=env, capture_output=True,
                         timeout=60)
    checks.expect(run.returncode == 0 and run.stdout == ("numoteka %s\n" % version).encode(),
                  "%s --version: status %d, %r" % (label, run.returncode, run.stdout))
    run = subprocess.run([program], input=b"2\n", cwd=elsewhere, env=env, capture_output=True,
                         timeout=60)
    checks.expect(run.returncode == 0 and run.stdout == (OPENING + MENU + FAREWELL).encode(),
                  "%s start-up to quit: status %d, %r" % (label, run.returncode, run.stdout))


def main():
    release, windows, quick = (os.path.abspath(path) for path in sys.argv[1:4])
    checks = Checks()
    deb = only(os.path.join(release, "numoteka_*.deb"))
    fields = {}
    for field in ("Package", "Version", "Architecture", "Section", "Maintainer", "Depends",
                  "Description"):
        fields[field] = subprocess.run(["dpkg-deb", "--field", deb, field], check=True,
                                       capture_output=True, text=True).stdout.strip()
    version = fields["Version"]
    architecture = subprocess.run(["dpkg", "--print-architecture"], check=True,
                                  capture_output=True, text=True).stdout.strip()
    checks.expect(fields["Package"] == "numoteka" and fields["Section"] == "games"
                  and fields["Architecture"] == architecture
                  and os.path.basename(deb) == "numoteka_%s_%s.deb" % (version, architecture)
                  and "libc6" in fields["Depends"] and "<" in fields["Maintainer"]
                  and "\n " in fields["Description"], "control fields %r" % fields)
    # No overrides: every error and warning fails.
    lint = subprocess.run(["lintian", "--allow-root", "--fail-on", "error,warning", deb],
                          capture_output=True, text=True)
    checks.expect(lint.returncode == 0, "lintian: status %d\n%s%s"
                  % (lint.returncode, lint.stdout, lint.stderr))

    with tempfile.TemporaryDirectory() as scratch:
        archive = only(os.path.join(release, "numoteka-%s-Linux.tar.gz" % version))
        with tarfile.open(archive) as tar:
            # The archive's own permissions, without the warning of Pythons that filter.
            options = {"filter": "tar"} if hasattr(tarfile, "tar_filter") else {}
            tar.extractall(os.path.join(scratch, "tgz"), **options)
        top = os.path.join(scratch, "tgz", "numoteka-%s-Linux" % version)
        check_linux_tree(checks, "the .tar.gz", top, version, scratch, ["LICENSE"])

        subprocess.run(["dpkg-deb", "--extract", deb, os.path.join(scratch, "deb")], check=True)
        check_linux_tree(checks, "the .deb", os.path.join(scratch, "deb", "usr"), version,
                         scratch)
        typed = KEYS * keys_until_saved(quick, SEED, scratch)
        installed = os.path.join(scratch, "deb", "usr", "games", "numoteka")
        check_wins_kept(checks, "the .deb, XDG_DATA_HOME set", installed, typed, scratch, True)
        check_wins_kept(checks, "the .deb, XDG_DATA_HOME unset", installed, typed, scratch, False)
        check_wins_kept(checks, "make play's program", os.path.join(release, "numoteka"), typed,
                        scratch, True, kept=False)

        archive = only(os.path.join(windows, "numoteka-%s-win64.zip" % version))
        with zipfile.ZipFile(archive) as unzipped:
            unzipped.extractall(os.path.join(scratch, "zip"))
        top = os.path.join(scratch, "zip", "numoteka-%s-win64" % version)
        held = sorted(os.listdir(top))
        checks.expect(held == ["LICENSE", "README.md", "System", "numoteka.exe"]
                      and not os.listdir(os.path.join(top, "System")),
                      "the .zip holds %r" % held)
        wine = Wine(os.path.join(top, "numoteka.exe"), os.path.join(scratch, "prefix"))
        status, shown, _ = wine.play(typed, top, ["--seed", SEED])
        wine.stop()
        linux = os.path.join(scratch, "linux")
        os.makedirs(os.path.join(linux, "System"))
        play_linux(quick, typed, linux, ["--seed", SEED])
        checks.expect(status == 0 and SAVED.encode("cp932") in shown,
                      "the .zip's game: status %d, %r" % (status, shown[-400:]))
        for name in ("dice_data.dat", "name_data.dat"):
            ours = read_file(os.path.join(top, "System", name))
            theirs = read_file(os.path.join(linux, "System", name))
            checks.expect(ours is not None and ours == theirs,
                          "System/%s of the .zip: %r, Linux: %r" % (name, ours, theirs))
    if checks.failures:
        print("\n\n".join(checks.failures))
    print("packages: %d passed, %d failed" % (checks.passed, len(checks.failures)))
    return 1 if checks.failures else 0


if __name__ == "__main__":
    sys.exit(main())
