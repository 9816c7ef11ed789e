#!/usr/bin/env python3
"""Writes the catalogue's template, po/numoteka.pot, from the texts of the sources (see
messages.py): every Japanese text, where it is used, and for a text that tells a count, its
plural forms. Its entries have no line numbers, so the template changes only with the texts.

`make messages` runs it, then merges the template into each translation (msgmerge).

Usage: extract_messages.py SOURCE_ROOT OUTPUT"""
import os
import sys

import messages

REFERENCE_WIDTH = 79

HEADER = """\
# The texts of numoteka, 戦え！ぬもてかゲーム, in Japanese as its sources hold them.
# Made by tools/extract_messages.py: `make messages` makes it again and merges it into po/*.po.
#, fuzzy
msgid ""
msgstr ""
"Project-Id-Version: numoteka\\n"
"Language: \\n"
"MIME-Version: 1.0\\n"
"Content-Type: text/plain; charset=UTF-8\\n"
"Content-Transfer-Encoding: 8bit\\n"
"Plural-Forms: nplurals=INTEGER; plural=EXPRESSION;\\n"
"""


def template(texts):
    lines = [HEADER]
    for text in texts.values():
        entry = ["#. " + comment for comment in text.comments]
        entry += _references(text.places)
        if "%" in text.msgid:
            entry.append("#, c-format")
        entry += _field("msgid", text.msgid)
        if text.counted:
            entry += _field("msgid_plural", text.msgid)
            entry += ['msgstr[0] ""', 'msgstr[1] ""']
        else:
            entry.append('msgstr ""')
        lines.append("\n".join(entry) + "\n")
    return "\n".join(lines)


def _references(places):
    """The "#:" lines, wrapped as msgmerge wraps them, so that merging changes none."""
    lines = []
    for place in places:
        if lines and len(lines[-1]) + 1 + len(place) <= REFERENCE_WIDTH:
            lines[-1] += " " + place
        else:
            lines.append("#: " + place)
    return lines


def _field(keyword, text):
    quoted = messages.po_quote(text)
    return ["%s %s" % (keyword, quoted[0])] + quoted[1:]


def main():
    root, output = sys.argv[1], sys.argv[2]
    text = template(messages.source_texts(root))
    with open(output, "w", encoding="utf-8") as pot:
        pot.write(text)
    print("%s: %d texts" % (os.path.relpath(output), text.count("\nmsgid ") - 1))
    return 0


if __name__ == "__main__":
    sys.exit(main())
