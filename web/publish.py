"""Puts the page together in OUT, in a folder named after the build's contents.

Usage: publish.py STAGE OUT

STAGE holds the page's front files (index.html, sw.js, the manifest, the icons) and, in
STAGE/files, everything the page loads. The version is a digest of all of them: the files go to
OUT/<version>/, and the front files to OUT, with @VERSION@ in index.html and sw.js replaced by
the version and @FILES@ in sw.js by the list of the page's files. A new version thus has new
addresses, so neither the browser nor the service worker can mix its files with an older
build's; the older versions' folders are removed once the new one is in place.
"""

import hashlib
import json
import os
import re
import shutil
import sys

TEMPLATES = ("index.html", "sw.js")
VERSION_FOLDER = re.compile(r"[0-9a-f]{16}")


def listing(folder):
    return sorted(name for name in os.listdir(folder) if os.path.isfile(os.path.join(folder, name)))


def main():
    stage, out = sys.argv[1:]
    files = os.path.join(stage, "files")
    digest = hashlib.sha256()
    for folder, relative in ((stage, ""), (files, "files/")):
        for name in listing(folder):
            with open(os.path.join(folder, name), "rb") as content:
                digest.update(f"{relative}{name}\0".encode() + content.read() + b"\0")
    version = digest.hexdigest()[:16]

    os.makedirs(out, exist_ok=True)
    # The files first, then the front files that name them; sw.js last, so that a new service
    # worker finds everything it keeps.
    shutil.copytree(files, os.path.join(out, version), dirs_exist_ok=True)
    fronts = [name for name in listing(stage) if name not in TEMPLATES]
    addresses = ["./"] + fronts + [f"{version}/{name}" for name in listing(files)]
    for name in fronts + list(TEMPLATES):
        with open(os.path.join(stage, name), "rb") as source:
            content = source.read()
        if name in TEMPLATES:
            content = content.replace(b"@VERSION@", version.encode())
            content = content.replace(b"@FILES@", json.dumps(addresses, indent=2).encode())
        # Written aside and renamed: a server never hands out half a file.
        with open(os.path.join(out, name + ".new"), "wb") as page:
            page.write(content)
        os.replace(os.path.join(out, name + ".new"), os.path.join(out, name))
    for name in os.listdir(out):
        if VERSION_FOLDER.fullmatch(name) and name != version:
            shutil.rmtree(os.path.join(out, name))
    print(f"web page version {version} in {out}")


if __name__ == "__main__":
    main()
