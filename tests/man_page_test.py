#!/usr/bin/env python3
"""The man pages, English and Japanese (*.ja.6) and the server's (*.8), as groff renders them:
no warning with all of them on (-ww), and the sections of a program's man page in their usual
order, with the version in its footer.

Usage: man_page_test.py GROFF VERSION PAGE...
"""
import subprocess
import sys

SECTIONS = ["NAME", "SYNOPSIS", "DESCRIPTION", "HOW TO PLAY", "OPTIONS", "ENVIRONMENT", "FILES",
            "EXIT STATUS", "EXAMPLES"]
JA_SECTIONS = ["名前", "書式", "説明", "遊び方", "オプション", "環境変数", "ファイル", "終了ステータス", "例",
               "関連項目"]
NAMED = ["--help", "--version", "--seed", "--ranking-dir", "NUMOTEKA_RANKING_DIR",
         "XDG_DATA_HOME", "~/.local/share/numoteka"]
SERVER_SECTIONS = ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "ENVIRONMENT", "FILES",
                   "EXIT STATUS", "ENDPOINTS", "SIGNALS", "EXAMPLES", "SEE ALSO"]
SERVER_NAMED = ["--port", "--address", "--database", "--web", "--trusted-proxy", "--workers",
                "--help", "--version", "NUMOTEKA_PORT", "NUMOTEKA_ADDRESS", "NUMOTEKA_DATABASE",
                "NUMOTEKA_WEB", "postgresql://", "/usr/share/numoteka/web/",
                "/var/lib/numoteka/numoteka.db", "numoteka-server.service", "/healthz",
                "/metrics", "/api/daily/wins", "SIGTERM", "nginx", "numoteka(6)",
                "systemd.unit(5)"]


def main():
    groff, version, pages = sys.argv[1], sys.argv[2], sys.argv[3:]
    failures = []
    checks = 0
    for page in pages:
        sections = JA_SECTIONS if page.endswith(".ja.6") else SECTIONS
        named = NAMED
        if page.endswith(".8"):
            sections, named = SERVER_SECTIONS, SERVER_NAMED
        checks += len(named) + 3
        # UTF-8 in (-k), plain text out: no overstriking, so headings and options read as written.
        shown = subprocess.run([groff, "-man", "-k", "-Tutf8", "-ww", "-P-cbou", page],
                               capture_output=True, text=True)
        if shown.returncode != 0 or shown.stderr:
            failures.append("%s: groff -ww: status %d\n%s" % (page, shown.returncode, shown.stderr))
        headings = [line for line in shown.stdout.splitlines() if line in sections]
        if headings != sections:
            failures.append("%s: sections %r, expected %r" % (page, headings, sections))
        failures += ["%s: %s is not described" % (page, name) for name in named
                     if name not in shown.stdout]
        footer = shown.stdout.rstrip("\n").splitlines()[-1]
        if "numoteka " + version not in footer:
            failures.append("%s: footer %r has no version %s" % (page, footer, version))
    if failures:
        print("\n".join(failures))
    print("man pages: %d passed, %d failed" % (checks - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
