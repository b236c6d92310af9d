"""Getters and lookups leave no reference or native memory behind: a million
calls keep the resident set flat."""

import gc

import pytest

import tolva_rs
from analysis_fixtures import write_project


def _resident_kib():
    with open("/proc/self/statm") as statm:
        pages = int(statm.read().split()[1])
    import resource

    return pages * resource.getpagesize() // 1024


def _growth_kib(step, warmup, repeat):
    for _ in range(warmup):
        step()
    gc.collect()
    before = _resident_kib()
    for _ in range(repeat):
        step()
    gc.collect()
    return _resident_kib() - before


@pytest.fixture(scope="module")
def index(tmp_path_factory):
    root = tmp_path_factory.mktemp("leaks")
    _, files = write_project(root)
    return tolva_rs.AstProjectIndex(files, str(root))


def test_a_million_getter_calls_leave_memory_flat(index):
    r = index.resolver_ast("pkg.resolvers", "get_balance")
    c = index.feature_class_ast("pkg.features", "UserAccount")
    field = c.fields["balance"]

    def step():
        r.kwarg_dict_values
        r.args
        r.return_statements
        r.decorator_location
        c.fields
        c.annotations
        c.source
        field.tags
        field.owner
        field.kwargs

    # Ten getters per step.
    assert _growth_kib(step, 10_000, 100_000) < 4096


def test_a_million_lookups_leave_memory_flat(index):
    def step():
        index.resolver_ast("pkg.resolvers", "get_balance")
        index.function_ast("pkg.resolvers", "missing")
        index.feature_class_ast("pkg.features", "UserAccount").fields["balance"].kwargs

    assert _growth_kib(step, 20_000, 333_334) < 4096
