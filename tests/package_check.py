#!/usr/bin/env python3
"""Unpacks each release package into a scratch folder and plays the game from there: the Linux
.tar.gz and .deb answer --version with the package's version and play start-up to quit from
another folder; the Windows .zip, under Wine, saves a won game into its own System folder, the
same bytes the Linux build saves for that game. The .deb's control fields are checked too.

Usage: package_check.py RELEASE_BUILD_DIR WINDOWS_BUILD_DIR NUMOTEKA_QUICK
"""
import glob
import os
import subprocess
import sys
import tarfile
import tempfile
import zipfile

from game_texts import FAREWELL, MENU, OPENING, SAVED
from wine_smoke_test import KEYS, SEED, Checks, Wine, keys_until_saved, play_linux, read_file

LINUX_FILES = ["games/numoteka", "share/doc/numoteka/README.md",
               "share/doc/numoteka/changelog.gz", "share/man/man6/numoteka.6.gz"]


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


def check_linux_tree(checks, label, tree, version, scratch):
    """The unpacked tree below the prefix: its files, and its program run from elsewhere."""
    checks.expect(files_below(tree) == LINUX_FILES,
                  "%s holds %r, expected %r" % (label, files_below(tree), LINUX_FILES))
    program = os.path.join(tree, "games", "numoteka")
    elsewhere = tempfile.mkdtemp(dir=scratch)
    env = dict(os.environ, LANG="C.UTF-8")
    for variable in ("LC_ALL", "LC_CTYPE", "NUMOTEKA_RANKING_DIR"):
        env.pop(variable, None)
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

    with tempfile.TemporaryDirectory() as scratch:
        archive = only(os.path.join(release, "numoteka-%s-Linux.tar.gz" % version))
        with tarfile.open(archive) as tar:
            # The archive's own permissions, without the warning of Pythons that filter.
            options = {"filter": "tar"} if hasattr(tarfile, "tar_filter") else {}
            tar.extractall(os.path.join(scratch, "tgz"), **options)
        top = os.path.join(scratch, "tgz", "numoteka-%s-Linux" % version)
        check_linux_tree(checks, "the .tar.gz", top, version, scratch)

        subprocess.run(["dpkg-deb", "--extract", deb, os.path.join(scratch, "deb")], check=True)
        check_linux_tree(checks, "the .deb", os.path.join(scratch, "deb", "usr"), version,
                         scratch)

        archive = only(os.path.join(windows, "numoteka-%s-win64.zip" % version))
        with zipfile.ZipFile(archive) as unzipped:
            unzipped.extractall(os.path.join(scratch, "zip"))
        top = os.path.join(scratch, "zip", "numoteka-%s-win64" % version)
        held = sorted(os.listdir(top))
        checks.expect(held == ["README.md", "System", "numoteka.exe"]
                      and not os.listdir(os.path.join(top, "System")),
                      "the .zip holds %r" % held)
        wine = Wine(os.path.join(top, "numoteka.exe"), os.path.join(scratch, "prefix"))
        typed = KEYS * keys_until_saved(quick, SEED, scratch)
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
