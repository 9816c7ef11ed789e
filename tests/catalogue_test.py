#!/usr/bin/env python3
"""The catalogue of messages: po/numoteka.pot is what the sources' texts make; po/en.po holds an
English twin of every text, with its conversions in the same order, ASCII alone (no Japanese
character) and no line wider than 80 columns; GNU gettext reads it without a complaint; and the
build refuses a translation that is not whole or whose conversions differ, the compiler pointing
at the entry's line of the .po file.

Usage: catalogue_test.py SOURCE_ROOT CXX_COMPILER
"""
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.abspath(sys.argv[1])
COMPILER = sys.argv[2]
sys.path.insert(0, os.path.join(ROOT, "tools"))
import messages  # noqa: E402
from extract_messages import template  # noqa: E402

PO = os.path.join(ROOT, "po", "en.po")
CONVERSION = re.compile(r"%(?:%|-?\d*(?:\.\d+)?([sdf]))")

failures = []


def expect(ok, what):
    if not ok:
        failures.append(what)


def conversions(text):
    return [kind for kind in CONVERSION.findall(text) if kind]


def columns(line):
    return len(line.expandtabs(8))


# The template is the sources' texts, and the translation has a twin of each.
texts = messages.source_texts(ROOT)
with open(os.path.join(ROOT, "po", "numoteka.pot"), encoding="utf-8") as pot:
    expect(pot.read() == template(texts), "po/numoteka.pot is not what the sources make: "
                                          "run make messages")
entries = {entry.msgid: entry for entry in messages.read_po(PO)
           if not entry.obsolete and entry.msgid}
expect(sorted(entries) == sorted(texts), "po/en.po and the sources hold different texts")
for msgid, entry in entries.items():
    forms = list(entry.msgstr.values())
    expect(forms and all(forms), "no English for %r" % msgid)
    for english in forms:
        expect(conversions(english) == conversions(msgid),
               "%r: %r takes other values" % (msgid, english))
        expect(english.isascii(), "%r: %r is not ASCII" % (msgid, english))
        wide = [line for line in english.split("\n") if columns(line) > 80]
        expect(not wide, "%r: wider than 80 columns: %r" % (msgid, wide))

# GNU gettext's own reading, its check of C formats and plural forms among it.
checked = subprocess.run(["msgfmt", "--check", "--statistics", "-o", os.devnull, PO],
                         capture_output=True, text=True)
expect(checked.returncode == 0 and re.fullmatch(r"\d+ translated messages\.\n", checked.stderr),
       "msgfmt --check: %s" % checked.stderr)


def build(po_text, scratch):
    """Builds the table from `po_text` and compiles it: (status, what was said)."""
    po = os.path.join(scratch, "en.po")
    table = os.path.join(scratch, "catalogue_en.cpp")
    with open(po, "w", encoding="utf-8") as written:
        written.write(po_text)
    made = subprocess.run([sys.executable, os.path.join(ROOT, "tools", "build_catalogue.py"),
                           ROOT, po, table], capture_output=True, text=True)
    if made.returncode != 0:
        return made.returncode, made.stderr
    compiled = subprocess.run([COMPILER, "-std=c++20", "-fsyntax-only",
                               "-I" + os.path.join(ROOT, "src"), table],
                              capture_output=True, text=True)
    return compiled.returncode, compiled.stderr


with open(PO, encoding="utf-8") as whole:
    original = whole.read()
REST = 'msgstr[0] "%s rests: %d turn of rest to go\\n"'
REST_ID = 'msgid "%sさんはあと%d回休みです\\n"'
DAMAGE_ID = 'msgid "%dのダメージ！\\n"'
# Each a change to po/en.po, what the build must say of it (None: it builds) and, for the
# compiler's errors, the msgid whose line they must point at.
BROKEN = [
    ("as it is", lambda po: po, None, None),
    ("a text missing",
     lambda po: po.replace('msgid "記録がないです\\n"\nmsgstr "No records yet\\n"\n', ""),
     r"no translation of '記録がないです\\n'", None),
    ("a text left empty",
     lambda po: po.replace('msgstr "No records yet\\n"', 'msgstr ""'),
     r"en\.po:\d+: no translation of '記録がないです", None),
    ("a translation marked fuzzy",
     lambda po: po.replace("#, c-format\n" + DAMAGE_ID, "#, fuzzy, c-format\n" + DAMAGE_ID),
     r"en\.po:\d+: the translation of '%dのダメージ！\\n' is fuzzy", None),
    ("a text the sources no longer have",
     lambda po: po + '\nmsgid "もうない"\nmsgstr "gone"\n', r"the sources no longer have", None),
    ("a plural form missing", lambda po: po.replace(REST + "\n", ""), r"tells a count", None),
    ("conversions swapped", lambda po: po.replace(REST, 'msgstr[0] "%d rests: %s turn\\n"'),
     r"translationError", REST_ID),
    ("a conversion missing", lambda po: po.replace(REST, 'msgstr[0] "someone rests\\n"'),
     r"translationError", REST_ID),
    ("a conversion it does not know",
     lambda po: po.replace('msgstr "%d damage!\\n"', 'msgstr "%x damage!\\n"'),
     r"formatError", DAMAGE_ID),
]
with tempfile.TemporaryDirectory() as scratch:
    for what, change, said, at in BROKEN:
        changed = change(original)
        expect(changed != original or said is None, "%s: the change found nothing to change" % what)
        status, output = build(changed, scratch)
        if said is None:
            expect(status == 0, "%s: does not build:\n%s" % (what, output))
            continue
        expect(status != 0 and re.search(said, output),
               "%s: status %d, said:\n%s" % (what, status, output[-2000:]))
        if at is not None:
            line = changed[:changed.index(at)].count("\n") + 1
            expect(re.search(r"en\.po:%d:" % line, output),
                   "%s: the compiler does not point at en.po:%d:\n%s" % (what, line, output[-2000:]))

print("\n".join(failures + ["catalogue: %d failures" % len(failures)]))
sys.exit(1 if failures else 0)
