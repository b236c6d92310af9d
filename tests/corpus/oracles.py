"""The oracle interpreters as the corpus scripts see them.

cmake/oracle_interpreters.cmake finds them and hands them to every test
through the environment: TOLVA_ORACLE_VERSIONS ("3.11 3.12 3.13"), and for
each version TOLVA_PYTHON_3_12 (the interpreter, empty when none was found)
and TOLVA_STDLIB_3_12 (its standard library). A script whose interpreter is
missing skips (status 77) and says why; under CI (CI=true) it fails instead,
so that a machine without the interpreters cannot pass by skipping.
"""

import os

SKIP = 77


def running_in_ci():
    return os.environ.get("CI", "") in ("true", "1")


def unavailable(reason):
    """The exit status of a script that cannot run for `reason`, printed."""
    if running_in_ci():
        print(f"FAIL: {reason} (CI=true: every oracle interpreter is required)")
        return 1
    print(f"SKIP: {reason}")
    return SKIP


def versions():
    return os.environ.get("TOLVA_ORACLE_VERSIONS", "").split()


def stdlib(version):
    """The standard library folder of `version`, or None."""
    path = os.environ.get("TOLVA_STDLIB_" + version.replace(".", "_"), "")
    return path if path and os.path.isdir(path) else None


def interpreter_missing(path):
    """The reason an interpreter argument cannot be run, or None."""
    if path.startswith("missing-python"):
        return f"no Python {path[len('missing-python'):]} interpreter was found when the build was configured"
    if not os.access(path, os.X_OK):
        return f"no interpreter at {path}"
    return None
