"""The seven analysis classes as the interpreter sees them: their shape,
doc texts and signatures, argument binding and conversion errors."""

import inspect

import pytest

import tolva_rs
from analysis_fixtures import write_project

CONSTRUCTIBLE = {
    "StdAstFileSystem": "(files)",
    "AstFileParserCache": "(files, project_root, filesystem=None)",
    "AstProjectIndex": "(files, project_root, filesystem=None)",
}
RECORDS = ["FeatureFieldAST", "FeatureClassAST", "FunctionArgAST", "ResolverAST"]
ALL_CLASSES = list(CONSTRUCTIBLE) + RECORDS

METHODS = {
    "StdAstFileSystem": [("read_to_string", "($self, path)"), ("all_files", "($self)")],
    "AstFileParserCache": [("all_files", "($self)"), ("get_parsed_file", "($self, path)")],
    "AstProjectIndex": [
        ("feature_class_ast", "($self, module, class_name)"),
        ("feature_class_ast_in_file", "($self, file_path, class_name)"),
        ("resolver_ast", "($self, module, resolver_name)"),
        ("resolver_ast_in_file", "($self, file_path, resolver_name)"),
        ("function_ast", "($self, module, function_name)"),
        ("function_ast_in_file", "($self, file_path, function_name)"),
        ("nonblocking_start_index", "($self)"),
    ],
}

ATTRIBUTES = {
    "FeatureFieldAST": ["field_name", "field_name_location", "comment", "description", "owner", "tags", "annotation",
                        "feature_call", "kwarg_names", "kwargs"],
    "FeatureClassAST": ["module", "namespace", "class_name", "source", "class_name_location",
                        "class_definition_location", "decorator_location", "kwarg_names", "kwargs", "fields",
                        "annotations"],
    "FunctionArgAST": ["arg_name", "arg_location", "annotation"],
    "ResolverAST": ["module", "resolver_name", "resolver_name_location", "decorator_location", "kwarg_names", "kwargs",
                    "kwarg_dict_key_names", "kwarg_dict_values", "args_in_order", "args", "return_annotation",
                    "missing_return_annotation", "return_statements", "body", "return_arg"],
}


@pytest.mark.parametrize("name", ALL_CLASSES)
def test_common_shape(name):
    cls = getattr(tolva_rs, name)
    assert isinstance(cls, type)
    assert cls.__name__ == cls.__qualname__ == name
    assert cls.__module__ == "builtins"
    assert cls.__bases__ == (object,)
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    # No special methods of its own: identity comparison and hashing.
    own = set(vars(cls))
    for special in ("__repr__", "__str__", "__eq__", "__ne__", "__lt__", "__hash__", "__iter__", "__len__",
                    "__getitem__", "__contains__", "__call__", "__init__", "__dict__", "__weakref__"):
        assert special not in own, special
    assert cls.__dictoffset__ == 0
    assert cls.__weakrefoffset__ == 0


@pytest.mark.parametrize("name,signature", CONSTRUCTIBLE.items())
def test_constructor_doc_and_signature(name, signature):
    cls = getattr(tolva_rs, name)
    assert cls.__text_signature__ == signature
    # The interpreter shows a heap type's doc text without its signature.
    assert cls.__doc__ == ""
    assert str(inspect.signature(cls)) == signature


@pytest.mark.parametrize("name", RECORDS)
def test_records_cannot_be_instantiated(name):
    cls = getattr(tolva_rs, name)
    assert cls.__doc__ == ""
    with pytest.raises(TypeError):
        cls()
    with pytest.raises(TypeError):
        cls.__new__(cls)


@pytest.mark.parametrize("name,methods", METHODS.items())
def test_methods_in_order_with_their_signatures(name, methods):
    cls = getattr(tolva_rs, name)
    defined = [key for key, value in vars(cls).items() if callable(value) and not key.startswith("__")]
    assert defined == [method for method, _ in methods]
    for method, signature in methods:
        function = getattr(cls, method)
        assert function.__text_signature__ == signature
        assert function.__doc__ is None


@pytest.mark.parametrize("name,attributes", ATTRIBUTES.items())
def test_record_attributes_are_read_only_properties_in_order(name, attributes):
    cls = getattr(tolva_rs, name)
    properties = [key for key, value in vars(cls).items() if inspect.isgetsetdescriptor(value)]
    assert properties == attributes
    for attribute in attributes:
        descriptor = vars(cls)[attribute]
        assert descriptor.__doc__ == ""


def _type_error(call):
    with pytest.raises(TypeError) as info:
        call()
    assert type(info.value) is TypeError
    return str(info.value)


def test_index_argument_errors(tmp_path):
    index = tolva_rs.AstProjectIndex([], str(tmp_path))
    cases = [
        (lambda: tolva_rs.AstProjectIndex(), "AstProjectIndex.__new__() missing 2 required positional arguments: "
                                             "'files' and 'project_root'"),
        (lambda: tolva_rs.AstProjectIndex([], "/p", None, 1),
         "AstProjectIndex.__new__() takes from 2 to 3 positional arguments but 4 were given"),
        (lambda: tolva_rs.AstProjectIndex([], "/p", fs=None),
         "AstProjectIndex.__new__() got an unexpected keyword argument 'fs'"),
        (lambda: tolva_rs.AstProjectIndex("a.py", "/p"), "argument 'files': Can't extract `str` to `Vec`"),
        (lambda: tolva_rs.AstProjectIndex(["a.py", 3], "/p"),
         "argument 'files': sequence item 1: expected str instance, int found"),
        (lambda: tolva_rs.AstProjectIndex(3, "/p"), "argument 'files': must be a sequence of str, not int"),
        (lambda: tolva_rs.AstProjectIndex([], None), "argument 'project_root': must be str, not NoneType"),
        (lambda: tolva_rs.AstProjectIndex([], "/p", filesystem="x"),
         "argument 'filesystem': must be StdAstFileSystem or None, not str"),
        (lambda: index.function_ast("m"),
         "AstProjectIndex.function_ast() missing 1 required positional argument: 'function_name'"),
        (lambda: index.resolver_ast(1, "f"), "argument 'module': must be str, not int"),
        (lambda: index.feature_class_ast_in_file("a.py", None), "argument 'class_name': must be str, not NoneType"),
        (lambda: index.nonblocking_start_index(1), "AstProjectIndex.nonblocking_start_index() takes no arguments (1 given)"),
    ]
    for call, message in cases:
        assert _type_error(call) == message


def test_file_system_and_cache_argument_errors(tmp_path):
    fs = tolva_rs.StdAstFileSystem([])
    cache = tolva_rs.AstFileParserCache([], str(tmp_path))
    cases = [
        (lambda: tolva_rs.StdAstFileSystem("a.py"), "argument 'files': Can't extract `str` to `Vec`"),
        (lambda: tolva_rs.StdAstFileSystem(files=b"a.py"),
         "argument 'files': sequence item 0: expected str instance, int found"),
        (lambda: tolva_rs.StdAstFileSystem({"a.py"}), "argument 'files': must be a sequence of str, not set"),
        (lambda: tolva_rs.StdAstFileSystem(), "StdAstFileSystem.__new__() missing 1 required positional argument: 'files'"),
        (lambda: fs.read_to_string(), "StdAstFileSystem.read_to_string() missing 1 required positional argument: 'path'"),
        (lambda: fs.read_to_string(1), "argument 'path': must be str, not int"),
        (lambda: fs.all_files(1), "StdAstFileSystem.all_files() takes no arguments (1 given)"),
        # `files` is converted, and refused, even when a file system is given.
        (lambda: tolva_rs.AstFileParserCache("x.py", "/p", fs), "argument 'files': Can't extract `str` to `Vec`"),
        (lambda: tolva_rs.AstFileParserCache([], "/p", filesystem=cache),
         "argument 'filesystem': must be StdAstFileSystem or None, not AstFileParserCache"),
        (lambda: cache.get_parsed_file(path=2), "argument 'path': must be str, not int"),
    ]
    for call, message in cases:
        assert _type_error(call) == message


def test_methods_refuse_a_receiver_of_another_class(tmp_path):
    cache = tolva_rs.AstFileParserCache([], str(tmp_path))
    index = tolva_rs.AstProjectIndex([], str(tmp_path))
    for call in (lambda: tolva_rs.StdAstFileSystem.read_to_string(cache, "a.py"),
                 lambda: tolva_rs.StdAstFileSystem.all_files(index),
                 lambda: tolva_rs.AstProjectIndex.function_ast(object(), "m", "f"),
                 lambda: tolva_rs.AstProjectIndex.nonblocking_start_index(cache),
                 lambda: vars(tolva_rs.ResolverAST)["module"].__get__(cache),
                 lambda: vars(tolva_rs.FeatureFieldAST)["tags"].__get__(index)):
        with pytest.raises(TypeError):
            call()


def test_conversion_error_keeps_its_cause():
    with pytest.raises(TypeError) as info:
        tolva_rs.AstProjectIndex("a.py", "/p")
    assert type(info.value.__cause__) is TypeError
    assert str(info.value.__cause__) == "Can't extract `str` to `Vec`"


def test_sequences_other_than_lists_are_accepted(tmp_path):
    import collections.abc

    class Files(collections.abc.Sequence):
        def __init__(self, items):
            self.items = items

        def __getitem__(self, i):
            return self.items[i]

        def __len__(self):
            return len(self.items)

    assert tolva_rs.StdAstFileSystem(("b.py", "a.py")).all_files() == ["a.py", "b.py"]
    assert tolva_rs.StdAstFileSystem(Files(["c.py", "c.py"])).all_files() == ["c.py"]
    cache = tolva_rs.AstFileParserCache(files=Files(["x.py"]), project_root=str(tmp_path), filesystem=None)
    assert cache.all_files() == ["x.py"]


class _Huge(list):
    def __len__(self):
        return 10**12  # far beyond memory


class _Short(list):
    def __len__(self):
        return 1


@pytest.mark.parametrize("lying", [_Huge, _Short], ids=["huge", "short"])
def test_a_length_is_only_a_hint(tmp_path, lying):
    # Each constructor reads every item by iteration, whatever __len__ says:
    # as many as a plain list of the same items gives, no MemoryError.
    paths, files = write_project(tmp_path)
    root = str(tmp_path)
    assert len(files) > 1
    assert tolva_rs.StdAstFileSystem(lying(files)).all_files() == tolva_rs.StdAstFileSystem(files).all_files()
    assert (tolva_rs.AstFileParserCache(lying(files), root).all_files()
            == tolva_rs.AstFileParserCache(list(files), root).all_files())
    # The feature class sits in the fourth file of the list.
    index = tolva_rs.AstProjectIndex(lying(files), root)
    assert files.index(paths["features"]) == 3
    found = index.feature_class_ast("pkg.features", "UserAccount")
    assert found is not None and found.class_name == "UserAccount"


def test_surrogates_raise_unicode_encode_error_unprefixed(tmp_path):
    index = tolva_rs.AstProjectIndex([], str(tmp_path))
    for call in (lambda: tolva_rs.StdAstFileSystem(["a\udc80.py"]), lambda: tolva_rs.AstProjectIndex([], "\udc80"),
                 lambda: index.function_ast("m\udc80", "f")):
        with pytest.raises(UnicodeEncodeError):
            call()
