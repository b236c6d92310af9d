"""The ast and check modes of the parse dump: output format, exit status,
standard input and unreadable files.

Usage: test_dump_modes.py TOLVA_DUMP
"""

import json
import os
import subprocess
import sys
import tempfile
import unittest

DUMP = None

# Source, and the check line after the path: "ok" or ": " and the first
# error's display text.
CHECK_CASES = [
    (b"", "ok"),
    (b"# only a comment\n\n", "ok"),
    (b"match x:\n    case [a, *b]:\n        pass\n", "ok"),
    # Syntax of a later Python is no error.
    (b"def f[T](x: T) -> T: pass\ntype A = int\n", "ok"),
    (b"if x\n    pass\n", ": Expected `:`, found newline at byte range 4..5"),
    (b"f(a=1, a=2)\n", ': Duplicate keyword argument "a" at byte range 7..10'),
    (b"x = (", ": unexpected EOF while parsing at byte range 5..5"),
    (b"f'''abc", ": f-string: unterminated triple-quoted string at byte range 4..7"),
    (b"x = 1 y = 2\n", ": Simple statements must be separated by newlines or semicolons at byte range 6..7"),
]


def run(*args, stdin=b""):
    completed = subprocess.run([DUMP, *args], input=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return completed.returncode, completed.stdout.decode("utf-8"), completed.stderr.decode("utf-8")


class DumpModes(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory(prefix="dump_modes_")
        self.addCleanup(self.scratch.cleanup)

    def write(self, name, data):
        path = os.path.join(self.scratch.name, name)
        with open(path, "wb") as file:
            file.write(data)
        return path

    def test_check_lines_in_order(self):
        paths = [self.write(f"case_{i}.py", source) for i, (source, _) in enumerate(CHECK_CASES)]
        status, out, err = run("check", *paths)
        self.assertEqual(status, 0, err)
        expected = []
        for path, (_, verdict) in zip(paths, CHECK_CASES):
            expected.append(f"ok {path}" if verdict == "ok" else f"error {path}{verdict}")
        self.assertEqual(out.splitlines(), expected)

    def test_ast_record(self):
        source = b"x = f(1)  # note\nif x:\n    pass\n"
        path = self.write("record.py", source)
        status, out, err = run("ast", path)
        self.assertEqual(status, 0, err)
        lines = out.splitlines()
        self.assertEqual(len(lines), 1)
        record = json.loads(lines[0])
        self.assertEqual(list(record), ["path", "tree", "tokens", "errors"])
        self.assertEqual(record["path"], path)
        self.assertEqual(record["tree"]["type"], "ModModule")
        self.assertEqual(record["tree"]["range"], [0, len(source)])
        self.assertEqual([s["type"] for s in record["tree"]["body"]], ["StmtAssignment", "StmtIf"])
        kinds = [kind for kind, _, _ in record["tokens"]]
        self.assertEqual(kinds[:7], ["Name", "Equal", "Name", "Lpar", "Int", "Rpar", "Comment"])
        self.assertNotIn("EndOfFile", kinds)
        self.assertEqual(record["tokens"][0], ["Name", 0, 1])
        self.assertEqual(record["errors"], [])

    def test_ast_errors_are_the_merged_list(self):
        path = self.write("errors.py", b"x = (\ny = 1 +\n")
        status, out, err = run("ast", path)
        self.assertEqual(status, 0, err)
        errors = json.loads(out)["errors"]
        self.assertTrue(errors)
        starts = [start for _, start, _, _ in errors]
        for text, start, end, origin in errors:
            self.assertNotIn(" at byte range ", text)
            self.assertLessEqual(start, end)
            self.assertIn(origin, ("lexer", "parser"))
        # The check line is the first error of that list, displayed.
        _, check, _ = run("check", path)
        text, start, end, _ = errors[0]
        self.assertEqual(check, f"error {path}: {text} at byte range {start}..{end}\n")
        self.assertTrue(all(a != b for a, b in zip(starts, starts[1:])), errors)

    def test_ast_marks_where_each_error_comes_from(self):
        # An unterminated string is the lexer's; the missing `)` the parser's.
        path = self.write("origins.py", b"f(1\nx = 'abc\n")
        status, out, err = run("ast", path)
        self.assertEqual(status, 0, err)
        origins = {text: origin for text, _, _, origin in json.loads(out)["errors"]}
        self.assertEqual(origins.get("missing closing quote in string literal"), "lexer", origins)
        self.assertIn("parser", origins.values(), origins)

    def test_standard_input(self):
        # At the end of the text the missing block is reported at the newline.
        status, out, _ = run("check", "-", stdin=b"if x:\n")
        self.assertEqual(status, 0)
        self.assertEqual(out, "error -: Expected an indented block after `if` statement at byte range 5..6\n")
        status, out, _ = run("ast", "-", stdin=b"pass\n")
        self.assertEqual(status, 0)
        self.assertEqual(json.loads(out)["tree"]["body"][0]["type"], "StmtPass")

    def test_unreadable_file_is_reported_and_the_rest_still_runs(self):
        good = self.write("good.py", b"pass\n")
        missing = os.path.join(self.scratch.name, "missing.py")
        for mode in ("check", "ast"):
            status, out, err = run(mode, missing, good)
            self.assertEqual(status, 1)
            self.assertIn(f"cannot read {missing}", err)
            self.assertEqual(len(out.splitlines()), 1)
            self.assertIn(good, out)
            self.assertNotIn(missing, out)

    def test_any_bytes(self):
        path = self.write("bytes.py", bytes(range(256)) * 3 + b"\xff\xfe(((\n")
        for mode in ("check", "ast"):
            status, out, err = run(mode, path)
            self.assertEqual(status, 0, err)
            self.assertEqual(len(out.splitlines()), 1)

    def test_usage(self):
        status, _, err = run()
        self.assertEqual(status, 2)
        self.assertIn("usage", err)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    DUMP = sys.argv.pop(1)
    unittest.main()
