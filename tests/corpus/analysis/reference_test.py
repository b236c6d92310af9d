"""Checks of reference.py itself, on the fixtures and on its pure functions,
against values worked out by hand from the rules of the analysis (not from
any output of the system under test).

Usage: reference_test.py PYTHON     runs the checks under PYTHON (3.11 and
                                    later); exit 77 (skip) when it is missing
"""

import json
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
FIXTURES = os.path.join(HERE, "fixtures")
SKIP = 77


def analyse(name):
    import reference
    path = os.path.join(FIXTURES, name)
    result = reference.analyse(path, FIXTURES)
    assert "reference_error" not in result, result.get("traceback")
    return result


def text_lines(name):
    with open(os.path.join(FIXTURES, name), "rb") as file:
        data = file.read().decode("utf-8")
    if data.startswith("\ufeff"):
        data = data[1:]
    return data.replace("\r\n", "\n").replace("\r", "\n").split("\n")


def find(name, line_text, needle, occurrence=0):
    """The location of `needle` on the first line that contains `line_text`
    (zero-based line, characters)."""
    for number, line in enumerate(text_lines(name)):
        if line_text in line:
            column = -1
            for _ in range(occurrence + 1):
                column = line.index(needle, column + 1)
            return [number, column, number, column + len(needle)]
    raise AssertionError(f"{line_text!r} not in {name}")


def by_name(records, key):
    return {r[key]: r for r in records}


class Checks:
    def __init__(self):
        self.failures = []
        self.count = 0

    def equal(self, what, actual, expected):
        self.count += 1
        if actual != expected:
            self.failures.append(f"{what}:\n    got      {actual!r}\n    expected {expected!r}")


def pure_functions(check):
    import reference as r
    for path, root, expected in [
        ("/p/pkg/m.py", "/p", "pkg.m"), ("/p/pkg/__init__.py", "/p", "pkg"), ("/p/m.py", "/p", "m"),
        ("/p/a/b/c.py", "/p", "a.b.c"), ("/p/pkg/x.tar.py", "/p", "pkg.x.tar"),
        ("/p/pkg/data.json", "/p", "pkg.data.json"), ("/p/pkg/M.PY", "/p", "pkg.M.PY"),
        ("/p/a.py/b.py", "/p", "a.b"), ("/p/pkg/../m.py", "/p", "pkg.m"), ("/p/__init__.py", "/p", "__init__"),
        ("/p", "/p", "p"), ("/q/x.py", "/p", "x"), ("/p2/x.py", "/p", "x"), ("/x/y.py", "", "x.y"),
        ("/p//a/./b.py", "/p/", "a.b"), ("/p/.py", "/p", ""), ("/", "/p", "/"), ("/p/a/..", "/q", "/p/a/.."),
        ("/q/.hidden", "/p", ".hidden"), ("/q/x.", "/p", "x"),
    ]:
        check.equal(f"module_name_for_absolute_path({path!r}, {root!r})",
                    r.module_name_for_absolute_path(path, root), expected)
    check.equal("relative path joined to the root", r.module_name_for_path("pkg/m.py", "/p"), "pkg.m")
    check.equal("relative path, root with a slash", r.absolute_form("m.py", "/p/"), "/p/m.py")

    for path, expected in [
        ("/home/u/my proj/a.py", "file:///home/u/my%20proj/a.py"),
        ("/p/./x/../a.py", "file:///p/./x/../a.py"),
        ("/p/a%41.py", "file:///p/a%41.py"),
        ("/p/a%zz.py", None), ("/p/a%4", None),
        ("/p/caf\u00e9/a.py", None), ("/p/[x]/a.py", None), ("/p/a|b.py", None),
        ("/p/a?q/b.py", "file:///p/a?q/b.py"), ("/p/a#f#g.py", None), ("/p/a#f?g.py", "file:///p/a#f?g.py"),
        ("/p/a:b@c!$&'()*+,;=~-_.py", "file:///p/a:b@c!$&'()*+,;=~-_.py"),
    ]:
        check.equal(f"strict_file_uri({path!r})", r.strict_file_uri(path), expected)
    for path, expected in [
        ("/home/u/my proj/a.py", "file:///home/u/my%20proj/a.py"),
        ("/p/caf\u00e9 [x]/a%41?#.py", "file:///p/caf%C3%A9%20%5Bx%5D/a%2541%3F%23.py"),
        ("/p/a\\b.py", "file:///p/a/b.py"),
        ("/p/a:b@c!$&'()*+,;=~-_.py", "file:///p/a:b@c!$&'()*+,;=~-_.py"),
        ("/p/\x01\x7f|^`{}<>\"", "file:///p/%01%7F%7C%5E%60%7B%7D%3C%3E%22"),
    ]:
        check.equal(f"encoded_file_uri({path!r})", r.encoded_file_uri(path), expected)
    check.equal("missing relative path", r.encoded_file_uri("no/such/file.py"), None)

    for name, expected in [
        ("FeatureClass", "feature_class"), ("XMLParser", "xml_parser"), ("getXML", "get_xml"),
        ("FooBARBaz", "foo_bar_baz"), ("Feature2Class", "feature2_class"), ("TestV2", "test_v2"),
        ("A1B", "a1_b"), ("aB1C", "a_b1_c"), ("ABC", "abc"), ("User_Features", "user_features"),
        ("snake_Case", "snake_case"), ("Foo__Bar", "foo__bar"), ("__Private", "__private"),
        ("already_snake", "already_snake"), ("\u00c4Bc", "\u00e4_bc"), ("My Feature", "my _feature"), ("", ""),
    ]:
        check.equal(f"to_snake_case({name!r})", r.to_snake_case(name), expected)

    check.equal("trim keeps U+001C", r.trim("\x1c a \u3000"), "\x1c a")
    check.equal("tags split at white space", r.split_white_space(" a\u2003b  c "), ["a", "b", "c"])


def feature_fixture(check):
    name = "features.py"
    result = analyse(name)
    classes = result["feature_classes"]
    check.equal("feature classes and namespaces", [(c["class_name"], c["namespace"]) for c in classes], [
        ("UserAccount", "fraud"), ("FStringName", "f_string_name"), ("ConcatenatedName", "concatenated_name"),
        ("PlainDecorator", "plain_decorator"), ("EmptyCall", "empty_call"), ("EmptyNamespace", ""),
        ("SecondDecorator", "second_decorator")])
    account = classes[0]
    check.equal("class name", account["class_name_location"], find(name, "class UserAccount", "UserAccount"))
    check.equal("definition line", account["class_definition_location"], [7, 0, 7, len("class UserAccount:")])
    check.equal("decorator without @", account["decorator_location"],
                [6, 1, 6, len('@features(name="fraud", owner="risk")')])
    check.equal("decorator keyword names", account["kwarg_names"],
                {"name": find(name, '@features(name="fraud"', "name"),
                 "owner": find(name, '@features(name="fraud"', "owner")})
    check.equal("decorator keyword values", account["kwargs"]["owner"],
                find(name, '@features(name="fraud"', '"risk"'))
    fields = account["fields"]
    check.equal("field names", sorted(fields), sorted(
        ["amount", "balance", "helper", "count", "tagged", "described", "empty_owner", "mixed", "trailing",
         "twice"]))
    amount = fields["amount"]
    check.equal("three comments", [amount[k] for k in ("comment", "description", "owner", "tags")], [
        "Amount in cents.\n:owner: ops-team\n:tags: pii, billing", "Amount in cents.", "ops-team",
        ["pii", "billing"]])
    check.equal("field call", amount["feature_call"], [11, 18, 11, 18 + len('feature(max_staleness="1h", version=2)')])
    check.equal("field keyword", amount["kwarg_names"]["version"], find(name, "amount:", "version"))
    for field, expected in [
        ("balance", None), ("helper", None), ("count", "belongs to count, not to the line above"),
        ("tagged", ":tags: only  tags,here"), ("described", "\ntext after a lone hash"),
        ("empty_owner", ":owner:"), ("mixed", ":Owner: not an owner line\n:tags:a,b"), ("twice", "first"),
    ]:
        check.equal(f"{field} comment", fields[field]["comment"], expected)
    check.equal("tags only", (fields["tagged"]["description"], fields["tagged"]["tags"]),
                (None, ["only", "tags", "here"]))
    check.equal("description after a lone hash", fields["described"]["description"], "\ntext after a lone hash")
    check.equal("lone hash last", (fields["trailing"]["comment"], fields["trailing"]["description"]),
                ("a lone hash last\n", "a lone hash last"))
    check.equal("empty owner", (fields["empty_owner"]["owner"], fields["empty_owner"]["description"]), ("", None))
    check.equal("owner in other case", (fields["mixed"]["owner"], fields["mixed"]["description"],
                                        fields["mixed"]["tags"]), (None, ":Owner: not an owner line", ["a", "b"]))
    check.equal("annotated plain value", fields["mixed"]["feature_call"], None)
    twice = fields["twice"]
    check.equal("annotated then assigned", (twice["field_name_location"], twice["annotation"], twice["feature_call"],
                                            sorted(twice["kwarg_names"])),
                (find(name, "twice: int", "twice"), find(name, "twice: int", "int"),
                 find(name, "twice = other", "other(b=2, **extra)"), ["b"]))
    check.equal("annotations list", [(a["field_name"], sorted(a["kwarg_names"])) for a in account["annotations"]], [
        ("amount", ["max_staleness", "version"]), ("balance", []), ("tagged", []), ("described", []),
        ("empty_owner", []), ("mixed", []), ("trailing", []), ("twice", ["a"])])
    check.equal("source starts at the decorator", account["source"].split("\n")[:2],
                ['@features(name="fraud", owner="risk")', "class UserAccount:"])
    check.equal("source ends after the last statement's line", account["source"].endswith("return inside\n"), True)
    plain = by_name(classes, "class_name")["PlainDecorator"]
    check.equal("plain assignment call", plain["fields"]["value"]["feature_call"], find(name, "value = compute", "compute()"))
    check.equal("name decorator has no keywords", (plain["kwarg_names"], plain["kwargs"]), ({}, {}))
    empty = by_name(classes, "class_name")["EmptyNamespace"]
    check.equal("string annotation", empty["fields"]["value"]["annotation"], find(name, 'value: "int"', '"int"'))
    check.equal("functions without resolvers", ([f["resolver_name"] for f in result["functions"]], result["resolvers"]),
                (["method"], []))


def function_fixture(check):
    name = "functions.py"
    result = analyse(name)
    functions = result["functions"]
    check.equal("walk order", [f["resolver_name"] for f in functions], [
        "attribute_form", "aliased", "plain_name_not_imported", "first_match_wins", "dict_keys", "coroutine",
        "missing_annotation", "inner", "method", "bare_then_value", "spaced", "star_comment", "uses"])
    check.equal("resolvers", [f["resolver_name"] for f in result["resolvers"]],
                ["aliased", "first_match_wins", "dict_keys", "coroutine"])
    f = by_name(functions, "resolver_name")
    aliased = f["aliased"]
    check.equal("parameter order", aliased["args_in_order"], ["a", "b", "c", "d", "e"])
    check.equal("variadic starts at its star", aliased["args"]["c"]["arg_location"], find(name, "def aliased", "*c"))
    check.equal("double star", aliased["args"]["e"]["arg_location"], find(name, "def aliased", "**e"))
    check.equal("return annotation", (aliased["return_annotation"], aliased["missing_return_annotation"]),
                (find(name, "def aliased", "int"), None))
    check.equal("return arg", aliased["return_arg"], find(name, "    return a", "a"))
    first = f["first_match_wins"]
    check.equal("first matching decorator", (first["decorator_location"], first["kwarg_names"]),
                ([find(name, '@offline(owner="second")', "@")[0] - 1, 1, find(name, '@offline(owner="second")', "@")[0] - 1, 3], {}))
    check.equal("annotated default", first["args"]["x"]["arg_location"], find(name, "def first_match_wins", "x: int"))
    check.equal("bare return", (first["return_arg"], len(first["return_statements"])), (None, 1))
    keys = f["dict_keys"]
    check.equal("keywords of the decorator", sorted(keys["kwarg_names"]), ["env", "owner", "plain", "tags"])
    check.equal("dict key names", {k: sorted(v) for k, v in keys["kwarg_dict_key_names"].items()}, {"tags": ["a", "b"]})
    check.equal("dict values", keys["kwarg_dict_values"]["tags"]["b"], find(name, "@stream", "[2]"))
    check.equal("dict key", keys["kwarg_dict_key_names"]["tags"]["a"], find(name, "@stream", '"a"'))
    check.equal("returns in if", len(keys["return_statements"]), 2)
    coroutine = f["coroutine"]
    check.equal("async def", (coroutine["decorator_location"] is not None, coroutine["args_in_order"]),
                (True, ["args", "kwargs"]))
    check.equal("return in async with", coroutine["return_statements"],
                [find(name, "return await c", "return await c")])
    missing = f["missing_annotation"]
    check.equal("colon after a continuation", missing["missing_return_annotation"], find(name, "        :", ":"))
    check.equal("nested returns in walk order", missing["return_statements"], [
        find(name, "return 3", "return 3"), find(name, "return self", "return self"),
        find(name, "    return inner", "return inner")])
    check.equal("own return arg only", missing["return_arg"], find(name, "    return inner", "inner"))
    check.equal("body", missing["body"], [find(name, "def inner", "def")[0], 4] + find(name, "    return inner", "inner")[2:])
    check.equal("bare then value", (f["bare_then_value"]["return_arg"], len(f["bare_then_value"]["return_statements"])),
                (None, 2))
    spaced = f["spaced"]
    check.equal("name with spaces around", spaced["resolver_name_location"], find(name, "def   spaced", "spaced"))
    check.equal("colon after spaces", spaced["missing_return_annotation"], find(name, "def   spaced", ":"))
    star = f["star_comment"]
    start = find(name, "def star_comment", "*")
    check.equal("star, comment, name", star["args"]["args"]["arg_location"], start[:2] + find(name, "  args, **", "args")[2:])
    check.equal("double star on its own line", star["args"]["kw"]["arg_location"],
                find(name, "  args, **", "**")[:2] + find(name, "kw): pass", "kw")[2:])
    check.equal("no decorator", (f["uses"]["decorator_location"], f["uses"]["kwarg_names"]), (None, {}))


def small_fixtures(check):
    crlf = analyse("crlf.py")
    inner = crlf["feature_classes"][0]
    check.equal("definition line keeps the CR", inner["class_definition_location"], [5, 0, 5, len("    class Inner:\r")])
    check.equal("CR LF source, dedented", inner["source"].split("\r\n")[:3],
                ['@features(name="crlf")', "class Inner:", "    # Described"])
    check.equal("CR LF comment", (inner["fields"]["value"]["description"], inner["fields"]["value"]["owner"]),
                ("Described", "me"))
    check.equal("CR LF blank line", "\r\n\r\n    other = 2\r\n" in inner["source"], True)

    bom = analyse("bom.py")
    check.equal("name after the mark", bom["functions"][0]["resolver_name_location"], [0, 4, 0, 9])
    check.equal("return value on line 1", bom["functions"][0]["return_arg"], [0, 21, 0, 22])
    b = bom["feature_classes"][0]
    check.equal("one-line class", (b["class_definition_location"], b["fields"]["x"]["feature_call"]),
                ([3, 0, 3, len("class B: x: int = 1")], None))

    lone = analyse("lone_cr.py")
    check.equal("lone CR lines", lone["functions"][0]["resolver_name_location"], [2, 4, 2, 5])
    check.equal("lone CR comment", lone["feature_classes"][0]["fields"]["x"]["comment"], "doc")
    check.equal("lone CR definition line", lone["feature_classes"][0]["class_definition_location"],
                [5, 0, 5, len("class C:")])
    check.equal("lone CR source", lone["feature_classes"][0]["source"], "@features\rclass C:\r    # doc\r    x: int\r")

    uni = analyse("tabs_unicode.py")
    fn = uni["functions"][0]
    check.equal("normalised names", fn["args_in_order"], ["\u540d\u524d", "\u00e9", "a"])
    check.equal("four-byte parameter", fn["args"]["a"]["arg_location"], [3, 16, 3, 19])
    cls = uni["feature_classes"][0]
    check.equal("non-ASCII namespace and keywords", (cls["namespace"], sorted(cls["kwarg_names"])),
                ("\u00e9t\u00e9", ["name", "n\u00e9"]))
    champ = cls["fields"]["champ"]
    check.equal("non-ASCII comment", (champ["description"], champ["owner"], champ["tags"]),
                ("Caf\u00e9 \u2014 \u00e9l\u00e8ve", "\u00e9quipe", ["\u00e9t\u00e9", "hiver"]))
    check.equal("normalised keyword name is not found", sorted(champ["kwarg_names"]), ["\u00e9"])
    check.equal("tabs dedented", cls["source"].split("\n")[:3],
                ['@features(name="\u00e9t\u00e9", n\u00e9=1)', "class Cl\u00e0sse:", "\t# Caf\u00e9 \u2014 \u00e9l\u00e8ve"])
    check.equal("blank line and deeper comment", "\n\n\t\t# indented further\n" in cls["source"], True)
    r = uni["functions"][1]
    check.equal("decoded dict keys", sorted(r["kwarg_dict_key_names"]["t"]),
                sorted(["\u00e9", "\u00e9\u00b0", "\ufffd"]))

    eof = analyse("eof_class.py")["feature_classes"][0]
    check.equal("form feed line stops the common indentation; no line break at the end", eof["source"],
                "    @features\r\n    class F:\r\n        a: int = 1\r\n\r\n\x0c        b: int = 2\r\n\r\n"
                "        # last\r\n        c = 3")

    compound = analyse("compound.py")
    f = by_name(compound["functions"], "resolver_name")
    check.equal("decorated first statement", f["decorated_first"]["body"][:2], [4, 4])
    check.equal("semicolons end no statement", f["decorated_first"]["return_statements"],
                [find("compound.py", "return inner;", "return inner")])
    check.equal("returns of every compound statement", len(f["loops"]["return_statements"]), 9)
    semis = compound["feature_classes"][0]
    check.equal("fields beside each other", sorted(semis["fields"]), ["a", "b", "c"])
    check.equal("class ends at its last statement", semis["source"].endswith("if a: d = 4;\n"), True)
    one = compound["feature_classes"][1]
    check.equal("one-line class source", one["source"], '@features(name="x")\nclass OneLine: a: int = 1; b = 2\n')


def edge_fixture(check):
    name = "edge_cases.py"
    result = analyse(name)
    classes = by_name(result["feature_classes"], "class_name")
    check.equal("comment between decorator and class", classes["Between"]["fields"]["x"]["comment"],
                "between the decorator and the class")
    base = classes["Base"]
    check.equal("decoded namespace", base["namespace"], "multi\tline")
    field = base["fields"]["field"]
    check.equal("normalised field name, written width", field["field_name_location"], [20, 4, 20, 8])
    check.equal("owner replaced, tags gathered", (field["description"], field["owner"], field["tags"]),
                ("two hashes", "second", ["a", "b", "c", "d"]))
    check.equal("comment closing a method", base["fields"]["after_method"]["comment"],
                "the end of a method, directly above a field")
    check.equal("form feeds", base["fields"]["fed"]["comment"], "after a form feed line\nform feed before the hash")
    check.equal("nested classes are not fields", sorted(base["fields"]), ["after_method", "fed", "field", "last"])
    check.equal("source ends with the trailing comment",
                base["source"].endswith("    last = (\n        1)   # trailing comment is part of the source\n"), True)
    check.equal("bytes name", classes["InIf"]["namespace"], "in_if")
    check.equal("common indentation by character", classes["Mixed"]["source"],
                '@features(name=r"\\d+")\nclass Mixed:\n    a: int\n  # a comment indented less\n    b = """\n'
                ' text in a string\n"""\n')
    check.equal("comments of an inner class reach the outer's fields",
                (classes["Outer"]["fields"]["b"]["comment"], classes["Inner"]["fields"]["a"]["comment"]),
                ("the last line of the inner class", None))
    functions = by_name(result["functions"], "resolver_name")
    check.equal("call of a call", functions["call_of_call"]["decorator_location"], None)
    check.equal("parenthesized name", functions["parenthesized"]["decorator_location"],
                find(name, "@(online)", "online"))
    check.equal("later key replaces", functions["dup_keys"]["kwarg_dict_key_names"],
                {"t": {"\\n": find(name, "@stream", 'r"\\n"'), "k": find(name, "@stream", '"k"', 1)}})
    check.equal("not resolvers", [f["resolver_name"] for f in result["resolvers"]], ["parenthesized", "dup_keys"])


def import_fixture(check):
    result = analyse("wrong_imports.py")
    check.equal("no feature classes from these imports", result["feature_classes"], [])
    check.equal("only the aliased stream", [f["resolver_name"] for f in result["resolvers"]], ["aliased_stream_is_one"])


def inner_main():
    sys.path.insert(0, HERE)
    check = Checks()
    for group in (pure_functions, feature_fixture, function_fixture, small_fixtures, edge_fixture, import_fixture):
        try:
            group(check)
        except Exception as error:  # noqa: BLE001 - a broken group is one failure
            import traceback
            check.failures.append(f"{group.__name__} raised: {traceback.format_exc()}")
    if sys.version_info >= (3, 12):
        result = analyse("type_params.py")
        get = by_name(result["functions"], "resolver_name")["get"]
        check.equal("type parameters before the parameters", get["missing_return_annotation"],
                    find("type_params.py", "def get[U]", ":", 1))
    for failure in check.failures:
        print("FAIL", failure)
    print(f"{check.count - len(check.failures)} passed, {len(check.failures)} failed")
    return 1 if check.failures else 0


def main():
    if len(sys.argv) == 2 and sys.argv[1] == "--inner":
        return inner_main()
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    python = sys.argv[1]
    sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    import oracles

    missing = oracles.interpreter_missing(python)
    if missing:
        return oracles.unavailable(missing)
    return subprocess.run([python, "-W", "ignore", os.path.abspath(__file__), "--inner"]).returncode


if __name__ == "__main__":
    sys.exit(main())
