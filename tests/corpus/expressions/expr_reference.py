"""The reference side of the expression differential test.

Run by one of the oracle interpreters, whose own `ast` is the version being
compared. Two commands:

  expr_reference.py segments SHARD SHARDS
      Walks the interpreter's own standard library (every .py file that this
      interpreter parses; files i with i % SHARDS == SHARD) and collects the
      source segments of the statement-level expressions: every expression
      that is a direct field of a statement (values of expression statements,
      assignments, returns, tests, iterables, targets, subjects, ...), plus
      decorators, parameter defaults and annotations and class bases and
      keywords. Each distinct segment text is written once.

  expr_reference.py parse
      Reads the sources to compare as records (byte length in decimal, a line
      feed, the UTF-8 bytes) on standard input.

Both write one JSON line per segment to standard output:
  {"source": TEXT, "tree": CANONICAL}   the interpreter parses TEXT in eval mode
  {"source": TEXT, "reject": MESSAGE}   it does not

CANONICAL is the canonical form that expr_differential.py also builds from
our parser's dump; see `canonical` below for its shape. Positions are byte
offsets into the UTF-8 text of the segment.
"""

import ast
import json
import os
import sys
import sysconfig
import warnings

warnings.simplefilter("ignore")


def line_starts(data):
    """Byte offsets of the starts of the lines of `data` (bytes), with the
    line breaks the tokenizer knows: \\r\\n, \\r and \\n."""
    starts = [0]
    i = 0
    n = len(data)
    while i < n:
        c = data[i]
        if c == 0x0A:
            starts.append(i + 1)
        elif c == 0x0D:
            if i + 1 < n and data[i + 1] == 0x0A:
                i += 1
            starts.append(i + 1)
        i += 1
    return starts


def without_surrogates(text):
    """Every lone surrogate of `text` replaced by U+FFFD, as our UTF-8 string
    values hold them (expr_differential.py, R6). Done here, since JSON would
    also join an escaped pair of lone surrogates into one character."""
    if not any(0xD800 <= ord(c) <= 0xDFFF for c in text):
        return text
    return "".join("\ufffd" if 0xD800 <= ord(c) <= 0xDFFF else c for c in text)


class Canonical:
    """Turns an ast.expr of one segment into the canonical form.

    A node is a list: its class name, then (for nodes that have positions)
    the start and end byte offsets, then its fields in the order of Python's
    ast. Operators and contexts are their class names; constants are
    ["Constant", start, end, VALUE, kind] with VALUE ["str", text],
    ["bytes", hex], ["int", decimal], ["float", float.hex], ["complex",
    real.hex, imag.hex], ["bool", b], ["None"] or ["Ellipsis"]. An f-string
    is ["JoinedStr", start, end, PIECES] where PIECES alternates merged
    literal text ["Str", text] and ["FormattedValue", value, conversion,
    spec], spec being null or ["Spec", PIECES]; the positions of the pieces
    are not kept (see expr_differential.py). A range that is not compared
    is written as two nulls."""

    def __init__(self, data):
        self.starts = line_starts(data)

    def pos(self, node):
        return [
            self.starts[node.lineno - 1] + node.col_offset,
            self.starts[node.end_lineno - 1] + node.end_col_offset,
        ]

    def list(self, nodes):
        return [self.expr(n) for n in nodes]

    def opt(self, node):
        return None if node is None else self.expr(node)

    def constant(self, value):
        if isinstance(value, bool):
            return ["bool", value]
        if value is None:
            return ["None"]
        if value is Ellipsis:
            return ["Ellipsis"]
        if isinstance(value, str):
            return ["str", without_surrogates(value)]
        if isinstance(value, bytes):
            return ["bytes", value.hex()]
        if isinstance(value, int):
            return ["int", str(value)]
        if isinstance(value, float):
            return ["float", value.hex()]
        if isinstance(value, complex):
            return ["complex", value.real.hex(), value.imag.hex()]
        raise TypeError("constant of type %s" % type(value).__name__)

    def pieces(self, values):
        out = []
        for value in values:
            if isinstance(value, ast.Constant):
                if value.value == "":
                    continue
                if out and out[-1][0] == "Str":
                    out[-1][1] += without_surrogates(value.value)
                else:
                    out.append(["Str", without_surrogates(value.value)])
            elif isinstance(value, ast.FormattedValue):
                spec = None
                if value.format_spec is not None:
                    spec = ["Spec", self.pieces(value.format_spec.values)]
                expression = self.expr(value.value)
                if sys.version_info < (3, 12) and isinstance(value.value, ast.Tuple):
                    # 3.11 reads an interpolation as if it were parenthesized,
                    # so a bare tuple's range takes in the braces: not kept.
                    expression[1] = expression[2] = None
                out.append(["FormattedValue", expression, value.conversion, spec])
            else:
                raise TypeError("f-string piece %s" % type(value).__name__)
        return out

    def arguments(self, args):
        def arg(a):
            return ["arg"] + self.pos(a) + [a.arg, self.opt(a.annotation)]

        return [
            "arguments",
            [arg(a) for a in args.posonlyargs],
            [arg(a) for a in args.args],
            None if args.vararg is None else arg(args.vararg),
            [arg(a) for a in args.kwonlyargs],
            [self.opt(d) for d in args.kw_defaults],
            None if args.kwarg is None else arg(args.kwarg),
            self.list(args.defaults),
        ]

    def comprehension(self, c):
        return ["comprehension", self.expr(c.target), self.expr(c.iter), self.list(c.ifs), bool(c.is_async)]

    def expr(self, n):
        name = type(n).__name__
        p = self.pos(n)
        if name == "BoolOp":
            return [name] + p + [type(n.op).__name__, self.list(n.values)]
        if name == "NamedExpr":
            return [name] + p + [self.expr(n.target), self.expr(n.value)]
        if name == "BinOp":
            return [name] + p + [self.expr(n.left), type(n.op).__name__, self.expr(n.right)]
        if name == "UnaryOp":
            return [name] + p + [type(n.op).__name__, self.expr(n.operand)]
        if name == "Lambda":
            return [name] + p + [self.arguments(n.args), self.expr(n.body)]
        if name == "IfExp":
            return [name] + p + [self.expr(n.test), self.expr(n.body), self.expr(n.orelse)]
        if name == "Dict":
            return [name] + p + [[self.opt(k) for k in n.keys], self.list(n.values)]
        if name == "Set":
            return [name] + p + [self.list(n.elts)]
        if name in ("ListComp", "SetComp", "GeneratorExp"):
            return [name] + p + [self.expr(n.elt), [self.comprehension(c) for c in n.generators]]
        if name == "DictComp":
            return [name] + p + [self.expr(n.key), self.expr(n.value), [self.comprehension(c) for c in n.generators]]
        if name in ("Await", "Yield", "YieldFrom"):
            return [name] + p + [self.opt(n.value)]
        if name == "Compare":
            return [name] + p + [self.expr(n.left), [type(o).__name__ for o in n.ops], self.list(n.comparators)]
        if name == "Call":
            keywords = [["keyword"] + self.pos(k) + [k.arg, self.expr(k.value)] for k in n.keywords]
            return [name] + p + [self.expr(n.func), self.list(n.args), keywords]
        if name == "JoinedStr":
            return [name] + p + [self.pieces(n.values)]
        if name == "Constant":
            return [name] + p + [self.constant(n.value), n.kind]
        if name == "Attribute":
            return [name] + p + [self.expr(n.value), n.attr, type(n.ctx).__name__]
        if name == "Subscript":
            return [name] + p + [self.expr(n.value), self.expr(n.slice), type(n.ctx).__name__]
        if name == "Starred":
            return [name] + p + [self.expr(n.value), type(n.ctx).__name__]
        if name == "Name":
            return [name] + p + [n.id, type(n.ctx).__name__]
        if name in ("List", "Tuple"):
            return [name] + p + [self.list(n.elts), type(n.ctx).__name__]
        if name == "Slice":
            return [name] + p + [self.opt(n.lower), self.opt(n.upper), self.opt(n.step)]
        raise TypeError("expression %s" % name)


def reference(text):
    """The JSON line for one source text (str)."""
    try:
        tree = ast.parse(text, mode="eval")
    except (SyntaxError, ValueError) as error:
        return json.dumps({"source": text, "reject": str(error)})
    except RecursionError:
        return json.dumps({"source": text, "reject": "recursion"})
    try:
        canonical = Canonical(text.encode("utf-8", "surrogatepass")).expr(tree.body)
    except RecursionError:
        return json.dumps({"source": text, "reject": "recursion"})
    return json.dumps({"source": text, "tree": canonical})


def statement_expressions(tree):
    """The statement-level expressions of a module."""
    for node in ast.walk(tree):
        if isinstance(node, ast.stmt):
            for field, value in ast.iter_fields(node):
                if isinstance(value, ast.expr):
                    yield value
                elif isinstance(value, list):
                    for item in value:
                        if isinstance(item, ast.expr):
                            yield item
                        elif isinstance(item, (ast.withitem,)):
                            yield item.context_expr
                            if item.optional_vars is not None:
                                yield item.optional_vars
                        elif isinstance(item, ast.keyword):
                            yield item.value
            if isinstance(node, ast.Match):
                for case in node.cases:
                    if case.guard is not None:
                        yield case.guard
        elif isinstance(node, ast.arguments):
            for default in node.defaults + [d for d in node.kw_defaults if d is not None]:
                yield default
        elif isinstance(node, ast.arg) and node.annotation is not None:
            yield node.annotation


def library_files():
    root = sysconfig.get_paths()["stdlib"]
    files = []
    for directory, subdirectories, names in os.walk(root):
        subdirectories[:] = sorted(d for d in subdirectories if d not in ("site-packages", "__pycache__"))
        for name in sorted(names):
            if name.endswith(".py"):
                files.append(os.path.join(directory, name))
    return files


def command_segments(shard, shards):
    seen = set()
    out = sys.stdout
    for index, path in enumerate(library_files()):
        if index % shards != shard:
            continue
        try:
            with open(path, "rb") as f:
                data = f.read()
            import importlib.util

            source = importlib.util.decode_source(data)
            tree = ast.parse(source)
        except Exception:
            continue
        # The segment of each node, cut from the UTF-8 text (column offsets
        # are byte offsets); what ast.get_source_segment gives, without its
        # re-splitting of the whole text for every node.
        encoded = source.encode("utf-8", "surrogatepass")
        starts = line_starts(encoded)
        for node in statement_expressions(tree):
            try:
                start = starts[node.lineno - 1] + node.col_offset
                end = starts[node.end_lineno - 1] + node.end_col_offset
            except (AttributeError, IndexError, TypeError):
                continue
            segment = encoded[start:end].decode("utf-8", "surrogatepass")
            if not segment or segment in seen:
                continue
            seen.add(segment)
            out.write(reference(segment))
            out.write("\n")


def read_records(stream):
    while True:
        header = stream.readline()
        if not header:
            return
        length = int(header)
        data = stream.read(length)
        yield data.decode("utf-8", "surrogatepass")


def command_parse():
    out = sys.stdout
    for text in read_records(sys.stdin.buffer):
        out.write(reference(text))
        out.write("\n")


def main():
    sys.setrecursionlimit(10000)
    if sys.argv[1] == "segments":
        command_segments(int(sys.argv[2]), int(sys.argv[3]))
    elif sys.argv[1] == "parse":
        command_parse()
    else:
        raise SystemExit("unknown command %r" % sys.argv[1])


if __name__ == "__main__":
    main()
