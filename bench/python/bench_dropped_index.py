"""What a long-lived host pays for indexes it drops: a process that makes a
new AstProjectIndex whenever the project changes and lets the old one go.

    /usr/bin/python3 bench/python/bench_dropped_index.py --build-dir build/release \
        [--files 3000] [--resolvers 80] [--drops 10] [--delay 0.05]

Writes a generated project (tests/python/analysis_fixtures.py
write_large_project: --files files of --resolvers decorated resolvers and
a feature class each) into a temporary folder, then runs each case in a
fresh interpreter:
- "complete": one index, background indexing started and a cold lookup of
  a name no file has (it returns once every file is analysed), then the
  index dropped;
- "dropped": --drops indexes one after another, each made, started and
  dropped --delay seconds later.
For each: the CPU time of the whole process (every thread) from before the
first index until its last worker thread is gone; how long that was after
the last drop; and the resident memory (/proc/self/statm) and the heap in
use (mallinfo2) once the workers are gone, over the figures before the
first index. Prints "dropped CPU / complete CPU" last.
"""

import argparse
import json
import os
import pathlib
import subprocess
import sys
import tempfile
import textwrap

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent.parent / "tests" / "python"))
from analysis_fixtures import write_large_project  # noqa: E402

CASE = textwrap.dedent("""
    import ctypes, json, os, resource, sys, time
    sys.path.insert(0, EXTENSION_DIR)
    import tolva_rs

    class MallInfo2(ctypes.Structure):
        _fields_ = [(name, ctypes.c_size_t) for name in
                    ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks",
                     "fordblks", "keepcost")]
    libc = ctypes.CDLL(None)
    libc.mallinfo2.restype = MallInfo2

    def resident():
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

    def heap():
        info = libc.mallinfo2()
        return info.uordblks + info.hblkhd

    def threads():
        return len(os.listdir("/proc/self/task"))

    def cpu():
        usage = resource.getrusage(resource.RUSAGE_SELF)
        return usage.ru_utime + usage.ru_stime

    files = open(LISTING).read().split("\\n")
    baseline_threads = threads()
    rss_before, heap_before, cpu_before = resident(), heap(), cpu()
    if CASE_NAME == "complete":
        index = tolva_rs.AstProjectIndex(files, ROOT)
        index.nonblocking_start_index()
        assert index.function_ast("\\x01 no module", "\\x01 nothing") is None
        del index
    else:
        for _ in range(DROPS):
            index = tolva_rs.AstProjectIndex(files, ROOT)
            index.nonblocking_start_index()
            time.sleep(DELAY)
            del index
    dropped_at = time.monotonic()
    while threads() > baseline_threads:
        time.sleep(0.001)
    gone_after = time.monotonic() - dropped_at
    print(json.dumps({"cpu": cpu() - cpu_before, "gone_after": gone_after,
                      "rss_before": rss_before, "rss_kept": resident() - rss_before,
                      "heap_kept": heap() - heap_before}))
""")


def run_case(extension_dir, root, listing, name, drops, delay):
    prelude = (f"EXTENSION_DIR = {str(extension_dir)!r}\nROOT = {str(root)!r}\nLISTING = {str(listing)!r}\n"
               f"CASE_NAME = {name!r}\nDROPS = {drops}\nDELAY = {delay}\n")
    completed = subprocess.run([sys.executable, "-c", prelude + CASE], capture_output=True, text=True, timeout=600)
    if completed.returncode != 0:
        sys.exit(f"case {name} failed ({completed.returncode}):\n{completed.stderr}")
    return json.loads(completed.stdout.strip().splitlines()[-1])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", default="build/release")
    parser.add_argument("--files", type=int, default=3000)
    parser.add_argument("--resolvers", type=int, default=80)
    parser.add_argument("--drops", type=int, default=10)
    parser.add_argument("--delay", type=float, default=0.05)
    args = parser.parse_args()
    extension_dir = pathlib.Path(args.build_dir).resolve() / "python"
    with tempfile.TemporaryDirectory() as scratch:
        root = pathlib.Path(scratch)
        files = write_large_project(root, count=args.files, resolvers=args.resolvers)
        listing = root / "files.txt"
        listing.write_text("\n".join(files))
        size = sum(os.path.getsize(f) for f in files)
        print(f"{len(files)} files, {size / 1e6:.1f} MB; {os.cpu_count()} CPUs")
        figures = {}
        for name in ("complete", "dropped"):
            figures[name] = got = run_case(extension_dir, root, listing, name, args.drops, args.delay)
            label = "one complete index" if name == "complete" else f"{args.drops} dropped indexes"
            print(f"{label:<22} CPU {got['cpu']:7.2f} s   threads gone {got['gone_after']:6.3f} s after the drop   "
                  f"RSS kept {got['rss_kept'] / 2**20:8.1f} MiB (of {got['rss_before'] / 2**20:.1f} before)   "
                  f"heap kept {got['heap_kept'] / 2**20:8.1f} MiB")
        print(f"dropped CPU / complete CPU: {figures['dropped']['cpu'] / figures['complete']['cpu']:.2f}")


if __name__ == "__main__":
    main()
