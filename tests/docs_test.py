#!/usr/bin/env python3
"""The documents, README.md and doc/*.md: the front page short, every relative link leading to a
file that exists and to a heading of it, and no paragraph standing twice, in one file or across
them, so that each fact has one home.

Usage: docs_test.py SOURCE_ROOT
"""
import glob
import os
import re
import sys
import unicodedata

FRONT_PAGE_LINES = 200
# A paragraph shorter than this is a phrase that may well recur ("See below."), not a fact.
PROSE_CHARACTERS = 60
PROSE_WORDS = 12

FENCE = re.compile(r"^\s*(```|~~~)")
HEADING = re.compile(r"^(#{1,6})\s+(.*?)\s*#*\s*$")
LIST_ITEM = re.compile(r"^\s*(?:[-*+]|\d+[.)])\s+")
# [text](target) and ![alt](target), the target up to a space (a title may follow) or ')'.
LINK = re.compile(r"!?\[(?:[^\]\\]|\\.)*\]\(\s*<?([^)\s>]*)>?(?:\s+\"[^\"]*\")?\s*\)")
INLINE_CODE = re.compile(r"(`+).+?\1")
SCHEME = re.compile(r"^[a-zA-Z][a-zA-Z0-9+.-]*:")


def blocks(text):
    """The file's lines outside code, as (kind, first line number, lines): kind is "heading",
    "table" or "prose"; a list item starts a prose block of its own."""
    found = []
    current = None
    in_fence = False
    for number, line in enumerate(text.splitlines(), 1):
        if FENCE.match(line):
            in_fence = not in_fence
            current = None
            continue
        if in_fence or not line.strip():
            current = None
            continue
        if line.startswith("    ") and current is None:
            continue  # an indented code block
        heading = HEADING.match(line)
        if heading:
            found.append(("heading", number, [heading.group(2)]))
            current = None
        elif line.lstrip().startswith("|"):
            found.append(("table", number, [line]))
            current = None
        elif current is None or LIST_ITEM.match(line):
            current = ("prose", number, [line])
            found.append(current)
        else:
            current[2].append(line)
    return found


def anchor(heading):
    """GitHub's anchor of a heading: its text lower-cased, punctuation and symbols dropped
    (letters, digits and marks of any script kept, '-' and '_' too), each space a '-'."""
    text = LINK.sub(lambda link: re.sub(r"^!?\[|\]\(.*$", "", link.group(0)), heading)
    kept = []
    for character in text.lower():
        category = unicodedata.category(character)
        if character in "-_ " or category[0] in "LNM":
            kept.append("-" if character == " " else character)
    return "".join(kept)


def anchors(text):
    """Every anchor the file's headings make; a repeated heading gets -1, -2, ... as on GitHub."""
    made = set()
    seen = {}
    for kind, _, lines in blocks(text):
        if kind != "heading":
            continue
        base = anchor(lines[0])
        count = seen.get(base, 0)
        seen[base] = count + 1
        made.add(base if count == 0 else "%s-%d" % (base, count))
    return made


def links(text):
    """(line number, target) of every link outside code."""
    found = []
    for kind, number, lines in blocks(text):
        for offset, line in enumerate(lines):
            for target in LINK.findall(INLINE_CODE.sub("", line)):
                found.append((number + offset, target))
    return found


def normalised(lines):
    """The paragraph's words, without the marker of a list item or a quote."""
    first = re.sub(r"^\s*>\s?", "", LIST_ITEM.sub("", lines[0], count=1))
    return " ".join(" ".join([first] + lines[1:]).split())


def is_prose(paragraph):
    if len(paragraph) < PROSE_CHARACTERS:
        return False
    # Japanese has no spaces between words: its length alone makes it prose.
    wide = any(unicodedata.east_asian_width(character) in "WF" for character in paragraph)
    return wide or len(paragraph.split()) >= PROSE_WORDS


def check(root):
    problems = []
    checks = 0
    documents = [os.path.join(root, "README.md")] + sorted(glob.glob(os.path.join(root, "doc",
                                                                                  "*.md")))
    texts = {}
    for path in documents:
        if os.path.isfile(path):
            with open(path, encoding="utf-8") as document:
                texts[path] = document.read()
        else:
            problems.append("%s is missing" % os.path.relpath(path, root))

    readme = os.path.join(root, "README.md")
    if readme in texts:
        checks += 1
        count = len(texts[readme].splitlines())
        if count > FRONT_PAGE_LINES:
            problems.append("README.md has %d lines, more than %d: its subjects belong in doc/"
                            % (count, FRONT_PAGE_LINES))

    anchors_of = {}
    for path, text in texts.items():
        name = os.path.relpath(path, root)
        for number, target in links(text):
            if not target or SCHEME.match(target) or target.startswith("//"):
                continue
            checks += 1
            file_part, _, fragment = target.partition("#")
            linked = os.path.normpath(os.path.join(os.path.dirname(path), file_part)) \
                if file_part else path
            if not os.path.exists(linked):
                problems.append("%s:%d: link to %s: no such file" % (name, number, target))
                continue
            if not fragment:
                continue
            if not linked.endswith(".md") or not os.path.isfile(linked):
                problems.append("%s:%d: link to %s: an anchor into a file that has no headings"
                                % (name, number, target))
                continue
            if linked not in anchors_of:
                with open(linked, encoding="utf-8") as document:
                    anchors_of[linked] = anchors(document.read())
            if fragment not in anchors_of[linked]:
                problems.append("%s:%d: link to %s: %s has no heading #%s"
                                % (name, number, target, os.path.relpath(linked, root), fragment))

    first_seen = {}
    for path, text in texts.items():
        name = os.path.relpath(path, root)
        for kind, number, lines in blocks(text):
            if kind != "prose":
                continue
            paragraph = normalised(lines)
            if not is_prose(paragraph):
                continue
            checks += 1
            if paragraph in first_seen:
                problems.append("%s:%d: this paragraph stands in %s already: %.70s..."
                                % (name, number, first_seen[paragraph], paragraph))
            else:
                first_seen[paragraph] = "%s:%d" % (name, number)
    return checks, problems


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    checks, problems = check(os.path.abspath(sys.argv[1]))
    if problems:
        print("\n".join(problems))
    print("docs: %d passed, %d failed" % (max(checks - len(problems), 0), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
