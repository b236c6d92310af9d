"""A long-lived host process: what the module makes once per process never
stands half made in a forked child.

A value made on its first use by whichever thread gets there first leaves,
when the process forks while a thread is making it, its once-only lock held
in the child for ever. The fixture library fork_hold (tests/python/
fork_hold.c, preloaded) holds every thread but the main one inside a chosen
C library call that such a first use makes, until the test lets it go; the
test forks meanwhile, and the child must answer what the parent answers.
Each case runs in a fresh interpreter, the child under a hang guard."""

import json
import os
import subprocess
import sys
import textwrap

import pytest

from analysis_fixtures import write_large_project
from conftest import EXTENSION_DIR, with_extension

HOLD_LIBRARY = EXTENSION_DIR.parent / "test_fixtures" / "tolva_fork_hold.so"

# What the held script runs before its case: the pipes to the fixture, and
# the helpers that fork under a hang guard.
HELD_FORK_PREAMBLE = """
    import json, os, select, sys, threading, time, warnings

    import tolva_rs

    warnings.simplefilter("ignore", DeprecationWarning)  # fork() with threads, from 3.12 on
    notify, release = (int(fd) for fd in os.environ["TOLVA_TEST_FDS"].split(","))
    HANG_GUARD = 60

    def thread_count():
        return len(os.listdir("/proc/self/task"))

    def wait_for(condition):
        deadline = time.monotonic() + HANG_GUARD
        while not condition():
            if time.monotonic() > deadline:
                raise SystemExit("waited for ever")
            time.sleep(0.005)

    def held_or_done(done):
        # True once a thread is held inside the call, False once the work
        # that could reach it is over without that.
        held = []
        def settled():
            if select.select([notify], [], [], 0)[0]:
                held.append(True)
            return bool(held) or done()
        wait_for(settled)
        return bool(held) or bool(select.select([notify], [], [], 0)[0])

    def answer_of_child(ask):
        reading, writing = os.pipe()
        child = os.fork()
        if child == 0:
            os.close(reading)
            try:
                data = json.dumps(ask())
            except BaseException as error:
                data = json.dumps(repr(error))
            os.write(writing, data.encode())
            os._exit(0)
        os.close(writing)
        deadline = time.monotonic() + HANG_GUARD
        while os.waitpid(child, os.WNOHANG) == (0, 0):
            if time.monotonic() > deadline:
                os.kill(child, 9)
                os.waitpid(child, 0)
                return "the child hung"
            time.sleep(0.005)
        with os.fdopen(reading) as source:
            return json.loads(source.read())
"""


def run_held_fork(call, setup, ask, finish, project_root, files):
    """Runs, in an interpreter with the fixture holding `call`: `setup`
    (which defines `done`, true once the work it started can no longer reach
    the call), a fork once a thread is held or the work is done, `ask()` in
    the child, then the release of the held threads, `finish` and `ask()` in
    the parent. Returns (held, the child's answer, the parent's answer)."""
    assert HOLD_LIBRARY.exists(), f"{HOLD_LIBRARY} is built with the extension (target tolva_fork_hold)"
    script = with_extension("\n".join([
        f"root = {str(project_root)!r}\nfiles = {files!r}",
        textwrap.dedent(HELD_FORK_PREAMBLE),
        f"def ask():\n    return {ask}",
        textwrap.dedent(setup),
        "held = held_or_done(done)",
        "child = answer_of_child(ask)",
        "os.close(release)  # the held threads go on",
        textwrap.dedent(finish),
        "print(json.dumps([held, child, ask()]))",
    ]))
    notify_read, notify_write = os.pipe()
    release_read, release_write = os.pipe()
    env = dict(os.environ, LD_PRELOAD=str(HOLD_LIBRARY), TOLVA_HOLD=call,
               TOLVA_HOLD_FDS=f"{notify_write},{release_read}", TOLVA_TEST_FDS=f"{notify_read},{release_write}")
    fds = (notify_read, notify_write, release_read, release_write)
    try:
        process = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   text=True, env=env, pass_fds=fds)
    finally:
        # The script's copy of the release pipe must be its last writer.
        for fd in fds:
            os.close(fd)
    try:
        stdout, stderr = process.communicate(timeout=180)
    finally:
        process.kill()
    assert (process.returncode, stderr) == (0, ""), stderr[-3000:]
    return tuple(json.loads(stdout))


@pytest.fixture(scope="module")
def feature_project(tmp_path_factory):
    """50 files with a feature class of 20 fields each."""
    root = tmp_path_factory.mktemp("held")
    return root, write_large_project(root, count=50)


def _unicode_project(root, source):
    files = []
    for i in range(8):
        path = root / f"uni_{i}.py"
        path.write_text(source, encoding="utf-8")
        files.append(str(path))
    return files


# The workers start at once and the lookup needs the analysis of each.
INDEXING = """
    index = tolva_rs.AstProjectIndex(files, root)
    before = thread_count()
    index.nonblocking_start_index()
    done = lambda: thread_count() < before + 1
"""
INDEXING_OVER = "wait_for(lambda: thread_count() < before + 1)"
BIG_FIELDS = "sorted((name, f.owner) for name, f in index.feature_class_ast('mod_0', 'Big').fields.items())"


def test_a_child_forked_while_a_worker_draws_the_hash_key_answers(feature_project):
    # The key of the record maps is drawn on its first use, by a worker of
    # the first index: held inside the system's random source.
    root, files = feature_project
    held, child, parent = run_held_fork("getrandom", INDEXING, BIG_FIELDS, INDEXING_OVER, root, files)
    assert held, "the fixture holds the worker that draws the key"
    assert child == parent, (child, parent)
    assert len(parent) == 20


@pytest.mark.parametrize("call,text", [
    # An identifier that NFKC changes ("ﬁ" is "fi") loads the normaliser.
    ("getenv:ICU_DATA", "from tolva.features import features\n\n@features\nclass Big:\n    ﬁeld_ñ: int\n"),
    # A named escape loads the table of character names.
    ("getenv:ICU_DATA",
     "from tolva.features import features, feature\n\n@features\nclass Big:\n"
     "    field_n: str = feature(x='\\N{EM DASH}')\n"),
], ids=["NFKC normaliser", "character names"])
def test_a_child_forked_while_a_worker_loads_unicode_tables_answers(tmp_path, call, text):
    # ICU loads either table on its first use, reading its data folder
    # (ICU_DATA) as it loads its first data of all.
    files = _unicode_project(tmp_path, text)
    ask = "sorted(index.feature_class_ast_in_file(files[0], 'Big').fields)"
    held, child, parent = run_held_fork(call, INDEXING, ask, INDEXING_OVER, tmp_path, files)
    assert child == parent, (held, child, parent)
    assert len(parent) == 1 and parent[0] in ("field_ñ", "field_n")


def test_a_child_forked_while_to_snake_case_meets_its_first_non_ascii_text_answers():
    # The first non-ASCII text of to_snake_case makes ICU's root locale,
    # reading the default locale through setlocale; a text this long is
    # converted without the interpreter lock.
    setup = """
        converting = threading.Thread(target=tolva_rs.to_snake_case, args=("\\u00dcberName\\u03a3" * 30_000,))
        converting.start()
        done = lambda: not converting.is_alive()
    """
    ask = "[tolva_rs.to_snake_case(name) for name in ('\\u00c4bcDef', '\\u0391\\u03a3 \\u039f\\u0394\\u039f\\u03a3')]"
    held, child, parent = run_held_fork("setlocale", setup, ask, "converting.join()", "/nowhere", [])
    assert child == parent == ["äbc_def", "ας οδος"], (held, child, parent)


def test_a_child_forked_while_a_thread_builds_the_first_index_answers(feature_project):
    # The first cache of the process registers the caches' fork handlers;
    # AstProjectIndex() releases the interpreter lock.
    root, files = feature_project
    setup = """
        building = threading.Thread(target=tolva_rs.AstProjectIndex, args=(files, root))
        building.start()
        done = lambda: not building.is_alive()
    """
    ask = ("sorted((name, f.owner) for name, f in "
           "tolva_rs.AstProjectIndex(files, root).feature_class_ast('mod_0', 'Big').fields.items())")
    held, child, parent = run_held_fork("__register_atfork", setup, ask, "building.join()", root, files)
    assert child == parent, (held, child, parent)
    assert len(parent) == 20
