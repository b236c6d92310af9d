"""Every deliberate difference between the analysis and its reference.

The one place that lists them, each with its reason. Each is derived from the
reference's side (the interpreter's `ast` and `tokenize`) and the source text
alone; reference.py and analysis_differential.py apply them under the names
given here and forgive nothing else.

NORMALISATIONS: where the interpreter's tree says the same thing in another
shape, the reference turns it into this system's shape before anything is
compared.

BEHAVIOURS: where the system departs on purpose from the plain rule; the
reference follows the system's rule, written from its own definition.

SKIPPED: files that are not compared at all.
"""

NORMALISATIONS = {
    "positions-as-offsets": (
        "The interpreter gives (line, UTF-8 byte column) pairs, lines split at \\n, \\r\\n and a lone \\r, "
        "and parses the text without its byte order mark, so columns on line 1 start after the mark. They "
        "are turned into byte offsets of the file as read, then into zero-based lines and characters by the "
        "analysis's own rule (the mark not counted)."
    ),
    "decorated-definitions": (
        "A decorated def or class starts at the `@` of its first decorator in this system (the decorators "
        "belong to the statement); the interpreter's starts at `def`, `async` or `class`. The `@` is found "
        "among the interpreter's tokens before the first decorator's expression. This moves the start of a "
        "function body whose first statement is decorated, and a class's range for its comments."
    ),
    "compound-statement-ends": (
        "A compound statement ends with the end of its last statement here (a `;` after it belongs to no "
        "node); the interpreter's range may take the `;` in. The end is taken from the last statement, "
        "recursively."
    ),
    "identifiers": (
        "The interpreter has no positions for def and class names: the name is the NAME token after the "
        "`def` or `class` keyword, its range that token's bytes (as written, before NFKC normalisation; the "
        "text compared is the interpreter's normalised name)."
    ),
    "variadic-parameters": (
        "A `*args` or `**kwargs` parameter starts at its star here and at its name in the interpreter's "
        "tree: the star is the significant token before the name (comments and line breaks may stand "
        "between)."
    ),
    "parameter-list-end": (
        "The interpreter has no range for a def's parameter list: its end is the `)` that matches the `(` "
        "after the name (and after a type parameter list), found by bracket depth over the tokens."
    ),
    "string-parts": (
        "The interpreter joins an implicit concatenation into one Constant; a string literal counts as one "
        "part when exactly one STRING token lies in its range."
    ),
    "lone-surrogates": (
        "Text here is UTF-8 and cannot hold a lone surrogate: an escape such as \\ud800 in a dict key or a "
        "namespace decodes to U+FFFD, where the interpreter keeps the surrogate. The reference reads each "
        "surrogate as U+FFFD."
    ),
    "lone-carriage-returns": (
        "The interpreter's tokenizer splits lines at \\n only; the reference hands it the text with each "
        "lone \\r written as \\n (one byte for one, so offsets do not move), which keeps the tokenizer's "
        "lines those of the parser."
    ),
    "comment-ends": (
        "A comment covers its text up to the line break, the break excluded; the end is found in the bytes "
        "(the first \\r or \\n after the `#`), the start from the interpreter's COMMENT token."
    ),
}

# Where the system's behaviour departs on purpose from the plain rule, and the
# reference follows the system's rule, written here from the URI grammar.
BEHAVIOURS = {
    "percent-encoded-uris": (
        "A file's URI escapes every byte that cannot stand in a URI path (RFC 3986 pchar and \"/\"): "
        "non-ASCII characters, brackets, \"%\", \"?\", \"#\", controls and the like, as %XX in upper-case "
        "hexadecimal, spaces as %20. With spaces alone escaped, the URI of a file below a folder named "
        "with non-ASCII letters or brackets is refused, and such a file would silently yield no records "
        "at all. \"\\\" is still read as \"/\" first. The strict rule stays in reference.py "
        "(strict_file_uri) with its own checks in reference_test.py."
    ),
}

SKIPPED = {
    "rejected-by-interpreter": (
        "A file that the interpreter's parser rejects (the grammar tests' bad-syntax files, Python 2 test "
        "data) gives no reference: the system's parse error texts are its own, and the module differential "
        "compares validity."
    ),
    "not-decorated": (
        "In the decorated run, a file that the transform cannot decorate (it is not UTF-8, or it does not "
        "compile under the interpreter, as with the bad `from __future__` files) is left out; decorate.py "
        "prints the reason."
    ),
}
