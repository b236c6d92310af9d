"""A short tour of tolva_rs.

Run it with the module built (scripts/run-example builds it first):

    TOLVA_BUILD_DIR=build/release /usr/bin/python3 examples/demo.py
"""

import datetime
import os
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
BUILD = pathlib.Path(os.environ.get("TOLVA_BUILD_DIR", ROOT / "build" / "release"))
sys.path.insert(0, str(BUILD / "python"))

import tolva_rs  # noqa: E402


def show(label, value):
    print(f"{label:<48} {value!r}")


def main():
    print("Names")
    show("to_snake_case('HTTPServerError')", tolva_rs.to_snake_case("HTTPServerError"))
    show("build_namespaced_name('MyNs::SubNs', 'FeatureX')", tolva_rs.build_namespaced_name("MyNs::SubNs", "FeatureX"))

    print("\nShort durations")
    show("parse_duration_ms('1h30m')", tolva_rs.parse_duration_ms("1h30m"))
    show("parse_duration_s('infinity')", tolva_rs.parse_duration_s("infinity"))
    show("seconds_to_duration_string(90061.5)", tolva_rs.seconds_to_duration_string(90061.5))

    print("\nISO 8601")
    show("parse_iso_date('2024-W10-2')", tolva_rs.parse_iso_date("2024-W10-2"))
    show("parse_iso_time('10:00:00+05:30')", tolva_rs.parse_iso_time("10:00:00+05:30"))
    show("parse_datetime('March 5, 2024 10:00 Z')", tolva_rs.parse_datetime("March 5, 2024 10:00 Z"))
    show("parse_iso_duration('P1DT2H3M4.5S')", tolva_rs.parse_iso_duration("P1DT2H3M4.5S"))
    show("duration_isoformat(timedelta(days=1, hours=2))",
         tolva_rs.duration_isoformat(datetime.timedelta(days=1, hours=2)))

    print("\nTime zones")
    show("timezone_from_name('Europe/Paris')", tolva_rs.timezone_from_name("Europe/Paris"))
    show("timezone_from_name('Not/AZone')", tolva_rs.timezone_from_name("Not/AZone"))

    print("\nErrors")
    for call in (lambda: tolva_rs.parse_duration_ms("5min"), lambda: tolva_rs.parse_iso_duration("P1Y"),
                 lambda: tolva_rs.to_snake_case(1)):
        try:
            call()
        except (ValueError, TypeError) as error:
            print(f"  {type(error).__name__}: {error}")


if __name__ == "__main__":
    main()
