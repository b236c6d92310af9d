"""What the record objects show: every attribute as a fresh plain value,
checked against positions found in the fixture's source text."""

import pytest

import tolva_rs
from analysis_fixtures import FEATURES_PY, RESOLVERS_PY, assert_location, span, write_project


@pytest.fixture
def project(tmp_path):
    paths, files = write_project(tmp_path)
    return paths, tolva_rs.AstProjectIndex(files, str(tmp_path))


def test_resolver_with_keyword_arguments_and_dict_displays(project):
    _, index = project
    r = index.resolver_ast("pkg.resolvers", "get_balance")
    assert type(r) is tolva_rs.ResolverAST
    s = RESOLVERS_PY
    assert r.module == "pkg.resolvers"
    assert r.resolver_name == "get_balance"
    assert r.resolver_name_location == span(s, "get_balance")
    decorator = 'online(tags={"team": "risk", "tier": 1}, owner="ops")'
    assert r.decorator_location == span(s, decorator)
    assert r.kwarg_names == {"tags": span(s, "tags"), "owner": span(s, "owner")}
    assert r.kwargs == {"tags": span(s, '{"team": "risk", "tier": 1}'), "owner": span(s, '"ops"')}
    assert r.kwarg_dict_key_names == {"tags": {"team": span(s, '"team"'), "tier": span(s, '"tier"')}}
    assert r.kwarg_dict_values == {"tags": {"team": span(s, '"risk"'), "tier": span(s, "1", after='"tier"')}}
    assert r.args_in_order == ["account_id", "region"]
    assert set(r.args) == {"account_id", "region"}
    region = r.args["region"]
    assert type(region) is tolva_rs.FunctionArgAST
    assert region.arg_name == "region"
    assert region.arg_location == span(s, "region: str")
    assert region.annotation == span(s, "str")
    assert r.args["account_id"].annotation is None
    assert r.return_annotation == span(s, "int", after="->")
    assert r.missing_return_annotation is None
    assert r.return_statements == [span(s, "return 1"), span(s, "return 2")]
    assert r.return_arg == span(s, "2", after="return 2")
    body_start = span(s, "if account_id")[:2]
    assert r.body == body_start + span(s, "return 2")[2:]


def test_function_without_decorator(project):
    _, index = project
    assert index.resolver_ast("pkg.resolvers", "plain") is None
    f = index.function_ast("pkg.resolvers", "plain")
    assert type(f) is tolva_rs.ResolverAST
    assert f.decorator_location is None
    assert f.kwarg_names == f.kwargs == f.kwarg_dict_key_names == f.kwarg_dict_values == {}
    assert f.args_in_order == ["a", "b"]
    assert f.args["a"].annotation is None
    assert f.args["b"].annotation == span(RESOLVERS_PY, "int", occurrence=1)
    assert f.return_statements == []
    assert f.return_arg is None
    assert f.return_annotation is None
    assert f.missing_return_annotation == span(RESOLVERS_PY, ":", occurrence=RESOLVERS_PY.count(":") - 1)


def test_aliased_decorator_and_nested_returns(project):
    _, index = project
    r = index.resolver_ast("pkg.resolvers", "nightly")
    assert r.decorator_location == span(RESOLVERS_PY, "batch", occurrence=1)
    assert r.kwarg_names == {}
    # Every return of the body, nested functions included; return_arg only
    # from the body's own return.
    assert r.return_statements == [span(RESOLVERS_PY, "return 3"), span(RESOLVERS_PY, "return inner")]
    assert r.return_arg == span(RESOLVERS_PY, "inner", after="return inner")
    inner = index.function_ast("pkg.resolvers", "inner")
    assert inner is not None and inner.decorator_location is None


def test_feature_class(project):
    _, index = project
    s = FEATURES_PY
    c = index.feature_class_ast("pkg.features", "UserAccount")
    assert type(c) is tolva_rs.FeatureClassAST
    assert c.module == "pkg.features"
    assert c.namespace == "fraud"
    assert c.class_name == "UserAccount"
    assert c.source.startswith('@features(name="fraud", max_staleness="1h")\nclass UserAccount:\n')
    assert c.source.endswith("        inside = 1\n")
    assert c.class_name_location == span(s, "UserAccount")
    assert c.class_definition_location == span(s, "class UserAccount:")
    assert c.decorator_location == span(s, 'features(name="fraud", max_staleness="1h")')
    assert c.kwarg_names == {"name": span(s, "name", after="@features("), "max_staleness": span(s, "max_staleness")}
    assert c.kwargs == {"name": span(s, '"fraud"'), "max_staleness": span(s, '"1h"')}
    assert set(c.fields) == {"balance", "display_name", "age", "nickname"}
    assert [a.field_name for a in c.annotations] == ["balance", "display_name"]

    balance = c.fields["balance"]
    assert type(balance) is tolva_rs.FeatureFieldAST
    assert balance.field_name == "balance"
    assert balance.field_name_location == span(s, "balance")
    assert balance.comment == "Amount in cents.\n:owner: ops-team\n:tags: pii, billing"
    assert balance.description == "Amount in cents."
    assert balance.owner == "ops-team"
    assert balance.tags == ["pii", "billing"]
    assert balance.annotation == span(s, "int")
    call = 'feature(max_staleness="10m", etl_offline_to_online=True)'
    assert balance.feature_call == span(s, call)
    assert balance.kwarg_names == {"max_staleness": span(s, "max_staleness", occurrence=1),
                                   "etl_offline_to_online": span(s, "etl_offline_to_online")}
    assert balance.kwargs == {"max_staleness": span(s, '"10m"'), "etl_offline_to_online": span(s, "True")}

    display = c.fields["display_name"]
    assert (display.comment, display.description, display.owner, display.tags) == (
        "Shown to users.", "Shown to users.", None, [])
    assert display.feature_call is None
    assert display.kwarg_names == {}

    age = c.fields["age"]
    assert age.annotation is None
    assert age.feature_call == span(s, 'compute_age(unit="years")')
    assert age.kwargs == {"unit": span(s, '"years"')}

    nickname = c.fields["nickname"]
    assert (nickname.comment, nickname.description, nickname.owner, nickname.tags) == (None, None, None, [])
    assert nickname.feature_call == span(s, '"none"')


def test_feature_class_without_call_decorator_and_non_feature_class(project):
    _, index = project
    t = index.feature_class_ast("pkg.features", "Transaction")
    assert t.namespace == "transaction"
    assert t.kwarg_names == t.kwargs == {}
    assert t.decorator_location == span(FEATURES_PY, "features", after="@features\n")
    assert index.feature_class_ast("pkg.features", "NotAFeature") is None


def test_every_read_builds_new_values(project):
    _, index = project
    r = index.resolver_ast("pkg.resolvers", "get_balance")
    c = index.feature_class_ast("pkg.features", "UserAccount")
    for record, attribute in ((r, "args"), (r, "kwargs"), (r, "kwarg_dict_values"), (r, "args_in_order"),
                              (r, "return_statements"), (c, "fields"), (c, "annotations"), (c, "kwarg_names")):
        first, second = getattr(record, attribute), getattr(record, attribute)
        assert first == second or attribute in ("args", "fields", "annotations")
        assert first is not second
    a1, a2 = r.args["region"], r.args["region"]
    assert a1 is not a2 and a1 != a2  # identity comparison
    assert (a1.arg_name, a1.arg_location, a1.annotation) == (a2.arg_name, a2.arg_location, a2.annotation)
    # Changing a returned container changes nothing in the record.
    r.args_in_order.append("x")
    r.kwargs.clear()
    c.fields.pop("balance")
    assert r.args_in_order == ["account_id", "region"]
    assert set(r.kwargs) == {"tags", "owner"}
    assert "balance" in c.fields


def test_nested_objects_outlive_their_parent(project):
    _, index = project
    field = index.feature_class_ast("pkg.features", "UserAccount").fields["balance"]
    arg = index.resolver_ast("pkg.resolvers", "get_balance").args["region"]
    import gc

    gc.collect()
    assert field.owner == "ops-team"
    assert arg.annotation == span(RESOLVERS_PY, "str")


def test_attributes_are_read_only(project):
    _, index = project
    r = index.resolver_ast("pkg.resolvers", "get_balance")
    c = index.feature_class_ast("pkg.features", "UserAccount")
    for record, attribute in ((r, "module"), (r, "args"), (c, "fields"), (c.fields["age"], "owner"),
                              (r.args["region"], "arg_name")):
        with pytest.raises(AttributeError):
            setattr(record, attribute, "x")
        with pytest.raises(AttributeError):
            delattr(record, attribute)
    with pytest.raises(AttributeError):
        r.new_attribute = 1


def test_all_locations_are_tuples_of_non_negative_ints(project):
    _, index = project
    r = index.resolver_ast("pkg.resolvers", "get_balance")
    c = index.feature_class_ast("pkg.features", "UserAccount")
    for value in (r.resolver_name_location, r.decorator_location, r.body, c.class_name_location,
                  *r.kwargs.values(), *r.return_statements, *c.fields["balance"].kwargs.values(),
                  *[inner for m in r.kwarg_dict_key_names.values() for inner in m.values()]):
        assert_location(value)


def test_lone_carriage_returns_end_the_lines_of_each_class(tmp_path):
    # Classic Mac line endings: each class's source and definition line are
    # its own lines, not the rest of the file.
    text = ("from tolva.features import features\r@features\rclass A:\r    x: int\r\r"
            "def make():\r    @features\r    class B:\r        y: int = 1\r\r    return B\r")
    path = tmp_path / "cr.py"
    path.write_bytes(text.encode())
    index = tolva_rs.AstProjectIndex([str(path)], str(tmp_path))
    a = index.feature_class_ast_in_file(str(path), "A")
    assert a.source == "@features\rclass A:\r    x: int\r"
    assert a.class_definition_location == (2, 0, 2, len("class A:"))
    b = index.feature_class_ast_in_file(str(path), "B")
    assert b.source == "@features\rclass B:\r    y: int = 1\r"
    assert b.class_definition_location == (7, 0, 7, len("    class B:"))


def test_nested_definitions_show_their_own_returns_and_sources(tmp_path):
    # Records nested in one another share what they have in common; each
    # still shows its own values, built anew on each read.
    depth = 40
    lines = ["from tolva.features import features"]
    for level in range(depth):
        lines.append(" " * level + "def f%d():" % level)
    lines.append(" " * depth + "return 1; return 2")
    for level in range(depth):
        lines.append(" " * level + "@features")
        lines.append(" " * level + "class C%d:" % level)
    lines.append(" " * depth + "x: int = 1")
    text = "\n".join(lines) + "\n"
    path = tmp_path / "nested.py"
    path.write_text(text)
    index = tolva_rs.AstProjectIndex([str(path)], str(tmp_path))
    returns = [(depth + 1, depth, depth + 1, depth + 8), (depth + 1, depth + 10, depth + 1, depth + 18)]
    for level in (0, depth - 1):
        f = index.function_ast_in_file(str(path), "f%d" % level)
        assert f.return_statements == returns
        assert f.return_statements is not f.return_statements
    inner = index.feature_class_ast_in_file(str(path), "C%d" % (depth - 1))
    assert inner.source == "@features\nclass C%d:\n x: int = 1\n" % (depth - 1)
    outer = index.feature_class_ast_in_file(str(path), "C0")
    assert outer.source == text[text.index("@features"):]
    assert outer.source is not outer.source
