"""Damaged copies of a standard library through the module parser.

Usage: module_damaged.py DUMP [LIBRARY] [--jobs N] [--seed S]

Every .py file below LIBRARY (default: this interpreter's standard library,
site-packages excluded) is copied twice with damage: once with about 2 % of
its lines damaged (deleted, cut short, duplicated at another indentation, a
byte dropped, or a fragment that opens, closes or breaks something put in),
once cut off at a random byte. DUMP parses every copy (ast and check modes);
nothing is compared with another parser, but every parse must hold the
invariants that module_differential.py checks: no fatal error, check mode's
verdict equal to the full parse's first error, tokens and errors inside the
text and in order, no two consecutive errors with the same start (unless
both are the lexer's), node ranges inside the text. The damage is seeded: the same seed damages the same
way. Exit status 0 when every parse holds, 1 otherwise.
"""

import argparse
import multiprocessing
import os
import random
import sys
import sysconfig
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import module_differential as differential  # noqa: E402

FRAGMENTS = [
    b"(", b")", b"[", b"]", b"{", b"}", b":", b",", b"=", b'"', b"'", b"'''", b"f'{", b"\\", b"lambda", b"if ",
    b"else", b"*", b"**", b"async ", b"await", b"match ", b"case ", b"@", b"\t", b"   ", b"def ", b"class ",
    b"yield", b":=", b"#", b"\x00", b"\xff", b"\r",
]


def damage_lines(data, rng, rate=0.02):
    out = []
    for line in data.splitlines(keepends=True):
        if rng.random() >= rate:
            out.append(line)
            continue
        at = rng.randrange(len(line)) if line else 0
        how = rng.randrange(5)
        if how == 1:
            out.append(line[:at] + b"\n")
        elif how == 2:
            out.append(line + b" " * rng.randint(1, 3) + line)
        elif how == 3:
            out.append(line[:at] + line[at + 1:])
        elif how == 4:
            out.append(line[:at] + rng.choice(FRAGMENTS) + line[at:])
    return b"".join(out)


def damaged_copies(path, seed, scratch, index):
    with open(path, "rb") as file:
        data = file.read()
    rng = random.Random(seed ^ zlib.crc32(path.encode()))
    lines = os.path.join(scratch, f"damaged_{index:05d}.py")
    cut = os.path.join(scratch, f"cut_{index:05d}.py")
    with open(lines, "wb") as file:
        file.write(damage_lines(data, rng))
    with open(cut, "wb") as file:
        file.write(data[:rng.randrange(len(data) + 1)])
    return [(lines, f"{path} (lines damaged)"), (cut, f"{path} (cut short)")]


def check_batch(arguments):
    dump, jobs = arguments
    paths = [path for path, _ in jobs]
    records, verdicts, trouble = differential.our_dumps(dump, paths)
    failures = []
    if trouble:
        failures.append(f"DUMP FAILED on the batch of {jobs[0][1]}:\n{trouble}")
    for path, label in jobs:
        with open(path, "rb") as file:
            source = file.read()
        record = records.get(path)
        if record is None:
            failures.append(f"NO DUMP {label}")
            continue
        if "fatal" in record:
            failures.append(f"FATAL {label}: {record['fatal']}")
            continue
        problems = differential.check_invariants(record, source)
        errors = record["errors"]
        expected = None if not errors else f"{errors[0][0]} at byte range {errors[0][1]}..{errors[0][2]}"
        verdict = verdicts.get(path, "(no verdict)")
        if verdict != expected:
            problems.append(f"check mode says {verdict!r}, the full parse {expected!r}")
        if problems:
            failures.append(f"INVARIANT {label}:\n  " + "\n  ".join(problems))
    return len(jobs), failures


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("dump")
    parser.add_argument("library", nargs="?", default=sysconfig.get_paths()["stdlib"])
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--seed", type=int, default=1789)
    args = parser.parse_args()
    if not os.access(args.dump, os.X_OK):
        print(f"error: no dump executable at {args.dump}")
        return 1

    failures = []
    total = 0
    with tempfile.TemporaryDirectory(prefix="module_damaged_") as scratch:
        jobs = []
        for index, path in enumerate(differential.corpus_files(args.library)):
            jobs.extend(damaged_copies(path, args.seed, scratch, index))
        batches = [(args.dump, jobs[i:i + differential.BATCH]) for i in range(0, len(jobs), differential.BATCH)]
        with multiprocessing.Pool(max(1, args.jobs), initializer=differential.init_worker) as pool:
            for count, found in pool.imap_unordered(check_batch, batches):
                total += count
                failures.extend(found)
    for failure in sorted(failures):
        print(failure)
    print(f"damaged texts (seed {args.seed}): {total - len(failures)} passed, {len(failures)} failed")
    return 0 if not failures else 1


if __name__ == "__main__":
    sys.exit(main())
