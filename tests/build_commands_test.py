#!/usr/bin/env python3
"""The Makefile's commands as a player and a developer meet them: a quiet build (nothing when
there is nothing to do, one line when there is, the output when it fails), npm run only when the
lock file changed, and warnings as errors in the developers' builds only.

Usage: build_commands_test.py SOURCE_ROOT"""
import os, shutil, subprocess, sys, tempfile

ROOT = os.path.abspath(sys.argv[1])
QUIET_BUILD = os.path.join(ROOT, "tools", "quiet_build.sh")
failures = []


def expect(condition, message):
    if not condition:
        failures.append(message)


# The Makefile's defaults, not what this shell asks of it (CI sets WERROR=ON for every build).
ENVIRONMENT = {name: value for name, value in os.environ.items() if name != "WERROR"}


def run(command, cwd):
    return subprocess.run(command, cwd=cwd, capture_output=True, text=True, timeout=300,
                          env=ENVIRONMENT)


def quiet_build(scratch):
    project = os.path.join(scratch, "demo")
    os.mkdir(project)
    with open(os.path.join(project, "CMakeLists.txt"), "w") as cmake:
        cmake.write("cmake_minimum_required(VERSION 3.20)\nproject(demo CXX)\n"
                    "add_executable(demo main.cpp)\n")
    source = os.path.join(project, "main.cpp")

    def write_source(text):
        with open(source, "w") as written:
            written.write(text)

    def build(*extra):
        return run([QUIET_BUILD, "demo", "out", "cmake", "-S", ".", "-B", "out", "-G", "Ninja",
                    *extra], project)

    write_source("int main() { return 0; }\n")
    first = build()
    expect(first.returncode == 0, "the first build failed: " + first.stderr)
    expect(first.stdout == "Building demo (log: out/build.log)\n",
           "the first build said %r, not its one line" % first.stdout)
    expect(os.path.isfile(os.path.join(project, "out", "demo")), "the first build made no program")
    again = build()
    expect(again.returncode == 0 and again.stdout == "" and again.stderr == "",
           "a build with nothing to do printed %r %r" % (again.stdout, again.stderr))
    write_source("int main() { return 1; }\n")
    changed = build()
    expect(changed.stdout.startswith("Building demo"), "a changed source was not built again")
    options = build("-DCMAKE_BUILD_TYPE=Release")
    expect(options.stdout.startswith("Building demo"), "other configure options were not used")
    with open(os.path.join(project, "out", "CMakeCache.txt")) as cache:
        expect("CMAKE_BUILD_TYPE:STRING=Release" in cache.read(),
               "the tree was not configured again with the new options")
    write_source("int main() { return undeclared_name; }\n")
    broken = build("-DCMAKE_BUILD_TYPE=Release")
    expect(broken.returncode != 0, "a failed build ended with status 0")
    expect("undeclared_name" in broken.stderr and "out/build.log" in broken.stderr,
           "a failed build did not show the compiler's error and the log: %r" % broken.stderr)


def npm_only_when_locked_again(scratch):
    tree = os.path.join(scratch, "tree")
    os.makedirs(os.path.join(tree, "web", "node_modules"))
    shutil.copy(os.path.join(ROOT, "Makefile"), tree)
    lock = os.path.join(tree, "web", "package-lock.json")
    installed = os.path.join(tree, "web", "node_modules", ".package-lock.json")
    for name in (lock, installed):
        open(name, "w").close()
    for installed_later, targets in ((True, ["web"]), (True, ["serve"]), (True, ["web-test"]),
                                     (False, ["web"])):
        os.utime(lock, (1_000_000, 1_000_000))
        os.utime(installed, (2_000_000, 2_000_000) if installed_later else (10, 10))
        planned = run(["make", "-n", *targets], tree)
        runs_npm = "npm ci" in planned.stdout
        expect(planned.returncode == 0, "make -n %s failed: %s" % (targets, planned.stderr))
        expect(runs_npm != installed_later,
               "make %s %s npm with node_modules %s the lock file" % (
                   " ".join(targets), "runs" if runs_npm else "does not run",
                   "newer than" if installed_later else "older than"))


def werror_in_developers_builds_only(scratch):
    plans = {target: run(["make", "-n", target], ROOT).stdout for target in ("build", "test")}
    expect("-DNUMOTEKA_WERROR=OFF" in plans["build"], "make play does not configure WERROR off")
    expect("-DNUMOTEKA_WERROR=ON" in plans["test"], "make test does not configure WERROR on")
    for werror in ("OFF", "ON"):
        folder = os.path.join(scratch, "werror-" + werror)
        configured = run(["cmake", "-S", ROOT, "-B", folder, "-G", "Ninja", "-DNUMOTEKA_TESTS=OFF",
                          "-DNUMOTEKA_WERROR=" + werror], scratch)
        expect(configured.returncode == 0, "configuring with WERROR=%s failed" % werror)
        commands = run(["ninja", "-C", folder, "-t", "commands", "numoteka"], scratch).stdout
        compiles = [line for line in commands.splitlines() if " -c " in line]
        expect(compiles and all("-Wall" in line and "-Wextra" in line for line in compiles),
               "with WERROR=%s not every compile has the warnings" % werror)
        has_werror = [("-Werror" in line) for line in compiles]
        expect(all(has_werror) if werror == "ON" else not any(has_werror),
               "with WERROR=%s the compiles %s -Werror" % (werror, "lack" if werror == "ON" else "have"))


scratch = tempfile.mkdtemp(prefix="build-commands-")
try:
    quiet_build(scratch)
    npm_only_when_locked_again(scratch)
    werror_in_developers_builds_only(scratch)
finally:
    shutil.rmtree(scratch, ignore_errors=True)
print("\n".join(failures) or "build commands: all checks passed")
sys.exit(1 if failures else 0)
