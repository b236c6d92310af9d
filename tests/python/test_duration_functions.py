"""parse_duration_ms, parse_duration_s and seconds_to_duration_string."""

import math

import pytest

import tolva_rs

LINK = "https://docs.tolva.dev/durations"


def duration_error(text, component):
    return (
        f"The duration '{text}' contained a component '{component}' that could not be parsed. "
        f"Please use a valid duration, like '10m', '1h', or '1h30m'. Read more at {LINK}"
    )


@pytest.mark.parametrize(
    "text,ms",
    [("1h30m", 5_400_000), ("1h 30m", 5_400_000), (" 1h30m ", 5_400_000), ("5ms", 5), ("-1h", -3_600_000),
     ("", 0), ("infinity", 3_153_600_000_000), ("all", 3_153_600_000_000), ("1w2d", 777_600_000)],
)
def test_parse_duration_ms(text, ms):
    result = tolva_rs.parse_duration_ms(text)
    assert type(result) is int
    assert result == ms


@pytest.mark.parametrize("text,s", [("90s", 90), ("1500ms", 1), ("-1500ms", -1), ("infinity", 3_153_600_000)])
def test_parse_duration_s(text, s):
    assert tolva_rs.parse_duration_s(text) == s


@pytest.mark.parametrize(
    "text,component",
    [("1H", "1H"), (" ", " "), ("-", "-"), ("5min", "5min"), ("1h1h", "1h"), ("9" * 20 + "s", "9" * 20)],
)
def test_parse_errors_are_value_errors_with_the_duration_text(text, component):
    for parse in (tolva_rs.parse_duration_ms, tolva_rs.parse_duration_s):
        with pytest.raises(ValueError) as info:
            parse(text)
        assert type(info.value) is ValueError
        assert info.value.args == (duration_error(text, component),)


def test_long_duration_text_is_parsed_unlocked_with_the_same_rules():
    text = " " * 100_000 + "1h"
    assert tolva_rs.parse_duration_ms(text) == 3_600_000
    with pytest.raises(ValueError):
        tolva_rs.parse_duration_ms("1h" + "x" * 100_000)


@pytest.mark.parametrize(
    "seconds,text",
    [(90, "1m30s"), (90.0, "1m30s"), (True, "1s"), (0, ""), (3600, "1h"), (90061.5, "1d1h1m1s500ms"),
     (-90, "-1m30s"), (-0.0001, "-"), (59.9996, "59s1000ms"), (3153600000, "infinity"),
     (math.inf, "infinity"), (-3153600000, "-36500d"), (math.nan, ""), (-0.0, "")],
)
def test_seconds_to_duration_string(seconds, text):
    assert tolva_rs.seconds_to_duration_string(seconds) == text


def test_seconds_accepts_the_float_protocols():
    class Seconds:
        def __float__(self):
            return 90.0

    class Index:
        def __index__(self):
            return 3600

    assert tolva_rs.seconds_to_duration_string(Seconds()) == "1m30s"
    assert tolva_rs.seconds_to_duration_string(Index()) == "1h"
    assert tolva_rs.seconds_to_duration_string(total_seconds=90) == "1m30s"


def test_round_trip_of_whole_seconds():
    import random

    rng = random.Random(1234)
    for _ in range(2000):
        seconds = rng.randrange(0, 3153600000)
        text = tolva_rs.seconds_to_duration_string(seconds)
        assert tolva_rs.parse_duration_s(text) == seconds, text
        assert tolva_rs.parse_duration_ms(text) == seconds * 1000, text
