"""StdAstFileSystem and AstFileParserCache."""

import os

import pytest

import tolva_rs


def test_file_system_lists_python_files_sorted_once():
    fs = tolva_rs.StdAstFileSystem(["b.py", "a.py", "b.py", "notes.txt", "C.PY", "Z.py", "./a.py", "x.pyc", ".py"])
    files = fs.all_files()
    assert files == ["./a.py", "Z.py", "a.py", "b.py"]
    files.clear()
    assert fs.all_files() == ["./a.py", "Z.py", "a.py", "b.py"]
    assert tolva_rs.StdAstFileSystem([]).all_files() == []


def test_file_system_sorts_by_bytes():
    names = ["é.py", "z.py", "Z.py", "a.py", "\U0001F600.py", "\uFFFD.py"]
    assert tolva_rs.StdAstFileSystem(names).all_files() == sorted(names, key=lambda t: t.encode("utf-8"))


def test_read_to_string_reads_any_path(tmp_path):
    listed = tmp_path / "a.py"
    listed.write_text("x = 1\n")
    unlisted = tmp_path / "notes.txt"
    unlisted.write_text("héllo\r\nworld")
    fs = tolva_rs.StdAstFileSystem([str(listed)])
    assert fs.read_to_string(str(listed)) == "x = 1\n"
    assert fs.read_to_string(path=str(unlisted)) == "héllo\r\nworld"


def test_read_to_string_relative_to_the_working_directory(tmp_path, monkeypatch):
    (tmp_path / "rel.py").write_text("y = 2\n")
    monkeypatch.chdir(tmp_path)
    assert tolva_rs.StdAstFileSystem([]).read_to_string("rel.py") == "y = 2\n"


@pytest.mark.parametrize("make,expected", [
    (lambda d: str(d / "missing.py"), lambda d: "No such file or directory (os error 2)"),
    (lambda d: str(d), lambda d: "Is a directory (os error 21)"),
    (lambda d: _write(d / "bad.py", b"x = '\xff'\n"), lambda d: "stream did not contain valid UTF-8"),
    (lambda d: "a\0b.py", lambda d: "file name contained an unexpected NUL byte"),
])
def test_read_errors_are_os_errors_with_one_text_argument(tmp_path, make, expected):
    fs = tolva_rs.StdAstFileSystem([])
    with pytest.raises(OSError) as info:
        fs.read_to_string(make(tmp_path))
    assert type(info.value) is OSError
    assert info.value.args == (expected(tmp_path),)
    assert info.value.errno is None
    assert str(info.value) == expected(tmp_path)


def test_unreadable_file(tmp_path):
    if os.geteuid() == 0:
        pytest.skip("root reads every file")
    path = _write(tmp_path / "secret.py", b"x = 1\n")
    os.chmod(path, 0)
    with pytest.raises(OSError, match=r"^Permission denied \(os error 13\)$"):
        tolva_rs.StdAstFileSystem([]).read_to_string(path)


def _write(path, data):
    path.write_bytes(data)
    return str(path)


def test_cache_over_its_own_or_a_shared_file_system():
    fs = tolva_rs.StdAstFileSystem(["b.py", "a.py"])
    assert tolva_rs.AstFileParserCache(["x.py"], "/p", fs).all_files() == ["a.py", "b.py"]
    assert tolva_rs.AstFileParserCache(["x.py"], "/p", filesystem=None).all_files() == ["x.py"]
    assert tolva_rs.AstFileParserCache(files=["y.py", "n.txt"], project_root="/p").all_files() == ["y.py"]


IMPORTS = """\
from m import a as z
from m import a as b
from m import c
from tolva.features import features, feature as f
from . import sibling
from .rel import thing
import tolva
if True:
    from hidden import x
def g():
    from inner import y
from star import *
"""


def test_get_parsed_file_gives_path_source_and_top_level_imports(tmp_path):
    path = tmp_path / "mod.py"
    path.write_text(IMPORTS)
    cache = tolva_rs.AstFileParserCache([str(path)], str(tmp_path))
    parsed = cache.get_parsed_file(str(path))
    assert type(parsed) is tuple and len(parsed) == 3
    assert parsed[0] == str(path)
    assert parsed[1] == IMPORTS
    assert parsed[2] == {
        "m": {"a": ["b", "z"], "c": ["c"]},
        "tolva.features": {"features": ["features"], "feature": ["f"]},
        "star": {"*": ["*"]},
    }
    again = cache.get_parsed_file(path=str(path))
    assert again == parsed and again[2] is not parsed[2]


def test_local_names_are_sorted_by_bytes(tmp_path):
    path = tmp_path / "m.py"
    path.write_text("from m import a as zz, a as z, a as é, a as Z, a as z2\n")
    imports = tolva_rs.AstFileParserCache([], str(tmp_path)).get_parsed_file(str(path))[2]
    assert imports == {"m": {"a": ["Z", "z", "z2", "zz", "é"]}}


def test_parse_failures_are_value_errors_kept_for_the_life_of_the_cache(tmp_path):
    path = tmp_path / "bad.py"
    path.write_text("def f(:\n")
    cache = tolva_rs.AstFileParserCache([str(path)], str(tmp_path))
    with pytest.raises(ValueError) as first:
        cache.get_parsed_file(str(path))
    assert type(first.value) is ValueError
    assert str(first.value).startswith(f"Failed to parse {path}: ")
    path.write_text("def f():\n    pass\n")
    with pytest.raises(ValueError) as second:
        cache.get_parsed_file(str(path))
    assert str(second.value) == str(first.value)
    # A new cache reads the mended file.
    assert tolva_rs.AstFileParserCache([], str(tmp_path)).get_parsed_file(str(path))[1] == "def f():\n    pass\n"


def test_read_failure_is_a_value_error(tmp_path):
    missing = str(tmp_path / "missing.py")
    with pytest.raises(ValueError) as info:
        tolva_rs.AstFileParserCache([], str(tmp_path)).get_parsed_file(missing)
    assert str(info.value) == f"Failed to read {missing}: No such file or directory (os error 2)"


def test_the_same_file_under_two_path_texts_gives_two_results(tmp_path, monkeypatch):
    (tmp_path / "a.py").write_text("from m import x\n")
    monkeypatch.chdir(tmp_path)
    cache = tolva_rs.AstFileParserCache(["a.py"], str(tmp_path))
    first, second = cache.get_parsed_file("a.py"), cache.get_parsed_file("./a.py")
    assert (first[0], second[0]) == ("a.py", "./a.py")
    assert first[1:] == second[1:]


def test_one_file_system_shared_by_a_cache_and_an_index(tmp_path):
    (tmp_path / "a.py").write_text("def fa():\n    pass\n")
    (tmp_path / "b.py").write_text("def fb():\n    pass\n")
    (tmp_path / "c.py").write_text("def fc():\n    pass\n")
    a, b, c = (str(tmp_path / n) for n in ("a.py", "b.py", "c.py"))
    fs = tolva_rs.StdAstFileSystem([c])
    cache = tolva_rs.AstFileParserCache([a], str(tmp_path), fs)
    index = tolva_rs.AstProjectIndex([a, b], str(tmp_path), filesystem=fs)
    assert cache.all_files() == [c]
    # The index walks its own list and reads it through the shared file
    # system, which reads any path; c.py is not visited by project lookups.
    assert index.function_ast("a", "fa").resolver_name == "fa"
    assert index.function_ast("b", "fb").resolver_name == "fb"
    assert index.function_ast("c", "fc") is None
    assert index.function_ast_in_file(c, "fc").module == "c"
    assert cache.get_parsed_file(c)[1] == "def fc():\n    pass\n"
    del fs
    assert cache.get_parsed_file(b)[0] == b
