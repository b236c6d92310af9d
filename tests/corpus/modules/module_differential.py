"""Differential test of the module parser against CPython's ast.

Usage: module_differential.py DUMP PYTHON [--newest PYTHON] [--jobs N]
                              [--report FILE] [--only TEXT] [--no-snippets]

DUMP is tolva-dump (modes ast and check);
PYTHON an oracle interpreter (tests/corpus/oracles.py), whose own standard library (every .py file,
site-packages excluded) and whose grammar tests' snippets (reference.py
harvest) are the corpus, with generated nesting texts and one fixture per
normalisation that only such texts need (differences.FIXTURES). Each text
is parsed by DUMP and by PYTHON's
ast.parse (reference.py parse, in subprocesses, batch by batch):

  - a text that ast.parse accepts must parse here with no error, unless an
    entry of differences.REJECTED_HERE recognises it (on the text's label or
    on CPython's compile() verdict, reference.py compile), and the two
    trees must be equal once both are in one shape (differences.py lists the
    normalisations: elif chains, async flags, parameter defaults, constant
    values, decorated definitions starting at "@", positions as byte
    offsets, joined strings ...);
  - a text that ast.parse rejects must be rejected here too, unless an entry
    of differences.ACCEPTED_HERE recognises it; one of them, "later-syntax",
    is recognised by the newest interpreter (--newest) accepting the text
    with the same tree; every entry is judged on CPython's side (the line
    and column of its error, its message) and on the text, never on ours;
  - on every text: parse_module's verdict (check mode) agrees with the
    errors of the full parse (ast mode), the first error's text included;
    token ranges lie inside the text and follow each other; error ranges lie
    inside the text and no two consecutive errors start at the same offset
    unless both are the lexer's; node ranges lie inside the text and, on texts without errors, inside
    their parent's range, and the text of every name's range reads as the
    name (ExprName and Identifier).

A mismatch prints the first differing path, the source line there and both
subtrees; failures are then summed up by cause. Exit status 0 when all
agree, 1 otherwise, 77 (skip) when PYTHON is missing.
"""

import argparse
import ast
import collections
import json
import multiprocessing
import os
import re
import subprocess
import sys
import tempfile
import threading
import unicodedata

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.dirname(HERE))
import differences  # noqa: E402
import oracles  # noqa: E402
import reference  # noqa: E402

SKIP = 77
BATCH = 48
REFERENCE = os.path.join(HERE, "reference.py")

if hasattr(sys, "set_int_max_str_digits"):
    sys.set_int_max_str_digits(0)


# ---------------------------------------------------------------------------
# Our tree in CPython's shape.

CONVERSIONS = {"None": -1, "Str": 115, "Repr": 114, "Ascii": 97}
COMMENT = re.compile(r"#[^\r\n]*")


class Unconvertible(Exception):
    pass


class Ours:
    """Turns one dump (python_ast/dump.h) into the shape of reference.py."""

    def __init__(self, source, version):
        self.source = source
        self.version = version
        self.type_params = version >= (3, 12)
        self.type_defaults = version >= (3, 13)

    def list(self, nodes):
        return [self.node(n) for n in nodes]

    def opt(self, node):
        return None if node is None else self.node(node)

    def node(self, n):
        method = getattr(self, "n_" + n["type"], None)
        if method is None:
            raise Unconvertible(f"no CPython counterpart for {n['type']} at {n.get('range')}")
        return method(n)

    @staticmethod
    def ident(identifier):
        return None if identifier is None else identifier["id"]

    # -- roots and statements

    def n_ModModule(self, n):
        return {"_t": "Module", "body": self.list(n["body"]), "type_ignores": []}

    def n_StmtFunctionDefinition(self, n):
        # NORMALISATION async-flags, decorated-definitions
        out = {
            "_t": "AsyncFunctionDef" if n["is_async"] else "FunctionDef",
            "_r": n["range"],
            "name": n["name"]["id"],
            "args": self.arguments(n["parameters"]),
            "body": self.list(n["body"]),
            "decorator_list": [self.node(d["expression"]) for d in n["decorators"]],
            "returns": self.opt(n["returns"]),
        }
        self.add_type_params(out, n["type_params"])
        return out

    def add_type_params(self, out, type_params):
        # NORMALISATION type-params-field
        if self.type_params:
            out["type_params"] = [] if type_params is None else self.list(type_params["type_params"])

    def n_StmtClassDefinition(self, n):
        arguments = n["arguments"]
        out = {
            "_t": "ClassDef",
            "_r": n["range"],
            "name": n["name"]["id"],
            "bases": [] if arguments is None else self.list(arguments["args"]),
            "keywords": [] if arguments is None else self.list(arguments["keywords"]),
            "body": self.list(n["body"]),
            "decorator_list": [self.node(d["expression"]) for d in n["decorators"]],
        }
        self.add_type_params(out, n["type_params"])
        return out

    def n_StmtReturn(self, n):
        return {"_t": "Return", "_r": n["range"], "value": self.opt(n["value"])}

    def n_StmtDelete(self, n):
        return {"_t": "Delete", "_r": n["range"], "targets": self.list(n["targets"])}

    def n_StmtTypeAlias(self, n):
        out = {"_t": "TypeAlias", "_r": n["range"], "name": self.node(n["name"])}
        out["type_params"] = [] if n["type_params"] is None else self.list(n["type_params"]["type_params"])
        out["value"] = self.node(n["value"])
        return out

    def n_StmtAssignment(self, n):
        return {"_t": "Assign", "_r": n["range"], "targets": self.list(n["targets"]), "value": self.node(n["value"])}

    def n_StmtAugmentedAssignment(self, n):
        return {"_t": "AugAssign", "_r": n["range"], "target": self.node(n["target"]), "op": n["op"],
                "value": self.node(n["value"])}

    def n_StmtAnnotatedAssignment(self, n):
        return {"_t": "AnnAssign", "_r": n["range"], "target": self.node(n["target"]),
                "annotation": self.node(n["annotation"]), "value": self.opt(n["value"]),
                "simple": 1 if n["simple"] else 0}

    def n_StmtFor(self, n):
        return {"_t": "AsyncFor" if n["is_async"] else "For", "_r": n["range"], "target": self.node(n["target"]),
                "iter": self.node(n["iter"]), "body": self.list(n["body"]), "orelse": self.list(n["else_body"])}

    def n_StmtWhile(self, n):
        return {"_t": "While", "_r": n["range"], "test": self.node(n["test"]), "body": self.list(n["body"]),
                "orelse": self.list(n["else_body"])}

    def n_StmtIf(self, n):
        # NORMALISATION elif-chains: unfold from the last clause.
        end = n["range"][1]
        orelse = []
        for clause in reversed(n["elif_else_clauses"]):
            if clause["test"] is None:
                orelse = self.list(clause["body"])
            else:
                orelse = [{"_t": "If", "_r": [clause["range"][0], end], "test": self.node(clause["test"]),
                           "body": self.list(clause["body"]), "orelse": orelse}]
        return {"_t": "If", "_r": n["range"], "test": self.node(n["test"]), "body": self.list(n["body"]),
                "orelse": orelse}

    def n_StmtWith(self, n):
        items = [{"_t": "withitem", "context_expr": self.node(i["context_expression"]),
                  "optional_vars": self.opt(i["target"])} for i in n["items"]]
        return {"_t": "AsyncWith" if n["is_async"] else "With", "_r": n["range"], "items": items,
                "body": self.list(n["body"])}

    def n_StmtMatch(self, n):
        cases = [{"_t": "match_case", "pattern": self.node(c["pattern"]), "guard": self.opt(c["guard"]),
                  "body": self.list(c["body"])} for c in n["cases"]]
        return {"_t": "Match", "_r": n["range"], "subject": self.node(n["subject"]), "cases": cases}

    def n_StmtRaise(self, n):
        return {"_t": "Raise", "_r": n["range"], "exc": self.opt(n["exception"]), "cause": self.opt(n["cause"])}

    def n_StmtTry(self, n):
        # NORMALISATION try-star
        return {"_t": "TryStar" if n["is_star"] else "Try", "_r": n["range"], "body": self.list(n["body"]),
                "handlers": self.list(n["handlers"]), "orelse": self.list(n["else_body"]),
                "finalbody": self.list(n["finally_body"])}

    def n_ExceptHandlerExceptHandler(self, n):
        return {"_t": "ExceptHandler", "_r": n["range"], "type": self.opt(n["type_"]), "name": self.ident(n["name"]),
                "body": self.list(n["body"])}

    def n_StmtAssert(self, n):
        return {"_t": "Assert", "_r": n["range"], "test": self.node(n["test"]), "msg": self.opt(n["message"])}

    def n_Alias(self, n):
        return {"_t": "alias", "_r": n["range"], "name": n["name"]["id"], "asname": self.ident(n["as_name"])}

    def n_StmtImport(self, n):
        return {"_t": "Import", "_r": n["range"], "names": self.list(n["names"])}

    def n_StmtFromImport(self, n):
        return {"_t": "ImportFrom", "_r": n["range"], "module": self.ident(n["module"]),
                "names": self.list(n["names"]), "level": n["level"]}

    def n_StmtGlobal(self, n):
        return {"_t": "Global", "_r": n["range"], "names": [i["id"] for i in n["names"]]}

    def n_StmtNonlocal(self, n):
        return {"_t": "Nonlocal", "_r": n["range"], "names": [i["id"] for i in n["names"]]}

    def n_StmtExpression(self, n):
        return {"_t": "Expr", "_r": n["range"], "value": self.node(n["value"])}

    def n_StmtPass(self, n):
        return {"_t": "Pass", "_r": n["range"]}

    def n_StmtBreak(self, n):
        return {"_t": "Break", "_r": n["range"]}

    def n_StmtContinue(self, n):
        return {"_t": "Continue", "_r": n["range"]}

    # -- parameters

    def arg(self, parameter):
        return {"_t": "arg", "_r": parameter["range"], "arg": parameter["name"]["id"],
                "annotation": self.opt(parameter["annotation"])}

    def arguments(self, p):
        # NORMALISATION parameters
        if p is None:
            return {"_t": "arguments", "posonlyargs": [], "args": [], "vararg": None, "kwonlyargs": [],
                    "kw_defaults": [], "kwarg": None, "defaults": []}
        positional = p["positional_only"] + p["positional"]
        return {
            "_t": "arguments",
            "posonlyargs": [self.arg(d["parameter"]) for d in p["positional_only"]],
            "args": [self.arg(d["parameter"]) for d in p["positional"]],
            "vararg": None if p["var_positional"] is None else self.arg(p["var_positional"]),
            "kwonlyargs": [self.arg(d["parameter"]) for d in p["keyword_only"]],
            "kw_defaults": [self.opt(d["default"]) for d in p["keyword_only"]],
            "kwarg": None if p["var_keyword"] is None else self.arg(p["var_keyword"]),
            "defaults": [self.node(d["default"]) for d in positional if d["default"] is not None],
        }

    def n_TypeParamSingle(self, n):
        out = {"_t": "TypeVar", "_r": n["range"], "name": n["name"]["id"], "bound": self.opt(n["bound"])}
        if self.type_defaults:
            out["default_value"] = self.opt(n["default"])
        return out

    def n_TypeParamStar(self, n):
        out = {"_t": "TypeVarTuple", "_r": n["range"], "name": n["name"]["id"]}
        if self.type_defaults:
            out["default_value"] = self.opt(n["default"])
        return out

    def n_TypeParamDoubleStar(self, n):
        out = {"_t": "ParamSpec", "_r": n["range"], "name": n["name"]["id"]}
        if self.type_defaults:
            out["default_value"] = self.opt(n["default"])
        return out

    # -- expressions

    def n_ExprBooleanOperation(self, n):
        return {"_t": "BoolOp", "_r": n["range"], "op": n["op"], "values": self.list(n["values"])}

    def n_ExprAssignment(self, n):
        return {"_t": "NamedExpr", "_r": n["range"], "target": self.node(n["target"]), "value": self.node(n["value"])}

    def n_ExprBinOp(self, n):
        return {"_t": "BinOp", "_r": n["range"], "left": self.node(n["left"]), "op": n["op"],
                "right": self.node(n["right"])}

    def n_ExprUnaryOp(self, n):
        return {"_t": "UnaryOp", "_r": n["range"], "op": n["op"], "operand": self.node(n["operand"])}

    def n_ExprLambda(self, n):
        return {"_t": "Lambda", "_r": n["range"], "args": self.arguments(n["parameters"]), "body": self.node(n["body"])}

    def n_ExprConditional(self, n):
        return {"_t": "IfExp", "_r": n["range"], "test": self.node(n["test"]), "body": self.node(n["body"]),
                "orelse": self.node(n["orelse"])}

    def n_ExprDict(self, n):
        return {"_t": "Dict", "_r": n["range"], "keys": [self.opt(i["key"]) for i in n["items"]],
                "values": [self.node(i["value"]) for i in n["items"]]}

    def n_ExprSet(self, n):
        return {"_t": "Set", "_r": n["range"], "elts": self.list(n["elements"])}

    def n_Comprehension(self, n):
        return {"_t": "comprehension", "target": self.node(n["target"]), "iter": self.node(n["iter"]),
                "ifs": self.list(n["conditions"]), "is_async": 1 if n["is_async"] else 0}

    def n_ExprListComprehension(self, n):
        return {"_t": "ListComp", "_r": n["range"], "elt": self.node(n["element"]),
                "generators": self.list(n["generators"])}

    def n_ExprSetComprehension(self, n):
        return {"_t": "SetComp", "_r": n["range"], "elt": self.node(n["element"]),
                "generators": self.list(n["generators"])}

    def n_ExprDictComprehension(self, n):
        return {"_t": "DictComp", "_r": n["range"], "key": self.node(n["key"]), "value": self.node(n["value"]),
                "generators": self.list(n["generators"])}

    def n_ExprGenerator(self, n):
        return {"_t": "GeneratorExp", "_r": n["range"], "elt": self.node(n["element"]),
                "generators": self.list(n["generators"])}

    def n_ExprAwait(self, n):
        return {"_t": "Await", "_r": n["range"], "value": self.node(n["value"])}

    def n_ExprYield(self, n):
        return {"_t": "Yield", "_r": n["range"], "value": self.opt(n["value"])}

    def n_ExprYieldFrom(self, n):
        return {"_t": "YieldFrom", "_r": n["range"], "value": self.node(n["value"])}

    def n_ExprComparison(self, n):
        return {"_t": "Compare", "_r": n["range"], "left": self.node(n["left"]), "ops": list(n["ops"]),
                "comparators": self.list(n["comparators"])}

    def n_ExprCall(self, n):
        # NORMALISATION call-arguments (CPython's side: prepare_reference).
        arguments = n["arguments"]
        args = self.list(arguments["args"])
        return {"_t": "Call", "_r": n["range"], "func": self.node(n["function"]), "args": args,
                "keywords": self.list(arguments["keywords"])}

    def n_Keyword(self, n):
        return {"_t": "keyword", "_r": n["range"], "arg": self.ident(n["arg"]), "value": self.node(n["value"])}

    def n_ExprNumberLiteral(self, n):
        # NORMALISATION constants
        value = n["value"]
        if value["kind"] == "Int":
            number = value["value"]
            if isinstance(number, str):
                number = int(number, 0)
            tagged = ["int", hex(number)]
        elif value["kind"] == "Float":
            tagged = ["float", as_float(value["value"]).hex()]
        else:
            tagged = ["complex", as_float(value["real"]).hex(), as_float(value["imag"]).hex()]
        return {"_t": "Constant", "_r": n["range"], "value": tagged, "kind": None}

    def n_ExprStringLiteral(self, n):
        parts = n["parts"]
        kind = "u" if parts and "u" in parts[0]["flags"]["prefix"].lower() else None
        return {"_t": "Constant", "_r": n["range"], "value": ["str", n["value"]], "kind": kind}

    def n_ExprBytesLiteral(self, n):
        data = bytes(b for part in n["parts"] for b in part["value"])
        return {"_t": "Constant", "_r": n["range"], "value": ["bytes", data.hex()], "kind": None}

    def n_ExprBooleanLiteral(self, n):
        return {"_t": "Constant", "_r": n["range"], "value": ["bool", n["value"]], "kind": None}

    def n_ExprNoneLiteral(self, n):
        return {"_t": "Constant", "_r": n["range"], "value": ["None"], "kind": None}

    def n_ExprEllipsisLiteral(self, n):
        return {"_t": "Constant", "_r": n["range"], "value": ["Ellipsis"], "kind": None}

    def n_ExprFString(self, n):
        # NORMALISATION joined-strings
        values = []
        for part in n["parts"]:
            if part["type"] == "StringLiteral":
                self.add_text(values, part["value"])
            else:
                for element in part["elements"]:
                    self.element(values, element)
        if self.version < (3, 12):
            # NORMALISATION joined-strings-3.11
            for value in values:
                strip_positions(value)
        return {"_t": "JoinedStr", "_r": n["range"], "values": values}

    @staticmethod
    def add_text(values, text):
        if not text:
            return
        if values and values[-1]["_t"] == "Constant":
            values[-1]["value"] = ["str", values[-1]["value"][1] + text]
        else:
            values.append({"_t": "Constant", "value": ["str", text], "kind": None})

    def element(self, values, element):
        if element["type"] == "InterpolatedStringLiteralElement":
            self.add_text(values, element["value"])
            return
        expression = element["expression"]
        conversion = element["conversion"]
        spec = element["format_spec"]
        debug = element["debug_text"]
        if debug is not None:
            start, end = expression["range"]
            text = self.source[start:end].decode("utf-8", "replace")
            # NORMALISATION debug-text-comments
            leading = COMMENT.sub("", debug["leading"])
            trailing = COMMENT.sub("", debug["trailing"])
            self.add_text(values, leading + text + trailing)
            if conversion == "None" and spec is None:
                conversion = "Repr"
        format_spec = None
        if spec is not None:
            spec_values = []
            for inner in spec["elements"]:
                self.element(spec_values, inner)
            format_spec = {"_t": "JoinedStr", "values": spec_values}
        values.append({"_t": "FormattedValue", "value": self.node(expression),
                       "conversion": CONVERSIONS[conversion], "format_spec": format_spec})

    def n_ExprAttribute(self, n):
        return {"_t": "Attribute", "_r": n["range"], "value": self.node(n["value"]), "attr": n["attribute"]["id"],
                "ctx": n["ctx"]}

    def n_ExprSubscript(self, n):
        return {"_t": "Subscript", "_r": n["range"], "value": self.node(n["value"]), "slice": self.node(n["slice"]),
                "ctx": n["ctx"]}

    def n_ExprStarred(self, n):
        return {"_t": "Starred", "_r": n["range"], "value": self.node(n["value"]), "ctx": n["ctx"]}

    def n_ExprName(self, n):
        return {"_t": "Name", "_r": n["range"], "id": n["id"], "ctx": n["ctx"]}

    def n_ExprList(self, n):
        return {"_t": "List", "_r": n["range"], "elts": self.list(n["elements"]), "ctx": n["ctx"]}

    def n_ExprTuple(self, n):
        return {"_t": "Tuple", "_r": n["range"], "elts": self.list(n["elements"]), "ctx": n["ctx"]}

    def n_ExprSlice(self, n):
        return {"_t": "Slice", "_r": n["range"], "lower": self.opt(n["lower"]), "upper": self.opt(n["upper"]),
                "step": self.opt(n["step"])}

    # -- patterns

    def n_MatchCase(self, n):
        return {"_t": "match_case", "pattern": self.node(n["pattern"]), "guard": self.opt(n["guard"]),
                "body": self.list(n["body"])}

    def n_PatternValue(self, n):
        return {"_t": "MatchValue", "_r": n["range"], "value": self.node(n["value"])}

    def n_PatternSingleton(self, n):
        value = {"None": ["None"], "True": ["bool", True], "False": ["bool", False]}[n["value"]]
        return {"_t": "MatchSingleton", "_r": n["range"], "value": value}

    def n_PatternSequence(self, n):
        return {"_t": "MatchSequence", "_r": n["range"], "patterns": self.list(n["patterns"])}

    def n_PatternMapping(self, n):
        return {"_t": "MatchMapping", "_r": n["range"], "keys": self.list(n["keys"]),
                "patterns": self.list(n["patterns"]), "rest": self.ident(n["rest"])}

    def n_PatternClass(self, n):
        arguments = n["arguments"]
        return {"_t": "MatchClass", "_r": n["range"], "cls": self.node(n["cls"]),
                "patterns": self.list(arguments["patterns"]),
                "kwd_attrs": [k["attribute"]["id"] for k in arguments["keywords"]],
                "kwd_patterns": [self.node(k["pattern"]) for k in arguments["keywords"]]}

    def n_PatternStar(self, n):
        return {"_t": "MatchStar", "_r": n["range"], "name": self.ident(n["name"])}

    def n_PatternAs(self, n):
        return {"_t": "MatchAs", "_r": n["range"], "pattern": self.opt(n["pattern"]), "name": self.ident(n["name"])}

    def n_PatternOr(self, n):
        return {"_t": "MatchOr", "_r": n["range"], "patterns": self.list(n["patterns"])}


def as_float(value):
    """A dumped float: a JSON number, or "inf", "-inf", "nan" as strings."""
    return float(value)


# ---------------------------------------------------------------------------
# CPython's tree, prepared.

SURROGATE = re.compile("[\ud800-\udfff]")
DEFINITIONS = {"FunctionDef", "AsyncFunctionDef", "ClassDef"}
BLANKS = b" \t\f"


def before_semicolon(source, end):
    """NORMALISATION trailing-semicolons: the end of the last token before
    the `;` that ends at `end`."""
    i = end - 2
    while i >= 0:
        byte = source[i]
        if byte in BLANKS:
            i -= 1
        elif byte == 0x0A and i >= 1 and source[i - 1] == 0x5C:
            i -= 2
        elif byte == 0x0A and i >= 2 and source[i - 1] == 0x0D and source[i - 2] == 0x5C:
            i -= 3
        else:
            break
    return i + 1


def prepare_reference(node, source, version):
    """Applies the reference-side normalisations in place."""
    stack = [node]
    while stack:
        node = stack.pop()
        if isinstance(node, list):
            stack.extend(node)
            continue
        if not isinstance(node, dict):
            continue
        # NORMALISATION type-comments
        node.pop("type_comment", None)
        kind = node["_t"]
        has_raw_cr = "_r" in node and 0x0D in source[node["_r"][0]:node["_r"][1]]
        if kind == "JoinedStr" and has_raw_cr:
            # NORMALISATION raw-line-breaks-in-strings (before joined-strings)
            joined_with_raw_line_breaks(node, source[node["_r"][0]:node["_r"][1]])
        if kind == "Constant" and node["value"][0] == "bytes" and has_raw_cr:
            # NORMALISATION raw-line-breaks-in-strings
            data = literal_with_raw_line_breaks(source[node["_r"][0]:node["_r"][1]], bytes.fromhex(node["value"][1]))
            node["value"][1] = data.hex()
        if kind == "Constant" and node["value"][0] == "str":
            # NORMALISATION lone-surrogates
            text = bytes.fromhex(node["value"][1]).decode("utf-8", "surrogatepass")
            if has_raw_cr:
                # NORMALISATION raw-line-breaks-in-strings
                text = literal_with_raw_line_breaks(source[node["_r"][0]:node["_r"][1]], text)
            node["value"][1] = SURROGATE.sub("\ufffd", text)
            if node.get("kind") is None and "_r" in node and source[node["_r"][0]:node["_r"][0] + 1] == b"U":
                # NORMALISATION string-prefix-case
                node["kind"] = "u"
        position = node.get("_r")
        # NORMALISATION trailing-semicolons
        if position is not None and position[1] > 0 and source[position[1] - 1] == 0x3B:
            node["_r"] = position = [position[0], before_semicolon(source, position[1])]
        if kind in DEFINITIONS and node["decorator_list"]:
            # NORMALISATION decorated-definitions: back to the "@".
            i = node["decorator_list"][0]["_r"][0] - 1
            while i >= 0 and source[i] in b" \t\f(":
                i -= 1
            if i >= 0 and source[i] == 0x40:
                node["_r"] = [i, position[1]]
        if kind == "JoinedStr":
            prepare_joined(node, version)
        if kind in ("FunctionDef", "AsyncFunctionDef", "Lambda"):
            # NORMALISATION parameters: a variadic parameter starts at its star.
            for field in ("vararg", "kwarg"):
                parameter = node["args"][field]
                if parameter is not None and "_r" in parameter:
                    parameter["_r"] = [star_before(source, parameter["_r"][0]), parameter["_r"][1]]
        if kind == "Call" and len(node["args"]) == 1 and not node["keywords"]:
            # NORMALISATION call-arguments: a sole generator without its own
            # parentheses gives the call's back.
            # (Positions stripped by joined-strings-3.11 stay absent.)
            only = node["args"][0]
            if only["_t"] == "GeneratorExp" and "_r" in only and "_r" in node["func"] and \
                    source[only["_r"][0]] == 0x28 and \
                    only["_r"][0] == node["func"]["_r"][1] + call_gap(source, node["func"]["_r"][1]):
                only["_r"] = inside_call_parentheses(source, only)
        for value in node.values():
            if isinstance(value, (list, dict)):
                stack.append(value)


RAW_CR = re.compile(rb"(?<!\\)\r")
# ASCII control characters that a literal may hold raw and that stand for a
# raw CR while CPython reads the literal again.
PLACEHOLDERS = [c for c in range(1, 32) if c not in b"\t\n\v\f\r"]


def reread_with_raw_line_breaks(literal, read):
    """NORMALISATION raw-line-breaks-in-strings: `read(text)` applied to the
    source bytes of a literal in which every raw CR (not after a backslash)
    is held by a placeholder character, and a function that turns the
    placeholder in a value back into the CR; None when it cannot be done."""
    placeholder = next((c for c in PLACEHOLDERS if c not in literal), None)
    if placeholder is None:
        return None
    try:
        value = read(RAW_CR.sub(bytes([placeholder]), literal))
    except (ValueError, SyntaxError, UnicodeDecodeError, MemoryError, RecursionError):
        return None

    def restore(kept):
        if isinstance(kept, bytes):
            return kept.replace(bytes([placeholder]), b"\r")
        return kept.replace(chr(placeholder), "\r")

    return value, restore


def literal_with_raw_line_breaks(literal, value):
    """A str or bytes literal's value (source bytes `literal`) with its raw
    CRs kept; `value` when it cannot be read again."""
    found = reread_with_raw_line_breaks(literal, lambda text: ast.literal_eval(ast.parse(b"(" + text + b")", mode="eval")))
    if found is None or type(found[0]) is not type(value):
        return value
    kept, restore = found
    return restore(kept)


def joined_with_raw_line_breaks(node, literal):
    """The literal parts of a JoinedStr (source bytes `literal`, CPython's
    node in the reference's shape) with their raw CRs kept, in place."""
    found = reread_with_raw_line_breaks(literal, lambda text: ast.parse(b"(" + text + b")", mode="eval").body)
    if found is None or not isinstance(found[0], ast.JoinedStr):
        return
    kept, restore = found

    def walk(ours, theirs):
        if len(ours["values"]) != len(theirs.values):
            return
        for mine, again in zip(ours["values"], theirs.values):
            if mine["_t"] == "Constant" and isinstance(again, ast.Constant) and isinstance(again.value, str):
                mine["value"] = ["str", restore(again.value).encode("utf-8", "surrogatepass").hex()]
            elif mine["_t"] == "FormattedValue" and isinstance(again, ast.FormattedValue):
                if mine["format_spec"] is not None and isinstance(again.format_spec, ast.JoinedStr):
                    walk(mine["format_spec"], again.format_spec)

    walk(node, kept)


LAYOUT_BYTES = b" \t\f\r\n"


def skip_layout(source, i, end):
    """The first offset from `i` (below `end`) that is not blank, a line
    break, a line continuation or a comment."""
    while i < end:
        byte = source[i]
        if byte in LAYOUT_BYTES:
            i += 1
        elif byte == 0x5C and i + 1 < end and source[i + 1] in b"\r\n":
            i += 1
        elif byte == 0x23:
            while i < end and source[i] not in b"\r\n":
                i += 1
        else:
            break
    return i


def call_gap(source, end_of_function):
    """The layout between a call's function and its "(" (none is usual)."""
    return skip_layout(source, end_of_function, len(source)) - end_of_function


def inside_call_parentheses(source, generator):
    """The range of a generator that is a call's sole argument, the call's
    parentheses (which CPython's range takes in) left out: from the first
    token after "(" to the end of the last token before ")". Between the
    last clause's end and the ")" stand only layout and closing brackets of
    parenthesized parts."""
    start, end = generator["_r"]
    first = skip_layout(source, start + 1, end)
    last_clause = generator["generators"][-1]
    parts = [last_clause["iter"]] + last_clause["ifs"]
    i = max(part["_r"][1] for part in parts)
    last = i
    while i < end - 1:
        i = skip_layout(source, i, end - 1)
        if i < end - 1 and source[i] == 0x29:
            i += 1
            last = i
        else:
            break
    return [first, last]


def star_before(source, name_start):
    """The offset of the `*` or `**` before a variadic parameter's name; only
    layout stands between them."""
    i = name_start - 1
    while i >= 0:
        byte = source[i]
        if byte in LAYOUT_BYTES or (byte == 0x5C and i + 1 < len(source) and source[i + 1] in b"\r\n"):
            i -= 1
            continue
        if byte == 0x2A:
            return i - 1 if i >= 1 and source[i - 1] == 0x2A else i
        # A comment between the star and the name: back to its line's start.
        line_start = max(source.rfind(b"\n", 0, i), source.rfind(b"\r", 0, i)) + 1
        hash_at = source.find(b"#", line_start, i + 1)
        if hash_at < 0:
            break
        i = hash_at - 1
    return name_start


def prepare_joined(node, version):
    """NORMALISATION joined-strings (CPython's side): no positions for the
    parts, no empty literal parts."""
    node["values"] = [v for v in node["values"] if not (v["_t"] == "Constant" and v["value"] == ["str", ""])]
    for value in node["values"]:
        value.pop("_r", None)
        spec = value.get("format_spec") if value["_t"] == "FormattedValue" else None
        if spec is not None:
            spec.pop("_r", None)
            prepare_joined(spec, version)
    if version < (3, 12):
        for value in node["values"]:
            strip_positions(value)


def strip_positions(node):
    """NORMALISATION joined-strings-3.11: no position inside the tree."""
    stack = [node]
    while stack:
        node = stack.pop()
        if isinstance(node, list):
            stack.extend(node)
        elif isinstance(node, dict):
            node.pop("_r", None)
            stack.extend(v for v in node.values() if isinstance(v, (list, dict)))


# ---------------------------------------------------------------------------
# Comparison.


def first_difference(a, b, path=()):
    """The path to the first difference of two trees, or None."""
    if type(a) is not type(b):
        return path
    if isinstance(a, dict):
        if a.get("_t") != b.get("_t"):
            return path + ("_t",)
        keys = [k for k in a if k not in ("_t", "_r")] + [k for k in b if k not in a and k not in ("_t", "_r")]
        for key in keys:
            if key not in a or key not in b:
                return path + (key,)
            found = first_difference(a[key], b[key], path + (key,))
            if found is not None:
                return found
        if a.get("_r") != b.get("_r"):
            return path + ("_r",)
        return None
    if isinstance(a, list):
        for i, (x, y) in enumerate(zip(a, b)):
            found = first_difference(x, y, path + (i,))
            if found is not None:
                return found
        if len(a) != len(b):
            return path + ("len",)
        return None
    return None if a == b else path


def at(tree, path):
    for step in path:
        if step in ("len", "_t", "_r"):
            break
        tree = tree[step]
    return tree


def path_text(path):
    out = ""
    for step in path:
        out += f"[{step}]" if isinstance(step, int) else f".{step}"
    return out or "(root)"


def cause_of(reference, path):
    """A short name of what differs, for the summary: `Node.field`."""
    node_type = "Module"
    node = reference
    for step in path:
        if isinstance(node, dict) and "_t" in node:
            node_type = node["_t"]
        if step in ("len", "_t", "_r") or not isinstance(node, (dict, list)):
            break
        try:
            node = node[step]
        except (KeyError, IndexError):
            break
    last = next((s for s in reversed(path) if not isinstance(s, int)), "")
    return f"{node_type}.{last}"


def innermost_start(reference, path):
    start = None
    node = reference
    for step in path:
        if isinstance(node, dict) and "_r" in node:
            start = node["_r"][0]
        if step in ("len", "_t", "_r") or not isinstance(node, (dict, list)):
            break
        try:
            node = node[step]
        except (KeyError, IndexError):
            break
    if isinstance(node, dict) and "_r" in node:
        start = node["_r"][0]
    return start


def source_line(source, offset):
    if offset is None:
        return ""
    begin = max(source.rfind(b"\n", 0, offset), source.rfind(b"\r", 0, offset)) + 1
    end = len(source)
    for terminator in (b"\n", b"\r"):
        i = source.find(terminator, offset)
        if i >= 0:
            end = min(end, i)
    line_number = source.count(b"\n", 0, begin) + 1
    return f"line {line_number}: {source[begin:end].decode('utf-8', 'replace')}"


def clip(value, limit=1500):
    text = json.dumps(value, ensure_ascii=False)
    return text if len(text) <= limit else text[:limit] + " ..."


# ---------------------------------------------------------------------------
# Invariants of our dump.

LAYOUT = re.compile(r"[ \t\f]|\\\r?\n|\\\r")


def names_agree(written, name):
    """Whether the source text of a name's range reads as the name: the same
    text, its NFKC form (non-ASCII names), or, for a dotted module name, the
    same once blanks and line continuations are taken out."""
    if written == name:
        return True
    if not written.isascii() and unicodedata.normalize("NFKC", written) == name:
        return True
    stripped = LAYOUT.sub("", written)
    return stripped == name or unicodedata.normalize("NFKC", stripped) == name


def check_invariants(record, source):
    """Problems with the ranges of one dump, as texts."""
    problems = []
    size = len(source)
    previous_end = 0
    for kind, start, end in record["tokens"]:
        if not (0 <= start <= end <= size):
            problems.append(f"token {kind} {start}..{end} outside the text of {size} bytes")
            break
        if start < previous_end:
            problems.append(f"token {kind} {start}..{end} starts before the previous token's end {previous_end}")
            break
        previous_end = end
    previous = None
    for text, start, end, origin in record["errors"]:
        if not (0 <= start <= end <= size):
            problems.append(f"error {text!r} {start}..{end} outside the text of {size} bytes")
        # The parser drops an error that starts where the last one did, and
        # the merge drops a parser error that ties with a lexer one; the
        # lexer itself records every problem it meets.
        if previous is not None and start == previous[1] and "parser" in (origin, previous[3]):
            problems.append(f"two consecutive errors start at {start}: {previous[0]!r} {previous[1]}..{previous[2]}, "
                            f"then {text!r} {start}..{end}")
        previous = (text, start, end, origin)
    check_parents = not record["errors"]
    text_of = None
    if check_parents:
        def text_of(start, end):
            return source[start:end].decode("utf-8", "replace")
    stack = [(record["tree"], None)]
    while stack:
        node, parent = stack.pop()
        if isinstance(node, list):
            stack.extend((item, parent) for item in node)
            continue
        if not isinstance(node, dict):
            continue
        bounds = parent
        if "range" in node:
            start, end = node["range"]
            if not (0 <= start <= end <= size):
                problems.append(f"{node['type']} {start}..{end} outside the text of {size} bytes")
            elif check_parents and parent is not None and not (parent[1] <= start and end <= parent[2]):
                problems.append(f"{node['type']} {start}..{end} outside its parent {parent[0]} {parent[1]}..{parent[2]}")
            elif text_of is not None and node["type"] in ("Identifier", "ExprName"):
                written = text_of(start, end)
                if not names_agree(written, node["id"]):
                    problems.append(f"{node['type']} {node['id']!r} at {start}..{end}, where the text is {written!r}")
            bounds = (node["type"], start, end)
        for key, value in node.items():
            if isinstance(value, (dict, list)) and key not in ("range", "value") or (
                    key == "value" and isinstance(value, dict) and "type" in value):
                stack.append((value, bounds))
    return problems


# ---------------------------------------------------------------------------
# One batch.


class Job:
    def __init__(self, path, label):
        self.path = path
        self.label = label


def run(command, stdin=None):
    completed = subprocess.run(command, input=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return completed.returncode, completed.stdout, completed.stderr


def compile_reference(python, paths):
    """CPython's compile() verdicts by path (reference.py compile)."""
    return finish_reference(python, start_reference(python, paths, "compile"))


def start_reference(python, paths, mode="parse"):
    process = subprocess.Popen([python, REFERENCE, mode], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)
    # A thread feeds and drains it while our side runs.
    result = {}

    def talk():
        result["out"], result["err"] = process.communicate(json.dumps(paths).encode())

    thread = threading.Thread(target=talk)
    thread.start()
    return process, thread, result


def finish_reference(python, pending):
    process, thread, result = pending
    thread.join()
    return read_reference(python, process.returncode, result["out"], result["err"])


def reference_trees(python, paths):
    return finish_reference(python, start_reference(python, paths))


def read_reference(python, status, out, err):
    if status != 0:
        raise RuntimeError(f"{python} reference.py failed ({status}): {err.decode(errors='replace')[-2000:]}")
    records = {}
    for line in out.splitlines():
        record = json.loads(line)
        records[record["path"]] = record
    return records


def our_dumps(dump, paths):
    """Our records and verdicts by path, and the trouble of the runs: the
    standard error of a run that exited with another status than 0 (or 3,
    a fatal error, which the records show), as under a sanitizer's report."""
    status, out, err = run([dump, "ast"] + paths)
    trouble = ""
    if status not in (0, 3):
        trouble += f"ast mode exited with status {status}: {err.decode('utf-8', 'replace')[-3000:]}\n"
    records = {}
    for line in out.splitlines():
        record = json.loads(line)
        records[record["path"]] = record
    status, out, err = run([dump, "check"] + paths)
    if status not in (0, 3):
        trouble += f"check mode exited with status {status}: {err.decode('utf-8', 'replace')[-3000:]}\n"
    verdicts = {}
    for line in out.decode("utf-8", "surrogateescape").splitlines():
        if line.startswith("ok "):
            verdicts[line[3:]] = None
        elif line.startswith("error "):
            path, _, text = line[6:].partition(": ")
            verdicts[path] = text
    return records, verdicts, trouble


class Settings:
    def __init__(self, dump, python, newest, version, newest_version):
        self.dump = dump
        self.python = python
        self.newest = newest
        self.version = version
        self.newest_version = newest_version


def compare_trees(record, reference, source, version):
    """None when the trees agree, else (path, ours, theirs, ref tree)."""
    ours = Ours(source, version).node(record["tree"])
    theirs = reference["tree"]
    prepare_reference(theirs, source, version)
    if theirs == ours:
        return None
    path = first_difference(theirs, ours)
    if path is None:
        return None
    return path, ours, theirs


def describe_mismatch(label, path, ours, theirs, source):
    parent = path[:-1] if path and path[-1] in ("_t", "_r", "len") else path
    # Show the node that holds the difference.
    while parent and not isinstance(at(theirs, parent), dict):
        parent = parent[:-1]
    line = source_line(source, innermost_start(theirs, path))
    try:
        mine = at(ours, parent)
    except (KeyError, IndexError, TypeError):
        mine = "(missing)"
    return (f"MISMATCH {label}\n  path: {path_text(path)}\n  {line}\n"
            f"  cpython: {clip(at(theirs, parent))}\n  ours:    {clip(mine)}")


def process_batch(settings, jobs):
    results = []
    paths = [job.path for job in jobs]
    pending = start_reference(settings.python, paths)
    records, verdicts, trouble = our_dumps(settings.dump, paths)
    references = finish_reference(settings.python, pending)
    later = []
    rejected_here = []
    if trouble:
        results.append((jobs[0].label + " (batch)", "failure", "dump exit status", f"DUMP FAILED on the batch of {jobs[0].label}:\n{trouble}"))
    for job in jobs:
        with open(job.path, "rb") as file:
            source = file.read()
        record = records.get(job.path)
        reference = references[job.path]
        if record is None:
            results.append((job.label, "failure", "no-dump", f"NO DUMP {job.label}"))
            continue
        if "fatal" in record:
            results.append((job.label, "failure", "fatal", f"FATAL {job.label}: {record['fatal']}"))
            continue
        problems = check_invariants(record, source)
        errors = record["errors"]
        verdict = verdicts.get(job.path, "(no verdict)")
        expected = None if not errors else f"{errors[0][0]} at byte range {errors[0][1]}..{errors[0][2]}"
        if verdict != expected:
            problems.append(f"check mode says {verdict!r}, the full parse {expected!r}")
        if problems:
            results.append((job.label, "failure", "invariant", f"INVARIANT {job.label}:\n  " + "\n  ".join(problems)))
            continue
        accepted = "tree" in reference
        if accepted:
            if errors:
                # Judged after the loop, with CPython's compile() verdict.
                rejected_here.append((job, source, errors, expected))
                continue
            if not differences.compared_as_utf8(source):
                results.append((job.label, "skipped", "source-encoding", None))
                continue
            try:
                difference = compare_trees(record, reference, source, settings.version)
            except Unconvertible as error:
                results.append((job.label, "failure", "unconvertible", f"UNCONVERTIBLE {job.label}: {error}"))
                continue
            if difference is None:
                results.append((job.label, "match", None, None))
            else:
                path, ours, theirs = difference
                results.append((job.label, "failure", "mismatch " + cause_of(theirs, path),
                                describe_mismatch(job.label, path, ours, theirs, source)))
            continue
        message = reference["rejected"]
        if errors:
            results.append((job.label, "both-reject", None, None))
            continue
        text = source.decode("utf-8", "replace")
        listed = next((d for d in differences.ACCEPTED_HERE if d.matches(text, reference, job.label)), None)
        if listed is not None:
            results.append((job.label, "lenient", listed.name, None))
            continue
        later.append((job, record, source, message))
    compiled = compile_reference(settings.python, [job.path for job, _, _, _ in rejected_here]) if rejected_here else {}
    for job, source, errors, expected in rejected_here:
        text = source.decode("utf-8", "replace")
        verdict = compiled.get(job.path, {})
        listed = next((d for d in differences.REJECTED_HERE if d.matches(text, verdict, job.label)), None)
        if listed is not None:
            results.append((job.label, "lenient", listed.name, None))
            continue
        line = source_line(source, errors[0][1])
        results.append((job.label, "failure", f"rejected here: {rejection_cause(errors[0][0])}",
                        f"REJECTED HERE {job.label}: {expected}\n  {line}"))
    if later and settings.newest and settings.newest_version > settings.version:
        newer = reference_trees(settings.newest, [job.path for job, _, _, _ in later])
    else:
        newer = {}
    for job, record, source, message in later:
        reference = newer.get(job.path)
        if reference is not None and "tree" in reference and differences.compared_as_utf8(source):
            try:
                same = compare_trees(record, reference, source, settings.newest_version) is None
            except Unconvertible:
                same = False
            if same:
                results.append((job.label, "lenient", "later-syntax", None))
                continue
        line = re.sub(r"\s+", " ", message)[:200]
        results.append((job.label, "failure", f"accepted here: {short_message(message)}",
                        f"ACCEPTED HERE {job.label}: CPython says {line}"))
    return results


def short_message(message):
    """CPython's message without file, line and quoted details, for grouping."""
    text = re.sub(r" \(.*?, line \d+\)$", "", message)
    text = re.sub(r"'[^']*'", "'…'", text)
    text = re.sub(r"\d+", "N", text)
    return text[:100]


def rejection_cause(text):
    text = re.sub(r"\"[^\"]*\"", '"…"', text)
    text = re.sub(r"'[^']*'", "'…'", text)
    return text[:100]


def run_batch(arguments):
    settings, jobs = arguments
    return list(reference.call_on_thread(process_batch, settings, jobs))


def init_worker():
    sys.setrecursionlimit(1_000_000)
    threading.stack_size(512 * 1024 * 1024)
    if hasattr(sys, "set_int_max_str_digits"):
        sys.set_int_max_str_digits(0)


# ---------------------------------------------------------------------------
# Generated texts: nesting at depths around both parsers' limits.

DEPTHS = [50, 99, 100, 101, 199, 200, 201, 500, 999, 1000, 1001, 3000]


def nested_texts():
    """[label, text] pairs: each construct nested to each depth."""
    def block(depth):
        lines = [" " * i + "if x:" for i in range(depth)]
        return "\n".join(lines) + "\n" + " " * depth + "pass\n"

    def fstring(depth):
        text = "x"
        for _ in range(depth):
            text = "f'{" + text + "}'" if depth < 4 else "(" + text + ")"
        return text + "\n"

    constructs = {
        "parentheses": lambda d: "(" * d + "x" + ")" * d + "\n",
        "lists": lambda d: "[" * d + "x" + "]" * d + "\n",
        "unary minus": lambda d: "x = " + "-" * d + "1\n",
        "not": lambda d: "x = " + "not " * d + "y\n",
        "power": lambda d: "x = " + "a ** " * d + "b\n",
        "sum": lambda d: "x = " + "a + " * d + "b\n",
        "attributes": lambda d: "x = a" + ".b" * d + "\n",
        "calls": lambda d: "x = f" + "()" * d + "\n",
        "subscripts": lambda d: "x = " + "a[" * d + "0" + "]" * d + "\n",
        "lambdas": lambda d: "f = " + "lambda: " * d + "0\n",
        "conditionals": lambda d: "x = " + "a if b else " * d + "c\n",
        "blocks": block,
        "f-strings": lambda d: "x = " + "f'{" * min(d, 3) + "y" + "}'" * min(d, 3) + "\n",
    }
    texts = []
    for name, make in constructs.items():
        for depth in DEPTHS:
            texts.append([f"generated: {name} nested {depth} deep", make(depth)])
    del fstring
    return texts


# ---------------------------------------------------------------------------
# Main.


def interpreter_info(python):
    status, out, err = run([python, "-c", "import sys, sysconfig; print(sys.version_info[0], sys.version_info[1]);"
                            "print(sysconfig.get_paths()['stdlib'])"])
    if status != 0:
        raise RuntimeError(err.decode(errors="replace"))
    first, libdir = out.decode().splitlines()[:2]
    major, minor = first.split()
    return (int(major), int(minor)), libdir


def corpus_files(libdir):
    paths = []
    for root, dirs, files in os.walk(libdir):
        dirs[:] = sorted(d for d in dirs if d not in ("site-packages", "__pycache__"))
        paths.extend(os.path.join(root, f) for f in sorted(files) if f.endswith(".py"))
    return paths


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("dump")
    parser.add_argument("python")
    parser.add_argument("--newest", help="the newest interpreter, for syntax of later versions")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--report", help="write every failure in full to this file")
    parser.add_argument("--only", help="only the texts whose label contains this")
    parser.add_argument("--no-snippets", action="store_true")
    parser.add_argument("--no-files", action="store_true")
    parser.add_argument("--details", type=int, default=1, help="failures printed in full per cause")
    args = parser.parse_args()

    missing = oracles.interpreter_missing(args.python)
    if missing:
        return oracles.unavailable(missing)
    if not os.access(args.dump, os.X_OK):
        print(f"error: no dump executable at {args.dump}")
        return 1
    version, libdir = interpreter_info(args.python)
    newest = args.newest if args.newest and not oracles.interpreter_missing(args.newest) else None
    newest_version = interpreter_info(newest)[0] if newest else version
    if args.newest and not newest:
        print(f"note: no newest interpreter at {args.newest}; syntax of later versions is not recognised")
    settings = Settings(args.dump, args.python, newest, version, newest_version)

    jobs = []
    if not args.no_files:
        jobs.extend(Job(p, os.path.relpath(p, libdir)) for p in corpus_files(libdir))
    with tempfile.TemporaryDirectory(prefix="module_differential_") as scratch:
        if not args.no_snippets:
            status, out, err = run([args.python, REFERENCE, "harvest", libdir])
            if status != 0:
                print(f"error: harvest failed: {err.decode(errors='replace')[-2000:]}")
                return 1
            for i, (origin, text) in enumerate(json.loads(out)):
                path = os.path.join(scratch, f"snippet_{i:05d}.py")
                with open(path, "wb") as file:
                    file.write(text.encode("utf-8", "surrogatepass"))
                jobs.append(Job(path, f"{origin} (snippet {i})"))
            for name, text in differences.FIXTURES.items():
                path = os.path.join(scratch, f"fixture_{name}.py")
                with open(path, "wb") as file:
                    file.write(text)
                jobs.append(Job(path, f"fixture: {name}"))
            for i, (label, text) in enumerate(nested_texts()):
                path = os.path.join(scratch, f"generated_{i:05d}.py")
                with open(path, "wb") as file:
                    file.write(text.encode("utf-8"))
                jobs.append(Job(path, label))
        if args.only:
            jobs = [j for j in jobs if args.only in j.label]
        batches = [(settings, jobs[i:i + BATCH]) for i in range(0, len(jobs), BATCH)]
        results = []
        with multiprocessing.Pool(max(1, args.jobs), initializer=init_worker) as pool:
            for batch in pool.imap_unordered(run_batch, batches):
                results.extend(batch)

    return report(results, version, args)


def report(results, version, args):
    counts = collections.Counter(status for _, status, _, _ in results)
    lenient = collections.Counter(cause for _, status, cause, _ in results if status == "lenient")
    skipped = collections.Counter(cause for _, status, cause, _ in results if status == "skipped")
    failures = collections.defaultdict(list)
    for label, status, cause, detail in sorted(results, key=lambda r: r[0]):
        if status == "failure":
            failures[cause].append((label, detail))
    tag = f"{version[0]}.{version[1]}"
    if args.report:
        with open(args.report, "w", encoding="utf-8") as out:
            for cause, items in sorted(failures.items(), key=lambda kv: -len(kv[1])):
                out.write(f"=== {cause}: {len(items)}\n")
                for label, detail in items:
                    out.write(detail + "\n")
            for label, status, cause, _ in sorted(results, key=lambda r: r[0]):
                if status in ("lenient", "skipped"):
                    out.write(f"{status} ({cause}): {label}\n")
    for cause, items in sorted(failures.items(), key=lambda kv: -len(kv[1])):
        print(f"--- {cause}: {len(items)} text(s)")
        for label, detail in items[:args.details]:
            print(detail)
        rest = [label for label, _ in items[args.details:]]
        if rest:
            print("  also: " + ", ".join(rest[:20]) + (f" and {len(rest) - 20} more" if len(rest) > 20 else ""))
    for name, count in sorted(lenient.items()):
        print(f"lenient ({name}): {count}")
    for name, count in sorted(skipped.items()):
        print(f"not compared ({name}): {count}")
    failed = counts["failure"]
    passed = len(results) - failed
    print(f"Python {tag}: {counts['match']} trees equal, {counts['both-reject']} rejected by both, "
          f"{counts['lenient']} documented leniencies, {counts['skipped']} not compared")
    print(f"{tag}: {passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
