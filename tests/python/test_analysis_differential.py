"""The record objects against `tolva-dump analyse`, which writes the same
analysis as JSON straight from the native records: every attribute of every
record of a sample of the standard library, as it is and decorated with
feature and resolver decorators, must show the same values through Python.

The only normalisation, made on the JSON side: JSON has no tuples, so a
location written as a list [l, c, l, c] is compared as the 4-tuple."""

import json
import os
import pathlib
import subprocess
import sysconfig

import pytest

import tolva_rs
from conftest import EXTENSION_DIR

TOOL = EXTENSION_DIR.parent / "bin" / "tolva-dump"
# The running interpreter's own standard library: present wherever the tests run.
LIBRARY = pathlib.Path(os.environ.get("TOLVA_DIFF_LIBRARY", sysconfig.get_paths()["stdlib"]))
# Every n-th file of the library, in sorted order.
STRIDE = int(os.environ.get("TOLVA_DIFF_STRIDE", "3"))

pytestmark = pytest.mark.skipif(not TOOL.exists() or not LIBRARY.is_dir(),
                                reason="needs tolva-dump and a standard library")

RECORD_KEYS = {
    "ResolverAST": ["module", "resolver_name", "resolver_name_location", "decorator_location", "kwarg_names", "kwargs",
                    "kwarg_dict_key_names", "kwarg_dict_values", "args_in_order", "args", "return_annotation",
                    "missing_return_annotation", "return_statements", "body", "return_arg"],
    "FunctionArgAST": ["arg_name", "arg_location", "annotation"],
    "FeatureClassAST": ["module", "namespace", "class_name", "source", "class_name_location",
                        "class_definition_location", "decorator_location", "kwarg_names", "kwargs", "fields",
                        "annotations"],
    "FeatureFieldAST": ["field_name", "field_name_location", "comment", "description", "owner", "tags", "annotation",
                        "feature_call", "kwarg_names", "kwargs"],
}


def python_side(value):
    """A record object as a dict of its attributes, in attribute order, nested
    records likewise; containers as they are."""
    kind = type(value).__name__
    if kind in RECORD_KEYS:
        return {key: python_side(getattr(value, key)) for key in RECORD_KEYS[kind]}
    if type(value) is dict:
        return {key: python_side(item) for key, item in value.items()}
    if type(value) is list:
        return [python_side(item) for item in value]
    return value


def json_side(value, key=None):
    """The JSON record with every location list made a tuple."""
    if isinstance(value, dict):
        return {k: json_side(v, k) for k, v in value.items()}
    if isinstance(value, list):
        if len(value) == 4 and all(type(part) is int for part in value):
            return tuple(value)
        return [json_side(item) for item in value]
    return value


def _sample():
    files = sorted((p for p in LIBRARY.rglob("*.py") if "site-packages" not in p.parts), key=lambda p: str(p).encode())
    return files[::STRIDE]


DECORATION = "from tolva import online\nfrom tolva.features import features, feature\n"


def _decorate(source):
    """Feature and resolver decorators on the top-level classes and functions,
    and own-line comment blocks on the top-level lines of class bodies."""
    out = [DECORATION]
    for number, line in enumerate(source.splitlines(keepends=True)):
        if line.startswith("def "):
            out.append(f"@online(owner='team{number}', tags={{'line': '{number}', 'x': [1]}})\n")
        elif line.startswith("class "):
            out.append(f"@features(name='ns{number}', owner='o')\n")
        elif line.startswith("    ") and not line.startswith("     ") and line[4:5].isidentifier():
            out.append(f"    # Field on line {number}.\n    # :owner: owner{number}\n    # :tags: a{number}, b\n")
        out.append(line)
    return "".join(out)


@pytest.fixture(scope="module")
def corpora(tmp_path_factory):
    plain = _sample()
    decorated_root = tmp_path_factory.mktemp("decorated")
    decorated = []
    for path in plain:
        target = decorated_root / path.relative_to(LIBRARY)
        target.parent.mkdir(parents=True, exist_ok=True)
        try:
            target.write_text(_decorate(path.read_text(encoding="utf-8")), encoding="utf-8")
        except UnicodeDecodeError:
            continue
        decorated.append(target)
    return {"plain": (LIBRARY, plain), "decorated": (decorated_root, decorated)}


def _dump(root, files):
    lines = []
    for start in range(0, len(files), 200):
        batch = [str(f) for f in files[start:start + 200]]
        result = subprocess.run([str(TOOL), "analyse", str(root), *batch], capture_output=True, text=True,
                                timeout=600)
        assert result.returncode == 0, result.stderr
        lines.extend(json.loads(line) for line in result.stdout.splitlines())
        assert len(lines) == start + len(batch)
    return lines


def _first_by_name(records, key):
    first = {}
    for record in records:
        first.setdefault(record[key], record)
    return first


@pytest.mark.parametrize("corpus", ["plain", "decorated"])
def test_record_objects_show_the_values_of_the_native_records(corpora, corpus):
    root, files = corpora[corpus]
    dumped = _dump(root, files)
    index = tolva_rs.AstProjectIndex([str(f) for f in files], str(root))
    differences = []
    counts = {"functions": 0, "resolvers": 0, "feature_classes": 0, "fields": 0}

    def compare(where, expected, record):
        actual = python_side(record) if record is not None else None
        if actual != json_side(expected):
            differences.append((where, expected, actual))

    for entry in dumped:
        path = entry["path"]
        if "error" in entry or entry["uri"] is None:
            assert index.function_ast_in_file(path, "main") is None
            continue
        for name, record in _first_by_name(entry["functions"], "resolver_name").items():
            counts["functions"] += 1
            compare((path, "function", name), record, index.function_ast_in_file(path, name))
        for name, record in _first_by_name(entry["resolvers"], "resolver_name").items():
            counts["resolvers"] += 1
            compare((path, "resolver", name), record, index.resolver_ast_in_file(path, name))
        for name, record in _first_by_name(entry["feature_classes"], "class_name").items():
            counts["feature_classes"] += 1
            counts["fields"] += len(record["fields"])
            compare((path, "feature class", name), record, index.feature_class_ast_in_file(path, name))
        # The module lookup finds the same first function of the file, unless
        # an earlier file of the list has the same module name.
        if entry["functions"]:
            name = entry["functions"][0]["resolver_name"]
            found = index.function_ast(entry["module"], name)
            assert found is not None and found.module == entry["module"]
    assert not differences, f"{len(differences)} differences; first: {differences[:3]}"
    assert counts["functions"] > 100
    if corpus == "decorated":
        assert counts["resolvers"] > 20 and counts["feature_classes"] > 20 and counts["fields"] > 50
