"""The reference side of the module differential test.

Run by each interpreter under test (3.11 and later), never by the harness's
own interpreter, so that the tree compared is that interpreter's `ast`.

  reference.py parse      standard input: a JSON list of file paths
  reference.py compile    the same, through compile(): the errors that only
                          the compiler finds
  reference.py harvest LIBDIR
                          writes the snippets of the grammar tests (below)

parse: one JSON line per path, in order:
  {"path": P, "tree": TREE}        ast.parse accepted the file's bytes
  {"path": P, "rejected": TEXT}    it raised (SyntaxError, ValueError for NUL
   [, "line": N, "column": C]      bytes, RecursionError, ...); N and C are the
                                   line and the column (1-based, characters)
                                   that a SyntaxError names
  {"path": P, "compiled": true}    (compile) compile() accepted it
TREE is the interpreter's tree in a generic shape, with nothing of this
system's:
  - a node is {"_t": class name, "_r": [start, end], field: value, ...} with
    every field of `_fields` in order; "_r" only for nodes that have
    positions, as absolute byte offsets into the file (line starts at "\n",
    "\r\n" and a lone "\r"; a leading byte order mark counted, as this
    system counts it);
  - a node without fields or positions (operators, contexts) is its class
    name: "Add", "Load";
  - a constant is tagged: ["int", hex], ["float", hex], ["complex", real hex,
    imag hex], ["str", hex], ["bytes", hex], ["bool", b], ["None"],
    ["Ellipsis"]; a str is given as the hex of its UTF-8 bytes, surrogates
    encoded as they stand (surrogatepass).

harvest: a JSON list of [ORIGIN, SOURCE]: the sources that the grammar tests
of this interpreter's own test suite feed to the compiler, as far as they
can be read without running the tests: literal strings (implicitly joined,
or passed through textwrap.dedent, or bound once to a local name) given to
compile, exec, eval, ast.parse and the tests' syntax-checking helpers, the
lists of sources that test_ast keeps in module-level `*_tests` names, and
the doctest examples of the tests' docstrings and doctest strings.
"""

import ast
import doctest
import json
import os
import re
import sys
import threading
import warnings

if hasattr(sys, "set_int_max_str_digits"):
    sys.set_int_max_str_digits(0)

LINE_BREAK = re.compile(rb"\r\n|\r|\n")
BOM = b"\xef\xbb\xbf"


class Offsets:
    """(line, byte column) to absolute byte offsets."""

    def __init__(self, data):
        self.starts = [0]
        self.starts.extend(m.end() for m in LINE_BREAK.finditer(data))
        if data.startswith(BOM):
            # The interpreter's columns on the first line do not count the mark.
            self.starts[0] = len(BOM)

    def __call__(self, line, column):
        return self.starts[line - 1] + column


def constant(value):
    if value is None:
        return ["None"]
    if value is Ellipsis:
        return ["Ellipsis"]
    if isinstance(value, bool):
        return ["bool", value]
    if isinstance(value, int):
        return ["int", hex(value)]
    if isinstance(value, float):
        return ["float", value.hex()]
    if isinstance(value, complex):
        return ["complex", value.real.hex(), value.imag.hex()]
    if isinstance(value, str):
        # As UTF-8 bytes in hex: JSON would join two escaped surrogates into
        # one character.
        return ["str", value.encode("utf-8", "surrogatepass").hex()]
    if isinstance(value, bytes):
        return ["bytes", value.hex()]
    raise TypeError(f"unexpected constant {value!r}")


def generic(node, offsets):
    if isinstance(node, list):
        return [generic(item, offsets) for item in node]
    if not isinstance(node, ast.AST):
        return node
    has_position = "lineno" in node._attributes and getattr(node, "lineno", None) is not None
    if not node._fields and not has_position:
        return type(node).__name__
    out = {"_t": type(node).__name__}
    if has_position:
        out["_r"] = [offsets(node.lineno, node.col_offset), offsets(node.end_lineno, node.end_col_offset)]
    for field in node._fields:
        value = getattr(node, field, None)
        if isinstance(node, (ast.Constant, ast.MatchSingleton)) and field == "value":
            out[field] = constant(value)
        else:
            out[field] = generic(value, offsets)
    return out


def parse_one(path):
    try:
        with open(path, "rb") as file:
            data = file.read()
    except OSError as error:
        return {"path": path, "rejected": f"unreadable: {error}"}
    try:
        tree = ast.parse(data, filename=path)
    except (SyntaxError, ValueError, RecursionError, MemoryError, OverflowError) as error:
        return rejection(path, error)
    return {"path": path, "tree": generic(tree, Offsets(data))}


def rejection(path, error):
    """The record of a refusal; "line" is the line that a SyntaxError names."""
    record = {"path": path, "rejected": f"{type(error).__name__}: {error}"}
    if isinstance(error, SyntaxError) and error.lineno is not None:
        record["line"] = error.lineno
        if error.offset is not None:
            record["column"] = error.offset
    return record


def compile_one(path):
    """Whether the whole compiler (not only the parser) takes the file."""
    with open(path, "rb") as file:
        data = file.read()
    try:
        compile(data, path, "exec", dont_inherit=True)
    except (SyntaxError, ValueError, RecursionError, MemoryError, OverflowError) as error:
        return rejection(path, error)
    return {"path": path, "compiled": True}


def run_parse(one=parse_one):
    paths = json.load(sys.stdin)
    out = sys.stdout
    for path in paths:
        out.write(json.dumps(one(path), ensure_ascii=True))
        out.write("\n")
    out.flush()


# ---------------------------------------------------------------------------
# Harvest.

HARVESTED_FILES = [
    "test/test_grammar.py",
    "test/test_syntax.py",
    "test/test_patma.py",
    "test/test_type_params.py",
    "test/test_fstring.py",
    "test/test_named_expressions.py",
    "test/test_positional_only_arg.py",
    "test/test_keywordonlyarg.py",
    "test/test_genexps.py",
    "test/test_unpack_ex.py",
    "test/test_exceptions.py",
    "test/test_ast.py",
    "test/test_ast/test_ast.py",
    "test/test_ast/snippets.py",
    "test/test_unparse.py",
    "test/test_string_literals.py",
]

# Callables whose first positional argument (or `source`, `code`,
# `statement` keyword) is source text.
SOURCE_CALLEES = {
    "compile", "exec", "eval", "parse", "check_syntax_error", "_check_error", "_check_noerror",
    "assert_syntax_error", "check", "run_code", "assertInvalid", "assertValid", "_check_ok",
    "check_syntax_warning", "_assert_syntax_error", "assertRaisesSyntaxError", "check_ast_roundtrip",
    "check_src_roundtrip", "check_invalid", "assertASTEqual",
}
# Callables with lists of source texts among their arguments.
LIST_CALLEES = {"assertAllRaise"}
SOURCE_KEYWORDS = {"source", "code", "statement", "src"}


def callee_name(call):
    function = call.func
    if isinstance(function, ast.Name):
        return function.id
    if isinstance(function, ast.Attribute):
        return function.attr
    return None


def literal_text(node, bindings):
    """The text of a literal string argument, or None."""
    if isinstance(node, ast.Constant) and isinstance(node.value, str):
        return node.value
    if isinstance(node, ast.Name):
        return bindings.get(node.id)
    if isinstance(node, ast.Call) and callee_name(node) == "dedent" and len(node.args) == 1:
        inner = literal_text(node.args[0], bindings)
        if inner is not None:
            import textwrap

            return textwrap.dedent(inner)
    return None


def single_bindings(function):
    """Local names bound exactly once, to a literal string."""
    counts = {}
    values = {}
    for node in ast.walk(function):
        targets = []
        if isinstance(node, ast.Assign):
            targets = node.targets
        elif isinstance(node, (ast.AnnAssign, ast.AugAssign, ast.For, ast.NamedExpr)):
            targets = [node.target]
        for target in targets:
            for name in ast.walk(target):
                if isinstance(name, ast.Name):
                    counts[name.id] = counts.get(name.id, 0) + 1
        if isinstance(node, ast.Assign) and len(node.targets) == 1 and isinstance(node.targets[0], ast.Name):
            text = literal_text(node.value, {})
            if text is not None:
                values[node.targets[0].id] = text
    return {name: text for name, text in values.items() if counts.get(name) == 1}


def harvest_file(path, label):
    with open(path, "rb") as file:
        tree = ast.parse(file.read())
    found = []
    parser = doctest.DocTestParser()

    def doctests(node):
        text = ast.get_docstring(node, clean=False)
        if not text or ">>>" not in text:
            return
        try:
            examples = parser.get_examples(text)
        except ValueError:
            return
        for example in examples:
            found.append((f"{label}:{node.lineno if hasattr(node, 'lineno') else 1}:doctest", example.source))

    doctests(tree)
    # Lists of sources kept in module-level names (test_ast's exec_tests).
    for node in tree.body:
        if (isinstance(node, ast.Assign) and len(node.targets) == 1 and isinstance(node.targets[0], ast.Name)
                and node.targets[0].id.endswith("_tests") and isinstance(node.value, (ast.List, ast.Tuple))):
            for element in node.value.elts:
                text = literal_text(element, {})
                if text is not None:
                    found.append((f"{label}:{element.lineno}", text))
    # Doctest texts kept in module-level strings (test_genexps, test_unpack_ex).
    for node in tree.body:
        if isinstance(node, ast.Assign) and isinstance(node.value, ast.Constant) and isinstance(node.value.value, str):
            if ">>>" in node.value.value:
                try:
                    examples = parser.get_examples(node.value.value)
                except ValueError:
                    continue
                for example in examples:
                    found.append((f"{label}:{node.lineno}:doctest", example.source))
    scopes = [tree] + [n for n in ast.walk(tree) if isinstance(n, (ast.FunctionDef, ast.AsyncFunctionDef, ast.ClassDef))]
    for scope in scopes[1:]:
        doctests(scope)
    seen_calls = set()
    # Innermost scopes first, so that a call sees its own function's names.
    for scope in reversed(scopes):
        bindings = single_bindings(scope) if scope is not tree else {}
        for node in ast.walk(scope):
            if not isinstance(node, ast.Call) or id(node) in seen_calls:
                continue
            name = callee_name(node)
            if name in SOURCE_CALLEES:
                seen_calls.add(id(node))
                candidates = node.args[:1] + [k.value for k in node.keywords if k.arg in SOURCE_KEYWORDS]
                if name in ("check_syntax_error", "check_syntax_warning") and len(node.args) >= 2:
                    candidates = node.args[1:2]
                for argument in candidates:
                    text = literal_text(argument, bindings)
                    if text is not None:
                        found.append((f"{label}:{node.lineno}", text))
            elif name in LIST_CALLEES:
                seen_calls.add(id(node))
                for argument in node.args:
                    if isinstance(argument, (ast.List, ast.Tuple)):
                        for element in argument.elts:
                            text = literal_text(element, bindings)
                            if text is not None:
                                found.append((f"{label}:{node.lineno}", text))
    return found


def run_harvest(libdir):
    out = []
    seen = set()
    for relative in HARVESTED_FILES:
        path = os.path.join(libdir, relative)
        if not os.path.exists(path):
            continue
        for origin, source in harvest_file(path, relative[len("test/"):]):
            if source in seen:
                continue
            seen.add(source)
            out.append([origin, source])
    json.dump(out, sys.stdout, ensure_ascii=True)
    sys.stdout.flush()


def call_on_thread(target, *args):
    """target(*args) on a new thread (whose stack size threading.stack_size
    sets), its exception re-raised here; returns its result."""
    result = []
    failure = []

    def body():
        try:
            result.append(target(*args))
        except BaseException as error:  # reported by the calling thread
            failure.append(error)

    thread = threading.Thread(target=body)
    thread.start()
    thread.join()
    if failure:
        raise failure[0]
    return result[0]


def main():
    # Invalid escapes and the like in the files are no concern here.
    warnings.simplefilter("ignore")
    # Deep trees: recursion on a large stack.
    sys.setrecursionlimit(1_000_000)
    threading.stack_size(512 * 1024 * 1024)
    if sys.argv[1:2] == ["parse"]:
        target = run_parse
        args = ()
    elif sys.argv[1:2] == ["compile"]:
        target = run_parse
        args = (compile_one,)
    elif len(sys.argv) == 3 and sys.argv[1] == "harvest":
        target = run_harvest
        args = (sys.argv[2],)
    else:
        sys.stderr.write(__doc__)
        sys.exit(2)
    call_on_thread(target, *args)


if __name__ == "__main__":
    main()
