"""to_snake_case and build_namespaced_name through the module."""

import pytest

import tolva_rs


@pytest.mark.parametrize(
    "call,expected",
    [
        (lambda: tolva_rs.to_snake_case("FeatureClass"), "feature_class"),
        (lambda: tolva_rs.to_snake_case(name="FeatureClass"), "feature_class"),
        (lambda: tolva_rs.to_snake_case(""), ""),
        (lambda: tolva_rs.to_snake_case("HTTPServerError"), "http_server_error"),
        (lambda: tolva_rs.build_namespaced_name(), ""),
        (lambda: tolva_rs.build_namespaced_name(None, None), ""),
        (lambda: tolva_rs.build_namespaced_name(namespace=None, name=None), ""),
        (lambda: tolva_rs.build_namespaced_name("MyNs::SubNs", "FeatureX"), "my_ns::sub_ns::FeatureX"),
        (lambda: tolva_rs.build_namespaced_name(name="X"), "X"),
        (lambda: tolva_rs.build_namespaced_name("::A::::B::"), "a::b"),
        (lambda: tolva_rs.build_namespaced_name(namespace="Ns"), "ns"),
    ],
)
def test_naming(call, expected):
    result = call()
    assert type(result) is str
    assert result == expected


def test_results_are_fresh_objects_and_inputs_unchanged():
    name = "FeatureClass"
    first = tolva_rs.to_snake_case(name)
    second = tolva_rs.to_snake_case(name)
    assert first == second == "feature_class"
    assert name == "FeatureClass"


def test_non_ascii_text_round_trips():
    assert tolva_rs.to_snake_case("ÉtéCafé") == "été_café"
    assert tolva_rs.build_namespaced_name("Straße::ΣΟΦΙΑ", "Ä") == "straße::σοφια::Ä"


def test_long_inputs_work_unlocked():
    # Long enough to run without the interpreter lock.
    name = "FeatureClass" * 30000
    assert tolva_rs.to_snake_case(name) == "feature_class_" * 29999 + "feature_class"
    assert tolva_rs.build_namespaced_name("A::" * 100000, "X") == "a::" * 100000 + "X"
