#!/usr/bin/env python3
"""Makes a translation of the catalogue, po/<language>.po, into the table the game links, and
refuses, failing the build, a translation that is not whole: a text of the sources it lacks, one
left empty or marked fuzzy, one the sources no longer have, or plural forms where the text tells
no count (and the other way round). Whether each translation takes its text's conversions, in
the same order, the compiler checks: every entry of the table is made by a consteval constructor
(src/console/catalogue.h), and its errors point at the entry's line in the .po file.

Usage: build_catalogue.py SOURCE_ROOT PO_FILE OUTPUT"""
import os
import sys

import messages

# What each language's table is called in the game, and the plural forms it chooses by.
LANGUAGES = {"en": ("ENGLISH_CATALOGUE", messages.ENGLISH_PLURAL_FORMS)}


def c_literal(text):
    out = []
    for char in text:
        if char in '\\"':
            out.append("\\" + char)
        elif char == "\n":
            out.append("\\n")
        elif char == "\t":
            out.append("\\t")
        elif ord(char) < 0x20 or ord(char) == 0x7F:
            out.append("\\%03o" % ord(char))
        else:
            out.append(char)
    return '"' + "".join(out) + '"'


def problems(texts, entries, po, language):
    """What keeps the translation from being built, each as a line for the build's log."""
    found = []
    fields = messages.header_fields(entries)
    _, plural_forms = LANGUAGES[language]
    if "charset=UTF-8" not in fields.get("Content-Type", ""):
        found.append("%s: the header must say Content-Type: text/plain; charset=UTF-8" % po)
    if fields.get("Language") != language:
        found.append("%s: the header must say Language: %s" % (po, language))
    if fields.get("Plural-Forms") != plural_forms:
        found.append("%s: the header must say Plural-Forms: %s (the game chooses by it)"
                     % (po, plural_forms))
    translated = set()
    for entry in entries:
        if entry.obsolete or entry.msgid == "":
            continue
        where = "%s:%d" % (po, entry.line)
        text = texts.get(entry.msgid)
        translated.add(entry.msgid)
        if text is None:
            found.append("%s: the sources no longer have %r: run make messages"
                         % (where, entry.msgid))
            continue
        if "fuzzy" in entry.flags:
            found.append("%s: the translation of %r is fuzzy: check it, then take the flag away"
                         % (where, entry.msgid))
        forms = [0, 1] if text.counted else [0]
        if text.counted != (entry.msgid_plural is not None) or sorted(entry.msgstr) != forms:
            found.append("%s: %r %s" % (where, entry.msgid, "tells a count: it needs msgid_plural "
                                        "with msgstr[0] and msgstr[1]" if text.counted else
                                        "tells no count: it takes one msgstr"))
        elif any(entry.msgstr[form] == "" for form in forms):
            found.append("%s: no translation of %r" % (where, entry.msgid))
    for msgid, text in texts.items():
        if msgid not in translated:
            found.append("%s: no translation of %r (%s): run make messages, then translate it"
                         % (po, msgid, " ".join(text.places)))
    return found


def table(entries, po, language):
    name, _ = LANGUAGES[language]
    lines = ["// Made by tools/build_catalogue.py from %s: edit that, not this."
             % os.path.basename(po),
             '#include "console/catalogue.h"', "", "namespace numoteka {", "", "namespace {", "",
             "constexpr Translation ENTRIES[] = {"]
    chosen = [entry for entry in entries if not entry.obsolete and entry.msgid != ""]
    for entry in sorted(chosen, key=lambda entry: entry.msgid.encode("utf-8")):
        forms = [entry.msgstr[form] for form in sorted(entry.msgstr)]
        lines.append('#line %d "%s"' % (entry.line, po.replace("\\", "/")))
        # A call of its own, so that the compiler's errors point at this entry.
        lines.append("    Translation(%s)," % ", ".join(c_literal(text)
                                                      for text in [entry.msgid] + forms))
    lines += ["};", "", "}  // namespace", "",
              "const Catalogue %s = {ENTRIES, sizeof ENTRIES / sizeof ENTRIES[0]};" % name, "",
              "}  // namespace numoteka", ""]
    return "\n".join(lines)


def main():
    root, po, output = sys.argv[1:4]
    language = os.path.splitext(os.path.basename(po))[0]
    if language not in LANGUAGES:
        print("%s: the game knows no language %r" % (po, language), file=sys.stderr)
        return 1
    try:
        texts = messages.source_texts(root)
        entries = messages.read_po(po)
    except ValueError as error:
        print(error, file=sys.stderr)
        return 1
    found = problems(texts, entries, po, language)
    if found:
        print("\n".join(found), file=sys.stderr)
        print("%s: %d problems; the game is not built without a whole translation"
              % (po, len(found)), file=sys.stderr)
        return 1
    made = table(entries, po, language)
    old = None
    if os.path.exists(output):
        with open(output, encoding="utf-8") as existing:
            old = existing.read()
    if made != old:
        os.makedirs(os.path.dirname(os.path.abspath(output)), exist_ok=True)
        with open(output, "w", encoding="utf-8") as written:
            written.write(made)
    return 0


if __name__ == "__main__":
    sys.exit(main())
