"""AstProjectIndex lookups over small projects."""

import os
import pathlib

import pytest

import tolva_rs
from analysis_fixtures import write_project

LOOKUPS = ["feature_class_ast", "resolver_ast", "function_ast"]
FILE_LOOKUPS = ["feature_class_ast_in_file", "resolver_ast_in_file", "function_ast_in_file"]


@pytest.fixture
def project(tmp_path):
    paths, files = write_project(tmp_path)
    return paths, files, tolva_rs.AstProjectIndex(files, str(tmp_path))


def test_lookups_that_match_nothing_answer_none(project, tmp_path):
    paths, _, index = project
    for name in LOOKUPS:
        assert getattr(index, name)("pkg.features", "Nothing") is None
        assert getattr(index, name)("no.such.module", "UserAccount") is None
    for name in FILE_LOOKUPS:
        assert getattr(index, name)(paths["features"], "Nothing") is None
        assert getattr(index, name)(str(tmp_path / "missing.py"), "x") is None
        assert getattr(index, name)("nul\0byte.py", "x") is None
        assert getattr(index, name)(str(tmp_path), "x") is None  # a directory
    # A function is not a feature class, a feature class is not a function.
    assert index.feature_class_ast("pkg.resolvers", "get_balance") is None
    assert index.function_ast("pkg.features", "UserAccount") is None
    # Files that fail to read or parse are skipped, never raised.
    assert index.function_ast("pkg.broken", "broken") is None
    assert index.function_ast_in_file(paths["broken"], "broken") is None
    empty = tolva_rs.AstProjectIndex([], str(tmp_path))
    for name in LOOKUPS:
        assert getattr(empty, name)("pkg.features", "UserAccount") is None


def test_module_and_file_lookups_agree(project):
    paths, _, index = project
    by_module = index.feature_class_ast("pkg.features", "UserAccount")
    by_file = index.feature_class_ast_in_file(paths["features"], "UserAccount")
    assert by_module is not by_file
    assert _attributes(by_module) == _attributes(by_file)
    assert _attributes(index.resolver_ast("pkg.resolvers", "nightly")) == _attributes(
        index.resolver_ast_in_file(file_path=paths["resolvers"], resolver_name="nightly"))
    assert _attributes(index.function_ast(module="pkg.resolvers", function_name="plain")) == _attributes(
        index.function_ast_in_file(paths["resolvers"], "plain"))


def test_two_lookups_give_two_objects_with_equal_attributes(project):
    _, _, index = project
    for name, module, record in (("feature_class_ast", "pkg.features", "UserAccount"),
                                 ("resolver_ast", "pkg.resolvers", "get_balance"),
                                 ("function_ast", "pkg.resolvers", "plain")):
        first = getattr(index, name)(module, record)
        second = getattr(index, name)(module, record)
        assert first is not second and first != second and hash(first) != hash(second)
        assert _attributes(first) == _attributes(second)


def _attributes(record):
    """Every attribute, nested records turned into dicts of theirs."""
    names = [n for n, v in vars(type(record)).items() if not n.startswith("__")]
    out = {}
    for name in names:
        value = getattr(record, name)
        if isinstance(value, dict):
            value = {k: _attributes(v) if _is_record(v) else v for k, v in value.items()}
        elif isinstance(value, list):
            value = [_attributes(v) if _is_record(v) else v for v in value]
        out[name] = value
    return out


def _is_record(value):
    return type(value) in (tolva_rs.FeatureFieldAST, tolva_rs.FunctionArgAST)


def test_file_lookup_reads_a_file_that_is_not_listed(tmp_path):
    other = tmp_path / "other.py"
    other.write_text("from tolva.features import features\n@features\nclass Extra:\n    x: int\n")
    index = tolva_rs.AstProjectIndex([], str(tmp_path))
    found = index.feature_class_ast_in_file(str(other), "Extra")
    assert found.module == "other" and set(found.fields) == {"x"}
    # Listed nowhere, so project-wide lookups do not visit it.
    assert index.feature_class_ast("other", "Extra") is None


def test_first_file_of_the_list_wins_among_equal_module_names(tmp_path):
    (tmp_path / "p").mkdir()
    (tmp_path / "q").mkdir()
    first, second = tmp_path / "q" / "x.py", tmp_path / "p" / "x.py"
    first.write_text("def f():\n    return 1\n")
    second.write_text("\n\ndef f():\n    return 2\n")
    index = tolva_rs.AstProjectIndex([str(first), str(second)], str(tmp_path / "p"))
    assert index.function_ast("x", "f").resolver_name_location == (0, 4, 0, 5)
    index = tolva_rs.AstProjectIndex([str(second), str(first)], str(tmp_path / "p"))
    assert index.function_ast("x", "f").resolver_name_location == (2, 4, 2, 5)


def test_outcomes_are_kept_for_the_life_of_the_index(project, tmp_path):
    paths, files, index = project
    assert index.resolver_ast("pkg.resolvers", "get_balance") is not None
    for path in files:
        os.remove(path)
    pathlib.Path(paths["broken"]).write_text("def broken():\n    pass\n")
    assert index.resolver_ast("pkg.resolvers", "get_balance").resolver_name == "get_balance"
    assert index.feature_class_ast("pkg.features", "UserAccount").namespace == "fraud"
    assert index.function_ast("pkg.broken", "broken") is None


def test_non_python_file_in_the_list_is_read_and_analysed_when_it_parses(tmp_path):
    notes = tmp_path / "notes.txt"
    notes.write_text("def from_notes():\n    pass\n")
    index = tolva_rs.AstProjectIndex([str(notes)], str(tmp_path))
    assert index.function_ast("notes.txt", "from_notes").module == "notes.txt"


def test_relative_paths_are_read_against_the_working_directory(tmp_path, monkeypatch):
    (tmp_path / "pkg").mkdir()
    (tmp_path / "pkg" / "m.py").write_text("def g():\n    pass\n")
    monkeypatch.chdir(tmp_path)
    index = tolva_rs.AstProjectIndex(["pkg/m.py"], "/elsewhere")
    assert index.function_ast("pkg.m", "g").resolver_name == "g"
    # A relative path whose file is missing gives no location, so no record.
    assert index.function_ast_in_file("pkg/missing.py", "g") is None


def test_nonblocking_start_index(project):
    _, _, index = project
    assert index.nonblocking_start_index() is None
    assert index.nonblocking_start_index() is None
    assert index.feature_class_ast("pkg.features", "UserAccount").class_name == "UserAccount"
    assert tolva_rs.AstProjectIndex([], "/p").nonblocking_start_index() is None


def test_index_lives_while_indexing_runs_after_the_object_is_gone(tmp_path):
    files = []
    for i in range(200):
        path = tmp_path / f"m{i}.py"
        path.write_text(f"def f{i}(a, b: int) -> int:\n    return a\n")
        files.append(str(path))
    index = tolva_rs.AstProjectIndex(files, str(tmp_path))
    index.nonblocking_start_index()
    del index
    index = tolva_rs.AstProjectIndex(files, str(tmp_path))
    index.nonblocking_start_index()
    assert index.function_ast("m199", "f199").args_in_order == ["a", "b"]
