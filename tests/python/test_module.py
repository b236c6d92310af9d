"""The module as the interpreter sees it: definition, __all__, function
objects, argument binding and conversion errors, re-import, exported symbols."""

import importlib.util
import os
import shutil
import subprocess
import sys

import pytest

import tolva_rs
from conftest import EXTENSION_DIR

FUNCTIONS = [
    ("parse_duration_ms", "(s)"),
    ("parse_duration_s", "(s)"),
    ("seconds_to_duration_string", "(total_seconds)"),
    ("parse_iso_date", "(s)"),
    ("parse_iso_time", "(s)"),
    ("parse_datetime", "(s)"),
    ("parse_iso_duration", "(s)"),
    ("duration_isoformat", "(tduration)"),
    ("timezone_from_name", "(name)"),
    ("to_snake_case", "(name)"),
    ("build_namespaced_name", "(namespace=None, name=None)"),
]
FUNCTION_NAMES = [name for name, _ in FUNCTIONS]

# The classes, in registration order; they precede the functions in __all__.
CLASS_NAMES = ["StdAstFileSystem", "AstFileParserCache", "FeatureFieldAST", "FeatureClassAST", "FunctionArgAST",
               "ResolverAST", "AstProjectIndex"]


def test_all_lists_the_classes_then_the_functions_in_registration_order():
    assert isinstance(tolva_rs.__all__, list)
    assert tolva_rs.__all__ == CLASS_NAMES + FUNCTION_NAMES
    for name in tolva_rs.__all__:
        assert hasattr(tolva_rs, name)


def test_module_doc_is_the_empty_string():
    assert tolva_rs.__doc__ == ""
    assert tolva_rs.__name__ == "tolva_rs"


def test_public_names_are_exactly_all():
    public = sorted(n for n in vars(tolva_rs) if not n.startswith("_"))
    assert public == sorted(tolva_rs.__all__)


@pytest.mark.parametrize("name,signature", FUNCTIONS)
def test_function_objects(name, signature):
    function = getattr(tolva_rs, name)
    assert function.__name__ == name
    assert function.__qualname__ == name
    assert function.__text_signature__ == signature
    assert function.__doc__ is None
    assert function.__module__ == "tolva_rs"
    assert function.__self__ is tolva_rs
    assert type(function).__name__ == "builtin_function_or_method"


def test_signatures_read_by_inspect():
    import inspect

    sig = inspect.signature(tolva_rs.build_namespaced_name)
    assert [(p.name, p.default, p.kind) for p in sig.parameters.values()] == [
        ("namespace", None, inspect.Parameter.POSITIONAL_OR_KEYWORD),
        ("name", None, inspect.Parameter.POSITIONAL_OR_KEYWORD),
    ]
    assert str(inspect.signature(tolva_rs.to_snake_case)) == "(name)"


def _type_error(call):
    with pytest.raises(TypeError) as info:
        call()
    assert type(info.value) is TypeError
    return str(info.value)


# Binding: the interpreter's own wording, naming the function.
BINDING_ERRORS = [
    (lambda: tolva_rs.to_snake_case(), "to_snake_case() missing 1 required positional argument: 'name'"),
    (lambda: tolva_rs.to_snake_case("A", "B"), "to_snake_case() takes 1 positional argument but 2 were given"),
    (lambda: tolva_rs.to_snake_case(x="A"), "to_snake_case() got an unexpected keyword argument 'x'"),
    (lambda: tolva_rs.to_snake_case("A", name="B"), "to_snake_case() got multiple values for argument 'name'"),
    (lambda: tolva_rs.to_snake_case(**{"name": "A", "other": 1}),
     "to_snake_case() got an unexpected keyword argument 'other'"),
    (lambda: tolva_rs.build_namespaced_name("a", "b", "c"),
     "build_namespaced_name() takes from 0 to 2 positional arguments but 3 were given"),
    (lambda: tolva_rs.build_namespaced_name("a", namespace="b"),
     "build_namespaced_name() got multiple values for argument 'namespace'"),
    (lambda: tolva_rs.build_namespaced_name(ns="a"), "build_namespaced_name() got an unexpected keyword argument 'ns'"),
    (lambda: tolva_rs.parse_iso_duration(), "parse_iso_duration() missing 1 required positional argument: 's'"),
    (lambda: tolva_rs.duration_isoformat(None, None),
     "duration_isoformat() takes 1 positional argument but 2 were given"),
    (lambda: tolva_rs.seconds_to_duration_string(seconds=1),
     "seconds_to_duration_string() got an unexpected keyword argument 'seconds'"),
    (lambda: tolva_rs.timezone_from_name(), "timezone_from_name() missing 1 required positional argument: 'name'"),
]


@pytest.mark.parametrize("call,message", BINDING_ERRORS)
def test_binding_errors(call, message):
    assert _type_error(call) == message


KEYWORD_CALLS = {
    "parse_duration_ms": {"s": "1h30m"},
    "parse_duration_s": {"s": "90s"},
    "seconds_to_duration_string": {"total_seconds": 90},
    "parse_iso_date": {"s": "2024-03-05"},
    "parse_iso_time": {"s": "10:00:00Z"},
    "parse_datetime": {"s": "2024-03-05T10:00:00"},
    "parse_iso_duration": {"s": "P1DT2H"},
    "duration_isoformat": {"tduration": __import__("datetime").timedelta(1)},
    "timezone_from_name": {"name": "UTC"},
    "to_snake_case": {"name": "FeatureClass"},
    "build_namespaced_name": {"namespace": "Ns", "name": "X"},
}


@pytest.mark.parametrize("name", FUNCTION_NAMES)
def test_every_function_binds_its_parameters_by_position_or_keyword(name):
    function = getattr(tolva_rs, name)
    keywords = KEYWORD_CALLS[name]
    assert function(**keywords) == function(*keywords.values())


# Conversion: "argument '{}': {}" with the conversion error as __cause__.
CONVERSION_ERRORS = [
    (lambda: tolva_rs.to_snake_case(1), "name", "must be str, not int"),
    (lambda: tolva_rs.to_snake_case(b"Ab"), "name", "must be str, not bytes"),
    (lambda: tolva_rs.build_namespaced_name(namespace=3), "namespace", "must be str, not int"),
    (lambda: tolva_rs.build_namespaced_name("Ns", ["x"]), "name", "must be str, not list"),
    (lambda: tolva_rs.parse_iso_date(None), "s", "must be str, not NoneType"),
    (lambda: tolva_rs.parse_duration_ms(5), "s", "must be str, not int"),
    (lambda: tolva_rs.timezone_from_name(1.5), "name", "must be str, not float"),
    (lambda: tolva_rs.seconds_to_duration_string("90"), "total_seconds", "must be real number, not str"),
    (lambda: tolva_rs.seconds_to_duration_string(None), "total_seconds", "must be real number, not NoneType"),
]


@pytest.mark.parametrize("call,parameter,cause", CONVERSION_ERRORS)
def test_conversion_errors_name_the_argument_and_keep_the_cause(call, parameter, cause):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == f"argument '{parameter}': {cause}"
    assert type(info.value.__cause__) is TypeError
    assert str(info.value.__cause__) == cause


def test_conversion_exceptions_other_than_type_error_pass_unchanged():
    class BadFloat:
        def __float__(self):
            raise ZeroDivisionError("no float")

    with pytest.raises(ZeroDivisionError, match="^no float$"):
        tolva_rs.seconds_to_duration_string(BadFloat())

    # A subclass of TypeError is the caller's own, more precise error: it is
    # not replaced by the prefixed TypeError.
    class NotAFloat(TypeError):
        pass

    class RefusingFloat:
        def __float__(self):
            raise NotAFloat("refused")

    with pytest.raises(NotAFloat, match="^refused$"):
        tolva_rs.seconds_to_duration_string(RefusingFloat())
    # An int too large for a float: the interpreter's OverflowError, no prefix.
    with pytest.raises(OverflowError) as info:
        tolva_rs.seconds_to_duration_string(10**400)
    assert not str(info.value).startswith("argument")


@pytest.mark.parametrize(
    "call",
    [
        lambda s: tolva_rs.to_snake_case(s),
        lambda s: tolva_rs.build_namespaced_name(s),
        lambda s: tolva_rs.build_namespaced_name(name=s),
        lambda s: tolva_rs.parse_duration_ms(s),
        lambda s: tolva_rs.parse_duration_s(s),
        lambda s: tolva_rs.parse_iso_date(s),
        lambda s: tolva_rs.parse_iso_time(s),
        lambda s: tolva_rs.parse_datetime(s),
        lambda s: tolva_rs.parse_iso_duration(s),
        lambda s: tolva_rs.timezone_from_name(s),
    ],
)
def test_lone_surrogate_raises_unicode_encode_error_unchanged(call):
    with pytest.raises(UnicodeEncodeError) as info:
        call("Feature\udc80Class")
    assert not str(info.value).startswith("argument")
    assert info.value.__cause__ is None


def test_text_subclasses_are_accepted():
    class Text(str):
        pass

    assert tolva_rs.to_snake_case(Text("FeatureClass")) == "feature_class"
    assert tolva_rs.parse_duration_s(Text("90s")) == 90


def _fresh_module():
    spec = importlib.util.find_spec("tolva_rs")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def test_reimport_into_a_fresh_module_object_behaves_the_same():
    fresh = _fresh_module()
    assert fresh is not tolva_rs
    assert fresh.__all__ == tolva_rs.__all__
    assert fresh.__all__ is not tolva_rs.__all__
    assert fresh.to_snake_case.__self__ is fresh
    assert fresh.to_snake_case("HTTPServerError") == tolva_rs.to_snake_case("HTTPServerError")
    assert fresh.parse_datetime("2024-03-05T10:00:00Z") == tolva_rs.parse_datetime("2024-03-05T10:00:00Z")
    for name in CLASS_NAMES:
        assert getattr(fresh, name) is getattr(tolva_rs, name)


def test_exec_refuses_an_all_that_is_not_a_list():
    spec = importlib.util.find_spec("tolva_rs")
    module = importlib.util.module_from_spec(spec)
    module.__all__ = ("mine",)
    with pytest.raises(TypeError, match=r"^__all__ must be a list, not tuple$"):
        spec.loader.exec_module(module)
    # The body stopped at the first name: nothing was added.
    assert module.__all__ == ("mine",)
    assert not hasattr(module, "parse_duration_ms")


def test_exec_extends_an_existing_all_list():
    spec = importlib.util.find_spec("tolva_rs")
    module = importlib.util.module_from_spec(spec)
    module.__all__ = ["mine"]
    spec.loader.exec_module(module)
    assert module.__all__ == ["mine"] + CLASS_NAMES + FUNCTION_NAMES


def _run_python(*args, code):
    env = dict(os.environ, PYTHONPATH=str(EXTENSION_DIR))
    return subprocess.run([sys.executable, *args, "-c", code], capture_output=True, text=True, env=env, timeout=60)


def test_import_is_silent_under_warnings_as_errors():
    result = _run_python("-W", "error", "-X", "dev", code="import tolva_rs; print(tolva_rs.__all__[0])")
    assert result.returncode == 0, result.stderr
    assert result.stderr == ""
    assert result.stdout.strip() == (CLASS_NAMES + FUNCTION_NAMES)[0]


def test_extension_exports_only_its_init_function():
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm (binutils) is not installed")
    extensions = list(EXTENSION_DIR.glob("tolva_rs*.so"))
    assert len(extensions) == 1, extensions
    result = subprocess.run([nm, "-D", "--defined-only", str(extensions[0])], capture_output=True, text=True,
                            check=True)
    symbols = [line.split()[-1] for line in result.stdout.splitlines() if line.strip()]
    assert symbols == ["PyInit_tolva_rs"]
    assert extensions[0].name == "tolva_rs" + __import__("sysconfig").get_config_var("EXT_SUFFIX")
