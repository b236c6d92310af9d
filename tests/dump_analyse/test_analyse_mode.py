"""The analyse mode of tolva-dump: the shape of its JSON lines, the order of
keys, the byte order of map keys, URIs, error lines and exit status.

Usage: test_analyse_mode.py TOLVA_DUMP
"""

import json
import os
import subprocess
import sys
import tempfile
import unittest
import urllib.parse

DUMP = None

RESOLVER_KEYS = [
    "module", "resolver_name", "resolver_name_location", "decorator_location", "kwarg_names", "kwargs",
    "kwarg_dict_key_names", "kwarg_dict_values", "args_in_order", "args", "return_annotation",
    "missing_return_annotation", "return_statements", "body", "return_arg",
]
ARG_KEYS = ["arg_name", "arg_location", "annotation"]
CLASS_KEYS = [
    "module", "namespace", "class_name", "source", "class_name_location", "class_definition_location",
    "decorator_location", "kwarg_names", "kwargs", "fields", "annotations",
]
FIELD_KEYS = [
    "field_name", "field_name_location", "comment", "description", "owner", "tags", "annotation",
    "feature_call", "kwarg_names", "kwargs",
]

SOURCE = """\
from tolva.features import features
from tolva import online

@features
class Account:
    # Balance.
    # :tags: a, b
    balance: int = feature(\u00e9t\u00e9=1, B=2, a=3, b=4)
    count = "a\tb\u0085c"

@online(tags={"z": 1, "\u00e9": 2, "Z": 3})
def resolve(x, *rest, **kw):
    return x

def plain() -> int:
    pass
""".encode("utf-8")


def run(*args, cwd=None):
    completed = subprocess.run([DUMP, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=cwd)
    return completed.returncode, completed.stdout.decode("utf-8"), completed.stderr.decode("utf-8")


def location(value):
    return value is None or (isinstance(value, list) and len(value) == 4 and all(isinstance(n, int) for n in value))


class AnalyseMode(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory(prefix="analyse_mode_")
        self.addCleanup(self.scratch.cleanup)
        self.root = os.path.join(self.scratch.name, "zo\u00eb", "proj[1]")
        os.makedirs(os.path.join(self.root, "pkg"))

    def write(self, relative, data):
        path = os.path.join(self.root, relative)
        with open(path, "wb") as file:
            file.write(data)
        return path

    def assert_byte_ordered_object(self, value, check):
        self.assertIsInstance(value, dict)
        keys = list(value)
        self.assertEqual(keys, sorted(keys, key=lambda k: k.encode("utf-8")))
        for item in value.values():
            check(item)

    def check_location_map(self, value):
        self.assert_byte_ordered_object(value, lambda item: self.assertTrue(location(item), item))

    def check_resolver(self, record):
        self.assertEqual(list(record), RESOLVER_KEYS)
        for key in ["resolver_name_location", "decorator_location", "return_annotation", "missing_return_annotation",
                    "body", "return_arg"]:
            self.assertTrue(location(record[key]), (key, record[key]))
        self.assertIsNotNone(record["resolver_name_location"])
        self.check_location_map(record["kwarg_names"])
        self.check_location_map(record["kwargs"])
        self.assert_byte_ordered_object(record["kwarg_dict_key_names"], self.check_location_map)
        self.assert_byte_ordered_object(record["kwarg_dict_values"], self.check_location_map)
        self.assertTrue(all(isinstance(n, str) for n in record["args_in_order"]))
        self.assert_byte_ordered_object(record["args"], lambda arg: self.assertEqual(list(arg), ARG_KEYS))
        self.assertTrue(all(location(l) and l is not None for l in record["return_statements"]))

    def check_field(self, field):
        self.assertEqual(list(field), FIELD_KEYS)
        self.assertTrue(location(field["field_name_location"]) and field["field_name_location"] is not None)
        for key in ["comment", "description", "owner"]:
            self.assertTrue(field[key] is None or isinstance(field[key], str))
        self.check_location_map(field["kwarg_names"])
        self.check_location_map(field["kwargs"])

    def test_records(self):
        path = self.write("pkg/feat.py", SOURCE)
        status, out, err = run("analyse", self.root, path)
        self.assertEqual(status, 0, err)
        lines = out.splitlines()
        self.assertEqual(len(lines), 1)
        record = json.loads(lines[0])
        self.assertEqual(list(record), ["path", "module", "uri", "feature_classes", "functions", "resolvers"])
        self.assertEqual(record["path"], path)
        self.assertEqual(record["module"], "pkg.feat")
        # Every byte a URI path may not hold as itself is percent-encoded.
        self.assertEqual(record["uri"], "file://" + urllib.parse.quote(path, safe="/-._~!$&'()*+,;=:@"))

        self.assertEqual([f["resolver_name"] for f in record["functions"]], ["resolve", "plain"])
        for function in record["functions"]:
            self.check_resolver(function)
        self.assertEqual(record["resolvers"], [record["functions"][0]])
        resolve = record["functions"][0]
        self.assertEqual(list(resolve["kwarg_dict_key_names"]["tags"]), ["Z", "z", "\u00e9"])
        self.assertEqual(record["functions"][1]["decorator_location"], None)
        self.assertEqual(record["functions"][1]["missing_return_annotation"], None)
        self.assertEqual(record["functions"][1]["return_arg"], None)

        [klass] = record["feature_classes"]
        self.assertEqual(list(klass), CLASS_KEYS)
        self.assertEqual(klass["namespace"], "account")
        self.assert_byte_ordered_object(klass["fields"], self.check_field)
        for field in klass["annotations"]:
            self.check_field(field)
        balance = klass["fields"]["balance"]
        self.assertEqual(list(balance["kwargs"]), ["B", "a", "b", "\u00e9t\u00e9"])
        self.assertEqual(balance["tags"], ["a", "b"])
        self.assertEqual(balance["comment"], "Balance.\n:tags: a, b")
        # Control characters are \u escapes in the line itself.
        self.assertIn("\\u0009", lines[0])
        self.assertIn("\\u0085", lines[0])
        self.assertIn("a\tb\u0085c", klass["source"])

    def test_failures_and_order(self):
        good = self.write("pkg/good.py", b"def f():\n    return 1\n")
        bad = self.write("pkg/bad.py", b"x = (")
        missing = os.path.join(self.root, "pkg", "missing.py")
        not_utf8 = self.write("pkg/latin.py", b"x = '\xe9'\n")
        status, out, err = run("analyse", self.root, bad, good, missing, not_utf8)
        self.assertEqual(status, 0, err)
        lines = [json.loads(line) for line in out.splitlines()]
        self.assertEqual([l["path"] for l in lines], [bad, good, missing, not_utf8])
        self.assertEqual(lines[0], {"path": bad, "module": "pkg.bad",
                                    "error": f"Failed to parse {bad}: unexpected EOF while parsing at byte range 5..5"})
        self.assertEqual(lines[1]["functions"][0]["return_arg"], [1, 11, 1, 12])
        self.assertEqual(list(lines[2]), ["path", "module", "error"])
        self.assertTrue(lines[2]["error"].startswith(f"Failed to read {missing}: "), lines[2]["error"])
        self.assertTrue(lines[3]["error"].startswith(f"Failed to read {not_utf8}: "), lines[3]["error"])

    def test_relative_paths(self):
        # Read and located against the working directory; named as the path joined
        # to ROOT.
        self.write("pkg/rel.py", b"def g(): pass\n")
        status, out, err = run("analyse", "/elsewhere", "pkg/rel.py", cwd=self.root)
        self.assertEqual(status, 0, err)
        record = json.loads(out)
        self.assertEqual(record["module"], "pkg.rel")
        real = os.path.realpath(os.path.join(self.root, "pkg", "rel.py"))
        self.assertEqual(record["uri"], "file://" + urllib.parse.quote(real, safe="/-._~!$&'()*+,;=:@"))
        self.assertEqual([f["resolver_name"] for f in record["functions"]], ["g"])

    def test_usage(self):
        status, _, _ = run("analyse")
        self.assertEqual(status, 2)


if __name__ == "__main__":
    DUMP = os.path.abspath(sys.argv.pop(1))
    unittest.main()
