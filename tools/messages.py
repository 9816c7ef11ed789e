"""The game's catalogue of messages: the texts of the sources and the GNU gettext files that
translate them.

Every string literal of src/ that holds a character beyond ASCII is a text of the game, and
Japanese: it is a msgid of the catalogue. The console layer, src/console, holds none of the
game's texts, only bytes it sends the terminal. A text that is ASCII alone reads the same in every
language and is not in it. A literal written as the first argument of sayCount() or
formattedCount() tells a count, and its entry has plural forms. A comment that begins with
"Translators:" on the lines just above a text goes with it to the translators.

Used by extract_messages.py (the template, po/numoteka.pot) and build_catalogue.py (the tables
the game links); both are Python's standard library alone.
"""
import os
import re

SOURCE_SUFFIXES = (".cpp", ".h")
NOT_THE_GAMES = ("src/console",)
COUNTING_CALLS = ("sayCount", "formattedCount")
TRANSLATOR_TAG = "Translators:"

# English's plural forms, as the game chooses them: "1 turn", "2 turns".
ENGLISH_PLURAL_FORMS = "nplurals=2; plural=(n != 1);"

C_ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "\\": "\\", '"': '"', "'": "'", "?": "?",
             "a": "\a", "b": "\b", "f": "\f", "v": "\v", "0": "\0"}


class Text:
    """One text of the sources: where it stands, whether it tells a count, and the comments
    for its translators."""

    def __init__(self, msgid, counted):
        self.msgid = msgid
        self.counted = counted
        self.places = []  # source files, from the root, in order of first use
        self.comments = []


def _unescape_c(body, where):
    """The bytes of a C++ narrow string literal's body (between the quotes)."""
    out = bytearray()
    at = 0
    while at < len(body):
        char = body[at]
        if char != "\\":
            out += char.encode("utf-8")
            at += 1
            continue
        escape = body[at + 1]
        if escape == "x":
            digits = re.match(r"[0-9A-Fa-f]+", body[at + 2:]).group(0)
            out.append(int(digits, 16) & 0xFF)
            at += 2 + len(digits)
        elif escape in "01234567":
            digits = re.match(r"[0-7]{1,3}", body[at + 1:]).group(0)
            out.append(int(digits, 8) & 0xFF)
            at += 1 + len(digits)
        elif escape in C_ESCAPES:
            out += C_ESCAPES[escape].encode("utf-8")
            at += 2
        else:
            raise ValueError("%s: unknown escape \\%s" % (where, escape))
    return bytes(out)


TOKEN = re.compile(r"""
    (?P<space>\s+)
  | (?P<comment>//[^\n]*|/\*.*?\*/)
  | (?P<directive>\#(?:[^\n\\]|\\.)*)
  | (?P<raw>(?:u8|u|U|L)?R"(?P<delimiter>[^(\s]*)\(.*?\)(?P=delimiter)")
  | (?P<string>(?:u8|u|U|L)?"(?P<body>(?:[^"\\\n]|\\.)*)")
  | (?P<char>(?:u8|u|U|L)?'(?:[^'\\\n]|\\.)+')
  | (?P<word>[A-Za-z_][A-Za-z0-9_]*)
  | (?P<other>.)
""", re.S | re.X)


def _literals(path, relative):
    """The string literals of one file, adjacent ones joined as the compiler joins them: (text,
    line, whether it is a counting call's first argument, the translators' comment on it). Such a
    comment holds for the literals of the statement below it, up to its ";"."""
    with open(path, encoding="utf-8") as source:
        code = source.read()
    found = []
    previous = []  # the last two tokens that were not space or comments
    comment = None  # the translators' comment being read, or holding for its statement
    reading_comment = False
    current = None
    line = 1
    for match in TOKEN.finditer(code):
        kind = next(name for name in ("space", "comment", "directive", "raw", "string", "char",
                                      "word", "other") if match.group(name) is not None)
        text = match.group(0)
        if kind == "comment" and text.startswith("//"):
            said = text[2:].strip()
            if said.startswith(TRANSLATOR_TAG):
                comment, reading_comment = said[len(TRANSLATOR_TAG):].strip(), True
            elif reading_comment:
                comment += " " + said
        elif kind != "space":
            reading_comment = False
        if kind == "raw":
            raise ValueError("%s:%d: a raw string literal: write the text as a plain one"
                             % (relative, line))
        if kind == "string":
            where = "%s:%d" % (relative, line)
            piece = _unescape_c(match.group("body"), where)
            if current is not None:
                current[0] += piece
            else:
                counted = len(previous) == 2 and previous[0] in COUNTING_CALLS \
                    and previous[1] == "("
                current = [piece, line, counted, [comment] if comment else []]
        elif kind not in ("space", "comment"):
            if current is not None:
                found.append(current)
                current = None
                previous = (previous + ['""'])[-2:]
            if kind != "directive":
                previous = (previous + [text])[-2:]
            if text == ";":
                comment = None
        line += text.count("\n")
    if current is not None:
        found.append(current)
    return found


def source_texts(root):
    """The texts of the game in the sources below `root`/src, in order of first use: msgid ->
    Text."""
    texts = {}
    source_root = os.path.join(root, "src")
    paths = []
    for folder, subfolders, files in os.walk(source_root):
        subfolders[:] = sorted(name for name in subfolders
                               if os.path.relpath(os.path.join(folder, name), root)
                               .replace(os.sep, "/") not in NOT_THE_GAMES)
        paths += [os.path.join(folder, name) for name in sorted(files)
                  if name.endswith(SOURCE_SUFFIXES)]
    for path in sorted(paths):
        relative = os.path.relpath(path, root).replace(os.sep, "/")
        for piece, line, counted, comments in _literals(path, relative):
            try:
                msgid = piece.decode("utf-8")
            except UnicodeDecodeError:
                continue  # bytes of code page 932 written out: no text of the sources
            if msgid.isascii():
                continue
            text = texts.setdefault(msgid, Text(msgid, counted))
            if text.counted != counted:
                raise ValueError("%s:%d: %r tells a count in one place and not in another"
                                 % (relative, line, msgid))
            if relative not in text.places:
                text.places.append(relative)
            text.comments += [comment for comment in comments if comment not in text.comments]
    return texts


# The .po format: what extract_messages.py writes and build_catalogue.py reads.

def po_quote(text):
    """`text` as the quoted lines of a .po file's msgid or msgstr: split after each line feed."""
    escaped = (text.replace("\\", "\\\\").replace('"', '\\"').replace("\t", "\\t")
               .replace("\r", "\\r"))
    pieces = escaped.split("\n")
    lines = [piece + "\\n" for piece in pieces[:-1]] + ([pieces[-1]] if pieces[-1] else [])
    if len(lines) <= 1:
        return ['"%s"' % (lines[0] if lines else "")]
    return ['""'] + ['"%s"' % piece for piece in lines]


def po_unquote(quoted, where):
    """The text of one quoted .po line, without its quotes."""
    if len(quoted) < 2 or not quoted.startswith('"') or not quoted.endswith('"'):
        raise ValueError("%s: not a quoted string: %s" % (where, quoted))
    return _unescape_c(quoted[1:-1], where).decode("utf-8")


class Entry:
    """One entry of a .po file."""

    def __init__(self, line):
        self.line = line  # where its msgid stands
        self.msgid = None
        self.msgid_plural = None
        self.msgstr = {}  # form -> text; form 0 alone for an entry without plural forms
        self.flags = set()
        self.obsolete = False


def read_po(path):
    """The entries of a .po file, the header (msgid "") among them, in the file's order."""
    entries = []
    entry = None
    field = None
    with open(path, encoding="utf-8") as po:
        lines = po.read().split("\n")
    for number, raw in enumerate(lines, 1):
        where = "%s:%d" % (path, number)
        line = raw.strip()
        if not line:
            entry, field = None, None
            continue
        if line.startswith("#~"):
            if entry is None:
                entry = Entry(number)
                entries.append(entry)
            entry.obsolete = True
            continue
        if line.startswith("#"):
            if entry is not None and entry.msgid is not None:
                entry, field = None, None
            if entry is None:
                entry = Entry(number)
                entries.append(entry)
            if line.startswith("#,"):
                entry.flags |= {flag.strip() for flag in line[2:].split(",")}
            continue
        keyword = re.match(r"(msgctxt|msgid_plural|msgid|msgstr(?:\[(\d+)\])?)\s+(\".*\")$", line)
        if keyword:
            name, form, quoted = keyword.groups()
            if name == "msgctxt":
                raise ValueError("%s: msgctxt: the game's catalogue has no contexts" % where)
            if name == "msgid" and entry is not None and entry.msgid is not None:
                entry = None
            if entry is None:
                entry = Entry(number)
                entries.append(entry)
            if name == "msgid":
                entry.line = number
            field = (name, int(form) if form is not None else 0)
            value = po_unquote(quoted, where)
            if name == "msgid":
                entry.msgid = value
            elif name == "msgid_plural":
                entry.msgid_plural = value
            else:
                entry.msgstr[field[1]] = value
            continue
        if line.startswith('"') and entry is not None and field is not None:
            value = po_unquote(line, where)
            if field[0] == "msgid":
                entry.msgid += value
            elif field[0] == "msgid_plural":
                entry.msgid_plural += value
            else:
                entry.msgstr[field[1]] += value
            continue
        raise ValueError("%s: cannot read this line: %s" % (where, raw))
    return [entry for entry in entries if entry.msgid is not None or entry.obsolete]


def header_fields(entries):
    """The fields of the header entry (msgid ""): name -> value."""
    for entry in entries:
        if entry.msgid == "" and not entry.obsolete:
            fields = {}
            for line in entry.msgstr.get(0, "").split("\n"):
                name, colon, value = line.partition(":")
                if colon:
                    fields[name.strip()] = value.strip()
            return fields
    return {}
