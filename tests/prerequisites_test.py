#!/usr/bin/env python3
"""tools/prerequisites.sh with stand-ins for id, dpkg, apt-get, sudo and npm as the only PATH:
what it installs, through what, and what it says when it cannot."""
import os
import subprocess
import sys
import tempfile

SCRIPT = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools",
                      "prerequisites.sh")
FAKES = {"id": 'echo "$FAKE_UID"', "npm": "exit 0",
         "dpkg": 'shift; for p; do case " $HELD " in *" $p "*) printf "Package: %s\\nStatus: '
                 'install ok installed\\n\\n" "$p" ;; *) s=1 ;; esac; done; exit $s',
         "apt-get": 'echo "apt-get $* ($DEBIAN_FRONTEND)" >> ../log',
         "sudo": 'echo "sudo $*" >> ../log'}
PLAY = "install -y --no-install-recommends g++ cmake ninja-build make python3"
HELD = ("g++ cmake ninja-build make libgtest-dev tmux python3 groff gettext emscripten nodejs "
        "chromium fonts-noto-cjk fonts-dejavu-core python3-fonttools python3-brotli")
ROOT_UPDATE = "apt-get update ()"
CASES = [  # groups, uid, installed, stand-ins left out; status, what ran, what it must say
    ("play", "0", "", "", 0, [ROOT_UPDATE, "apt-get %s (noninteractive)" % PLAY], ""),
    ("play test", "0", HELD.replace("cmake", ""), "", 0,
     [ROOT_UPDATE, "apt-get install -y --no-install-recommends cmake (noninteractive)"], ""),
    ("play test web", "0", HELD, "", 0, [], ""),
    ("web", "0", HELD, "npm", 0,
     [ROOT_UPDATE, "apt-get install -y --no-install-recommends npm (noninteractive)"], ""),
    ("play", "1000", "", "", 0,
     ["sudo apt-get update", "sudo DEBIAN_FRONTEND=noninteractive apt-get " + PLAY], ""),
    ("play", "1000", "", "sudo", 1, [], "apt-get update && apt-get " + PLAY),
    ("games", "0", HELD, "", 2, [], "unknown group 'games'"),
]

failures = []
for number, (groups, uid, held, left_out, status, ran, said) in enumerate(CASES):
    with tempfile.TemporaryDirectory() as scratch:
        fakes = os.path.join(scratch, "bin")
        os.mkdir(fakes)
        for name, body in FAKES.items():
            if name != left_out:
                with open(os.path.join(fakes, name), "w") as fake:
                    fake.write("#!/bin/bash\n%s\n" % body)
                os.chmod(os.path.join(fakes, name), 0o755)
        done = subprocess.run(["/bin/bash", SCRIPT, *groups.split()], cwd=fakes, text=True,
                              env={"PATH": fakes, "FAKE_UID": uid, "HELD": held},
                              capture_output=True, timeout=60)
        log = os.path.join(scratch, "log")
        logged = open(log).read().splitlines() if os.path.exists(log) else []
        if (done.returncode, logged) != (status, ran) or said not in done.stderr:
            failures.append("case %d: status %d, ran %r, said %r"
                            % (number, done.returncode, logged, done.stderr))
print("\n".join(failures + ["prerequisites: %d of %d passed" % (len(CASES) - len(failures),
                                                                  len(CASES))]))
sys.exit(1 if failures else 0)
