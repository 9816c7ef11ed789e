#!/usr/bin/env python3
"""The man page as groff renders it: no warning with all of them on (-ww), and the sections of a
program's man page in their usual order, with the version in its footer.

Usage: man_page_test.py GROFF PAGE VERSION
"""
import subprocess
import sys

SECTIONS = ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "ENVIRONMENT", "FILES",
            "EXIT STATUS", "EXAMPLES"]
NAMED = ["--help", "--version", "--seed", "--ranking-dir", "NUMOTEKA_RANKING_DIR"]


def main():
    groff, page, version = sys.argv[1:4]
    failures = []
    check = subprocess.run([groff, "-man", "-ww", "-z", page], capture_output=True, text=True)
    if check.returncode != 0 or check.stderr:
        failures.append("groff -ww: status %d\n%s" % (check.returncode, check.stderr))
    # Plain ASCII: no overstriking, so headings and options read as written.
    shown = subprocess.run([groff, "-man", "-Tascii", "-P-cbou", page], capture_output=True,
                           text=True, check=True).stdout
    headings = [line for line in shown.splitlines() if line in SECTIONS]
    if headings != SECTIONS:
        failures.append("sections %r, expected %r" % (headings, SECTIONS))
    for name in NAMED:
        if name not in shown:
            failures.append("%s is not described" % name)
    footer = shown.rstrip("\n").splitlines()[-1]
    if "numoteka " + version not in footer:
        failures.append("footer %r has no version %s" % (footer, version))
    if failures:
        print("\n".join(failures))
    print("man page: %d passed, %d failed" % (len(NAMED) + 3 - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
