"""Throughput of CPython's ast.parse over a standard library, to set beside
bench/lexer_bench.cc (which lexes the same files).

Usage: /root/.pyenv/versions/3.11.7/bin/python3 bench/ast_parse_bench.py [LIBRARY] [--repeat N]

LIBRARY defaults to the interpreter's own standard library. Every .py file
below it whose bytes are UTF-8 is parsed from its bytes; files that fail to
parse are still timed (their bytes count), as the lexer benchmark lexes them.
Prints bytes/s of the best of N rounds.
"""

import argparse
import ast
import os
import sysconfig
import time
import warnings


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("library", nargs="?", default=sysconfig.get_paths()["stdlib"])
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()

    files = []
    for directory, _, names in os.walk(args.library):
        for name in names:
            if name.endswith(".py"):
                with open(os.path.join(directory, name), "rb") as f:
                    data = f.read()
                try:
                    data.decode("utf-8")
                except UnicodeDecodeError:
                    continue
                files.append(data)
    total = sum(len(f) for f in files)

    warnings.simplefilter("ignore")
    best = None
    for _ in range(args.repeat):
        start = time.perf_counter()
        for data in files:
            try:
                ast.parse(data)
            except (SyntaxError, ValueError, RecursionError, MemoryError):
                pass
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    print("ast.parse: %d files, %.1f MB, best of %d: %.3f s, %.1f MB/s (%d bytes/s)" % (
        len(files), total / 1e6, args.repeat, best, total / best / 1e6, total / best))


if __name__ == "__main__":
    main()
