#!/usr/bin/env python3
"""Unpacks each release package into a scratch folder and plays the game from there: the Linux
.tar.gz and .deb answer --version with the package's version and play start-up to quit from
another folder; the .deb's program saves a won game into the player's data folder and shows it
in a second run; the Windows .zip, under Wine, saves a won game into its own System folder, the
same bytes the Linux build saves for that game. The .deb's control fields are checked, and
lintian finds no error or warning in it. The program `make play` runs still saves only into a
System folder.

The server's .deb: its control fields, files (the page those of WEB_DIR) and maintainer scripts
(run against stand-ins for systemd's helpers, with and without systemd), lintian, and its
program started from where both .debs are unpacked, without --web: it serves the installed page
and stops on SIGTERM with status 0. systemd-analyze verifies its unit and rates its sandbox.

Usage: package_check.py RELEASE_BUILD_DIR WINDOWS_BUILD_DIR NUMOTEKA_QUICK SERVER_BUILD_DIR WEB_DIR
"""
import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import tarfile
import tempfile
import time
import urllib.error
import urllib.request
import zipfile

from game_texts import FAREWELL, MENU, NO_RECORD, OPENING, SAVE_FAILED, SAVED
from wine_smoke_test import KEYS, SEED, Checks, Wine, keys_until_saved, play_linux, read_file

DOCUMENTS = ["doc/board.png", "doc/daily.md", "doc/development.md", "doc/guide.ja.md",
             "doc/server.md", "doc/web.md"]
LINUX_FILES = ["games/numoteka", "share/doc/numoteka/README.md",
               "share/doc/numoteka/changelog.gz", "share/doc/numoteka/copyright",
               "share/man/ja/man6/numoteka.6.gz", "share/man/man6/numoteka.6.gz"] + [
                   "share/doc/numoteka/" + name for name in DOCUMENTS]
# The server's package, but for its page.
SERVER_FILES = ["usr/lib/systemd/system/numoteka-server.service", "usr/sbin/numoteka-server",
                "usr/share/doc/numoteka-server/changelog.gz",
                "usr/share/doc/numoteka-server/copyright",
                "usr/share/doc/numoteka-server/server.md",
                "usr/share/man/man8/numoteka-server.8.gz"]
UNIT = "numoteka-server.service"
# The unit's sandbox rated by `systemd-analyze security` (0 to 10 as it prints, here in tenths):
# 1.1 when written; over 2.0, some of its hardening has gone.
MOST_EXPOSURE = 20


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


def control_fields(deb, names):
    return {name: subprocess.run(["dpkg-deb", "--field", deb, name], check=True,
                                 capture_output=True, text=True).stdout.strip()
            for name in names}


def lintian(checks, deb):
    # No overrides: every error and warning fails.
    lint = subprocess.run(["lintian", "--allow-root", "--fail-on", "error,warning", deb],
                          capture_output=True, text=True)
    checks.expect(lint.returncode == 0, "lintian %s: status %d\n%s%s"
                  % (os.path.basename(deb), lint.returncode, lint.stdout, lint.stderr))


def in_namespace(command, systemd_running=False, binds=(), env=None):
    """Runs command in a mount namespace of its own, where /run is empty but for
    /run/systemd/system when systemd is to seem running, and each (source, target) of binds is
    mounted over target; None where no namespace can be made."""
    setup = ["mount -t tmpfs tmpfs /run"]
    if systemd_running:
        setup.append("mkdir -p /run/systemd/system")
    setup += ['mount --bind "%s" "%s"' % bind for bind in binds]
    unshare = ["unshare", "--mount"] + ([] if os.getuid() == 0 else ["--map-root-user"])
    if subprocess.run(unshare + ["true"], capture_output=True).returncode != 0:
        return None
    return subprocess.run(unshare + ["sh", "-c", " && ".join(setup) + ' && exec "$@"', "sh",
                                     *command], capture_output=True, text=True, env=env,
                          timeout=120)


def skipped_unless_ci(checks, what):
    """A check this machine cannot make: CI must make it."""
    if os.environ.get("CI") == "true":
        checks.expect(False, "%s, which CI must check" % what)
    else:
        print("skipped: %s" % what)


# What each maintainer script does, as dpkg calls it: the arguments, whether the unit was
# enabled (deb-systemd-helper was-enabled), whether systemd runs, and the calls expected.
HELPER, INVOKE, SYSTEMCTL = "deb-systemd-helper", "deb-systemd-invoke", "systemctl"
SCRIPT_CASES = [
    ("postinst", ["configure", ""], True, True,
     [[HELPER, "--quiet", "was-enabled", UNIT], [HELPER, "enable", UNIT],
      [SYSTEMCTL, "--system", "daemon-reload"], [INVOKE, "start", UNIT]]),
    ("postinst", ["configure", ""], True, False,
     [[HELPER, "--quiet", "was-enabled", UNIT], [HELPER, "enable", UNIT]]),
    # An upgrade keeps an administrator's disable, and restarts the server.
    ("postinst", ["configure", "1.0.0"], False, True,
     [[HELPER, "--quiet", "was-enabled", UNIT], [HELPER, "update-state", UNIT],
      [SYSTEMCTL, "--system", "daemon-reload"], [INVOKE, "restart", UNIT]]),
    ("prerm", ["remove"], True, True, [[INVOKE, "stop", UNIT]]),
    ("prerm", ["remove"], True, False, []),
    ("prerm", ["upgrade", "1.0.0"], True, True, []),
    ("postrm", ["remove"], True, True, [[SYSTEMCTL, "--system", "daemon-reload"]]),
    ("postrm", ["remove"], True, False, []),
    ("postrm", ["purge"], True, False, [[HELPER, "purge", UNIT]]),
]


def check_maintainer_scripts(checks, deb, scratch):
    """The package's scripts run against stand-ins that note their calls; a purge also deletes
    the state folder (below DPKG_ROOT here)."""
    control = os.path.join(scratch, "control")
    subprocess.run(["dpkg-deb", "--control", deb, control], check=True)
    for name in ("postinst", "prerm", "postrm"):
        mode = os.stat(os.path.join(control, name)).st_mode & 0o7777
        checks.expect(mode == 0o755, "%s has mode %o" % (name, mode))
    stand_ins = tempfile.mkdtemp(dir=scratch)
    calls = os.path.join(scratch, "calls")
    for command in (HELPER, INVOKE, SYSTEMCTL):
        with open(os.path.join(stand_ins, command), "w") as stand_in:
            stand_in.write('#!/bin/sh\necho "${0##*/} $*" >> "%s"\n'
                           '[ "$*" != "--quiet was-enabled %s" ] || exit "$WAS_ENABLED"\n'
                           % (calls, UNIT))
        os.chmod(os.path.join(stand_ins, command), 0o755)
    for script, arguments, enabled, systemd_running, expected in SCRIPT_CASES:
        root = tempfile.mkdtemp(dir=scratch)
        state = [os.path.join(root, "var", "lib", "private", "numoteka"),
                 os.path.join(root, "var", "lib", "numoteka")]
        for folder in state:
            os.makedirs(folder)
        open(calls, "w").close()
        env = dict(os.environ, PATH=stand_ins + ":" + os.environ["PATH"], DPKG_ROOT=root,
                   WAS_ENABLED="0" if enabled else "1")
        if script == "prerm":
            env.pop("DPKG_ROOT")  # a prerm under DPKG_ROOT stops nothing
        run = in_namespace([os.path.join(control, script), *arguments], systemd_running,
                           env=env)
        if run is None:
            return skipped_unless_ci(checks, "the maintainer scripts: no mount namespace")
        with open(calls) as noted:
            made = [line.split() for line in noted]
        label = "%s %s (%s)" % (script, " ".join(arguments),
                                "systemd running" if systemd_running else "no systemd")
        checks.expect(run.returncode == 0 and made == expected,
                      "%s: status %d, calls %r, expected %r\n%s"
                      % (label, run.returncode, made, expected, run.stderr))
        purged = arguments == ["purge"]
        checks.expect(all(os.path.exists(folder) != purged for folder in state),
                      "%s: state folders %r" % (label, [os.path.exists(f) for f in state]))


def get(url):
    try:
        with urllib.request.urlopen(url, timeout=30) as answer:
            return answer.status, answer.read()
    except urllib.error.HTTPError as error:
        return error.code, error.read()


def check_installed_server(checks, root, version, scratch):
    """The installed program, from the root both packages were unpacked into, run with neither
    --web nor NUMOTEKA_WEB: its page is the installed one."""
    program = os.path.join(root, "usr", "sbin", "numoteka-server")
    page = os.path.join(root, "usr", "share", "numoteka", "web")
    env = {name: value for name, value in os.environ.items() if not name.startswith("NUMOTEKA_")}
    run = subprocess.run([program, "--version"], env=env, capture_output=True, timeout=60)
    checks.expect(run.returncode == 0 and run.stdout == ("numoteka-server %s\n" % version).encode(),
                  "numoteka-server --version: status %d, %r" % (run.returncode, run.stdout))
    elsewhere = tempfile.mkdtemp(dir=scratch)
    log_name = os.path.join(scratch, "server.log")
    with open(log_name, "wb") as log:
        server = subprocess.Popen([program, "--port", "0", "--database",
                                   os.path.join(elsewhere, "wins.db")],
                                  cwd=elsewhere, env=env, stderr=log)
    try:
        port, deadline = None, time.monotonic() + 60
        while port is None and server.poll() is None and time.monotonic() < deadline:
            with open(log_name, "rb") as log:
                found = re.search(rb"listening on http://\S+:(\d+)/", log.read())
            port = found and int(found.group(1))
            time.sleep(0.05)
        if port is None:
            with open(log_name, "rb") as log:
                return checks.expect(False, "the installed server did not start: %r" % log.read())
        # Not the source tree's build/web, which a program built here falls back to.
        with open(log_name, "rb") as log:
            named = log.read().decode(errors="replace")
        checks.expect("; page %s)\n" % os.path.realpath(page) in named,
                      "the installed server's page is not %s: %r" % (page, named))
        origin = "http://127.0.0.1:%d" % port
        with open(os.path.join(page, "index.html"), "rb") as index:
            expected = index.read()
        status, body = get(origin + "/")
        checks.expect(status == 200 and body == expected,
                      "GET / of the installed server: %d, %r" % (status, body[:200]))
        version_folder = [name for name in os.listdir(page)
                          if os.path.isdir(os.path.join(page, name))][0]
        with open(os.path.join(page, version_folder, "xterm.js"), "rb") as script:
            expected = script.read()
        status, body = get("%s/%s/xterm.js" % (origin, version_folder))
        checks.expect(status == 200 and body == expected,
                      "GET /%s/xterm.js: %d, %d bytes" % (version_folder, status, len(body)))
        status, body = get(origin + "/healthz")
        checks.expect(status == 200, "GET /healthz: %d, %r" % (status, body))
        server.send_signal(signal.SIGTERM)
        try:
            status = server.wait(timeout=30)
        except subprocess.TimeoutExpired:
            status = "still running 30 s later"
        checks.expect(status == 0, "the installed server after SIGTERM: %s" % status)
    finally:
        if server.poll() is None:
            server.kill()
            server.wait()


def check_unit(checks, root):
    """The installed unit, as systemd-analyze verifies it: its program must be there (the
    root's /usr/sbin is mounted over this machine's) and its man page found."""
    unit = os.path.join(root, "usr", "lib", "systemd", "system", UNIT)
    with open(unit) as text:
        lines = text.read().splitlines()
    checks.expect("ExecStart=/usr/sbin/numoteka-server" in lines
                  and "Environment=NUMOTEKA_DATABASE=/var/lib/numoteka/numoteka.db" in lines,
                  "the unit's program or database: %r" % lines)
    if not shutil.which("systemd-analyze"):
        return skipped_unless_ci(checks, "the unit: no systemd-analyze (package systemd)")
    env = dict(os.environ, MANPATH=os.path.join(root, "usr", "share", "man"))
    verify = in_namespace(["systemd-analyze", "verify", unit],
                          binds=[(os.path.join(root, "usr", "sbin"), "/usr/sbin")], env=env)
    if verify is None:
        return skipped_unless_ci(checks, "systemd-analyze verify: no mount namespace")
    checks.expect(verify.returncode == 0 and not verify.stderr.strip(),
                  "systemd-analyze verify: status %d\n%s" % (verify.returncode, verify.stderr))
    rating = subprocess.run(["systemd-analyze", "security", "--offline=yes",
                             "--threshold=%d" % MOST_EXPOSURE, unit],
                            capture_output=True, text=True)
    exposure = re.search(r"Overall exposure level for \S+: (\S+ \S+)", rating.stdout)
    checks.expect(rating.returncode == 0 and exposure,
                  "systemd-analyze security: status %d, over %.1f?\n%s"
                  % (rating.returncode, MOST_EXPOSURE / 10, rating.stdout[-3000:]))
    if exposure:
        print("the unit's exposure: %s" % exposure.group(1))


def check_server_package(checks, server_build, page, game_deb, game_fields, architecture,
                         scratch):
    deb = only(os.path.join(server_build, "numoteka-server_*.deb"))
    fields = control_fields(deb, ("Package", "Version", "Architecture", "Section", "Source",
                                  "Maintainer", "Depends", "Description"))
    version = game_fields["Version"]
    depends = [alternative.split()[0] for alternative in fields["Depends"].split(", ")]
    checks.expect(fields["Package"] == "numoteka-server" and fields["Version"] == version
                  and fields["Section"] == "net" and fields["Source"] == "numoteka"
                  and fields["Architecture"] == architecture
                  and os.path.basename(deb) == "numoteka-server_%s_%s.deb" % (version, architecture)
                  and {"libc6", "libpq5", "libsqlite3-0", "libstdc++6"} <= set(depends)
                  and fields["Maintainer"] == game_fields["Maintainer"]
                  and "\n " in fields["Description"], "server control fields %r" % fields)
    lintian(checks, deb)
    check_maintainer_scripts(checks, deb, scratch)

    root = os.path.join(scratch, "root")
    subprocess.run(["dpkg-deb", "--extract", deb, root], check=True)
    expected = sorted(SERVER_FILES + [os.path.join("usr/share/numoteka/web", name)
                                      for name in files_below(page)])
    checks.expect(files_below(root) == expected, "the server's .deb holds %r, expected %r"
                  % (files_below(root), expected))
    # Both packages in one root, as on a machine.
    subprocess.run(["dpkg-deb", "--extract", game_deb, root], check=True)
    check_installed_server(checks, root, version, scratch)
    check_unit(checks, root)


def main():
    release, windows, quick, server_build, page = (os.path.abspath(path)
                                                   for path in sys.argv[1:6])
    checks = Checks()
    deb = only(os.path.join(release, "numoteka_*.deb"))
    fields = control_fields(deb, ("Package", "Version", "Architecture", "Section", "Maintainer",
                                  "Depends", "Description"))
    version = fields["Version"]
    architecture = subprocess.run(["dpkg", "--print-architecture"], check=True,
                                  capture_output=True, text=True).stdout.strip()
    checks.expect(fields["Package"] == "numoteka" and fields["Section"] == "games"
                  and fields["Architecture"] == architecture
                  and os.path.basename(deb) == "numoteka_%s_%s.deb" % (version, architecture)
                  and "libc6" in fields["Depends"] and "<" in fields["Maintainer"]
                  and "\n " in fields["Description"], "control fields %r" % fields)
    lintian(checks, deb)

    with tempfile.TemporaryDirectory() as scratch:
        check_server_package(checks, server_build, page, deb, fields, architecture,
                             tempfile.mkdtemp(dir=scratch))

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
        checks.expect(held == ["LICENSE", "README.md", "System", "doc", "numoteka.exe"]
                      and not os.listdir(os.path.join(top, "System"))
                      and sorted("doc/" + name for name in os.listdir(os.path.join(top, "doc")))
                      == DOCUMENTS,
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
