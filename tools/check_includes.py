#!/usr/bin/env python3
"""Checks every #include "..." in the source tree against tools/include_rules.txt: a file may
include its own folder's files and those of the folders its folder's line (or its own line)
names. Prints each include that breaks the rules, or that names no file, and exits 1 if any.

Usage: check_includes.py [SOURCE_ROOT]"""
import os, re, sys

root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
SOURCE_FOLDERS = ["src", "server", "web", "tests", "fuzz", "bench", "tools"]
SUFFIXES = (".cpp", ".h", ".inc")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)

rules = {}
with open(os.path.join(root, "tools", "include_rules.txt"), encoding="utf-8") as listed:
    for number, line in enumerate(listed, 1):
        line = line.split("#", 1)[0].strip()
        if line:
            place, _, allowed = line.partition(":")
            rules[place.strip()] = set(allowed.split())

sources = []
for top in SOURCE_FOLDERS:
    for folder, subfolders, files in os.walk(os.path.join(root, top)):
        subfolders[:] = [name for name in subfolders if name not in ("node_modules", "corpus")]
        sources += [os.path.relpath(os.path.join(folder, name), root) for name in files if name.endswith(SUFFIXES)]


def included_folder(source, name):
    """The folder (from the root) of the file `source` includes as "name", or None."""
    for base in (os.path.dirname(source), "src", *SOURCE_FOLDERS):
        if os.path.isfile(os.path.join(root, base, name)):
            return os.path.dirname(os.path.normpath(os.path.join(base, name)))
    return None


broken = []
for source in sorted(sources):
    folder = os.path.dirname(source)
    if folder not in rules:
        broken.append("%s: its folder %s is not in tools/include_rules.txt" % (source, folder))
        continue
    allowed = rules[folder] | rules.get(source, set()) | {folder}
    with open(os.path.join(root, source), encoding="utf-8") as text:
        for name in INCLUDE.findall(text.read()):
            target = included_folder(source, name)
            if target is None:
                broken.append('%s: #include "%s" names no file of the tree' % (source, name))
            elif target not in allowed:
                broken.append('%s: #include "%s": %s may not include %s' % (source, name, folder, target))
print("\n".join(broken) or "includes: %d files follow tools/include_rules.txt" % len(sources))
sys.exit(1 if broken else 0)
