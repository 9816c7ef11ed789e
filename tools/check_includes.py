#!/usr/bin/env python3
"""Checks every #include of the project's own headers against tools/include_rules.txt.

An include, in either form, is resolved as the compiler resolves it: "name" first in the
including file's folder, then (like <name>) in the include folders the build gives that file's
targets. One that finds a file of the tree must be of the file's own folder or of a folder its
folder's line allows; a "name" that finds none is an error, a <name> that finds none is the
system's. Then the folders' includes, taken as a graph, may hold no cycle but the one the rules
file names on its `cycle:` line. Prints each break of the rules and exits 1 if there is any.

Usage: check_includes.py [SOURCE_ROOT]"""
import os, re, sys

root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
SOURCE_FOLDERS = ["src", "server", "web", "tests", "fuzz", "bench", "tools"]
SUFFIXES = (".cpp", ".h", ".inc")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)

# The include folders (-I) of each top folder's targets, as the CMake files set them: the game's
# library gives src to everything that links it, the server's core library gives server, and the
# tests and the tables' generator add tools.
INCLUDE_FOLDERS = {
    "src": ["src"],
    "web": ["src"],
    "bench": ["src"],
    "server": ["server", "src"],
    "fuzz": ["server", "src"],
    "tests": ["tools", "src"],
    "tools": ["tools", "src"],
}

rules = {}
cycle = set()
with open(os.path.join(root, "tools", "include_rules.txt"), encoding="utf-8") as listed:
    for line in listed:
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        place, _, allowed = line.partition(":")
        if place.strip() == "cycle":
            cycle = set(allowed.split())
        else:
            rules[place.strip()] = set(allowed.split())

sources = []
for top in SOURCE_FOLDERS:
    for folder, subfolders, files in os.walk(os.path.join(root, top)):
        subfolders[:] = [name for name in subfolders if name not in ("node_modules", "corpus")]
        sources += [os.path.relpath(os.path.join(folder, name), root) for name in files if name.endswith(SUFFIXES)]


def resolve(source, quoted, name):
    """The file of the tree (from the root) that `source` includes as `name`, or None."""
    bases = [os.path.dirname(source)] if quoted else []
    bases += INCLUDE_FOLDERS[source.split(os.sep, 1)[0]]
    for base in bases:
        candidate = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(os.path.join(root, candidate)):
            return candidate
    return None


def cycles(edges):
    """The strongly connected components of more than one folder (Tarjan's algorithm)."""
    index, low, stack, on_stack, found = {}, {}, [], set(), []

    def visit(node):
        index[node] = low[node] = len(index)
        stack.append(node)
        on_stack.add(node)
        for after in edges.get(node, ()):
            if after not in index:
                visit(after)
                low[node] = min(low[node], low[after])
            elif after in on_stack:
                low[node] = min(low[node], index[after])
        if low[node] == index[node]:
            component = set()
            while True:
                member = stack.pop()
                on_stack.discard(member)
                component.add(member)
                if member == node:
                    break
            if len(component) > 1:
                found.append(component)

    for node in sorted(edges):
        if node not in index:
            visit(node)
    return found


broken = []
edges = {}
for source in sorted(sources):
    folder = os.path.dirname(source)
    if folder not in rules:
        broken.append("%s: its folder %s is not in tools/include_rules.txt" % (source, folder))
        continue
    allowed = rules.get(source, rules[folder]) | {folder}
    with open(os.path.join(root, source), encoding="utf-8") as text:
        for mark, name in INCLUDE.findall(text.read()):
            quoted = mark == '"'
            shown = '"%s"' % name if quoted else "<%s>" % name
            target = resolve(source, quoted, name)
            if target is None:
                if quoted:
                    broken.append("%s: #include %s names no file of the tree" % (source, shown))
                continue
            target_folder = os.path.dirname(target)
            if target_folder not in allowed:
                broken.append("%s: #include %s: %s may not include %s" % (source, shown, folder, target_folder))
            elif target_folder != folder:
                edges.setdefault(folder, set()).add(target_folder)
for component in cycles(edges):
    if component != cycle:
        broken.append("the folders %s include each other: a cycle tools/include_rules.txt does not name"
                      % " ".join(sorted(component)))
print("\n".join(broken) or "includes: %d files follow tools/include_rules.txt" % len(sources))
sys.exit(1 if broken else 0)
