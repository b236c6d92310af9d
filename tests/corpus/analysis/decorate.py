"""Makes every definition of a Python file a record of the analysis.

  decorate.py    standard input: a JSON list of [SOURCE, TARGET] or [SOURCE,
                 TARGET, FORM] items; writes each decorated SOURCE to TARGET
                 (folders made) and prints one JSON line per item:
                 {"source": S, "ok": true} or {"source": S, "skipped": REASON}

FORM, when given, rewrites the decorated text's bytes afterwards: "crlf"
(every line feed as CR LF), "cr" (every line feed as a lone CR), "bom" (a
byte order mark in front, line feeds as CR LF), "tabs" (each four spaces of
a line's leading run as a tab).

The transform, on the text as read (UTF-8, byte order mark kept):
  - the imports that the analysis recognises go in on lines of their own,
    after the docstring and `from __future__` imports when there are any,
    otherwise before the first statement (so leading comments and a coding
    declaration stay where they are);
  - every class gets a feature decorator line, and every def a resolver
    decorator line, with keyword arguments (dict displays for defs), above its
    first decorator or its keyword, indented as that line is. The variants
    rotate, so names, calls, string and non-string namespaces, dict keys of
    several kinds, aliases and both decorator modules all occur;
  - the fields of class bodies that begin a line get comment blocks above
    them (descriptions, owner and tags lines, lone hashes, in turn), which
    join the comments already there.
Nothing else changes: lines are only inserted, each with the file's line
break. The result must compile under the interpreter that ran the transform;
a file that does not is skipped with the reason.

Run by the interpreter under test (its `ast` finds the definitions).
"""

import ast
import json
import os
import re
import sys
import warnings

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import reference  # noqa: E402

IMPORTS = [
    "from tolva.features import features as tolva_features, online, offline as tolva_offline",
    "from tolva import stream",
]

CLASS_DECORATORS = [
    '@tolva_features(name="ns_{k}", owner="team {k}", max_staleness="1h")',
    "@tolva_features",
    '@tolva_features(owner=f"o{k}", name=f"n{k}")',
    '@tolva_features(name="caf\\u00e9" "x", tags=["a", "b"], **{{}})',
    '@tolva_features(name="", \u00e9t\u00e9=1, \ufb01eld=2)',
]

# Comment blocks put above the fields of class bodies, in turn.
FIELD_COMMENTS = [
    ["# Field {k}.", "# :owner: team-{k}", "# :tags: t{k}, shared"],
    ["#", "# after a lone hash {k}"],
    ["# :tags: only,{k}"],
    [],
    ["# caf\u00e9 \u2014 {k}", "#   :owner:   ", "# :Owner: not the marker"],
]

FUNCTION_DECORATORS = [
    '@online(owner="team", tags={{"a": 1, "b": [2], 3: 3, **{{}}}}, n=2)',
    "@tolva_offline",
    '@stream(environment=["x"], resolves={{"k\\u00e9y": 1, "a" "b": 2, \'q\': (lambda: 0), "k\\u00e9y": 4}}, when={{}})',
    "@online()",
    '@tolva_offline(max_staleness="1d", cron=None, \u00e9t\u00e9={{"\u00e9": 1}})',
]


def line_start(data, offset):
    index = max(data.rfind(b"\n", 0, offset), data.rfind(b"\r", 0, offset))
    return index + 1


def is_field(statement):
    if isinstance(statement, ast.Assign):
        return len(statement.targets) == 1 and isinstance(statement.targets[0], ast.Name)
    return isinstance(statement, ast.AnnAssign) and isinstance(statement.target, ast.Name)


def field_comments(source, cls, newline):
    """Comment blocks above the fields of a class body that begin a line."""
    data = source.data
    out = []
    for number, statement in enumerate(s for s in cls.body if is_field(s)):
        offset = source.start(statement)
        start = line_start(data, offset)
        indent = data[start:offset]
        if not re.fullmatch(rb"[ \t\f]*", indent):
            continue
        block = FIELD_COMMENTS[number % len(FIELD_COMMENTS)]
        text = "".join(indent.decode("ascii") + line.format(k=number) + newline for line in block)
        if text:
            out.append((start, 2, text))
    return out


def decorate(text):
    source = reference.Source(text)
    tree = ast.parse(source.parsed_text)
    statements = reference.Statements(source)
    data = source.data
    newline = "\r\n" if "\r\n" in text else "\n"
    insertions = []  # (offset of a line start, order, text)

    # The imports.
    leading = 0
    for index, statement in enumerate(tree.body):
        docstring = (index == 0 and isinstance(statement, ast.Expr) and isinstance(statement.value, ast.Constant)
                     and isinstance(statement.value.value, str))
        future = isinstance(statement, ast.ImportFrom) and statement.module == "__future__"
        if not (docstring or future):
            break
        leading = index + 1
    imports = "".join(line + newline for line in IMPORTS)
    if leading:
        end = source.end(tree.body[leading - 1])
        match = re.compile(rb"\r\n|\r|\n").search(data, end)
        if match:
            insertions.append((match.end(), 0, imports))
        else:
            insertions.append((len(data), 0, newline + imports))
    elif tree.body:
        insertions.append((line_start(data, statements.start(tree.body[0])), 0, imports))
    else:
        insertions.append((len(data), 0, (newline if data and not data.endswith((b"\n", b"\r")) else "") + imports))

    classes = functions = 0
    for statement in reference.walk(tree.body):
        if isinstance(statement, ast.ClassDef):
            template = CLASS_DECORATORS[classes % len(CLASS_DECORATORS)]
            classes += 1
            k = classes
        elif isinstance(statement, reference.FUNCTION_DEFINITIONS):
            template = FUNCTION_DECORATORS[functions % len(FUNCTION_DECORATORS)]
            functions += 1
            k = functions
        else:
            continue
        start = line_start(data, statements.start(statement))
        indent = re.match(rb"[ \t\f]*", data[start:]).group(0).decode("ascii")
        insertions.append((start, 1, indent + template.format(k=k) + newline))
        if isinstance(statement, ast.ClassDef):
            insertions.extend(field_comments(source, statement, newline))

    out = []
    cursor = 0
    for offset, _, inserted in sorted(insertions, key=lambda item: (item[0], item[1])):
        out.append(data[cursor:offset].decode("utf-8"))
        out.append(inserted)
        cursor = offset
    out.append(data[cursor:].decode("utf-8"))
    return "".join(out)


def rewrite(text, form):
    text = text.replace("\r\n", "\n")
    if form == "crlf":
        return text.replace("\n", "\r\n")
    if form == "cr":
        return text.replace("\n", "\r")
    if form == "bom":
        return reference.BOM + text.lstrip(reference.BOM).replace("\n", "\r\n")
    if form == "tabs":
        return re.sub(r"(?m)^(?: {4})+", lambda m: "\t" * (len(m.group(0)) // 4), text)
    raise ValueError(f"unknown form {form!r}")


def main():
    warnings.simplefilter("ignore")
    sys.setrecursionlimit(max(sys.getrecursionlimit(), 20000))
    for item in json.load(sys.stdin):
        source_path, target_path = item[:2]
        result = {"source": source_path}
        try:
            with open(source_path, "rb") as file:
                text = file.read().decode("utf-8")
            decorated = decorate(text)
            if len(item) > 2:
                decorated = rewrite(decorated, item[2])
            compile(decorated[1:] if decorated.startswith(reference.BOM) else decorated, target_path, "exec",
                    dont_inherit=True)
        except Exception as error:  # noqa: BLE001 - every reason is reported
            result["skipped"] = f"{type(error).__name__}: {error}"
        else:
            os.makedirs(os.path.dirname(target_path), exist_ok=True)
            with open(target_path, "wb") as file:
                file.write(decorated.encode("utf-8"))
            result["ok"] = True
        sys.stdout.write(json.dumps(result) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
