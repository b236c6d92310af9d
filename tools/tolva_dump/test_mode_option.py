"""tolva-dump's --mode option: IPython cells in the tokens, ast and check
modes, module mode by default, and the usage errors of the option.

Usage: test_mode_option.py TOLVA_DUMP
"""

import json
import subprocess
import sys
import unittest

DUMP = None

CELL = b"!ls -l\nx = %time f()\n%%a \\\n b??\nobj.attr[0x10]?\n"


def run(*args, stdin=CELL):
    completed = subprocess.run([DUMP, *args], input=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return completed.returncode, completed.stdout.decode("utf-8"), completed.stderr.decode("utf-8")


class ModeOption(unittest.TestCase):
    def test_tokens_lines_of_escape_commands(self):
        status, out, _ = run("tokens", "--mode", "ipython", "-")
        self.assertEqual(status, 0)
        commands = [line for line in out.splitlines() if line.startswith("IpyEscapeCommand ")]
        self.assertEqual(
            commands,
            [
                'IpyEscapeCommand 0 6 0x000 Exclamation "ls -l"',
                'IpyEscapeCommand 11 20 0x000 Percent "time f()"',
                'IpyEscapeCommand 21 31 0x000 DoubleQuestion "%%a  b"',
            ],
        )
        self.assertIn("Question 46 47 0x000", out)
        self.assertNotIn("\nerror ", out)

    def test_module_mode_is_the_default(self):
        for args in (("tokens", "-"), ("tokens", "--mode", "module", "-"), ("--mode", "module", "tokens", "-")):
            status, out, _ = run(*args)
            self.assertEqual(status, 0, args)
            self.assertNotIn("IpyEscapeCommand", out, args)
            self.assertIn('error 46 47 "Got unexpected token ?"', out, args)

    def test_ast_holds_the_commands(self):
        status, out, _ = run("--mode", "ipython", "ast", "-")
        self.assertEqual(status, 0)
        line = json.loads(out)
        self.assertEqual(line["errors"], [])
        body = line["tree"]["body"]
        self.assertEqual(
            [(s["type"], s.get("value"), s.get("kind")) for s in body if s["type"] == "StmtIpyEscapeCommand"],
            [
                ("StmtIpyEscapeCommand", "ls -l", "Exclamation"),
                ("StmtIpyEscapeCommand", "%%a  b", "DoubleQuestion"),
                ("StmtIpyEscapeCommand", "obj.attr[16]", "Question"),
            ],
        )
        self.assertEqual(body[1]["value"], {"type": "ExprIpyEscapeCommand", "range": [11, 20], "value": "time f()",
                                            "kind": "Percent"})

    def test_check_verdicts(self):
        self.assertEqual(run("check", "--mode", "ipython", "-")[1], "ok -\n")
        self.assertEqual(run("check", "-")[1], "error -: Expected a statement at byte range 0..1\n")
        status, out, _ = run("check", "--mode", "ipython", "-", stdin=b"(a)?\n")
        self.assertEqual(status, 0)
        self.assertEqual(
            out,
            "error -: Help end escape command cannot be applied on a parenthesized expression at byte range 3..4\n",
        )

    def test_usage_errors(self):
        for args in (("tokens", "--mode", "cell", "-"), ("tokens", "--mode"), ("ast", "--mode", "-")):
            status, out, err = run(*args)
            self.assertEqual(status, 2, args)
            self.assertEqual(out, "", args)
            self.assertIn("--mode module|ipython", err, args)
        status, out, _ = run("--help")
        self.assertEqual(status, 0)
        self.assertIn('IpyEscapeCommand      KIND "TEXT"', out)


if __name__ == "__main__":
    DUMP = sys.argv.pop(1)
    unittest.main()
