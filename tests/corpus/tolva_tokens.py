"""Runs tolva-dump over batches of files and reads its output back."""

import json
import subprocess


class Token:
    __slots__ = ("kind", "start", "end", "flags", "value")

    def __init__(self, kind, start, end, flags, value):
        self.kind = kind
        self.start = start
        self.end = end
        self.flags = flags
        self.value = value

    def __repr__(self):
        return "%s %d..%d %#05x %r" % (self.kind, self.start, self.end, self.flags, self.value)


class Dump:
    """One file's tokens and lexical errors, as tolva-dump printed them."""

    def __init__(self, path):
        self.path = path
        self.tokens = []
        self.errors = []  # (start, end, text)


def _value(text):
    if not text:
        return None
    if text[0] == '"':
        return json.loads(text)
    return text


def parse_output(output):
    """Parses tolva-dump's output (bytes) into a list of Dump."""
    dumps = []
    current = None
    for line in output.decode("ascii").split("\n"):
        if not line:
            continue
        if line.startswith("file "):
            current = Dump(line[5:])
            dumps.append(current)
            continue
        head, _, rest = line.partition(" ")
        if head == "error":
            start, end, text = rest.split(" ", 2)
            current.errors.append((int(start), int(end), json.loads(text)))
            continue
        parts = rest.split(" ", 3)
        value = _value(parts[3]) if len(parts) > 3 else None
        current.tokens.append(Token(head, int(parts[0]), int(parts[1]), int(parts[2], 16), value))
    return dumps


def run(tool, paths, timeout=600):
    """Runs `tool tokens PATHS...`; returns (exit status, dumps, stderr)."""
    proc = subprocess.run([tool, "tokens", *paths], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
    return proc.returncode, parse_output(proc.stdout), proc.stderr.decode("utf-8", "replace")
