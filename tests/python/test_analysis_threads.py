"""The interpreter lock around analysis work, many threads on one index, and
exiting while indexing threads still run (in subprocesses)."""

import os
import sys
import textwrap
import threading
import time

import pytest

import tolva_rs
from conftest import errors_on_threads, run_in_fresh_interpreter
from analysis_fixtures import write_large_project, write_project

TIMEOUT = 120


def _run_script(code, timeout=TIMEOUT):
    return run_in_fresh_interpreter(code, timeout)


class Ticker:
    """A thread that counts while it holds the interpreter lock, sleeping
    between ticks. With a huge switch interval a waiting thread never forces
    the lock away, so it ticks only while another thread gives the lock up of
    its own accord."""

    def __init__(self):
        self.ticks = 0
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self._run, daemon=True)

    def _run(self):
        while not self.stop.is_set():
            self.ticks += 1
            time.sleep(0.0002)

    def __enter__(self):
        self.previous = sys.getswitchinterval()
        sys.setswitchinterval(1000.0)
        self.thread.start()
        time.sleep(0.01)
        return self

    def __exit__(self, *exc):
        sys.setswitchinterval(self.previous)
        self.stop.set()
        self.thread.join()


def _large_source(tmp_path):
    path = tmp_path / "large.py"
    path.write_text("".join(f"def f{i}(a, b: int) -> int:\n    return a + {i}\n\n" for i in range(120_000)))
    return str(path)


def _invalid_utf8_file(tmp_path):
    # 16 MiB of zero bytes (valid UTF-8, sparse on disk), then a 0xFF: read
    # whole, then refused.
    path = tmp_path / "zeros.py"
    with open(path, "wb") as file:
        file.seek(16 << 20)
        file.write(b"\xff")
    return str(path)


def _read_invalid(path, root):
    with pytest.raises(OSError, match="^stream did not contain valid UTF-8$"):
        tolva_rs.StdAstFileSystem([]).read_to_string(path)


UNLOCKED_CALLS = {
    "read_to_string": (_invalid_utf8_file, _read_invalid),
    "get_parsed_file": (_large_source, lambda path, root: tolva_rs.AstFileParserCache([], root).get_parsed_file(path)),
    "AstProjectIndex()": (lambda d: [f"{d}/pkg{i % 97}/mod_{i}.py" for i in range(100_000)],
                          lambda files, root: tolva_rs.AstProjectIndex(files, root)),
    "cold lookup": (_large_source,
                    lambda path, root: tolva_rs.AstProjectIndex([path], root).function_ast("large", "nothing")),
    "cold file lookup": (_large_source,
                         lambda path, root: tolva_rs.AstProjectIndex([], root).resolver_ast_in_file(path, "f1")),
}


@pytest.mark.parametrize("name", UNLOCKED_CALLS)
def test_long_native_work_lets_other_python_threads_run(tmp_path, name):
    prepare, call = UNLOCKED_CALLS[name]
    argument = prepare(tmp_path)
    with Ticker() as ticker:
        before = ticker.ticks
        start = time.perf_counter()
        for _ in range(3):
            call(argument, str(tmp_path))
        elapsed = time.perf_counter() - start
        ticks = ticker.ticks - before
    if elapsed < 0.01:
        pytest.skip(f"{name} took only {elapsed:.4f} s: too fast to observe")
    assert ticks >= 3, (ticks, elapsed)


FIFO_READS = {
    "read_to_string": lambda path, root: tolva_rs.StdAstFileSystem([]).read_to_string(path),
    "get_parsed_file": lambda path, root: tolva_rs.AstFileParserCache([], root).get_parsed_file(path)[1],
    "cold file lookup": lambda path, root: tolva_rs.AstProjectIndex([], root).function_ast_in_file(path, "f"),
}


@pytest.mark.parametrize("name", FIFO_READS)
def test_a_read_of_a_fifo_finishes_only_because_this_thread_can_write_to_it(tmp_path, name):
    # The reader blocks in the FIFO until a writer opens it; the writer is
    # this (main) thread, which can run only while the reader has given the
    # interpreter lock up.
    path = str(tmp_path / "pipe.py")
    os.mkfifo(path)
    outcome = {}

    def read():
        try:
            outcome["value"] = FIFO_READS[name](path, str(tmp_path))
        except BaseException as error:  # noqa: BLE001 - shown by the assertion below
            outcome["error"] = error

    reader = threading.Thread(target=read, daemon=True)
    reader.start()
    with open(path, "w") as fifo:
        fifo.write("def f():\n    return 1\n")
    reader.join(TIMEOUT)
    assert not reader.is_alive()
    assert "error" not in outcome, outcome
    if name == "cold file lookup":
        assert outcome["value"].resolver_name == "f"
    else:
        assert outcome["value"] == "def f():\n    return 1\n"


@pytest.fixture(scope="module")
def large_project(tmp_path_factory):
    root = tmp_path_factory.mktemp("large")
    return root, write_large_project(root)


def test_a_python_thread_keeps_counting_during_a_cold_lookup(large_project):
    root, files = large_project
    index = tolva_rs.AstProjectIndex(files, str(root))
    done = threading.Event()
    answer = []

    def look_up():
        answer.append(index.function_ast("no.such.module", "nothing"))
        done.set()

    ticks = 0
    thread = threading.Thread(target=look_up)
    start = time.perf_counter()
    thread.start()
    while not done.is_set():
        ticks += 1
        time.sleep(0.001)
    elapsed = time.perf_counter() - start
    thread.join()
    assert answer == [None]
    if elapsed < 0.05:
        pytest.skip(f"the cold lookup took only {elapsed:.3f} s")
    # Sleeping 1 ms per tick, the counter gets at least a fifth of its ticks.
    assert ticks >= elapsed / 0.001 / 5, (ticks, elapsed)
    # Warm: every file is analysed, the same lookup is quick and still None.
    assert index.function_ast("no.such.module", "nothing") is None


def test_warm_lookups_keep_the_lock(tmp_path):
    paths, files = write_project(tmp_path)
    index = tolva_rs.AstProjectIndex(files, str(tmp_path))
    assert index.function_ast("no.such.module", "x") is None  # analyses every file
    with Ticker() as ticker:
        before = ticker.ticks
        for _ in range(20000):
            index.resolver_ast("pkg.resolvers", "get_balance")
            index.feature_class_ast_in_file(paths["features"], "UserAccount")
            index.function_ast("pkg.broken", "broken")
        # At most the tick that was already waiting gets in.
        assert ticker.ticks - before <= 1


def test_eight_threads_look_up_while_indexing_runs(large_project):
    root, files = large_project
    index = tolva_rs.AstProjectIndex(files, str(root))
    index.nonblocking_start_index()

    def work(seed):
        for i in range(200):
            n = (seed * 397 + i * 31) % len(files)
            module = f"mod_{n}"
            r = index.resolver_ast(module, f"resolver_{i % 10}")
            assert r.module == module
            assert r.args_in_order == ["a", "b", "c", "d", "e"]
            assert r.kwarg_dict_values["tags"]["k"][0] == r.decorator_location[0]
            assert r.args["b"].annotation is not None
            c = index.feature_class_ast_in_file(files[n], "Big")
            assert c.namespace == "big"
            field = c.fields[f"f{i % 20}"]
            assert field.owner == f"team{i % 20}" and field.tags == [f"t{i % 20}", "u"]
            assert len(c.annotations) == 20
            assert index.function_ast(module, "missing") is None

    errors = errors_on_threads(work)
    assert not errors, errors[0]


def _expect_clean_exits(project, then, runs):
    """Runs, `runs` times, a script that starts indexing `project` and then
    runs `then`; each run must exit with status 0 and nothing on stderr."""
    root, files = project
    listing = root / "files.txt"
    listing.write_text("\n".join(files))
    code = textwrap.dedent(f"""
        import tolva_rs
        files = open({str(listing)!r}).read().split("\\n")
        index = tolva_rs.AstProjectIndex(files, {str(root)!r})
        index.nonblocking_start_index()
    """) + then
    for attempt in range(runs):
        result = _run_script(code, timeout=60)
        assert (result.returncode, result.stderr) == (0, ""), attempt


def test_exit_while_indexing_threads_run(large_project):
    _expect_clean_exits(large_project, "", runs=20)


def test_exit_during_a_lookup_on_another_thread(large_project):
    then = 'import threading\nthreading.Thread(target=lambda: index.function_ast("x", "y"), daemon=True).start()\n'
    _expect_clean_exits(large_project, then, runs=5)
