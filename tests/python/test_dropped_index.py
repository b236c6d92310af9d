"""What a long-lived host (a language server, a notebook kernel, a forking
web server) needs of the module over its whole life: an index that nobody
holds any more costs nothing, neither work nor memory. Each case runs in a
fresh interpreter, whose threads and resident memory are its own."""

import json
import os
import textwrap

import pytest

from analysis_fixtures import write_large_project
from conftest import run_in_fresh_interpreter

TIMEOUT = 300

# Polls for the end of the index's worker threads: the process is back to
# the threads it had before the index. (A hang guard only: the test fails,
# instead of hanging, if they never end.)
_HELPERS = textwrap.dedent("""
    import json, os, sys, time
    import tolva_rs

    def threads():
        return len(os.listdir("/proc/self/task"))

    def resident():
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

    def wait_for_threads(count, feed=lambda: None):
        deadline = time.monotonic() + 120
        while threads() > count:
            feed()
            if time.monotonic() > deadline:
                raise SystemExit("the index's threads never ended")
            time.sleep(0.001)
""")


def _run(code):
    completed = run_in_fresh_interpreter(_HELPERS + textwrap.dedent(code), TIMEOUT)
    assert completed.returncode == 0, completed.stderr
    return json.loads(completed.stdout.strip().splitlines()[-1])


def test_the_workers_of_an_index_nobody_holds_stop_at_their_next_file(tmp_path):
    # Every file is a FIFO: a worker's read waits in open() until the test
    # writes the file, and a write that finds no reader is refused, so the
    # test sees each file a worker reads. The index is dropped at once; the
    # test then writes every file a worker waits for, until the workers are
    # gone, and counts them.
    count = 3 * (os.cpu_count() or 1) + 8
    files = []
    for i in range(count):
        path = tmp_path / f"mod_{i}.py"
        os.mkfifo(path)
        files.append(str(path))
    got = _run(f"""
        import errno
        files = {files!r}
        before = threads()
        index = tolva_rs.AstProjectIndex(files, {str(tmp_path)!r})
        index.nonblocking_start_index()
        workers = threads() - before
        del index

        waiting = set(files)
        fed = []

        def feed():
            for path in sorted(waiting):
                try:
                    fd = os.open(path, os.O_WRONLY | os.O_NONBLOCK)
                except OSError as error:
                    if error.errno != errno.ENXIO:  # ENXIO: nobody reads it
                        raise
                    continue
                os.write(fd, b"def f():\\n    pass\\n")
                os.close(fd)
                waiting.discard(path)
                fed.append(path)

        wait_for_threads(before, feed)
        print(json.dumps({{"workers": workers, "files_read": len(fed)}}))
    """)
    assert 1 <= got["workers"] < count
    assert got["files_read"] <= got["workers"], "the workers went on over the list of an index nobody holds"


@pytest.fixture(scope="module")
def big_project(tmp_path_factory):
    """6,000 files of 80 decorated resolvers each (about 70 MB): one complete
    index of it makes and frees far more than the bound below."""
    root = tmp_path_factory.mktemp("big")
    files = write_large_project(root, count=6000, resolvers=80)
    listing = root / "files.txt"
    listing.write_text("\n".join(files))
    return root, listing


# The process's resident memory once the index or indexes are gone and
# their workers have ended, over the figure before the first one.
MEMORY_CASES = {
    "one complete index": """
        index = tolva_rs.AstProjectIndex(files, root)
        index.nonblocking_start_index()
        assert index.function_ast("no.such.module", "nothing") is None  # returns once all is analysed
        del index
    """,
    "ten indexes dropped while indexing": """
        for _ in range(10):
            index = tolva_rs.AstProjectIndex(files, root)
            index.nonblocking_start_index()
            time.sleep(0.05)
            del index
    """,
}


@pytest.mark.parametrize("case", MEMORY_CASES)
def test_memory_goes_back_to_the_system_once_the_index_is_gone(big_project, case):
    root, listing = big_project
    got = _run(textwrap.dedent(f"""
        root = {str(root)!r}
        files = open({str(listing)!r}).read().split("\\n")
        before_threads = threads()
        before = resident()
    """) + textwrap.dedent(MEMORY_CASES[case]) + textwrap.dedent("""
        wait_for_threads(before_threads)
        print(json.dumps({"kept": resident() - before}))
    """))
    assert got["kept"] < 150 * 2**20, f"{got['kept'] / 2**20:.0f} MiB more resident than before the index"
