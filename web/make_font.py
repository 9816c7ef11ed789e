"""The page's font: one face of a font collection cut down to the characters the game prints.

Usage: make_font.py COLLECTION FACE OUT.woff2 LICENCE COPYRIGHT_FILE GAME_SOURCE... -- PAGE_FILE...

The characters are every printable ASCII character (numbers and names are made at run time),
every character of the string literals of the game's C++ sources, and every non-ASCII
character of the page's own files. A character the face lacks stops the build. LICENCE gets
the face's copyright notice and the licence text of COPYRIGHT_FILE (a Debian copyright file).
"""

import re
import sys

from fontTools import subset
from fontTools.ttLib import TTCollection

# Comments, string literals and character literals of C++, in the order they start.
CPP_TOKEN = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'', re.S)
LICENCE_NAME = "SIL-1.1"


def literal_characters(path):
    with open(path, encoding="utf-8") as source:
        text = source.read()
    tokens = (match.group() for match in CPP_TOKEN.finditer(text))
    return {c for token in tokens if token[0] in "\"'" for c in token if ord(c) > 0x7F}


def page_characters(path):
    with open(path, encoding="utf-8") as page:
        return {c for c in page.read() if ord(c) > 0x7F}


def face_of(collection, name):
    for font in TTCollection(collection).fonts:
        if font["name"].getDebugName(4) == name:
            return font
    sys.exit(f"{collection} has no face {name}")


# The licence paragraph of a Debian copyright file, as plain text.
def licence_text(copyright_file):
    with open(copyright_file, encoding="utf-8") as debian:
        paragraphs = debian.read().split("\n\n")
    for paragraph in paragraphs:
        lines = paragraph.split("\n")
        if lines[0] == f"License: {LICENCE_NAME}" and len(lines) > 1:
            return "".join("\n" if line == " ." else line[1:] + "\n" for line in lines[1:])
    sys.exit(f"{copyright_file} has no {LICENCE_NAME} licence text")


def main():
    collection, face_name, out, licence, copyright_file, *files = sys.argv[1:]
    split = files.index("--")
    wanted = {chr(code) for code in range(0x20, 0x7F)}
    for path in files[:split]:
        wanted |= literal_characters(path)
    for path in files[split + 1:]:
        wanted |= page_characters(path)
    font = face_of(collection, face_name)
    missing = sorted(c for c in wanted if ord(c) not in font.getBestCmap())
    if missing:
        sys.exit(f"{face_name} lacks {' '.join(missing)}")

    # No hinting and no layout features: a terminal draws one glyph a cell. Unrolled CFF
    # subroutines compress better in WOFF2.
    options = subset.Options()
    options.flavor = "woff2"
    options.hinting = False
    options.desubroutinize = True
    options.layout_features = []
    options.notdef_outline = True  # a character it lacks shows as a box
    options.name_IDs = [0, 1, 2, 3, 4, 5, 6, 13, 14]
    options.drop_tables += ["BASE", "VORG", "vhea", "vmtx"]
    cutter = subset.Subsetter(options)
    cutter.populate(text="".join(sorted(wanted)))
    cutter.subset(font)
    font.flavor = "woff2"
    font.recalcTimestamp = False  # the same texts make the same file
    font.save(out)

    with open(licence, "w", encoding="utf-8") as notice:
        notice.write(f"{out.rsplit('/', 1)[-1]}: {len(wanted)} characters of {face_name}, "
                     f"{font['name'].getDebugName(5)}.\n{font['name'].getDebugName(0)}\n\n")
        notice.write(licence_text(copyright_file))


if __name__ == "__main__":
    main()
