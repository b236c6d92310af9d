"""Background indexing against the plain-Python reference analysis in a
process pool, over the decorated standard library, in one run.

    /usr/bin/python3 bench/python/bench_index_pool.py --build-dir build/release \
        [--library DIR] [--processes 8] [--runs 3]

The library (default: the running interpreter's; pass pyenv's 3.11 library
for the figures of record, its grammar is this interpreter's) is decorated
by the analysis differential's transform into a temporary folder, unless
TOLVA_DECORATED_LIBRARY names a decorated copy. Prints the median of the
runs for:
- the index fully analysed by its background workers (a cold lookup of a
  name no file has, made right after nonblocking_start_index, returns when
  every file is analysed: it walks the list and waits for each file);
- the same cold lookup without background indexing (one thread);
- tests/corpus/analysis/reference.py analysing every file in a
  multiprocessing.Pool of --processes workers;
and the ratios between them.
"""

import argparse
import multiprocessing
import os
import pathlib
import statistics
import sys
import sysconfig
import tempfile
import time

import decorated_library

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent.parent / "tests" / "corpus" / "analysis"))
import reference  # noqa: E402


def library_files(library):
    return sorted((str(p) for p in pathlib.Path(library).rglob("*.py")
                   if "site-packages" not in p.parts and "__pycache__" not in p.parts), key=lambda p: p.encode())


def median_seconds(runs, call):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def analyse_with_reference(item):
    path, root = item
    return len(reference.analyse(path, root).get("functions", ()))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", default="build/release")
    parser.add_argument("--library", default=sysconfig.get_paths()["stdlib"])
    parser.add_argument("--processes", type=int, default=8)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    sys.path.insert(0, str(pathlib.Path(args.build_dir).resolve() / "python"))
    import tolva_rs

    sys.setrecursionlimit(max(sys.getrecursionlimit(), 20000))
    with tempfile.TemporaryDirectory() as scratch:
        root = os.environ.get("TOLVA_DECORATED_LIBRARY")
        if not root:
            root = scratch
            decorated_library.write_decorated(scratch, args.library)
        files = library_files(root)
        size = sum(os.path.getsize(f) for f in files)
        print(f"{len(files)} files, {size / 1e6:.1f} MB, below {root}; {os.cpu_count()} CPUs")

        def indexed():
            index = tolva_rs.AstProjectIndex(files, root)
            index.nonblocking_start_index()
            assert index.function_ast("no.such.module", "nothing") is None

        def one_thread():
            index = tolva_rs.AstProjectIndex(files, root)
            assert index.function_ast("no.such.module", "nothing") is None

        def pool():
            with multiprocessing.Pool(args.processes) as workers:
                workers.map(analyse_with_reference, [(f, root) for f in files], chunksize=4)

        background = median_seconds(args.runs, indexed)
        single = median_seconds(args.runs, one_thread)
        reference_pool = median_seconds(args.runs, pool)
        print(f"{'background indexing':<40} {background:8.3f} s  {size / background / 1e6:8.1f} MB/s")
        print(f"{'one thread':<40} {single:8.3f} s  {size / single / 1e6:8.1f} MB/s")
        print(f"{f'reference, Pool({args.processes})':<40} {reference_pool:8.3f} s  "
              f"{size / reference_pool / 1e6:8.1f} MB/s")
        print(f"background vs one thread: {single / background:.1f}x; "
              f"background vs the reference pool: {reference_pool / background:.1f}x")


if __name__ == "__main__":
    main()
