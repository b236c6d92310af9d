"""Per-call timings of the tolva_rs project analysis from Python, over a
standard library with feature and resolver decorators.

    /usr/bin/python3 bench/python/bench_analysis.py --build-dir build/release [--library DIR]

The library (default: the running interpreter's; run it with pyenv's 3.11
for the figures of record) is decorated, when TOLVA_DECORATED_LIBRARY names
no decorated copy, by the analysis differential's transform
(tests/corpus/analysis/decorate.py, through decorated_library.py): every
class a feature decorator, every def a resolver decorator with keyword
arguments and a dict display, comment blocks above class fields. The copy is
written to a temporary folder.

Prints, per figure, the median of several runs:
- the cold first lookup (a name that no file has, so every file is read,
  parsed and analysed) on one thread, and with background indexing started
  just before it;
- a warm resolver_ast lookup of the first and of the last module;
- a warm lookup plus reading all fifteen attributes;
- reading `fields` of the largest feature class.
"""

import argparse
import os
import pathlib
import statistics
import sys
import sysconfig
import tempfile
import time

import decorated_library


def library_files(library):
    return sorted((p for p in pathlib.Path(library).rglob("*.py")
                   if "site-packages" not in p.parts and "__pycache__" not in p.parts), key=lambda p: str(p).encode())


def decorated_copy(library, target):
    decorated_library.write_decorated(target, library)
    return [str(p) for p in library_files(target)]


def per_call_us(call, repeat):
    means = []
    for _ in range(7):
        start = time.perf_counter_ns()
        for _ in range(repeat):
            call()
        means.append((time.perf_counter_ns() - start) / repeat / 1000)
    return statistics.median(means)


def once_s(make_index, call, runs):
    times = []
    for _ in range(runs):
        index = make_index()
        start = time.perf_counter()
        call(index)
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", default="build/release")
    parser.add_argument("--library", default=sysconfig.get_paths()["stdlib"])
    parser.add_argument("--cold-runs", type=int, default=3)
    args = parser.parse_args()
    sys.path.insert(0, str(pathlib.Path(args.build_dir).resolve() / "python"))
    import tolva_rs

    with tempfile.TemporaryDirectory() as scratch:
        root = os.environ.get("TOLVA_DECORATED_LIBRARY")
        if root:
            files = [str(p) for p in library_files(root)]
        else:
            root = scratch
            files = decorated_copy(args.library, scratch)
        size = sum(os.path.getsize(f) for f in files)
        print(f"{len(files)} files, {size / 1e6:.1f} MB, below {root}")

        def new_index():
            return tolva_rs.AstProjectIndex(files, root)

        def cold(index):
            assert index.resolver_ast("no.such.module", "nothing") is None

        def cold_indexed(index):
            index.nonblocking_start_index()
            cold(index)

        def report(label, value, unit):
            print(f"{label:<72} {value:10.3f} {unit}")

        report("cold first lookup, one thread", once_s(new_index, cold, args.cold_runs), "s")
        report("cold first lookup, background indexing started just before", once_s(new_index, cold_indexed,
                                                                                        args.cold_runs), "s")

        index = new_index()
        index.nonblocking_start_index()
        cold(index)
        # The first and the last file of the list that hold a resolver, and
        # the feature class with the most fields.
        cache = tolva_rs.AstFileParserCache([], root)
        resolvers = []
        largest = (None, -1)
        for path in files:
            module_functions = []
            try:
                source = cache.get_parsed_file(path)[1]
            except ValueError:
                continue
            for line in source.splitlines():
                if line.startswith("def "):
                    module_functions.append(line[4:].split("(")[0].strip())
                elif line.startswith("class "):
                    name = line[6:].split("(")[0].split(":")[0].strip()
                    found = index.feature_class_ast_in_file(path, name)
                    if found is not None:
                        count = len(found.fields)
                        if count > largest[1]:
                            largest = (found, count)
            for name in module_functions:
                found = index.resolver_ast_in_file(path, name)
                if found is not None:
                    resolvers.append(found)
                    break
        first, last = resolvers[0], resolvers[-1]
        names = [n for n in dir(tolva_rs.ResolverAST) if not n.startswith("__")]
        assert len(names) == 15

        def read_all():
            record = index.resolver_ast(last.module, last.resolver_name)
            for name in names:
                getattr(record, name)

        report(f"warm resolver_ast, first module ({first.module})",
               per_call_us(lambda: index.resolver_ast(first.module, first.resolver_name), 2000), "us")
        report(f"warm resolver_ast, last module ({last.module})",
               per_call_us(lambda: index.resolver_ast(last.module, last.resolver_name), 2000), "us")
        report("warm resolver_ast (last module) and reading all 15 attributes", per_call_us(read_all, 2000), "us")
        cls, count = largest
        report(f"fields of the largest feature class ({cls.module}.{cls.class_name}, {count} fields)",
               per_call_us(lambda: cls.fields, 2000), "us")


if __name__ == "__main__":
    main()
