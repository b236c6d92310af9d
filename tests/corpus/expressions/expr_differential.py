"""Differential test of the expression parser against CPython's ast.

Usage: expr_differential.py EXPR_DUMP PYTHON [--jobs N] [--seed S] [--random N]
                            [--no-corpus] [--show N]

Two sets of expressions, both parsed here in expression mode by EXPR_DUMP
and by PYTHON (an oracle interpreter, through expr_reference.py, since its own
`ast` is the version compared) with ast.parse(mode="eval"):

  1. Corpus: the source segment of every statement-level expression of
     PYTHON's own standard library (expr_reference.py says which), each
     distinct text once; many thousands per interpreter.
  2. Random: N expressions (default 30000) from a seeded generator (below):
     operators of every precedence mixed without parentheses, unary forms,
     chains, comparisons, conditionals, lambdas with parameter lists in any
     order, named expressions, calls with keywords and stars, subscripts and
     slices, attributes, displays, comprehensions, f-strings. Many of them
     are not valid Python, which tests that we reject what CPython rejects.

For every text:
  - our parser must not fail fatally;
  - when the interpreter rejects it, we must record at least one error;
  - when the interpreter accepts it, we must record none (but see A1), and
    our tree, in canonical form, must equal the interpreter's.

The canonical form (built by expr_reference.py from the interpreter's ast,
and by `canonical` below from our dump) is CPython's node shape: class names,
fields in ast's order, operators and contexts by name, constant values
(floats by float.hex, ints exactly), and ranges as byte offsets into the text.

Deliberate differences, each with its reason (this is the one place that
lists them):
  R1. A generator that is the sole argument of a call (`f(x for x in y)`):
      CPython's GeneratorExp range takes in the call's parentheses; ours is
      the generator alone, because the parentheses belong to the call (its
      `parenthesized` flag is false). Our range is widened to the argument
      list's before comparing.
  R2. A `*name` or `**name` parameter: CPython's `arg` starts at the name;
      ours starts at the star, because the star is part of the parameter in
      our tree. Our start is moved to the name before comparing.
  R3. Inside f-strings, CPython's positions of the literal parts, of the
      FormattedValue nodes and of the format specs differ between versions
      (3.11 gives every part the range of the whole string); the literal
      parts are compared by their merged text, and the interpolations by
      their expression (ranges included), conversion and format spec.
  R4. Debug text (`f"{x=}"`): CPython turns it into a literal holding the
      text from after `{` through the `=` and, when there is neither a
      conversion nor a format spec, the conversion `!r`; ours keeps the
      expression with its debug text (leading and trailing whitespace and
      `=`) and no conversion. Ours is rewritten into CPython's form.
  R5. Nodes that have no position in CPython (`arguments`, `comprehension`,
      dict items, the attribute name of an attribute access) are compared
      without ours.
  R6. A `\ud800`-style escape of a lone surrogate decodes to U+FFFD here,
      since our string values are UTF-8 text, which cannot hold a lone
      surrogate; CPython's str keeps it. expr_reference.py replaces them by
      U+FFFD in CPython's string values.
  R7. Python 3.11 parses an f-string interpolation as if it were written in
      parentheses, so a bare tuple there (`f"{a, b}"`) gets a range that
      takes in the braces; under 3.11 that range is not compared.
  R8. A comment inside a self-documenting interpolation (`f"{x = # c\n}"`)
      is part of our debug text, which is the source between the braces and
      the expression; CPython 3.12+ leaves comments out of its literal. They
      are removed from ours before comparing.
  A1. Duplicate keyword arguments (`f(a=1, a=2)`) are a syntax error of our
      parser; CPython's ast.parse accepts them and leaves them to its
      compiler. When the only errors we record are of that kind, the texts
      count as accepted by both and the trees are compared.
  A2. `(a) := 1` and `f((a)=1)`, a parenthesized name as the target of a
      named expression or as a keyword name, are accepted by our parser and
      refused by CPython; neither set contains them.
  A3. Python 3.11 cannot nest the quote of an f-string inside its
      interpolations, which our lexer accepts as later versions do; the
      generator never writes such f-strings, and 3.11's library has none.

The test prints the first --show N mismatches of each kind and fails when
there is any. A missing interpreter makes it skip (exit code 77).
"""

import argparse
import json
import os
import random
import re
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
import oracles  # noqa: E402
REFERENCE = os.path.join(HERE, "expr_reference.py")

# ---------------------------------------------------------------------------
# Our dump in canonical form.

COMMENT = re.compile(r"#[^\r\n]*")
CONVERSIONS = {"None": -1, "Ascii": 97, "Repr": 114, "Str": 115}


class Unsupported(Exception):
    pass


class Canonical:
    def __init__(self, data):
        self.data = data  # the UTF-8 text the tree was parsed from

    def text(self, rng):
        return self.data[rng[0] : rng[1]].decode("utf-8", "surrogatepass")

    def opt(self, node):
        return None if node is None else self.expr(node)

    def list(self, nodes):
        return [self.expr(n) for n in nodes]

    def parameter(self, parameter, variadic=False):
        start, end = parameter["range"]
        if variadic:
            start = parameter["name"]["range"][0]  # R2
        return ["arg", start, end, parameter["name"]["id"], self.opt(parameter["annotation"])]

    def arguments(self, parameters):
        if parameters is None:
            return ["arguments", [], [], None, [], [], None, []]
        positional = parameters["positional_only"] + parameters["positional"]
        return [
            "arguments",
            [self.parameter(p["parameter"]) for p in parameters["positional_only"]],
            [self.parameter(p["parameter"]) for p in parameters["positional"]],
            None if parameters["var_positional"] is None else self.parameter(parameters["var_positional"], True),
            [self.parameter(p["parameter"]) for p in parameters["keyword_only"]],
            [self.opt(p["default"]) for p in parameters["keyword_only"]],
            None if parameters["var_keyword"] is None else self.parameter(parameters["var_keyword"], True),
            [self.expr(p["default"]) for p in positional if p["default"] is not None],
        ]

    def comprehensions(self, generators):
        return [
            ["comprehension", self.expr(c["target"]), self.expr(c["iter"]), self.list(c["conditions"]), c["is_async"]]
            for c in generators
        ]

    def pieces(self, elements, out):
        for element in elements:
            kind = element["type"]
            if kind == "InterpolatedStringLiteralElement":
                self.add_literal(out, element["value"])
            elif kind == "Interpolation":
                conversion = CONVERSIONS[element["conversion"]]
                debug = element["debug_text"]
                if debug is not None:  # R4
                    expression_text = self.text(element["expression"]["range"])
                    leading = COMMENT.sub("", debug["leading"])  # R8
                    trailing = COMMENT.sub("", debug["trailing"])
                    self.add_literal(out, leading + expression_text + trailing)
                    if conversion == -1 and element["format_spec"] is None:
                        conversion = CONVERSIONS["Repr"]
                spec = None
                if element["format_spec"] is not None:
                    spec_pieces = []
                    self.pieces(element["format_spec"]["elements"], spec_pieces)
                    spec = ["Spec", spec_pieces]
                out.append(["FormattedValue", self.expr(element["expression"]), conversion, spec])
            else:
                raise Unsupported("f-string element " + kind)

    @staticmethod
    def add_literal(out, text):
        if text == "":
            return
        if out and out[-1][0] == "Str":
            out[-1][1] += text
        else:
            out.append(["Str", text])

    def number(self, value):
        kind = value["kind"]
        if kind == "Int":
            v = value["value"]
            if isinstance(v, str):
                text = v.replace("_", "")
                try:
                    v = int(text, 0)
                except ValueError:
                    v = int(text)
            return ["int", str(v)]
        if kind == "Float":
            return ["float", float(value["value"]).hex()]
        return ["complex", float(value["real"]).hex(), float(value["imag"]).hex()]

    def expr(self, n):
        t = n["type"]
        r = list(n["range"])
        if t == "ExprBooleanOperation":
            return ["BoolOp"] + r + [n["op"], self.list(n["values"])]
        if t == "ExprAssignment":
            return ["NamedExpr"] + r + [self.expr(n["target"]), self.expr(n["value"])]
        if t == "ExprBinOp":
            return ["BinOp"] + r + [self.expr(n["left"]), n["op"], self.expr(n["right"])]
        if t == "ExprUnaryOp":
            return ["UnaryOp"] + r + [n["op"], self.expr(n["operand"])]
        if t == "ExprLambda":
            return ["Lambda"] + r + [self.arguments(n["parameters"]), self.expr(n["body"])]
        if t == "ExprConditional":
            return ["IfExp"] + r + [self.expr(n["test"]), self.expr(n["body"]), self.expr(n["orelse"])]
        if t == "ExprDict":
            return ["Dict"] + r + [[self.opt(i["key"]) for i in n["items"]], [self.expr(i["value"]) for i in n["items"]]]
        if t == "ExprSet":
            return ["Set"] + r + [self.list(n["elements"])]
        if t in ("ExprListComprehension", "ExprSetComprehension", "ExprGenerator"):
            name = {"ExprListComprehension": "ListComp", "ExprSetComprehension": "SetComp"}.get(t, "GeneratorExp")
            return [name] + r + [self.expr(n["element"]), self.comprehensions(n["generators"])]
        if t == "ExprDictComprehension":
            return ["DictComp"] + r + [self.expr(n["key"]), self.expr(n["value"]), self.comprehensions(n["generators"])]
        if t in ("ExprAwait", "ExprYield", "ExprYieldFrom"):
            return [t[4:]] + r + [self.opt(n["value"])]
        if t == "ExprComparison":
            return ["Compare"] + r + [self.expr(n["left"]), list(n["ops"]), self.list(n["comparators"])]
        if t == "ExprCall":
            arguments = n["arguments"]
            args = self.list(arguments["args"])
            if len(args) == 1 and not arguments["keywords"]:
                sole = arguments["args"][0]
                if sole["type"] == "ExprGenerator" and not sole["parenthesized"]:  # R1
                    args[0][1:3] = arguments["range"]
            keywords = [
                ["keyword"] + list(k["range"]) + [None if k["arg"] is None else k["arg"]["id"], self.expr(k["value"])]
                for k in arguments["keywords"]
            ]
            return ["Call"] + r + [self.expr(n["function"]), args, keywords]
        if t == "ExprFString":
            out = []
            for part in n["parts"]:
                if part["type"] == "StringLiteral":
                    self.add_literal(out, part["value"])
                else:
                    self.pieces(part["elements"], out)
            return ["JoinedStr"] + r + [out]
        if t == "ExprStringLiteral":
            kind = "u" if "u" in n["parts"][0]["flags"]["prefix"].lower() else None
            return ["Constant"] + r + [["str", n["value"]], kind]
        if t == "ExprBytesLiteral":
            value = bytes(b for part in n["parts"] for b in part["value"])
            return ["Constant"] + r + [["bytes", value.hex()], None]
        if t == "ExprNumberLiteral":
            return ["Constant"] + r + [self.number(n["value"]), None]
        if t == "ExprBooleanLiteral":
            return ["Constant"] + r + [["bool", n["value"]], None]
        if t == "ExprNoneLiteral":
            return ["Constant"] + r + [["None"], None]
        if t == "ExprEllipsisLiteral":
            return ["Constant"] + r + [["Ellipsis"], None]
        if t == "ExprAttribute":
            return ["Attribute"] + r + [self.expr(n["value"]), n["attribute"]["id"], n["ctx"]]
        if t == "ExprSubscript":
            return ["Subscript"] + r + [self.expr(n["value"]), self.expr(n["slice"]), n["ctx"]]
        if t == "ExprStarred":
            return ["Starred"] + r + [self.expr(n["value"]), n["ctx"]]
        if t == "ExprName":
            return ["Name"] + r + [n["id"], n["ctx"]]
        if t == "ExprList":
            return ["List"] + r + [self.list(n["elements"]), n["ctx"]]
        if t == "ExprTuple":
            return ["Tuple"] + r + [self.list(n["elements"]), n["ctx"]]
        if t == "ExprSlice":
            return ["Slice"] + r + [self.opt(n["lower"]), self.opt(n["upper"]), self.opt(n["step"])]
        raise Unsupported(t)


# ---------------------------------------------------------------------------
# The random expression generator. Every text is spaced so that no number
# runs into a keyword and no two operators fuse; f-string interpolations hold
# no strings, backslashes or top-level colons, which keeps them valid for
# every interpreter compared (A3).

NAMES = ["a", "b", "c", "x", "y", "z", "f", "g", "self", "xs", "_", "match", "case", "type", "print"]
NUMBERS = ["0", "1", "42", "0x1F", "0o17", "0b101", "1_000", "3.14", "1e10", ".5", "2j", "1.5e-3j",
           "123456789012345678901234567890", "0.0", "1e400"]
STRINGS = ["'s'", '"t"', "b'x'", "r'\\d'", "u'u'", "'a' 'b'", "'''tri'''", "b'a' b'b'", "'\\n'", "'\\x41'",
           "'caf\u00e9'", '"\\N{BULLET}"']
BINARY = ["+", "-", "*", "/", "//", "%", "@", "**", "<<", ">>", "&", "^", "|"]
COMPARISON = ["==", "!=", "<", "<=", ">", ">=", "is", "is not", "in", "not in"]
BOOLEAN = ["and", "or"]
PREFIX = ["-", "+", "~", "not ", "await "]


class Generator:
    def __init__(self, seed):
        self.r = random.Random(seed)

    def pick(self, items):
        return self.r.choice(items)

    def chance(self, p):
        return self.r.random() < p

    def name(self):
        return self.pick(NAMES)

    def fstring(self, d):
        quote = self.pick(['"', "'"])
        parts = []
        for _ in range(self.r.randint(1, 3)):
            if self.chance(0.4):
                parts.append(self.pick(["x", " ", "lit", "{{", "}}", "%d"]))
            inner = self.simple(d - 1)
            if inner.startswith("{"):
                inner = " " + inner
            text = "{" + inner
            if self.chance(0.2):
                text += self.pick(["=", " = "])
            if self.chance(0.3):
                text += self.pick(["!r", "!s", "!a"])
            if self.chance(0.3):
                text += ":" + self.pick([">10", "05d", ".2f", "{" + self.name() + "}", ">{" + self.name() + "}x", ""])
            parts.append(text + "}")
        prefix = self.pick(["f", "F", "rf", "fr"])
        result = prefix + quote + "".join(parts) + quote
        if self.chance(0.2):
            result += " " + self.pick(["'tail'", "f'{" + self.name() + "}'"]) if quote == '"' else " " + '"tail"'
        return result

    def simple(self, d):
        """An operand chain for f-string interpolations: no strings, no colons."""
        parts = [self.simple_primary(d)]
        for _ in range(self.r.randint(0, 2)):
            parts.append(self.pick(BINARY + ["==", "<", "and", "not in"]))
            parts.append(self.simple_primary(d))
        return " ".join(parts)

    def simple_primary(self, d):
        text = self.pick([self.name(), self.pick(NUMBERS[:8]), "None"])
        for _ in range(self.r.randint(0, 2)):
            choice = self.r.randint(0, 2)
            if choice == 0:
                text += "." + self.name()
            elif choice == 1 and d > 0:
                text += "(" + ", ".join(self.simple(d - 1) for _ in range(self.r.randint(0, 2))) + ")"
            elif d > 0:
                text += "[" + self.simple(d - 1) + "]"
        return text

    def parameters(self, d):
        elements = []
        for _ in range(self.r.randint(0, 4)):
            k = self.r.random()
            if k < 0.4:
                elements.append(self.name())
            elif k < 0.6:
                elements.append(self.name() + "=" + self.expr(d - 1))
            elif k < 0.7:
                elements.append("*")
            elif k < 0.8:
                elements.append("*" + self.name())
            elif k < 0.9:
                elements.append("/")
            else:
                elements.append("**" + self.name())
        text = ", ".join(elements)
        if elements and self.chance(0.1):
            text += ","
        return text

    def target(self):
        k = self.r.random()
        if k < 0.6:
            return self.name()
        if k < 0.8:
            return self.name() + ", " + self.name()
        return "(" + self.name() + ", " + self.name() + ")"

    def comprehension(self, d):
        text = ""
        for _ in range(self.r.randint(1, 2)):
            text += " " + ("async " if self.chance(0.1) else "") + "for " + self.target() + " in " + self.chain(d - 1)
            for _ in range(self.r.randint(0, 1)):
                text += " if " + self.chain(d - 1)
        return text

    def elements(self, d, starred=True):
        items = []
        for _ in range(self.r.randint(0, 3)):
            items.append(("*" if starred and self.chance(0.15) else "") + self.expr(d - 1))
        text = ", ".join(items)
        if items and self.chance(0.2):
            text += ","
        return text

    def atom(self, d):
        self.budget -= 1
        if d <= 0 or self.budget <= 0:
            return self.pick([self.name(), self.pick(NUMBERS)])
        k = self.r.randint(0, 24)
        if k <= 4:
            return self.name()
        if k <= 6:
            return self.pick(NUMBERS)
        if k == 7:
            return self.pick(STRINGS)
        if k == 8:
            return self.fstring(d)
        if k == 9:
            return self.pick(["True", "False", "None", "..."])
        if k == 10:
            return "(" + self.expr(d - 1) + ")"
        if k == 11:
            return "(" + self.elements(d) + ("," if self.chance(0.5) else "") + ")"
        if k == 12:
            return "[" + self.elements(d) + "]"
        if k == 13:
            return "{" + self.elements(d) + "}"
        if k == 14:
            items = []
            for _ in range(self.r.randint(0, 3)):
                if self.chance(0.2):
                    items.append("**" + self.chain(d - 1))
                else:
                    items.append(self.expr(d - 1) + ": " + self.expr(d - 1))
            return "{" + ", ".join(items) + "}"
        if k == 15:
            return "[" + self.expr(d - 1) + self.comprehension(d) + "]"
        if k == 16:
            return "{" + self.expr(d - 1) + self.comprehension(d) + "}"
        if k == 17:
            return "{" + self.expr(d - 1) + ": " + self.expr(d - 1) + self.comprehension(d) + "}"
        if k == 18:
            return "(" + self.expr(d - 1) + self.comprehension(d) + ")"
        if k == 19:
            target = self.name() if self.chance(0.9) else self.pick([self.name() + ".attr", "f()"])
            return "(" + target + " := " + self.expr(d - 1) + ")"
        if k == 20:
            return self.pick(["(yield)", "(yield " + self.elements(d) + ")", "(yield from " + self.expr(d - 1) + ")"])
        if k == 21:
            return "()"
        return self.name()

    def arguments(self, d):
        if self.chance(0.1):
            return "(" + self.expr(d - 1) + self.comprehension(d) + ")"
        items = []
        for _ in range(self.r.randint(0, 4)):
            k = self.r.random()
            if k < 0.5:
                items.append((0, self.expr(d - 1)))
            elif k < 0.65:
                items.append((0, "*" + self.expr(d - 1)))
            elif k < 0.9:
                items.append((1, self.name() + "=" + self.expr(d - 1)))
            else:
                items.append((2, "**" + self.expr(d - 1)))
        # Mostly in a valid order (positional, keywords, `**`); sometimes not.
        if self.chance(0.85):
            items.sort(key=lambda item: item[0])
        text = ", ".join(item[1] for item in items)
        if items and self.chance(0.15):
            text += ","
        return "(" + text + ")"

    def slice_item(self, d):
        k = self.r.random()
        if k < 0.5:
            return self.expr(d - 1)
        if k < 0.6:
            return "*" + self.chain(d - 1)
        lower = self.chain(d - 1) if self.chance(0.6) else ""
        upper = self.chain(d - 1) if self.chance(0.6) else ""
        text = lower + ":" + upper
        if self.chance(0.4):
            text += ":" + (self.chain(d - 1) if self.chance(0.6) else "")
        return text

    def primary(self, d):
        text = self.atom(d)
        for _ in range(self.r.randint(0, 3) if d > 0 else 0):
            k = self.r.randint(0, 2)
            if k == 0 and text[-1].isdigit() or text.endswith("j") and text[0].isdigit():
                text = "(" + text + ")." + self.name()  # `1.real` is not an attribute access
            elif k == 0:
                text += "." + self.name()
            elif k == 1:
                text += self.arguments(d)
            else:
                items = [self.slice_item(d) for _ in range(self.r.randint(1, 3))]
                text += "[" + ", ".join(items) + ("," if self.chance(0.1) else "") + "]"
        return text

    def operand(self, d, after_boolean=False):
        # `not` where it is valid (the start of a chain or after `and` and
        # `or`) more often than elsewhere; `await` rarely.
        prefix = ""
        if self.chance(0.2 if after_boolean else 0.04):
            prefix += "not "
        while self.chance(0.12):
            prefix += self.pick(["-", "+", "~"])
        if self.chance(0.03):
            prefix += self.pick(PREFIX)
        if self.chance(0.03):
            prefix += "await "
        return prefix + self.primary(d)

    def chain(self, d):
        parts = [self.operand(d, True)]
        for _ in range(self.r.randint(0, 4) if self.budget > 0 else 0):
            k = self.r.random()
            boolean = False
            if k < 0.6:
                parts.append(self.pick(BINARY))
            elif k < 0.85:
                parts.append(self.pick(COMPARISON))
            else:
                parts.append(self.pick(BOOLEAN))
                boolean = True
            parts.append(self.operand(d, boolean))
        return " ".join(parts)

    def expr(self, d):
        if d <= 0 or self.budget <= 0:
            return self.chain(0)
        k = self.r.random()
        if k < 0.65:
            return self.chain(d)
        if k < 0.8:
            text = self.chain(d) + " if " + self.chain(d - 1)
            if self.chance(0.95):
                text += " else " + self.expr(d - 1)
            return text
        if k < 0.92:
            parameters = self.parameters(d)
            return "lambda" + (" " + parameters if parameters else "") + ": " + self.expr(d - 1)
        return self.elements(d) if self.chance(0.5) else "*" + self.chain(d)

    def top(self):
        # A budget of atoms keeps the texts short whatever the branching.
        self.budget = self.r.randint(2, 24)
        return self.expr(self.r.randint(1, 4))


# ---------------------------------------------------------------------------


def records(texts):
    out = bytearray()
    for text in texts:
        data = text.encode("utf-8", "surrogatepass")
        out += str(len(data)).encode() + b"\n" + data
    return bytes(out)


def communicate(command, data):
    """Runs `command` with `data` on its standard input; its output lines."""
    process = subprocess.run(command, input=data, stdout=subprocess.PIPE)
    if process.returncode != 0:
        raise RuntimeError("%s failed with status %d" % (" ".join(command), process.returncode))
    return process.stdout.decode("utf-8").splitlines()


def run_ours(driver, texts):
    """Our parse of every text: one JSON object per text."""
    lines = communicate([driver], records(texts))
    if len(lines) != len(texts):
        raise RuntimeError("expr_dump printed %d results for %d texts" % (len(lines), len(texts)))
    return [json.loads(line) for line in lines]


def run_shard(task):
    """One worker's part, end to end: the reference entries (the library
    segments of one shard, or the given texts), our parse of the same
    texts, and the comparison. Returns the shard's Report."""
    driver, python, shard, shards, texts, show = task
    if texts is None:
        lines = communicate([python, REFERENCE, "segments", str(shard), str(shards)], b"")
    else:
        lines = communicate([python, REFERENCE, "parse"], records(texts))
    entries = [json.loads(line) for line in lines]
    ours = run_ours(driver, [entry["source"] for entry in entries])
    report = Report(show)
    compare(entries, ours, report)
    return report


def run_all(tasks, jobs):
    import multiprocessing

    with multiprocessing.Pool(jobs) as pool:
        reports = pool.map(run_shard, tasks)
    total = reports[0]
    for report in reports[1:]:
        total.merge(report)
    return total


def is_duplicate_keyword(error):
    return error[0].startswith("Duplicate keyword argument ")


class Report:
    def __init__(self, show):
        self.show = show
        self.failures = {}
        self.counts = {"accepted": 0, "rejected": 0}

    def merge(self, other):
        for key in self.counts:
            self.counts[key] += other.counts[key]
        for kind, items in other.failures.items():
            self.failures.setdefault(kind, []).extend(items)

    def fail(self, kind, text, detail):
        items = self.failures.setdefault(kind, [])
        items.append((text, detail))

    def print(self, label):
        total = sum(len(v) for v in self.failures.values())
        print("%s: %d texts accepted by both and compared, %d rejected by both, %d mismatches"
              % (label, self.counts["accepted"], self.counts["rejected"], total))
        for kind, items in sorted(self.failures.items()):
            print("  %s: %d" % (kind, len(items)))
            for text, detail in items[: self.show]:
                print("    text:   %r" % text)
                for line in detail:
                    print("            %s" % line)
        return total


def first_difference(a, b, path="tree"):
    if type(a) != type(b):
        return "%s: %r != %r" % (path, a, b)
    if isinstance(a, list):
        if len(b) >= 3 and isinstance(b[0], str) and b[1] is None and b[2] is None:
            a = a[:1] + [None, None] + a[3:]  # a range the reference does not keep
        if len(a) != len(b):
            return "%s: length %d != %d: %s != %s" % (path, len(a), len(b), json.dumps(a)[:300], json.dumps(b)[:300])
        for i, (x, y) in enumerate(zip(a, b)):
            label = path + "[%d]" % i
            if isinstance(a[0], str) and i == 0:
                label = path
            d = first_difference(x, y, "%s/%s" % (path, a[0]) if i == 0 and isinstance(a[0], str) else label)
            if d:
                return d
        return None
    if a != b:
        return "%s: %r != %r" % (path, a, b)
    return None


def compare(entries, ours, report):
    for entry, result in zip(entries, ours):
        text = entry["source"]
        if "fatal" in result:
            report.fail("fatal error", text, [result["fatal"]])
            continue
        errors = result["errors"]
        if "reject" in entry:
            if errors:
                report.counts["rejected"] += 1
            else:
                report.fail("accepted here, rejected by CPython", text, [entry["reject"]])
            continue
        if errors and not all(is_duplicate_keyword(e) for e in errors):  # A1
            report.fail("rejected here, accepted by CPython", text, ["%s at %d..%d" % tuple(e) for e in errors[:3]])
            continue
        data = text.encode("utf-8", "surrogatepass")
        try:
            canonical = Canonical(data).expr(result["tree"])
        except Unsupported as error:
            report.fail("unsupported node", text, [str(error)])
            continue
        difference = first_difference(canonical, entry["tree"])
        if difference:
            report.fail("different tree", text, [difference])
            continue
        report.counts["accepted"] += 1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("driver")
    parser.add_argument("python")
    parser.add_argument("--jobs", type=int, default=3)
    parser.add_argument("--seed", type=int, default=20240611)
    parser.add_argument("--random", type=int, default=30000)
    parser.add_argument("--no-corpus", action="store_true")
    parser.add_argument("--show", type=int, default=8)
    args = parser.parse_args()

    missing = oracles.interpreter_missing(args.python)
    if missing:
        return oracles.unavailable(missing)
    sys.setrecursionlimit(20000)
    mismatches = 0
    began = time.time()

    if not args.no_corpus:
        tasks = [(args.driver, args.python, i, args.jobs, None, args.show) for i in range(args.jobs)]
        report = run_all(tasks, args.jobs)
        mismatches += report.print("corpus (%d segments)" % (report.counts["accepted"] + report.counts["rejected"]
                                                          + sum(len(v) for v in report.failures.values())))

    if args.random:
        generator = Generator(args.seed)
        texts = list(dict.fromkeys(generator.top() for _ in range(args.random)))
        tasks = [(args.driver, args.python, i, args.jobs, texts[i :: args.jobs], args.show) for i in range(args.jobs)]
        report = run_all(tasks, args.jobs)
        mismatches += report.print("random (%d texts, seed %d)" % (len(texts), args.seed))

    print("%.1f s" % (time.time() - began))
    return 1 if mismatches else 0


if __name__ == "__main__":
    sys.exit(main())
