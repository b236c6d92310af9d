"""The module differential's own rules, on small texts: each normalisation
of CPython's side and each leniency recognises what it names and nothing
else. Run with the test interpreter (any CPython 3.11 or later):
test_normalisations.py [-v]."""

import ast
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.dirname(HERE))
import differences  # noqa: E402
import module_differential as md  # noqa: E402
import reference  # noqa: E402


def cpython_tree(source):
    """The running interpreter's tree in the reference's shape."""
    return reference.generic(ast.parse(source), reference.Offsets(source))


def rejection(source):
    """The reference's record of the running interpreter's refusal."""
    try:
        ast.parse(source)
    except SyntaxError as error:
        return reference.rejection("text", error)
    raise AssertionError(f"{source!r} parses")


def leniency(group, name):
    return next(entry for entry in group if entry.name == name)


class Parameters(unittest.TestCase):
    def test_variadic_parameters_start_at_their_star(self):
        cases = [
            (b"def f(*args): pass\n", "vararg", 6),
            (b"def f(a, **  kw): pass\n", "kwarg", 9),
            (b"def f(\n    *  # the rest\n    args,\n): pass\n", "vararg", 11),
            (b"f = lambda *a, **k: 0\n", "kwarg", 15),
        ]
        for source, field, star in cases:
            tree = cpython_tree(source)
            md.prepare_reference(tree, source, (3, 11))
            node = tree["body"][0]
            node = node["value"] if node["_t"] == "Assign" else node
            self.assertEqual(node["args"][field]["_r"][0], star, source)


class SoleGeneratorArgument(unittest.TestCase):
    def test_the_range_inside_the_call_parentheses(self):
        cases = [
            (b"f(x for x in y)\n", [2, 14]),
            (b"f( x for x in (y) )\n", [3, 17]),
            (b"f(\n  x for x in y if (z)  # last\n)\n", [5, 24]),
            (b"f.g(x for x in y)\n", [4, 16]),
        ]
        for source, expected in cases:
            tree = cpython_tree(source)
            md.prepare_reference(tree, source, (3, 11))
            self.assertEqual(tree["body"][0]["value"]["args"][0]["_r"], expected, source)

    def test_a_parenthesized_generator_keeps_its_range(self):
        source = b"f((x for x in y))\n"
        tree = cpython_tree(source)
        md.prepare_reference(tree, source, (3, 11))
        self.assertEqual(tree["body"][0]["value"]["args"][0]["_r"], [2, 16])


class Strings(unittest.TestCase):
    def test_raw_line_breaks_are_kept(self):
        cases = [
            (b'"""a\r\nb\rc"""', "a\nb\nc", "a\r\nb\rc"),
            (b"'''x\r\n'''  'y'", "x\ny", "x\r\ny"),
            (b'"""a\\\r\nb"""', "ab", "ab"),  # a continuation is no line break
        ]
        for literal, value, kept in cases:
            self.assertEqual(md.literal_with_raw_line_breaks(literal, value), kept, literal)
        self.assertEqual(md.literal_with_raw_line_breaks(b'b"""a\r\nb"""', b"a\nb"), b"a\r\nb")

    def test_raw_line_breaks_in_interpolated_strings(self):
        source = b'x = f"""a\r\n{y:\r}b\r""" "c"\n'
        tree = cpython_tree(source)
        md.prepare_reference(tree, source, (3, 12))
        values = tree["body"][0]["value"]["values"]
        # Prepared str values are texts (lone-surrogates).
        texts = [v["value"][1] for v in values if v["_t"] == "Constant"]
        self.assertEqual(texts, ["a\r\n", "b\rc"])
        spec = values[1]["format_spec"]["values"]
        self.assertEqual([v["value"][1] for v in spec], ["\r"])

    def test_a_capital_u_prefix_reads_as_u(self):
        source = b'x = U"v"\ny = "w"\n'
        tree = cpython_tree(source)
        md.prepare_reference(tree, source, (3, 11))
        self.assertEqual([s["value"]["kind"] for s in tree["body"]], ["u", None])


class Leniencies(unittest.TestCase):
    def test_underscore_names_only_where_cpython_points_at_them(self):
        entry = leniency(differences.ACCEPTED_HERE, "underscore-as-pattern-name")
        refused = "match x:\n    case y as _:\n        pass\n"
        self.assertTrue(entry.matches(refused, rejection(refused)))
        # `except E as _:` is valid; the error lies elsewhere.
        elsewhere = "try:\n    pass\nexcept E as _:\n    pass\nmatch x:\n    case 1 1:\n        pass\n"
        self.assertFalse(entry.matches(elsewhere, rejection(elsewhere)))

    def test_yield_in_a_tuple_only_at_cpythons_error(self):
        entry = leniency(differences.ACCEPTED_HERE, "yield-in-unparenthesized-tuple")
        refused = "def f():\n    x = 1, yield 2\n"
        self.assertTrue(entry.matches(refused, rejection(refused)))
        # The text holds ", yield" elsewhere: on another line, and on the
        # error's line away from its column.
        for elsewhere in ('def f():\n    x = ", yield 1"\n    y = 1 +\n', 'x = ", yield"; y = 1 +\n'):
            self.assertFalse(entry.matches(elsewhere, rejection(elsewhere)), elsewhere)

    def test_class_bases_only_at_the_for(self):
        entry = leniency(differences.ACCEPTED_HERE, "class-bases-as-call-arguments")
        refused = "class C(x for x in L):\n    pass\n"
        self.assertTrue(entry.matches(refused, rejection(refused)))
        elsewhere = 'S = """\nclass C(x for x in L):\n"""\nx = 1 +\n'
        self.assertFalse(entry.matches(elsewhere, rejection(elsewhere)))

    def test_duplicate_keywords_need_compiles_verdict(self):
        entry = leniency(differences.REJECTED_HERE, "duplicate-keyword-argument")
        text = "f(a=1, a=2)\n"
        try:
            compile(text, "text", "exec")
        except SyntaxError as error:
            verdict = reference.rejection("text", error)
        self.assertTrue(entry.matches(text, verdict))
        self.assertFalse(entry.matches(text, {}))
        self.assertFalse(entry.matches("f(a=1, b=2)\n", {"compiled": True}))

    def test_nesting_depth_only_for_generated_deep_texts(self):
        entry = leniency(differences.REJECTED_HERE, "nesting-depth-limit")
        self.assertTrue(entry.matches("x", {}, "generated: not nested 999 deep"))
        self.assertTrue(entry.matches("x", {}, "generated: lambdas nested 3000 deep"))
        self.assertFalse(entry.matches("x", {}, "generated: not nested 500 deep"))
        self.assertFalse(entry.matches("x", {}, "test/test_grammar.py:12 (snippet 4)"))


if __name__ == "__main__":
    unittest.main()
