"""Differential test of the lexer against CPython's tokenize.

Usage: lexer_differential.py TOLVA_DUMP PYTHON [--jobs N]

PYTHON (an oracle interpreter) writes the reference tokens of every file of its
own standard library that it compiles (python_tokens.py says which files are
taken); tolva-dump lexes the same files, many per process, and the two token
streams must agree after the mapping below. The lexer must record no error on
any of these files. Numbers must have the values the interpreter reads (int,
float and complex, compared exactly through float.hex), and non-ASCII names
the interpreter's NFKC form.

Mapping of our tokens onto tokenize's:
  - Name and every keyword kind (soft keywords included) are NAME; a NAME
    whose text is a keyword must be lexed as exactly that keyword's kind, and
    any other NAME as Name.
  - Operators are OP; the kind must be the operator of the token's text.
  - Int, Float and Complex are NUMBER; String is STRING; Comment, Newline,
    NonLogicalNewline, Indent, Dedent and EndOfFile are COMMENT, NEWLINE, NL,
    INDENT, DEDENT and ENDMARKER; the f-string kinds are FSTRING_START,
    FSTRING_MIDDLE and FSTRING_END.
  - Positions: our byte offsets become tokenize's (row, column in characters),
    rows split at line feeds.

Deliberate differences, each with its reason:
  1. Byte order mark: our offsets count the three bytes of a leading mark (the
     offsets of the whole system do), tokenize reads the text without it. The
     mark is removed before our offsets are turned into positions.
  2. Tab width: our indentation columns advance tabs to multiples of 2 (and
     also count characters); CPython uses 8 (and 1). The two agree on every
     text CPython accepts as consistently indented, and the others do not
     compile, so they are not compared; an Indent or Dedent mismatch on a
     tab-indented file would come from here.
  3. Unicode version: identifier properties and NFKC come from ICU 72
     (Unicode 15.0); the interpreters' unicodedata are 14.0 (3.11), 15.0
     (3.12) and 15.1 (3.13). Characters assigned or changed in between may be
     read differently; the standard libraries use none, so nothing is mapped.
  4. Python 3.11 tokenizes an f-string as one STRING: our FStringStart ..
     FStringEnd tokens (nested ones included) are merged into one STRING.
  5. Python 3.12+ splits an f-string's literal part at every doubled brace,
     computes the positions of the pieces from the collapsed text, and emits
     empty FSTRING_MIDDLE tokens: empty pieces are dropped, adjacent pieces
     merged, and a merged piece is compared by its start and its text; our
     end is checked against the source instead (the source slice, doubled
     braces collapsed, is our value).
  6. A text without a final line break: tokenize puts the implicit NEWLINE at
     (row, col)-(row, col + 1) and the DEDENT and ENDMARKER tokens on the row
     after; ours are empty at the end of the text. Only their kinds are
     compared there.
  7. tokenize ends a comment on the last line of a text without a final line
     break with an empty NL; our lexer, at the end of a comment-only line,
     owes no line break token. Empty NL tokens are dropped.
  8. Python 3.11's tokenize (a regular expression over \w) stops a name
     before a character that is XID_Continue but not \w, such as a variation
     selector, and gives that character as an ERRORTOKEN, while the compiler
     reads one name. Under 3.11 such an ERRORTOKEN right after a NAME is
     merged into it when the two together are an identifier.
  9. Python 3.12 (fixed in 3.13) reports a wrong end column for a token that
     spans lines and holds a non-ASCII character (it converts the end's byte
     column against the wrong line): for such tokens only the end row is
     compared under 3.12, besides the text.
"""

import argparse
import bisect
import json
import multiprocessing
import os
import subprocess
import sys
import tempfile
import unicodedata

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import oracles  # noqa: E402
import tolva_tokens  # noqa: E402

SKIP = 77

KEYWORDS = {
    "False": "False", "None": "None", "True": "True", "and": "And", "as": "As", "assert": "Assert",
    "async": "Async", "await": "Await", "break": "Break", "class": "Class", "continue": "Continue",
    "def": "Def", "del": "Del", "elif": "Elif", "else": "Else", "except": "Except", "finally": "Finally",
    "for": "For", "from": "From", "global": "Global", "if": "If", "import": "Import", "in": "In",
    "is": "Is", "lambda": "Lambda", "nonlocal": "Nonlocal", "not": "Not", "or": "Or", "pass": "Pass",
    "raise": "Raise", "return": "Return", "try": "Try", "while": "While", "with": "With", "yield": "Yield",
    "case": "Case", "match": "Match", "type": "Type",
}
KEYWORD_KINDS = set(KEYWORDS.values())

OPERATORS = {
    "!": "Exclamation", "(": "Lpar", ")": "Rpar", "[": "Lsqb", "]": "Rsqb", ":": "Colon", ",": "Comma",
    ";": "Semi", "+": "Plus", "-": "Minus", "*": "Star", "/": "Slash", "|": "Vbar", "&": "Amper",
    "<": "Less", ">": "Greater", "=": "Equal", ".": "Dot", "%": "Percent", "{": "Lbrace", "}": "Rbrace",
    "==": "EqEqual", "!=": "NotEqual", "<=": "LessEqual", ">=": "GreaterEqual", "~": "Tilde",
    "^": "CircumFlex", "<<": "LeftShift", ">>": "RightShift", "**": "DoubleStar", "**=": "DoubleStarEqual",
    "+=": "PlusEqual", "-=": "MinusEqual", "*=": "StarEqual", "/=": "SlashEqual", "%=": "PercentEqual",
    "&=": "AmperEqual", "|=": "VbarEqual", "^=": "CircumflexEqual", "<<=": "LeftShiftEqual",
    ">>=": "RightShiftEqual", "//": "DoubleSlash", "//=": "DoubleSlashEqual", ":=": "ColonEqual",
    "@": "At", "@=": "AtEqual", "->": "Rarrow", "...": "Ellipsis",
}
OPERATOR_KINDS = set(OPERATORS.values())

SIMPLE_TYPES = {
    "Name": "NAME", "Int": "NUMBER", "Float": "NUMBER", "Complex": "NUMBER", "String": "STRING",
    "Comment": "COMMENT", "Newline": "NEWLINE", "NonLogicalNewline": "NL", "Indent": "INDENT",
    "Dedent": "DEDENT", "EndOfFile": "ENDMARKER", "FStringStart": "FSTRING_START",
    "FStringMiddle": "FSTRING_MIDDLE", "FStringEnd": "FSTRING_END",
}


def tokenize_type(kind):
    if kind in KEYWORD_KINDS:
        return "NAME"
    if kind in OPERATOR_KINDS:
        return "OP"
    return SIMPLE_TYPES.get(kind, kind)


class Positions:
    """Byte offsets to tokenize's (row, column in characters)."""

    def __init__(self, text):
        self.text = text
        self.starts = [0]
        find = text.find
        i = find(b"\n")
        while i >= 0:
            self.starts.append(i + 1)
            i = find(b"\n", i + 1)

    def __call__(self, offset, end=False):
        # An end offset right after a line feed still belongs to that line.
        row = bisect.bisect_right(self.starts, offset - 1 if end and offset > 0 else offset) - 1
        start = self.starts[row]
        piece = self.text[start:offset]
        column = len(piece) if piece.isascii() else len(piece.decode("utf-8"))
        return (row + 1, column)


def collapse_braces(text):
    return text.replace("{{", "{").replace("}}", "}")


class Mismatch(Exception):
    pass


def our_stream(raw, dump, merge_fstrings):
    """Our tokens as [type, text, start offset, end offset, token] records."""
    out = []
    tokens = dump.tokens
    i = 0
    while i < len(tokens):
        tok = tokens[i]
        if merge_fstrings and tok.kind == "FStringStart":
            depth = 0
            j = i
            while j < len(tokens):
                if tokens[j].kind == "FStringStart":
                    depth += 1
                elif tokens[j].kind == "FStringEnd":
                    depth -= 1
                    if depth == 0:
                        break
                j += 1
            if j == len(tokens):
                raise Mismatch("f-string starting at %d has no end token" % tok.start)
            end = tokens[j].end
            out.append(["STRING", raw[tok.start:end].decode("utf-8"), tok.start, end, None])
            i = j + 1
            continue
        out.append([tokenize_type(tok.kind), raw[tok.start:tok.end].decode("utf-8"), tok.start, tok.end, tok])
        i += 1
    return out


def their_stream(tokens, version):
    """tokenize's tokens with empty NL and FSTRING_MIDDLE dropped, adjacent
    FSTRING_MIDDLE pieces merged, and under 3.11 names rejoined (deliberate
    differences 5, 7 and 8)."""
    out = []
    for t in tokens:
        kind, string = t[0], t[1]
        if (version == "3.11" and kind == "ERRORTOKEN" and out and out[-1][0] == "NAME"
                and tuple(out[-1][4:6]) == tuple(t[2:4]) and (out[-1][1] + string).isidentifier()):
            name = out[-1][1] + string
            out[-1] = ["NAME", name, out[-1][2], out[-1][3], t[4], t[5], unicodedata.normalize("NFKC", name)]
            continue
        if string == "" and kind in ("NL", "FSTRING_MIDDLE"):
            continue
        if kind == "FSTRING_MIDDLE" and out and out[-1][0] == "FSTRING_MIDDLE":
            merged = out[-1]
            out[-1] = [kind, merged[1] + string, merged[2], merged[3], t[4], t[5], None]
            continue
        out.append(t)
    return out


def check_number(tok, extra):
    value = tok.value
    if extra[0] == "i":
        if tok.kind != "Int":
            raise Mismatch("expected an Int, got %r" % tok)
        if value[:2].lower() in ("0x", "0o", "0b"):
            ours = int(value, 0)
        else:
            ours = int(value)
        if ours != int(extra[1:]):
            raise Mismatch("Int value %r, the interpreter reads %s" % (value, extra[1:]))
    elif extra[0] == "f":
        if tok.kind != "Float" or float(value).hex() != extra[1:]:
            raise Mismatch("Float %r (%s), the interpreter reads %s" % (tok, float(value).hex(), extra[1:]))
    else:
        if tok.kind != "Complex" or not value.endswith("j") or float(value[:-1]).hex() != extra[1:]:
            raise Mismatch("Complex %r, the interpreter reads imaginary %s" % (tok, extra[1:]))


def check_string_value(tok, text):
    i = 0
    while text[i] not in "'\"":
        i += 1
    quotes = 3 if text[i:i + 3] in ("'''", '"""') else 1
    body = text[i + quotes:len(text) - quotes]
    if tok.value != body:
        raise Mismatch("String value %r, body %r" % (tok.value, body))


def compare_file(raw, dump, reference, version):
    merge_fstrings = version == "3.11"
    multiline_column_bug = version == "3.12"
    if dump.errors:
        raise Mismatch("lexical errors: %r" % dump.errors[:5])
    bom = reference["bom"]
    base = 3 if bom else 0
    text = raw[base:]
    positions = Positions(text)
    ours = our_stream(raw, dump, merge_fstrings)
    theirs = their_stream(reference["tokens"], version)
    final_break = text.endswith(b"\n")
    for index in range(max(len(ours), len(theirs))):
        if index >= len(ours) or index >= len(theirs):
            extra_ours = ours[index:index + 3]
            extra_theirs = theirs[index:index + 3]
            raise Mismatch("token streams differ in length at %d: ours %r, theirs %r" % (
                index, [o[:4] for o in extra_ours], [t[:6] for t in extra_theirs]))
        o = ours[index]
        t = theirs[index]
        otype, otext, ostart, oend, tok = o
        ttype, ttext = t[0], t[1]
        context = "token %d: ours %s %r %d..%d, theirs %s %r %r-%r" % (
            index, otype, otext, ostart, oend, ttype, ttext, tuple(t[2:4]), tuple(t[4:6]))
        if otype != ttype:
            raise Mismatch("type differs: " + context)
        at_end = not final_break and ostart == oend == len(raw)
        if at_end:
            continue
        start = positions(ostart - base)
        if start != (t[2], t[3]):
            raise Mismatch("start differs: %r, %s" % (start, context))
        if ttype == "FSTRING_MIDDLE":
            # Compare the text, and our end against the source (deliberate
            # difference 5).
            if tok.value != ttext:
                raise Mismatch("FStringMiddle value %r: %s" % (tok.value, context))
            if collapse_braces(otext) != tok.value:
                raise Mismatch("FStringMiddle range does not hold its value: %s" % context)
            continue
        end = positions(oend - base, end=oend > ostart)
        if multiline_column_bug and t[2] != t[4] and not ttext.isascii():
            end = (end[0], t[5])
        if end != (t[4], t[5]):
            raise Mismatch("end differs: %r, %s" % (end, context))
        if otext != ttext:
            raise Mismatch("text differs: " + context)
        if tok is None:
            continue
        if ttype == "NAME":
            expected = KEYWORDS.get(ttext, "Name")
            if tok.kind != expected:
                raise Mismatch("keyword kind %s, expected %s: %s" % (tok.kind, expected, context))
            if tok.kind == "Name":
                expected_value = t[6] if t[6] is not None else ttext
                if tok.value != expected_value:
                    raise Mismatch("name value %r, expected %r: %s" % (tok.value, expected_value, context))
        elif ttype == "OP":
            if tok.kind != OPERATORS.get(ttext):
                raise Mismatch("operator kind %s for %r: %s" % (tok.kind, ttext, context))
        elif ttype == "NUMBER":
            check_number(tok, t[6])
        elif ttype == "STRING":
            check_string_value(tok, ttext)


def compare_batch(args):
    tool, lines, version = args
    references = [json.loads(line) for line in lines]
    paths = [r["path"] for r in references]
    status, dumps, stderr = tolva_tokens.run(tool, paths)
    failures = []
    if status != 0:
        failures.append(("<batch %s..>" % paths[0], "tolva-dump exit status %d: %s" % (status, stderr.strip())))
        return len(paths), failures, 0
    by_path = {d.path: d for d in dumps}
    tokens = 0
    for reference in references:
        path = reference["path"]
        dump = by_path.get(path)
        if dump is None:
            failures.append((path, "no output"))
            continue
        with open(path, "rb") as f:
            raw = f.read()
        try:
            compare_file(raw, dump, reference, version)
        except Mismatch as e:
            failures.append((path, str(e)))
        tokens += len(dump.tokens)
    return len(paths), failures, tokens


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("tool")
    parser.add_argument("python")
    parser.add_argument("--jobs", type=int, default=3)
    parser.add_argument("--batch", type=int, default=60)
    args = parser.parse_args()

    missing = oracles.interpreter_missing(args.python)
    if missing:
        return oracles.unavailable(missing)
    version = subprocess.run([args.python, "-c", "import sys; print('%d.%d' % sys.version_info[:2])"],
                             stdout=subprocess.PIPE, check=True, text=True).stdout.strip()

    here = os.path.dirname(os.path.abspath(__file__))
    with tempfile.TemporaryFile() as reference_file:
        subprocess.run([args.python, os.path.join(here, "python_tokens.py"), str(args.jobs)],
                       stdout=reference_file, check=True)
        reference_file.seek(0)
        lines = []
        skipped = {}
        for line in reference_file:
            if b'"skip"' in line[:2000]:
                record = json.loads(line)
                if "skip" in record:
                    skipped.setdefault(record["skip"].split(":")[0], []).append(record["path"])
                    continue
            lines.append(line)

    batches = [(args.tool, lines[i:i + args.batch], version) for i in range(0, len(lines), args.batch)]
    files = 0
    tokens = 0
    failures = []
    with multiprocessing.Pool(args.jobs) as pool:
        for count, batch_failures, batch_tokens in pool.imap_unordered(compare_batch, batches):
            files += count
            tokens += batch_tokens
            failures.extend(batch_failures)

    print("Python %s: %d files compared (%d tokens), %d skipped" % (
        version, files, tokens, sum(len(v) for v in skipped.values())))
    for reason, paths in sorted(skipped.items()):
        print("  skipped, %s: %d" % (reason, len(paths)))
    if failures:
        print("%d files differ:" % len(failures))
        for path, message in sorted(failures)[:40]:
            print("  %s: %s" % (path, message))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
