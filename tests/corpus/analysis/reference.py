"""The reference side of the analysis differential: project analysis in plain
Python, on the running interpreter's `ast` and `tokenize`.

Run by each interpreter under test (3.11 and later), so that the library it
analyses is parsed by its own grammar.

  reference.py analyse ROOT FILE...   one JSON line per FILE, in order
  reference.py analyse ROOT -          the same, FILEs from standard input as
                                       a JSON list

The lines have the shape of `tolva-dump analyse`:
  {"path", "module", "uri", "feature_classes", "functions", "resolvers"}
  {"path", "module", "error"}          the file could not be read (the text
                                       is the parse cache's)
  {"path", "module", "rejected"}       the interpreter's parser refuses the
                                       file: nothing to compare
  {"path", "module", "reference_error"} the reference itself failed

How it works: every position the interpreter gives (line, UTF-8 byte column)
becomes a byte offset of the file as read; the searches of the analysis
(the def's name, the ":" that ends a header, the star of a variadic
parameter, keyword names, comments, the "@" of the first decorator) run on
those bytes and on the interpreter's tokens; offsets become zero-based lines
and characters at the end. Nothing here comes from the system under test.
"""

import ast
import bisect
import copy
import io
import json
import os
import re
import sys
import tokenize

BOM = "\ufeff"
BOM_BYTES = b"\xef\xbb\xbf"

# Unicode White_Space (str.isspace would add U+001C..U+001F, which are not).
WHITE_SPACE = frozenset(
    "\t\n\x0b\x0c\r \x85\xa0\u1680" + "".join(chr(c) for c in range(0x2000, 0x200B))
    + "\u2028\u2029\u202f\u205f\u3000")
WHITE_SPACE_RUN = re.compile("[" + "".join(sorted(WHITE_SPACE)).replace("\\", "") + "]+")
LINE_BREAK = re.compile(rb"\r\n|\r|\n")


def line_start(data, offset):
    """The start of the line of `offset`: after the last line break before it."""
    return max(data.rfind(b"\n", 0, offset), data.rfind(b"\r", 0, offset)) + 1


SURROGATE = re.compile("[\ud800-\udfff]")

RESOLVER_DECORATOR_MODULES = ("tolva", "tolva.features")
RESOLVER_DECORATOR_SYMBOLS = ("online", "offline", "stream")
FEATURE_DECORATOR_MODULES = ("tolva.features",)
FEATURE_DECORATOR_SYMBOLS = ("features",)

SIGNIFICANT_SKIPPED = (tokenize.NL, tokenize.COMMENT)


def trim(text):
    start, end = 0, len(text)
    while start < end and text[start] in WHITE_SPACE:
        start += 1
    while end > start and text[end - 1] in WHITE_SPACE:
        end -= 1
    return text[start:end]


def split_white_space(text):
    return [piece for piece in WHITE_SPACE_RUN.split(text) if piece]


def text_lines(text):
    """Lines split at "\n", a "\r" before it removed, no empty line after a
    final "\n" (nor any line for the empty text)."""
    lines = text.split("\n")
    if lines[-1] == "":
        lines.pop()
    return [line[:-1] if line.endswith("\r") else line for line in lines]


def decoded(value):
    """A str constant as this system's UTF-8 text holds it: lone surrogates
    cannot be held and read as U+FFFD."""
    return SURROGATE.sub("\ufffd", value)


# ---------------------------------------------------------------------------
# Module names from paths.

def components(path):
    """The components of a path as a path library sees them: a leading root,
    repeated separators and "." components dropped except a leading "."."""
    out = []
    if path.startswith("/"):
        out.append("/")
    parts = path.split("/")
    for index, part in enumerate(parts):
        if part == "":
            continue
        if part == ".":
            if index == 0:
                out.append(".")
            continue
        out.append(part)
    return out


def file_stem(path):
    comps = components(path)
    if not comps:
        return None
    name = comps[-1]
    if name in ("/", ".", ".."):
        return None
    before, dot, after = name.rpartition(".")
    if not dot:
        return name
    if before == "":
        return name
    return before


def module_name_for_absolute_path(path, root):
    path_comps = components(path)
    root_comps = components(root)
    if path_comps[:len(root_comps)] == root_comps:
        parts = []
        for comp in path_comps[len(root_comps):]:
            if comp in ("/", ".", ".."):
                continue
            if comp == "__init__.py":
                continue
            if comp.endswith(".py"):
                parts.append(comp[:-3])
            else:
                parts.append(comp)
        if parts:
            return ".".join(parts)
    stem = file_stem(path)
    return stem if stem is not None else path


def absolute_form(path, root):
    if path.startswith("/"):
        return path
    if root == "" or root.endswith("/"):
        return root + path
    return root + "/" + path


def module_name_for_path(path, root):
    return module_name_for_absolute_path(absolute_form(path, root), root)


# ---------------------------------------------------------------------------
# File URIs: "file://" and the absolute path ("\\" read as "/"). The strict
# form escapes spaces only and is checked against the URI grammar (RFC 3986),
# a text the grammar refuses giving no location; the form in use escapes what
# the grammar cannot hold (differences "percent-encoded-uris").

URI_UNRESERVED = set("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~")
URI_PCHAR = URI_UNRESERVED | set("!$&'()*+,;=:@")
HEX = set("0123456789abcdefABCDEF")


def uri_part_valid(text, allowed):
    i = 0
    while i < len(text):
        c = text[i]
        if c == "%":
            if len(text) < i + 3 or text[i + 1] not in HEX or text[i + 2] not in HEX:
                return False
            i += 3
            continue
        if c not in allowed:
            return False
        i += 1
    return True


def absolute_path(path):
    """A path that begins with "/" as it is; any other resolved to its
    canonical absolute form (the file must exist), or None."""
    if path.startswith("/"):
        return path
    try:
        return os.path.realpath(path, strict=True)
    except (OSError, ValueError):
        return None


def uri_path(path):
    """The absolute path with "/" separators and a leading "/", the path of
    a file URI before any escaping; None when it cannot be resolved."""
    path = absolute_path(path)
    if path is None:
        return None
    text = path.replace("\\", "/")
    return text if text.startswith("/") else "/" + text


def strict_file_uri(path):
    """The URI text with only spaces escaped, or None when the URI grammar
    refuses it."""
    text = uri_path(path)
    if text is None:
        return None
    text = text.replace(" ", "%20")
    # After "file://" the authority is empty (the text goes on with "/"),
    # then the path, an optional "?" query and an optional "#" fragment.
    rest, fragment = text, None
    if "#" in rest:
        rest, fragment = rest.split("#", 1)
    query = None
    if "?" in rest:
        rest, query = rest.split("?", 1)
    if not uri_part_valid(rest, URI_PCHAR | {"/"}):
        return None
    if query is not None and not uri_part_valid(query, URI_PCHAR | {"/", "?"}):
        return None
    if fragment is not None and not uri_part_valid(fragment, URI_PCHAR | {"/", "?"}):
        return None
    return "file://" + text


def encoded_file_uri(path):
    """The URI text with every byte that cannot stand in a URI path
    percent-encoded (differences "percent-encoded-uris"); None only when a
    relative path cannot be resolved."""
    text = uri_path(path)
    if text is None:
        return None
    allowed = {ord(c) for c in URI_PCHAR | {"/"}}
    encoded = "".join(chr(b) if b in allowed else f"%{b:02X}" for b in text.encode("utf-8", "surrogateescape"))
    return "file://" + encoded


file_uri = encoded_file_uri


# ---------------------------------------------------------------------------
# snake_case (three replacements, then lower case).

SNAKE_SUB_1 = re.compile(r"(.)([A-Z][a-z]+)")
SNAKE_SUB_2 = re.compile(r"__([A-Z])")
SNAKE_SUB_3 = re.compile(r"([a-z0-9])([A-Z])")


def to_snake_case(name):
    text = SNAKE_SUB_1.sub(r"\1_\2", name)
    text = SNAKE_SUB_2.sub(r"_\1", text)
    text = SNAKE_SUB_3.sub(r"\1_\2", text)
    return text.lower()


# ---------------------------------------------------------------------------
# One file's text: byte offsets, the interpreter's positions, tokens.

class Source:
    def __init__(self, text):
        self.text = text
        self.data = text.encode("utf-8")
        self.bom = text.startswith(BOM)
        # Line breaks "\n", "\r\n" and a lone "\r", for this system's lines
        # and for the interpreter's alike.
        self.line_starts = [0] + [m.end() for m in LINE_BREAK.finditer(self.data)]
        # The interpreter parses the text without its mark; its columns on
        # line 1 then start after it.
        self.parsed_text = text[1:] if self.bom else text
        self._tokens = None

    # -- interpreter positions -> offsets

    def offset(self, line, column):
        base = self.line_starts[line - 1]
        if line == 1 and self.bom:
            base += len(BOM_BYTES)
        return base + column

    def start(self, node):
        return self.offset(node.lineno, node.col_offset)

    def end(self, node):
        return self.offset(node.end_lineno, node.end_col_offset)

    def range(self, node):
        return (self.start(node), self.end(node))

    # -- offsets -> positions

    def position(self, offset):
        row = bisect.bisect_right(self.line_starts, offset) - 1
        line_start = self.line_starts[row]
        characters = len(self.data[line_start:offset].decode("utf-8"))
        if row == 0 and self.bom:
            characters = max(characters - 1, 0)
        return row, characters

    def location(self, start, end):
        a, b = self.position(start)
        c, d = self.position(end)
        return [a, b, c, d]

    def line_of(self, offset):
        """One-based line."""
        return bisect.bisect_right(self.line_starts, offset)

    # -- tokens

    def tokens(self):
        """The interpreter's tokens as (type, string, start, end) in byte
        offsets. The tokenizer reads lines split at "\\n" only; a lone "\\r"
        is handed to it as "\\n" (one byte either way, so offsets hold) to
        keep its lines those of the parser."""
        if self._tokens is not None:
            return self._tokens
        text = re.sub("\r(?!\n)", "\n", self.parsed_text)
        lines = re.findall(r"[^\n]*\n|[^\n]+$", text)
        starts = []
        offset = len(BOM_BYTES) if self.bom else 0
        for line in lines:
            starts.append(offset)
            offset += len(line.encode("utf-8"))
        starts.append(offset)
        lines.append("")

        def to_offset(row, column):
            if row - 1 >= len(starts):
                return len(self.data)
            return starts[row - 1] + len(lines[row - 1][:column].encode("utf-8"))

        out = []
        readline = io.StringIO(text).readline
        for token in tokenize.generate_tokens(readline):
            if token.type in (tokenize.ENDMARKER, tokenize.DEDENT):
                continue
            out.append((token.type, token.string, to_offset(*token.start), to_offset(*token.end)))
        self._tokens = out
        self.token_at = {token[2]: i for i, token in reversed(list(enumerate(out)))}
        return out

    def next_significant(self, index):
        tokens = self.tokens()
        index += 1
        while index < len(tokens) and tokens[index][0] in SIGNIFICANT_SKIPPED:
            index += 1
        return index

    def previous_significant(self, index):
        tokens = self.tokens()
        index -= 1
        while index >= 0 and tokens[index][0] in SIGNIFICANT_SKIPPED:
            index -= 1
        return index

    def index_at(self, offset):
        self.tokens()
        return self.token_at[offset]

    def comments(self):
        """Comment ranges: from the "#" to the end of its line, the line break
        excluded."""
        out = []
        for kind, _, start, _ in self.tokens():
            if kind == tokenize.COMMENT:
                end = start
                while end < len(self.data) and self.data[end] not in b"\r\n":
                    end += 1
                out.append((start, end))
        return out

    def is_own_line(self, offset):
        start = offset
        while start > 0 and self.data[start - 1] not in b"\r\n":
            start -= 1
        if start == 0 and self.data.startswith(BOM_BYTES):
            start = len(BOM_BYTES)
        return all(c in b" \t\x0c" for c in self.data[start:offset])


# ---------------------------------------------------------------------------
# Statements: the walk and this system's statement ranges.

FUNCTION_DEFINITIONS = (ast.FunctionDef, ast.AsyncFunctionDef)
DEFINITIONS = FUNCTION_DEFINITIONS + (ast.ClassDef,)
TRY_STATEMENTS = tuple(t for t in (getattr(ast, "Try", None), getattr(ast, "TryStar", None)) if t)


def statement_lists(statement):
    if isinstance(statement, DEFINITIONS + (ast.With, ast.AsyncWith)):
        return [statement.body]
    if isinstance(statement, (ast.For, ast.AsyncFor, ast.While, ast.If)):
        # An elif is an If in orelse: offered as a statement, then walked;
        # the definitions and returns come in the same order.
        return [statement.body, statement.orelse]
    if isinstance(statement, ast.Match):
        return [case.body for case in statement.cases]
    if isinstance(statement, TRY_STATEMENTS):
        return [statement.body] + [h.body for h in statement.handlers] + [statement.orelse, statement.finalbody]
    return []


def walk(statements):
    """Pre-order, depth first: a statement, then the lists it holds."""
    for statement in statements:
        yield statement
        for inner in statement_lists(statement):
            yield from walk(inner)


def last_statement_list(statement):
    for inner in reversed(statement_lists(statement)):
        if inner:
            return inner
    return None


class Statements:
    def __init__(self, source):
        self.source = source

    def start(self, statement):
        """A decorated definition starts at the "@" of its first decorator."""
        if isinstance(statement, DEFINITIONS) and statement.decorator_list:
            return self.at_sign(statement.decorator_list[0])
        return self.source.start(statement)

    def end(self, statement):
        """A compound statement ends with its last statement (the
        interpreter's range may take in a ";" after it)."""
        inner = last_statement_list(statement)
        if inner:
            return self.end(inner[-1])
        return self.source.end(statement)

    def range(self, statement):
        return (self.start(statement), self.end(statement))

    def at_sign(self, decorator):
        source = self.source
        index = source.index_at(source.start(decorator))
        tokens = source.tokens()
        while index >= 0 and not (tokens[index][0] == tokenize.OP and tokens[index][1] == "@"):
            index -= 1
        return tokens[index][2]

    def name_token(self, definition, keyword):
        """The identifier after `def` or `class`."""
        source = self.source
        tokens = source.tokens()
        index = source.index_at(source.start(definition))
        while not (tokens[index][0] == tokenize.NAME and tokens[index][1] == keyword):
            index += 1
        return source.next_significant(index)

    def parameters_end(self, function):
        """The end of the ")" that closes a def's parameter list."""
        source = self.source
        tokens = source.tokens()
        index = source.next_significant(self.name_token(function, "def"))
        for opening, closing in (("[", "]"), ("(", ")")):
            if tokens[index][1] != opening:
                continue
            depth = 0
            while True:
                kind, text = tokens[index][0], tokens[index][1]
                if kind == tokenize.OP and text in "([{":
                    depth += 1
                elif kind == tokenize.OP and text in ")]}":
                    depth -= 1
                    if depth == 0:
                        break
                index += 1
            if opening == "(":
                return tokens[index][3]
            index = source.next_significant(index)
        raise ValueError("no parameter list")

    def parameter_start(self, parameter, variadic):
        source = self.source
        start = source.start(parameter)
        if variadic:
            index = source.previous_significant(source.index_at(start))
            token = source.tokens()[index]
            if token[0] == tokenize.OP and token[1] in ("*", "**"):
                return token[2]
        return start


# ---------------------------------------------------------------------------
# The analysis of one file.

def collect_imports(body):
    imports = {}
    for statement in body:
        if isinstance(statement, ast.ImportFrom) and statement.level == 0 and statement.module:
            names = imports.setdefault(statement.module, {})
            for alias in statement.names:
                names.setdefault(alias.name, set()).add(alias.asname or alias.name)
    return imports


def import_names(imports, modules, symbols):
    out = set()
    for module in modules:
        names = imports.get(module)
        if names is None:
            continue
        for symbol in symbols:
            out |= names.get(symbol, set())
    return out


def matching_decorator(decorators, names):
    for decorator in decorators:
        if isinstance(decorator, ast.Name) and decorator.id in names:
            return decorator
        if isinstance(decorator, ast.Call) and isinstance(decorator.func, ast.Name) and decorator.func.id in names:
            return decorator
    return None


def sorted_map(mapping):
    return {key: mapping[key] for key in sorted(mapping)}


class FileAnalysis:
    def __init__(self, source, tree, module):
        self.source = source
        self.tree = tree
        self.module = module
        self.statements = Statements(source)
        self.imports = collect_imports(tree.body)

    def location(self, start, end):
        return self.source.location(start, end)

    def node_location(self, node):
        return self.source.location(*self.source.range(node))

    def single_part_string(self, node):
        """A str literal made of one part (not an implicit concatenation)."""
        if not (isinstance(node, ast.Constant) and isinstance(node.value, str)):
            return False
        start, end = self.source.range(node)
        count = sum(1 for kind, _, s, _ in self.source.tokens() if kind == tokenize.STRING and start <= s < end)
        return count == 1

    def keyword_location_maps(self, keywords):
        names, values = {}, {}
        data = self.source.data
        for keyword in keywords:
            if keyword.arg is None:
                continue
            s = self.source.start(keyword)
            v = self.source.start(keyword.value)
            if s >= v or v > len(data):
                continue
            needle = keyword.arg.encode("utf-8")
            k = data.find(needle, s, v)
            if k < 0:
                continue
            names[keyword.arg] = self.location(k, k + len(needle))
            values[keyword.arg] = self.node_location(keyword.value)
        return sorted_map(names), sorted_map(values)

    # -- functions

    def function(self, function, resolver_names):
        source, statements = self.source, self.statements
        name_index = statements.name_token(function, "def")
        _, name_text, name_start, name_end = source.tokens()[name_index]
        record = {
            "module": self.module,
            "resolver_name": function.name,
            "resolver_name_location": self.location(name_start, name_end),
            "decorator_location": None,
            "kwarg_names": {},
            "kwargs": {},
            "kwarg_dict_key_names": {},
            "kwarg_dict_values": {},
            "args_in_order": [],
            "args": {},
            "return_annotation": None,
            "missing_return_annotation": None,
            "return_statements": [],
            "body": None,
            "return_arg": None,
        }
        arguments = function.args
        parameters = [(p, False) for p in arguments.posonlyargs + arguments.args]
        if arguments.vararg:
            parameters.append((arguments.vararg, True))
        parameters += [(p, False) for p in arguments.kwonlyargs]
        if arguments.kwarg:
            parameters.append((arguments.kwarg, True))
        args = {}
        for parameter, variadic in parameters:
            start = statements.parameter_start(parameter, variadic)
            args[parameter.arg] = {
                "arg_name": parameter.arg,
                "arg_location": self.location(start, source.end(parameter)),
                "annotation": self.node_location(parameter.annotation) if parameter.annotation else None,
            }
            record["args_in_order"].append(parameter.arg)
        record["args"] = sorted_map(args)

        if function.returns is not None:
            record["return_annotation"] = self.node_location(function.returns)
        else:
            region_start = statements.parameters_end(function)
            region_end = statements.start(function.body[0]) if function.body else statements.end(function)
            if region_start < region_end <= len(source.data):
                colon = source.data.find(b":", region_start, region_end)
                if colon >= 0:
                    record["missing_return_annotation"] = self.location(colon, colon + 1)

        record["return_statements"] = [
            self.location(*statements.range(s)) for s in walk(function.body) if isinstance(s, ast.Return)]
        if function.body:
            record["body"] = self.location(statements.start(function.body[0]), statements.end(function.body[-1]))
        for statement in function.body:
            if isinstance(statement, ast.Return):
                if statement.value is not None:
                    record["return_arg"] = self.node_location(statement.value)
                break

        decorator = matching_decorator(function.decorator_list, resolver_names) if resolver_names else None
        if decorator is not None:
            record["decorator_location"] = self.node_location(decorator)
            if isinstance(decorator, ast.Call):
                record["kwarg_names"], record["kwargs"] = self.keyword_location_maps(decorator.keywords)
                key_names, key_values = {}, {}
                for keyword in decorator.keywords:
                    if keyword.arg is None or not isinstance(keyword.value, ast.Dict):
                        continue
                    names, values = {}, {}
                    for key, value in zip(keyword.value.keys, keyword.value.values):
                        if key is None or not self.single_part_string(key):
                            continue
                        text = decoded(key.value)
                        names[text] = self.node_location(key)
                        values[text] = self.node_location(value)
                    if names:
                        key_names[keyword.arg] = sorted_map(names)
                    if values:
                        key_values[keyword.arg] = sorted_map(values)
                record["kwarg_dict_key_names"] = sorted_map(key_names)
                record["kwarg_dict_values"] = sorted_map(key_values)
        return record

    # -- feature classes

    def comment_metadata(self, block):
        comment = "\n".join(block)
        owner = None
        tags = []
        description_lines = []
        for line in text_lines(comment):
            t = trim(line)
            if len(t.encode("utf-8")) >= 7 and t.startswith(":owner:"):
                owner = trim(t[7:])
            elif len(t.encode("utf-8")) >= 6 and t.startswith(":tags:"):
                tags.extend(split_white_space(t[6:].replace(",", " ")))
            else:
                description_lines.append(line)
        description = "\n".join(description_lines)
        if trim(description) == "":
            description = None
        return {"comment": comment, "description": description, "owner": owner, "tags": tags}

    def feature_class(self, cls, feature_names):
        source, statements = self.source, self.statements
        data = source.data
        name_index = statements.name_token(cls, "class")
        _, _, name_start, name_end = source.tokens()[name_index]
        line_begin = line_start(data, name_start)
        match = LINE_BREAK.search(data, name_start)
        # The line without its break; the "\r" of a "\r\n" stays in it.
        line_end = len(data) if match is None else match.start() + (1 if match.group() == b"\r\n" else 0)

        candidates = []
        for statement in cls.body:
            if isinstance(statement, ast.Assign):
                if len(statement.targets) == 1 and isinstance(statement.targets[0], ast.Name):
                    candidates.append((statement, statement.targets[0]))
            elif isinstance(statement, ast.AnnAssign) and isinstance(statement.target, ast.Name):
                candidates.append((statement, statement.target))

        class_start, class_end = statements.range(cls)
        metadata = {}
        if candidates:
            comments = []
            for start, end in source.comments():
                if start < class_start:
                    continue
                if end > class_end:
                    break
                if source.is_own_line(start):
                    text = trim(data[start:end].decode("utf-8").lstrip("#"))
                    comments.append((text, source.line_of(start)))
            cursor = 0
            for statement, target in candidates:
                line = source.line_of(source.start(statement))
                block = []
                previous_line = None
                while cursor < len(comments) and comments[cursor][1] < line:
                    text, comment_line = comments[cursor]
                    if block and comment_line == previous_line + 1:
                        block.append(text)
                    else:
                        block = [text]
                    previous_line = comment_line
                    cursor += 1
                if block and previous_line == line - 1:
                    metadata[target.id] = self.comment_metadata(block)

        def new_field(name, target):
            meta = metadata.get(name, {"comment": None, "description": None, "owner": None, "tags": []})
            return {
                "field_name": name,
                "field_name_location": self.node_location(target),
                "comment": meta["comment"],
                "description": meta["description"],
                "owner": meta["owner"],
                "tags": list(meta["tags"]),
                "annotation": None,
                "feature_call": None,
                "kwarg_names": {},
                "kwargs": {},
            }, meta

        annotations = []
        for statement, target in candidates:
            if not isinstance(statement, ast.AnnAssign):
                continue
            field, _ = new_field(target.id, target)
            field["annotation"] = self.node_location(statement.annotation)
            if isinstance(statement.value, ast.Call):
                field["feature_call"] = self.node_location(statement.value)
                field["kwarg_names"], field["kwargs"] = self.keyword_location_maps(statement.value.keywords)
            annotations.append(field)

        fields = {}
        for field in annotations:
            if field["field_name"] not in fields:
                fields[field["field_name"]] = copy.deepcopy(field)
        for statement, target in candidates:
            if not isinstance(statement, ast.Assign):
                continue
            field, meta = new_field(target.id, target)
            field["feature_call"] = self.node_location(statement.value)
            if isinstance(statement.value, ast.Call):
                field["kwarg_names"], field["kwargs"] = self.keyword_location_maps(statement.value.keywords)
            entry = fields.setdefault(target.id, field)
            for key in ("comment", "description", "owner"):
                if entry[key] is None:
                    entry[key] = meta[key]
            if not entry["tags"]:
                entry["tags"] = list(meta["tags"])
            entry["feature_call"] = field["feature_call"]
            entry["kwarg_names"] = field["kwarg_names"]
            entry["kwargs"] = field["kwargs"]

        decorator = matching_decorator(cls.decorator_list, feature_names)
        if decorator is None:
            return None
        kwarg_names, kwargs = {}, {}
        namespace = None
        if isinstance(decorator, ast.Call):
            kwarg_names, kwargs = self.keyword_location_maps(decorator.keywords)
            for keyword in decorator.keywords:
                if keyword.arg == "name":
                    if self.single_part_string(keyword.value):
                        namespace = decoded(keyword.value.value)
                    break
        if namespace is None:
            namespace = to_snake_case(cls.name)

        return {
            "module": self.module,
            "namespace": namespace,
            "class_name": cls.name,
            "source": self.class_source(cls),
            "class_name_location": self.location(name_start, name_end),
            "class_definition_location": self.location(line_begin, line_end),
            "decorator_location": self.node_location(decorator),
            "kwarg_names": kwarg_names,
            "kwargs": kwargs,
            "fields": sorted_map(fields),
            "annotations": annotations,
        }

    def class_source(self, cls):
        data = self.source.data
        start, end = self.statements.range(cls)
        start = line_start(data, start)
        match = LINE_BREAK.search(data, end)
        end = len(data) if match is None else match.end()
        text = data[start:end].decode("utf-8")
        lines = re.findall(r"[^\r\n]*(?:\r\n|\r|\n)|[^\r\n]+$", text)

        def split(line):
            if line.endswith("\r\n"):
                return line[:-2], "\r\n"
            if line.endswith(("\n", "\r")):
                return line[:-1], line[-1]
            return line, ""

        def indentation(content):
            return re.match(r"[ \t]*", content).group(0)

        common = None
        for line in lines:
            content, _ = split(line)
            if trim(content) == "":
                continue
            lead = indentation(content)
            if common is None:
                common = lead
            else:
                n = 0
                while n < len(common) and n < len(lead) and common[n] == lead[n]:
                    n += 1
                common = common[:n]
        common = common or ""
        out = []
        for line in lines:
            content, brk = split(line)
            if trim(content) == "":
                out.append(brk)
            elif content.startswith(common):
                out.append(content[len(common):] + brk)
            else:
                out.append(line)
        return "".join(out)

    # -- the file

    def run(self):
        classes, functions = [], []
        for statement in walk(self.tree.body):
            if isinstance(statement, FUNCTION_DEFINITIONS):
                functions.append(statement)
            elif isinstance(statement, ast.ClassDef):
                classes.append(statement)
        resolver_names = import_names(self.imports, RESOLVER_DECORATOR_MODULES, RESOLVER_DECORATOR_SYMBOLS)
        records = [self.function(f, resolver_names) for f in functions]
        feature_classes = []
        feature_names = import_names(self.imports, FEATURE_DECORATOR_MODULES, FEATURE_DECORATOR_SYMBOLS)
        if feature_names:
            for cls in classes:
                record = self.feature_class(cls, feature_names)
                if record is not None:
                    feature_classes.append(record)
        return {
            "feature_classes": feature_classes,
            "functions": records,
            "resolvers": [r for r in records if r["decorator_location"] is not None],
        }


def read_error(path, error):
    return f"Failed to read {path}: {error}"


def analyse(path, root):
    out = {"path": path, "module": module_name_for_path(path, root)}
    if "\0" in path:
        out["error"] = read_error(path, "file name contained an unexpected NUL byte")
        return out
    try:
        with open(path, "rb") as file:
            data = file.read()
    except OSError as error:
        out["error"] = read_error(path, f"{error.strerror} (os error {error.errno})")
        return out
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError:
        out["error"] = read_error(path, "stream did not contain valid UTF-8")
        return out
    source = Source(text)
    try:
        tree = ast.parse(source.parsed_text, filename=path)
    except (SyntaxError, ValueError, RecursionError, MemoryError, OverflowError) as error:
        out["rejected"] = f"{type(error).__name__}: {error}"
        return out
    uri = file_uri(path)
    out["uri"] = uri
    if uri is None:
        out.update({"feature_classes": [], "functions": [], "resolvers": []})
        return out
    try:
        out.update(FileAnalysis(source, tree, out["module"]).run())
    except Exception as error:  # the reference's own failure, reported as such
        import traceback
        out = {"path": path, "module": out["module"], "reference_error": f"{type(error).__name__}: {error}",
               "traceback": traceback.format_exc()}
    return out


def main(argv):
    if len(argv) < 2 or argv[0] != "analyse":
        print(__doc__, file=sys.stderr)
        return 2
    root = argv[1]
    files = argv[2:]
    if files == ["-"]:
        files = json.load(sys.stdin)
    sys.setrecursionlimit(max(sys.getrecursionlimit(), 20000))
    for path in files:
        sys.stdout.write(json.dumps(analyse(path, root), ensure_ascii=False) + "\n")
    sys.stdout.flush()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
