"""tolva_rs.to_snake_case against the same three substitutions done by `re`.

The peer is Python's own regular-expression engine and str.lower(): for every
text, re.sub with the three fixed patterns and templates, then lower(), must
give exactly what the module gives.
"""

import random
import re

import pytest

import tolva_rs

_SUB_1 = re.compile(r"(.)([A-Z][a-z]+)")
_SUB_2 = re.compile(r"__([A-Z])")
_SUB_3 = re.compile(r"([a-z0-9])([A-Z])")


def peer_snake_case(name: str) -> str:
    name = _SUB_1.sub(r"\1_\2", name)
    name = _SUB_2.sub(r"_\1", name)
    name = _SUB_3.sub(r"\1_\2", name)
    return name.lower()


# Characters that matter to the patterns: both ASCII cases, digits, "_",
# white space and line breaks ("." skips "\n" only), and non-ASCII letters of
# one, two and four bytes, with their own case mappings (final sigma, the
# dotted capital I, the capital sharp s).
_ALPHABET = (
    list("ABCXYZabcxyz0189_ :")
    + ["\n", "\r", "\t", "\x00", "\u2028"]
    + ["é", "É", "Σ", "σ", "Ä", "ä", "İ", "ẞ", "\U0001d400", "\U00010400", "ǅ"]
)

_TABLE = [
    ("FeatureClass", "feature_class"),
    ("XMLParser", "xml_parser"),
    ("getXML", "get_xml"),
    ("FooBARBaz", "foo_bar_baz"),
    ("Feature2Class", "feature2_class"),
    ("TestV2", "test_v2"),
    ("A1B", "a1_b"),
    ("aB1C", "a_b1_c"),
    ("ABC", "abc"),
    ("User_Features", "user_features"),
    ("snake_Case", "snake_case"),
    ("Foo__Bar", "foo__bar"),
    ("__Private", "__private"),
    ("already_snake", "already_snake"),
    ("ÄBc", "ä_bc"),
    ("My Feature", "my _feature"),
    ("", ""),
]


@pytest.mark.parametrize("name,expected", _TABLE)
def test_table_matches_module_and_peer(name, expected):
    assert peer_snake_case(name) == expected
    assert tolva_rs.to_snake_case(name) == expected


def _random_texts(seed: int, count: int, max_length: int):
    rng = random.Random(seed)
    for _ in range(count):
        yield "".join(rng.choice(_ALPHABET) for _ in range(rng.randrange(max_length + 1)))


@pytest.mark.parametrize("seed", range(8))
def test_random_texts_match_re(seed):
    mismatches = []
    for text in _random_texts(seed, 5000, 24):
        ours = tolva_rs.to_snake_case(text)
        theirs = peer_snake_case(text)
        if ours != theirs:
            mismatches.append((text, ours, theirs))
    assert mismatches == []


def test_words_joined_into_long_names_match_re():
    rng = random.Random(99)
    words = ["Feature", "HTTP", "Server", "v2", "X", "Id", "ÄBc", "_", "__", "Σ", "9", "\n", "\r"]
    for _ in range(500):
        text = "".join(rng.choice(words) for _ in range(rng.randrange(1, 60)))
        assert tolva_rs.to_snake_case(text) == peer_snake_case(text), repr(text)


def test_long_input_matches_re():
    text = "AbC\rDe\nFgHIJk_Σ" * 20000
    assert tolva_rs.to_snake_case(text) == peer_snake_case(text)


def test_namespaced_names_convert_each_segment_like_the_peer():
    rng = random.Random(7)
    for _ in range(2000):
        segments = ["".join(rng.choice(_ALPHABET + [":"]) for _ in range(rng.randrange(6))) for _ in range(rng.randrange(5))]
        namespace = "::".join(segments)
        name = rng.choice([None, "", "Name", "x::Y"])
        parts = [peer_snake_case(s) for s in namespace.split("::") if s]
        if name:
            parts.append(name)
        assert tolva_rs.build_namespaced_name(namespace, name) == "::".join(parts), (namespace, name)
