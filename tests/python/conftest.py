"""Puts the freshly built extension first on sys.path."""

import os
import pathlib
import subprocess
import sys
import textwrap
import threading

import pytest

_ROOT = pathlib.Path(__file__).resolve().parents[2]
_BUILD = pathlib.Path(os.environ.get("TOLVA_BUILD_DIR", _ROOT / "build" / "release"))
sys.path.insert(0, str(_BUILD / "python"))

# For tests that run the module in a subprocess or inspect the built file.
EXTENSION_DIR = _BUILD / "python"
REPO_ROOT = _ROOT


def with_extension(code):
    """The script `code` (dedented), with the freshly built extension first
    on its sys.path, for an interpreter of its own."""
    return f"import sys\nsys.path.insert(0, {str(EXTENSION_DIR)!r})\n" + textwrap.dedent(code)


def run_in_fresh_interpreter(code, timeout, env=None):
    """Runs `code` (see with_extension) in a new process of this interpreter;
    the completed process, its output as text."""
    return subprocess.run([sys.executable, "-c", with_extension(code)], capture_output=True, text=True,
                          timeout=timeout, env=env)

# The differential runs against the standard library's fromisoformat need
# Python 3.11 or later: before 3.11 it reads only what isoformat() writes (no
# basic format, no week dates, no "Z", no comma fraction), so it is no peer
# for the ISO 8601 forms.
fromisoformat_reads_iso_8601 = pytest.mark.skipif(
    sys.version_info < (3, 11), reason="fromisoformat reads ISO 8601 forms from Python 3.11 on")


def errors_on_threads(work, count=8):
    """Runs work(seed) for seeds 0 to count - 1, each on a thread of its own,
    all at once; the exceptions they raised."""
    errors = []

    def run(seed):
        try:
            work(seed)
        except BaseException as error:  # handed to the caller
            errors.append(error)

    threads = [threading.Thread(target=run, args=(seed,)) for seed in range(count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return errors
