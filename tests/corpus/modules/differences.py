"""Every deliberate difference between this parser and CPython's `ast`.

The one place that lists them, each with its reason. module_differential.py
applies them; nothing else there forgives a difference.

NORMALISATIONS: where the two trees have different shapes for the same
program. Both sides are brought into one shape, CPython's vocabulary with
byte offsets, before they are compared; each normalisation is named here and
its code in module_differential.py carries the same name.

LENIENCIES: texts that CPython's parser rejects and this parser accepts (or
the other way round), each a documented behaviour of this parser. An entry
says how to recognise the case from CPython's side and the text alone (the
line and column of CPython's error, its message, compile()'s verdict, the
label of a generated text), never from this parser's output; only a case
that an entry recognises is forgiven, and the report names the entry.
"""

import re

NORMALISATIONS = {
    "positions-as-offsets": (
        "CPython gives (line, column) pairs, columns in UTF-8 bytes, lines split at \\n, \\r\\n and a lone "
        "\\r; this system gives byte offsets from the first byte of the text, a leading byte order mark "
        "included. CPython's positions are turned into offsets; nodes that have no position in CPython "
        "(arguments, comprehension, withitem, match_case, the module) are compared without one."
    ),
    "elif-chains": (
        "An `if` here holds its `elif` and `else` clauses in one list; CPython nests an `If` for each "
        "`elif` in the `orelse` of the one before. Ours is unfolded: each `elif` clause becomes an `If` "
        "that starts at its `elif` keyword and ends where the whole statement ends, as CPython's does."
    ),
    "async-flags": (
        "Function definitions, `for`, `with` and comprehension clauses carry an async flag here; CPython "
        "has AsyncFunctionDef, AsyncFor, AsyncWith and an is_async integer."
    ),
    "try-star": "A `try` here has an is_star flag; CPython has a separate TryStar node.",
    "decorated-definitions": (
        "A decorated function or class starts at its first `@` here (the decorators are part of the "
        "statement); CPython's definition starts at `def` or `class`. CPython's start is moved back to the "
        "`@` before its first decorator. The Decorator node, which CPython does not have, is replaced by "
        "its expression."
    ),
    "parameters": (
        "Parameters here are grouped with their defaults (ParameterWithDefault); CPython keeps the "
        "defaults in two separate lists (defaults, aligned to the end of the positional parameters, and "
        "kw_defaults with None for a keyword-only parameter without one). A variadic parameter's range "
        "starts at its `*` or `**` here and at its name in CPython: CPython's start is moved back to the "
        "star before the name (only blanks, line breaks, continuations and comments between them)."
    ),
    "call-arguments": (
        "A call's arguments are an Arguments node here; CPython has the args and keywords lists on the "
        "call itself. A generator expression that is a call's sole argument borrows the call's "
        "parentheses: CPython's range for it covers them, ours (parenthesized false) does not. CPython's "
        "range is narrowed to what lies inside: from the first token after the `(` to the end of the last "
        "clause (and of the closing brackets of its parenthesized parts) before the `)`."
    ),
    "constants": (
        "Literals are typed nodes here (number, string, bytes, boolean, None, Ellipsis); CPython has one "
        "Constant whose value is compared by type and exact value (floats bit for bit). A string's kind "
        "is 'u' when its first part has a u prefix."
    ),
    "lone-surrogates": (
        "Text here is UTF-8, which cannot hold a lone surrogate: an escape such as \\ud800 decodes to "
        "U+FFFD, where CPython keeps the surrogate. CPython's surrogates are read as U+FFFD."
    ),
    "joined-strings": (
        "An f-string here keeps its parts and elements as written (literal parts, interpolations with "
        "debug text, conversion and format specifier); CPython joins all adjacent literal text into one "
        "Constant, turns a debug text `{x=}` into the literal text 'x=' (source text kept) followed by "
        "the value, with the conversion 'r' when neither a conversion nor a format specifier is given, "
        "and gives format specifiers as nested JoinedStr nodes. Ours is joined the same way; the empty "
        "literal that CPython 3.12 leaves after an interpolation inside a format specifier is dropped. The "
        "positions of the Constant and FormattedValue nodes inside a JoinedStr are not compared: CPython "
        "gives them the range of the whole literal (3.12 and later) or positions inside a copy of the "
        "text (3.11), which have no meaning as byte offsets."
    ),
    "debug-text-comments": (
        "The debug text of `{x = }` is kept here as the source has it, a comment between the expression "
        "and the `}` included; CPython 3.12 and later drop such comments. Comments are removed from our "
        "debug text's leading and trailing parts (which hold only blanks, `=` and comments) before the "
        "texts are compared."
    ),
    "joined-strings-3.11": (
        "Python 3.11 parses the expressions of f-strings from a copy of their text and fixes their "
        "positions up afterwards, which goes wrong for expressions that span lines or repeat text that "
        "came earlier in the literal; under 3.11 no position inside a JoinedStr is compared."
    ),
    "identifiers": (
        "Names here are Identifier nodes with ranges (function and class names, attributes, aliases, "
        "keyword names, except-handler names, pattern names, global and nonlocal names); CPython has "
        "plain strings there. The texts are compared."
    ),
    "type-params-field": (
        "Definitions and aliases here may have no type parameter list; CPython 3.12 and later have an "
        "empty list, and 3.11 has no such field."
    ),
    "trailing-semicolons": (
        "A `;` after the last simple statement of a block belongs to no node here (a consumed `;` or "
        "newline never extends a range), so a compound statement ends with its last statement; CPython's "
        "compound statements end after that `;`. A CPython range that ends at a `;` is moved back to the "
        "end of the token before it."
    ),
    "type-comments": "CPython's type_comment fields (always None without type_comments=True) are dropped.",
    "raw-line-breaks-in-strings": (
        "A raw CR LF or lone CR inside a (multi-line) string, bytes or f-string literal stays in the "
        "value here: the string decoding keeps the source's own line breaks, where CPython's tokenizer "
        "turns each into \\n before the literal is read. For a literal whose source text holds a raw "
        "CR, CPython reads that text again (as a literal, or as an expression for an f-string) with "
        "every raw CR that does not follow a backslash held by a placeholder control character the "
        "text does not hold, which is then turned back into the CR."
    ),
    "string-prefix-case": (
        "The dump gives a string's prefix in lower case, so a `U` prefix reads as `u` (and `R`, `B`, `F` "
        "likewise): the flags keep the kind of prefix, not its spelling. CPython's Constant.kind is 'u' "
        "for a `u` prefix and None for `U`; where the source text of CPython's string starts with `U`, "
        "its kind is read as 'u'."
    ),
    "source-encoding": (
        "This system reads every file as UTF-8 and does not look at coding declarations; a file that is "
        "not valid UTF-8, or that declares another encoding, is parsed here but its tree is not compared "
        "(its texts are read differently by design)."
    ),
}

# One small text per normalisation that only such texts need (the standard
# libraries hold none); the harness compares each like a file.
FIXTURES = {
    "raw-line-breaks-in-strings": (
        b'x = """a\r\nb\rc"""\ny = (\'\'\'\r\n\'\'\'\n     r"""\\d\r\ne""")\n'
        b'z = b"""a\r\nb"""\nw = f"""a\r\n{x}b\r""" "c"\n'
    ),
    "string-prefix-case": b'x = U"v"\ny = u"w" "z"\nz = Rb"\\d" + BR"e"\n',
}

# Coding declarations other than UTF-8 (PEP 263), on one of the first two lines.
CODING = re.compile(rb"^[ \t\f]*#.*?coding[:=][ \t]*([-\w.]+)")


def declared_encoding(source):
    for line in source.splitlines()[:2]:
        match = CODING.match(line)
        if match:
            return match.group(1).decode("ascii", "replace").lower().replace("_", "-")
    return None


def compared_as_utf8(source):
    """Whether a text's tree can be compared: see "source-encoding"."""
    encoding = declared_encoding(source)
    if encoding is not None and encoding not in ("utf-8", "utf8") and not encoding.startswith("utf-8-"):
        return False
    try:
        source.decode("utf-8")
    except UnicodeDecodeError:
        return False
    return True


LINE_BREAK = re.compile(r"\r\n|\r|\n")


def error_line(text, line):
    """Line `line` (1-based) of `text` as CPython counts lines, or None."""
    if not line or line < 1:
        return None
    lines = LINE_BREAK.split(text)
    return lines[line - 1] if line <= len(lines) else None


class Leniency:
    """A documented case where the two parsers disagree on validity.

    Every condition given must hold, and each is judged on CPython's side or
    on the text alone, never on this parser's output:
      source   a regular expression searched in the whole text;
      line     one searched in the line that CPython's error names;
      at       one matched at the column that CPython's error names;
      message  one searched in CPython's error text (for REJECTED_HERE: the
               error of CPython's compile(), which finds what ast.parse
               does not);
      label    one matched against the text's label (generated texts).
    """

    def __init__(self, name, reason, source=None, message=None, line=None, at=None, label=None):
        self.name = name
        self.reason = reason
        self.source = re.compile(source, re.S | re.M) if source else None
        self.message = re.compile(message) if message else None
        self.line = re.compile(line) if line else None
        self.at = re.compile(at) if at else None
        self.label = re.compile(label) if label else None

    def matches(self, text, cpython, label=""):
        """`cpython` is the reference's record of the refusal: "rejected"
        (the message), "line" and "column" when CPython named them."""
        if self.label is not None and not self.label.search(label):
            return False
        if self.source is not None and not self.source.search(text):
            return False
        if self.message is not None and not self.message.search(cpython.get("rejected") or ""):
            return False
        if self.line is not None or self.at is not None:
            line = error_line(text, cpython.get("line"))
            if line is None:
                return False
            if self.line is not None and not self.line.search(line):
                return False
            column = cpython.get("column")
            if self.at is not None and not (column and self.at.match(line, column - 1)):
                return False
        return True


# Texts that this parser accepts and CPython rejects.
ACCEPTED_HERE = [
    Leniency(
        "later-syntax",
        "Syntax of a later Python version is parsed whatever the interpreter under test: the parser "
        "targets 3.10, records syntax that needs another version as never-reported version records, "
        "and a parse fails only on syntax errors. Recognised by the newest interpreter accepting the "
        "text with the same tree (the harness asks it), not by a pattern.",
        source=r"(?!)",
    ),
    Leniency(
        "unparenthesized-except-types",
        "`except A, B:` without `as` is parsed as a tuple of types (the syntax of Python 3.14) and only "
        "recorded as a version record; with `as` it is an error here too.",
        line=r"^[ \t]*except\*?[ \t]+[^:(]*,[^:]*:",
        message=r"multiple exception types must be parenthesized",
    ),
    Leniency(
        "yield-in-unparenthesized-tuple",
        "The elements of an unparenthesized tuple are parsed with the flags of the tuple's position, so "
        "where a bare `yield` may stand (an expression statement, an assignment's value) it may also be "
        "any element of the tuple: `1, yield 1`. CPython points at that `yield`.",
        line=r",\s*yield\b",
        at=r"yield\b",
        message=r"invalid syntax",
    ),
    Leniency(
        "underscore-as-pattern-name",
        "The names of as-patterns and of a mapping pattern's `**rest` are taken as written: `case x as _:` "
        "and `case {**_}:` keep the name \"_\"; CPython refuses `_` as a target there and points at it.",
        source=r"^[ \t]*case\b",
        line=r"\bas\s+_\s*[:|)\],]|\*\*_\s*\}",
        at=r"_(?!\w)",
        message=r"cannot use '_' as a target|invalid syntax",
    ),
    Leniency(
        "class-bases-as-call-arguments",
        "A class's bases are parsed as call arguments, where a sole unparenthesized generator expression "
        "is allowed: `class C(x for x in L):`. CPython points at the `for`.",
        line=r"^\s*class\s+\w+\s*\([^()]*\bfor\b[^()]*\bin\b",
        at=r"for\b",
        message=r"invalid syntax",
    ),
    Leniency(
        "parenthesized-keyword-name",
        "A parenthesized name before `=` in call arguments is taken as the keyword's name: `f((x)=2)` "
        "(recorded only as a version record).",
        line=r"\(\s*\(\s*\w+\s*\)\s*=[^=]|,\s*\(\s*\w+\s*\)\s*=[^=]",
        message=r"expression cannot contain assignment",
    ),
    Leniency(
        "nesting-limits",
        "CPython's own limits lie below this parser's: it refuses more than 200 open brackets, more than "
        "100 levels of indentation, f-string format specifiers nested more than two deep, and nesting "
        "beyond its parser's stack; this parser's one limit is its nesting depth (see "
        "nesting-depth-limit below), which lies beyond all of these.",
        message=r"nested too deeply|too many nested parentheses|too many levels of indentation|too complex|"
                r"maximum recursion depth",
    ),
    Leniency(
        "bytes-not-utf8",
        "Source is not decoded: bytes that are not UTF-8 pass through inside strings and comments "
        "(elsewhere they are an unexpected character). Project analysis reads files as UTF-8 and fails "
        "before parsing such a file.",
        message=r"codec can't decode|Non-UTF-8 code",
    ),
    Leniency(
        "coding-declarations",
        "Coding declarations are not read (every text is UTF-8), so an unknown or contradictory one is "
        "no error here.",
        source=r"^\ufeff?[ \t\f]*#.*?coding[:=]",
        message=r"unknown encoding|encoding problem",
    ),
]

# Texts that CPython's ast.parse accepts and this parser rejects.
REJECTED_HERE = [
    Leniency(
        "nesting-depth-limit",
        "The parser refuses nesting deeper than its limit (1000 nested brackets, operators, blocks or "
        "patterns, fewer when little machine stack is left) with one syntax error, so that no input can "
        "exhaust the stack; CPython takes some deeper forms (a few thousand prefix operators, `**` "
        "chains, lambdas). Only the generated nesting texts reach it, at generated depths from 999 on: "
        "the statement that holds the nested expression is one more level.",
        label=r"^generated: .* nested (999|1\d{3}|[2-9]\d{3}) deep$",
    ),
    Leniency(
        "duplicate-keyword-argument",
        "A keyword argument repeated in one call is a syntax error of this parser; CPython reports it only "
        "when compiling, after ast.parse has accepted the text. Confirmed by CPython's compile() refusing "
        "the text for that reason.",
        message=r"^SyntaxError: keyword argument repeated",
    ),
]

# The REJECTED_HERE entries that CPython's compile() confirms (the harness
# compiles the text and hands the entry compile()'s refusal).
CONFIRMED_BY_COMPILE = {"duplicate-keyword-argument"}
