"""Throughput of CPython's ast.parse over a standard library, the peer of
bench/parse_bench.cc and bench/lexer_bench.cc, which run this script and set
its figure beside parse_module's and the lexer's on the same files.

Usage: PYTHON bench/python/bench_ast_parse.py [LIBRARY] [--repeat N]

LIBRARY defaults to the interpreter's own standard library. The files are
those of bench/bench_corpus.h: every .py file below LIBRARY, site-packages
and __pycache__ excluded, whose bytes are UTF-8, parsed from their bytes one
by one (a file that fails to parse is timed too). Prints one line, "SECONDS
BYTES": the CPU time of the best of N rounds over all files, and their total
size.
"""

import argparse
import ast
import os
import sysconfig
import time
import warnings


def library_files(library):
    files = []
    for directory, dirs, names in os.walk(library):
        dirs[:] = sorted(d for d in dirs if d not in ("site-packages", "__pycache__"))
        for name in sorted(names):
            if not name.endswith(".py"):
                continue
            with open(os.path.join(directory, name), "rb") as file:
                data = file.read()
            try:
                data.decode("utf-8")
            except UnicodeDecodeError:
                continue
            files.append(data)
    return files


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("library", nargs="?", default=sysconfig.get_paths()["stdlib"])
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()

    files = library_files(args.library)
    warnings.simplefilter("ignore")
    best = None
    for _ in range(args.repeat):
        start = time.process_time()
        for data in files:
            try:
                ast.parse(data)
            except (SyntaxError, ValueError, RecursionError, MemoryError):
                pass
        elapsed = time.process_time() - start
        best = elapsed if best is None else min(best, elapsed)
    print(f"{best:.6f} {sum(len(f) for f in files)}")


if __name__ == "__main__":
    main()
