"""Writes the decorated standard library that bench/index_bench.cc indexes.

Usage: PYTHON bench/python/decorated_library.py OUT_DIR [LIBRARY]

Every .py file below LIBRARY (default: the interpreter's own standard
library; site-packages and __pycache__ left out) goes through
tests/corpus/analysis/decorate.py, run by the same interpreter, into the
same relative path below OUT_DIR; files it cannot decorate are left out.
Then: TOLVA_BENCH_INDEX_DIR=OUT_DIR build/release/bench/index_bench
"""

import json
import os
import subprocess
import sys
import sysconfig

HERE = os.path.dirname(os.path.abspath(__file__))
DECORATE = os.path.join(HERE, "..", "..", "tests", "corpus", "analysis", "decorate.py")


def write_decorated(out_dir, library):
    """Decorates every .py file below `library` into `out_dir`; returns the
    number of files written and the number of files found."""
    if not os.path.exists(DECORATE):
        sys.exit(f"{DECORATE} is absent")
    pairs = []
    for directory, dirs, names in os.walk(library):
        dirs[:] = sorted(d for d in dirs if d not in ("site-packages", "__pycache__"))
        for name in sorted(names):
            if name.endswith(".py"):
                source = os.path.join(directory, name)
                pairs.append([source, os.path.join(out_dir, os.path.relpath(source, library))])
    completed = subprocess.run([sys.executable, DECORATE], input=json.dumps(pairs).encode(), capture_output=True)
    if completed.returncode != 0:
        sys.exit(f"decorate.py exited with {completed.returncode}: {completed.stderr.decode(errors='replace')}")
    written = sum(1 for line in completed.stdout.decode().splitlines() if json.loads(line).get("ok"))
    return written, len(pairs)


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    out_dir = os.path.abspath(sys.argv[1])
    library = sys.argv[2] if len(sys.argv) == 3 else sysconfig.get_paths()["stdlib"]
    written, found = write_decorated(out_dir, library)
    print(f"{written} of {found} files decorated into {out_dir}")


if __name__ == "__main__":
    main()
