"""The type stub against the module, where stubtest cannot look: a class's
constructor parameters live only in its text signature (its __new__ takes
*args and **kwargs), so they are compared here; and the build folder holds
the stub beside the extension."""

import ast
import inspect

import pytest

import tolva_rs
from conftest import EXTENSION_DIR, REPO_ROOT

STUB = REPO_ROOT / "src" / "python_module" / "tolva_rs.pyi"


def _stub_classes():
    tree = ast.parse(STUB.read_text(encoding="utf-8"))
    return {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}


def _stub_constructor(node):
    """(name, default text or None) of each parameter of the stub's __new__
    after cls, or None when the class has no constructor."""
    for item in node.body:
        if isinstance(item, ast.FunctionDef) and item.name == "__new__":
            arguments = item.args
            assert not (arguments.posonlyargs or arguments.kwonlyargs or arguments.vararg or arguments.kwarg)
            names = [argument.arg for argument in arguments.args[1:]]
            defaults = [None] * (len(names) - len(arguments.defaults)) + [
                ast.unparse(default) for default in arguments.defaults]
            return list(zip(names, defaults))
    return None


def _runtime_constructor(cls):
    if cls.__text_signature__ is None:
        return None
    parameters = inspect.signature(cls).parameters.values()
    assert all(parameter.kind is parameter.POSITIONAL_OR_KEYWORD for parameter in parameters)
    return [(parameter.name, None if parameter.default is parameter.empty else repr(parameter.default))
            for parameter in parameters]


def test_every_stub_class_has_the_constructor_of_the_module_class():
    classes = _stub_classes()
    present = [name for name in classes if hasattr(tolva_rs, name)]
    if not present:
        pytest.skip("this build registers none of the classes of the stub")
    assert present == list(classes), "the module lacks some classes of the stub"
    for name, node in classes.items():
        assert _stub_constructor(node) == _runtime_constructor(getattr(tolva_rs, name)), name


def test_the_constructor_comparison_sees_a_difference():
    # The comparison itself, on a constructor whose runtime signature is known.
    node = ast.parse("class A:\n    def __new__(cls, files, project_root, filesystem=None): ...").body[0]
    assert _stub_constructor(node) == [("files", None), ("project_root", None), ("filesystem", "None")]
    assert _stub_constructor(ast.parse("class B:\n    x: int").body[0]) is None


def test_the_build_folder_holds_the_stub_beside_the_extension():
    built = EXTENSION_DIR / "tolva_rs.pyi"
    assert built.read_bytes() == STUB.read_bytes()
    assert any(EXTENSION_DIR.glob("tolva_rs.*.so"))
