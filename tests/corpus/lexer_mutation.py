"""Mutation test of the lexer: damaged Python files must lex without a fatal
error and without hanging, and every token must stay inside the text, in
order.

Usage: lexer_mutation.py TOLVA_DUMP [--seed N] [--files N] [--jobs N]

Takes a seeded sample of the .py files of the first standard library found
(the oracle interpreters' libraries, oldest first), makes several mutants of each (truncation at a
random byte, possibly inside a UTF-8 sequence; random byte flips; insertion of
bytes that change the lexer's state: quotes, string prefixes, brackets and
braces, backslashes, tabs, form feeds, carriage returns, NUL, bytes that are
not UTF-8; deletion of a random slice), adds a few hand-made extremes (deep
brackets, deep f-strings, deep indentation, long runs of one byte), and runs
tolva-dump over all of them, many files per process, each process with a
time limit. For every file: exit status 0, the last token is EndOfFile, every
token's range satisfies 0 <= start <= end <= length and starts at or after the
previous token's end, and every error's range lies inside the text.
"""

import argparse
import multiprocessing
import os
import random
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import oracles  # noqa: E402
import tolva_tokens  # noqa: E402

INSERTIONS = [
    b"'", b'"', b"'''", b'"""', b"f'", b'f"', b"rf'", b"t'", b"b'", b"{", b"}", b"{{", b"}}", b"(", b")",
    b"[", b"]", b":", b"!", b"=", b"\\", b"\\\n", b"\t", b" \t", b"\f", b"\r", b"\r\n", b"\n", b"\x00",
    b"#", b"0x", b"1_", b"1e", b".", b"\xff", b"\xc3", b"\xe2\x82", b"\xed\xa0\x80", b"\xf4\x90\x80\x80",
    "é".encode(), "ｉｆ".encode(), b"$", b"?", b"\\N{",
]
EXTREMES = [
    b"(" * 100000,
    b"[" * 50000 + b"]" * 60000,
    b"f'{" * 3000,
    b"f'{x:{" * 2000,
    b"f'''" * 3000,
    b"".join(b" " * i + b"if x:\n" for i in range(0, 3000)),
    b"".join(b"\t" * i + b"x\n" for i in range(0, 500)),
    b"\\" * 10000,
    b"\\\n" * 10000,
    b"'" * 10001,
    b'"""' + b"\\" * 10000,
    b"\x00" * 10000,
    b"\xff" * 10000,
    b"#" * 100000,
    b"1" * 100000,
    b"0x" + b"f" * 100000,
    b"1" * 5000 + b".5e" + b"9" * 5000,
    b"x" * 100000,
    "é".encode() * 30000,
    b"\r" * 10000,
    b"\f" * 10000,
    b"}" * 10000,
    b"f'" + b"{{" * 10000 + b"'",
    b"\xef\xbb\xbf",
    b"\xef\xbb",
    b"",
]


def mutate(data, rng):
    kind = rng.randrange(4)
    if kind == 0 or not data:
        return data[:rng.randrange(len(data) + 1)]
    out = bytearray(data)
    if kind == 1:
        for _ in range(rng.randint(1, 8)):
            out[rng.randrange(len(out))] = rng.randrange(256)
    elif kind == 2:
        for _ in range(rng.randint(1, 6)):
            at = rng.randrange(len(out) + 1)
            out[at:at] = rng.choice(INSERTIONS)
    else:
        start = rng.randrange(len(out))
        del out[start:start + rng.randint(1, 200)]
    return bytes(out)


def check(tool, paths, sizes, timeout):
    try:
        status, dumps, stderr = tolva_tokens.run(tool, paths, timeout=timeout)
    except subprocess.TimeoutExpired:
        return ["a batch from %s did not finish in %d s (hang?)" % (paths[0], timeout)]
    failures = []
    if status != 0:
        failures.append("tolva-dump exit status %d: %s" % (status, stderr.strip()[:500]))
    for dump in dumps:
        size = sizes[dump.path]
        if not dump.tokens or dump.tokens[-1].kind != "EndOfFile":
            failures.append("%s: does not end with EndOfFile" % dump.path)
        previous_end = 0
        for tok in dump.tokens:
            if not (0 <= tok.start <= tok.end <= size):
                failures.append("%s: token %r outside the text of %d bytes" % (dump.path, tok, size))
                break
            if tok.start < previous_end:
                failures.append("%s: token %r starts before the previous end %d" % (dump.path, tok, previous_end))
                break
            previous_end = tok.end
        for start, end, text in dump.errors:
            if not (0 <= start <= end <= size):
                failures.append("%s: error %d..%d %r outside the text" % (dump.path, start, end, text))
                break
    return failures


def run_batch(args):
    tool, paths, sizes, timeout = args
    return check(tool, paths, sizes, timeout)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("tool")
    parser.add_argument("--seed", type=int, default=int(os.environ.get("TOLVA_MUTATION_SEED", "1204")))
    parser.add_argument("--files", type=int, default=400)
    parser.add_argument("--mutants", type=int, default=5)
    parser.add_argument("--jobs", type=int, default=3)
    parser.add_argument("--timeout", type=int, default=120)
    args = parser.parse_args()

    library = next((oracles.stdlib(v) for v in oracles.versions() if oracles.stdlib(v)), None)
    if library is None:
        return oracles.unavailable("no standard library of an oracle interpreter (TOLVA_STDLIB_3_11, ...)")
    sources = []
    for directory, subdirectories, files in os.walk(library):
        subdirectories[:] = sorted(d for d in subdirectories if d != "site-packages")
        sources.extend(os.path.join(directory, f) for f in sorted(files) if f.endswith(".py"))

    rng = random.Random(args.seed)
    sample = rng.sample(sources, min(args.files, len(sources)))
    with tempfile.TemporaryDirectory(prefix="tolva-mutants-") as work:
        paths = []
        sizes = {}

        def write(data):
            path = os.path.join(work, "m%06d.py" % len(paths))
            with open(path, "wb") as f:
                f.write(data)
            paths.append(path)
            sizes[path] = len(data)

        for data in EXTREMES:
            write(data)
        for source in sample:
            with open(source, "rb") as f:
                data = f.read()
            for _ in range(args.mutants):
                write(mutate(data, rng))

        batches = [(args.tool, paths[i:i + 100], sizes, args.timeout) for i in range(0, len(paths), 100)]
        failures = []
        with multiprocessing.Pool(args.jobs) as pool:
            for batch_failures in pool.imap_unordered(run_batch, batches):
                failures.extend(batch_failures)

        print("seed %d: %d mutants of %d files from %s, %d extremes" % (
            args.seed, len(paths) - len(EXTREMES), len(sample), library, len(EXTREMES)))
        if failures:
            print("%d failures:" % len(failures))
            for failure in failures[:40]:
                print("  " + failure)
            keep = os.environ.get("TOLVA_MUTATION_KEEP")
            if keep:
                import shutil
                shutil.copytree(work, keep, dirs_exist_ok=True)
                print("mutants kept in " + keep)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
