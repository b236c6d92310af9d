"""The interpreter lock around analysis work, many threads on one index, and
exiting while indexing threads still run.

A call that blocked while holding the interpreter lock would hang the whole
process, so the scenarios that could deadlock run in a subprocess with a
timeout."""

import os
import subprocess
import sys
import textwrap
import threading
import time

import pytest

import tolva_rs
from conftest import EXTENSION_DIR
from analysis_fixtures import write_project

TIMEOUT = 120


def _run_script(code, timeout=TIMEOUT):
    script = f"import sys\nsys.path.insert(0, {str(EXTENSION_DIR)!r})\n" + textwrap.dedent(code)
    return subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=timeout)


# Each call reads a FIFO on a second thread. Opening a FIFO for reading blocks
# until a writer opens it; the writer is the main thread, which can run only
# if the reading call gave up the interpreter lock.
FIFO_CALLS = {
    "read_to_string": "tolva_rs.StdAstFileSystem([]).read_to_string(path)",
    "get_parsed_file": "tolva_rs.AstFileParserCache([], root).get_parsed_file(path)[1]",
    "cold lookup": "tolva_rs.AstProjectIndex([path], root).function_ast('pipe', 'from_pipe').resolver_name",
    "cold file lookup": "tolva_rs.AstProjectIndex([], root).function_ast_in_file(path, 'from_pipe').resolver_name",
}


@pytest.mark.parametrize("call", FIFO_CALLS.values(), ids=FIFO_CALLS.keys())
def test_reading_a_fifo_lets_the_writer_thread_run(tmp_path, call):
    path = tmp_path / "pipe.py"
    os.mkfifo(path)
    result = _run_script(f"""
        import threading, tolva_rs
        path, root = {str(path)!r}, {str(tmp_path)!r}
        out = []
        reader = threading.Thread(target=lambda: out.append({call}))
        reader.start()
        with open(path, "w") as pipe:
            pipe.write("def from_pipe():\\n    pass\\n")
        reader.join()
        print(out[0])
    """, timeout=30)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() in ("from_pipe", "def from_pipe():\n    pass")


@pytest.fixture(scope="module")
def large_project(tmp_path_factory):
    root = tmp_path_factory.mktemp("large")
    body = "".join(
        f"@online(owner='o{i}', tags={{'k': {i}}})\ndef resolver_{i}(a, b: int, *c, d=1, **e) -> int:\n"
        f"    if a:\n        return b\n    return {i}\n\n\n" for i in range(10))
    fields = "".join(f"    # :owner: team{i}\n    # :tags: t{i}, u\n    f{i}: int = feature(x={i})\n"
                     for i in range(20))
    source = ("from tolva import online\nfrom tolva.features import features, feature\n\n\n" + body
              + "@features(name='big')\nclass Big:\n" + fields)
    files = []
    for i in range(2000):
        path = root / f"mod_{i}.py"
        path.write_text(source)
        files.append(str(path))
    return root, files


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
    """With a huge switch interval a waiting thread never forces the lock
    away, so a ticker thread runs only when a call gives the lock up."""
    paths, files = write_project(tmp_path)
    index = tolva_rs.AstProjectIndex(files, str(tmp_path))
    assert index.function_ast("no.such.module", "x") is None  # analyses every file
    ticks = [0]
    stop = threading.Event()

    def tick():
        while not stop.is_set():
            ticks[0] += 1
            time.sleep(0.0002)

    previous = sys.getswitchinterval()
    sys.setswitchinterval(1000.0)
    ticker = threading.Thread(target=tick)
    try:
        ticker.start()
        time.sleep(0.01)
        before = ticks[0]
        for _ in range(20000):
            index.resolver_ast("pkg.resolvers", "get_balance")
            index.feature_class_ast_in_file(paths["features"], "UserAccount")
            index.function_ast("pkg.broken", "broken")
        during = ticks[0] - before
    finally:
        sys.setswitchinterval(previous)
        stop.set()
        ticker.join()
    assert during <= 1


def test_eight_threads_look_up_while_indexing_runs(large_project):
    root, files = large_project
    index = tolva_rs.AstProjectIndex(files, str(root))
    index.nonblocking_start_index()
    errors = []

    def work(seed):
        try:
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
        except BaseException as error:  # reported below
            errors.append(error)

    threads = [threading.Thread(target=work, args=(seed,)) for seed in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert not errors, errors[0]


def test_exit_while_indexing_threads_run(large_project):
    root, files = large_project
    listing = root / "files.txt"
    listing.write_text("\n".join(files))
    code = f"""
        import tolva_rs
        files = open({str(listing)!r}).read().split("\\n")
        index = tolva_rs.AstProjectIndex(files, {str(root)!r})
        index.nonblocking_start_index()
    """
    for attempt in range(20):
        result = _run_script(code, timeout=60)
        assert (result.returncode, result.stderr) == (0, ""), attempt


def test_exit_during_a_lookup_on_another_thread(large_project):
    root, files = large_project
    listing = root / "files.txt"
    listing.write_text("\n".join(files))
    code = f"""
        import threading, tolva_rs
        files = open({str(listing)!r}).read().split("\\n")
        index = tolva_rs.AstProjectIndex(files, {str(root)!r})
        index.nonblocking_start_index()
        threading.Thread(target=lambda: index.function_ast("x", "y"), daemon=True).start()
    """
    for attempt in range(5):
        result = _run_script(code, timeout=60)
        assert (result.returncode, result.stderr) == (0, ""), attempt
