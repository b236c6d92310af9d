"""The short roads of parse_datetime, parse_iso_time and parse_iso_date: an
exact ASCII str read in place, the common layouts parsed straight, and one
kept zone per offset for parse_datetime. Each must give what the long road
gives."""

import datetime as dt
import sys

import pytest

import tolva_rs
from conftest import fromisoformat_reads_iso_8601

UTC = dt.timezone.utc


class Text(str):
    pass


@pytest.mark.parametrize("function", [tolva_rs.parse_datetime, tolva_rs.parse_iso_time, tolva_rs.parse_iso_date])
@pytest.mark.parametrize(
    "text",
    ["2024-03-15T10:30:45.5+05:30", "2024-03-15", "10:30:45Z", "T10:30", "March 5, 2024", "2024-03-15T10:30:45.",
     "2024-03-15T10:30:45\u00e9", "\u30002024-03-15", "", "Hello"],
)
def test_every_way_of_passing_the_text_gives_the_same_answer(function, text):
    def outcome(call):
        try:
            return ("value", call())
        except ValueError as error:
            return ("error", error.args)

    plain = outcome(lambda: function(text))
    assert outcome(lambda: function(s=text)) == plain
    assert outcome(lambda: function(Text(text))) == plain
    # The same text in a str that is not stored as compact ASCII.
    assert outcome(lambda: function((text + "\u0100")[:-1])) == plain


@pytest.mark.parametrize("function", [tolva_rs.parse_datetime, tolva_rs.parse_iso_time, tolva_rs.parse_iso_date])
def test_argument_errors_are_unchanged(function):
    with pytest.raises(UnicodeEncodeError):
        function("2024-03-15\udc80")
    with pytest.raises(TypeError) as info:
        function(b"2024-03-15")
    assert info.value.args == ("argument 's': must be str, not bytes",)
    with pytest.raises(TypeError):
        function()
    with pytest.raises(TypeError):
        function("2024-03-15", "x")


@fromisoformat_reads_iso_8601
def test_every_offset_zone_agrees_with_fromisoformat_first_time_and_after():
    for minutes in range(-(24 * 60 - 1), 24 * 60):
        sign = "-" if minutes < 0 else "+"
        hours, rest = divmod(abs(minutes), 60)
        for written in [f"{sign}{hours:02d}:{rest:02d}", f"{sign}{hours:02d}{rest:02d}"]:
            text = "2024-03-15T10:30:45" + written
            theirs = dt.datetime.fromisoformat(text)
            for _ in range(2):  # the zone is made, then reused
                ours = tolva_rs.parse_datetime(text)
                assert ours == theirs, text
                assert type(ours.tzinfo) is dt.timezone, text
                assert ours.tzinfo == theirs.tzinfo, text
                assert ours.tzname() == theirs.tzname(), text
                assert ours.utcoffset() == theirs.utcoffset(), text
                assert (ours.tzinfo is UTC) == (minutes == 0), text


def test_a_kept_zone_gains_no_reference_per_call():
    zone = tolva_rs.parse_datetime("2024-03-15T10:30:45-03:30").tzinfo
    assert tolva_rs.parse_datetime("2024-03-15T10:30:45-0330").tzinfo is zone
    before = sys.getrefcount(zone)
    for _ in range(1000):
        tolva_rs.parse_datetime("2024-03-15T10:30:45-03:30")
    assert sys.getrefcount(zone) == before


def test_parse_iso_time_still_makes_a_zone_named_as_written_per_call():
    first = tolva_rs.parse_iso_time("10:30:45+05:30").tzinfo
    second = tolva_rs.parse_iso_time("10:30:45+05:30").tzinfo
    assert first == second and first.tzname(None) == "+05:30"
    assert first is not second
