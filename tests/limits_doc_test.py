#!/usr/bin/env python3
"""The operator's table of the server's limits against server/server_limits.h: each row names
its constant, every constant has a row, and the value the row says is the constant's.

Usage: limits_doc_test.py SOURCE_ROOT"""
import os, re, sys

root = sys.argv[1]
header = open(os.path.join(root, "server", "server_limits.h"), encoding="utf-8").read()
game = open(os.path.join(root, "src", "daily", "replay_check.h"), encoding="utf-8").read()
documents = [os.path.join(root, "doc", "server.md"), os.path.join(root, "README.md")]
document = next(path for path in documents if os.path.exists(path))
text = open(document, encoding="utf-8").read()


def product(expression, known):
    value = 1
    for factor in expression.split("*"):
        factor = factor.strip()
        value *= known[factor] if factor in known else int(factor)
    return value


# Each constant's value: times in milliseconds, sizes in bytes, counts as they are.
known = {name: product(value, {}) for name, value in
         re.findall(r"inline constexpr size_t (\w+) = ([\d *]+);", game)}
constants = {}
for kind, name, value in re.findall(r"inline constexpr ([\w:]+) (\w+)\s*(?:=\s*([^;]+)|\{[^}]*\});", header):
    braced = re.search(r"%s\{(\d+)\}" % name, header)
    if "seconds" in kind and braced:
        constants[name] = int(braced.group(1)) * (1 if "milli" in kind else 1000)
    elif name.startswith("RETRY_AFTER_"):
        constants[name] = product(value, known) * 1000
    else:
        constants[name] = product(value, known)

UNITS = {"KiB": 1024, "MiB": 1024 * 1024, "s": 1000, "ms": 1}
rows = {}
failures = []
for line in text.splitlines():
    cells = [cell.strip() for cell in line.strip().strip("|").split("|")] if line.startswith("|") else []
    if len(cells) >= 3 and re.fullmatch(r"`[A-Z_]+`", cells[1]):
        name, said = cells[1].strip("`"), cells[2]
        found = re.fullmatch(r"([\d,.]+)(?: (KiB|MiB|s|ms))?(?: .*)?", said)
        if not found:
            failures.append("%s: the value %r is no number" % (name, said))
            continue
        rows[name] = float(found.group(1).replace(",", "")) * UNITS.get(found.group(2), 1)

for name, value in constants.items():
    if name not in rows:
        failures.append("%s (%s) has no row in %s's table of limits" % (name, value, os.path.relpath(document, root)))
    elif rows[name] != value:
        failures.append("%s is %s in server_limits.h, %s in the table" % (name, value, rows[name]))
for name in rows.keys() - constants.keys():
    failures.append("the table names %s, which server_limits.h does not hold" % name)
print("\n".join(failures) or "limits: %d constants, each in the table with its value" % len(constants))
sys.exit(1 if failures else 0)
