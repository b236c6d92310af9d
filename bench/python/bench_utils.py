"""Per-call timings of the tolva_rs utilities against what a user would call
instead, from Python, in one run.

    /usr/bin/python3 bench/python/bench_utils.py --build-dir build/release

Each figure is the mean time of one call within a batch of calls over a fixed
set of inputs (the Python loop included, the same for every contender), as
the median over many batches, so that a batch that the scheduler happened to
interrupt does not count, and the best of several interleaved rounds. The
last table repeats the tolva_rs figures while three other Python threads run
busy loops. Exits 1 when a target is missed.
"""

import argparse
import datetime
import os
import pathlib
import random
import re
import statistics
import sys
import threading
import time

ROOT = pathlib.Path(__file__).resolve().parents[2]


def load_module(build_dir):
    sys.path.insert(0, str(pathlib.Path(build_dir).resolve() / "python"))
    import tolva_rs

    return tolva_rs


def optional(name):
    try:
        return __import__(name)
    except ImportError:
        print(f"note: {name} is not installed; its column is left out")
        return None


def per_call_ns(function, inputs, batches):
    """Median over batches of the mean time of one call."""
    means = []
    for _ in range(batches):
        start = time.perf_counter_ns()
        for value in inputs:
            function(value)
        means.append((time.perf_counter_ns() - start) / len(inputs))
    return statistics.median(means)


def random_datetimes(rng, count):
    texts = []
    for _ in range(count):
        stamp = datetime.datetime(2000, 1, 1) + datetime.timedelta(seconds=rng.randrange(10**9))
        text = stamp.strftime("%Y-%m-%dT%H:%M:%S")
        form = rng.randrange(3)
        if form == 1:
            text += f".{rng.randrange(10**6):06d}"
        elif form == 2:
            text += rng.choice(["Z", "+05:30", "-08:00"])
        texts.append(text)
    return texts


def random_durations(rng, count):
    texts = []
    for _ in range(count):
        text = "P"
        if rng.random() < 0.5:
            text += f"{rng.randrange(1, 30)}D"
        text += f"T{rng.randrange(24)}H{rng.randrange(60)}M"
        if rng.random() < 0.5:
            text += f"{rng.randrange(60)}.{rng.randrange(1000):03d}S"
        texts.append(text)
    return texts


CLASS_NAMES = ["FeatureClass", "HTTPServerError", "UserAccountFeatures", "getHTTPResponseCode", "Simple",
               "ABCDefGhi", "already_snake_case", "Transaction2024Features"]

_SNAKE_1 = re.compile("(.)([A-Z][a-z]+)")
_SNAKE_2 = re.compile("__([A-Z])")
_SNAKE_3 = re.compile("([a-z0-9])([A-Z])")


def snake_case_with_re(name):
    name = _SNAKE_1.sub(r"\1_\2", name)
    name = _SNAKE_2.sub(r"_\1", name)
    return _SNAKE_3.sub(r"\1_\2", name).lower()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", default=os.environ.get("TOLVA_BUILD_DIR", str(ROOT / "build" / "release")))
    parser.add_argument("--batches", type=int, default=100)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()

    tolva_rs = load_module(args.build_dir)
    ciso8601 = optional("ciso8601")
    isodate = optional("isodate")
    aniso8601 = optional("aniso8601")

    rng = random.Random(2024)
    datetimes = random_datetimes(rng, 500)
    dates = [text[:10] for text in datetimes]
    durations = random_durations(rng, 500)
    deltas = [datetime.timedelta(microseconds=rng.randrange(-10**12, 10**12)) for _ in range(500)]
    names = [rng.choice(CLASS_NAMES) for _ in range(500)]

    # Every contender must agree on the inputs before it is timed.
    for text in datetimes:
        assert tolva_rs.parse_datetime(text) == datetime.datetime.fromisoformat(text), text
    for text in durations:
        if isodate:
            assert tolva_rs.parse_iso_duration(text) == isodate.parse_duration(text), text
    for name in names:
        assert tolva_rs.to_snake_case(name) == snake_case_with_re(name), name

    cases = [
        ("parse_datetime", tolva_rs.parse_datetime, datetimes,
         [("datetime.fromisoformat", datetime.datetime.fromisoformat),
          ("ciso8601.parse_datetime", ciso8601 and ciso8601.parse_datetime)]),
        ("parse_iso_date", tolva_rs.parse_iso_date, dates,
         [("date.fromisoformat", datetime.date.fromisoformat),
          ("ciso8601.parse_datetime", ciso8601 and ciso8601.parse_datetime)]),
        ("parse_iso_duration", tolva_rs.parse_iso_duration, durations,
         [("isodate.parse_duration", isodate and isodate.parse_duration),
          ("aniso8601.parse_duration", aniso8601 and aniso8601.parse_duration)]),
        ("duration_isoformat", tolva_rs.duration_isoformat, deltas,
         [("isodate.duration_isoformat", isodate and isodate.duration_isoformat)]),
        ("to_snake_case", tolva_rs.to_snake_case, names, [("re.sub x3 + str.lower", snake_case_with_re)]),
    ]

    # Rounds alternate between the contenders (and, below, between a quiet
    # process and one with busy threads), and each figure is the best round,
    # so that a drift in machine load favours no one.
    timings = {}

    def record(key, function, inputs):
        figure = per_call_ns(function, inputs, args.batches)
        timings[key] = min(timings.get(key, figure), figure)

    class Spinners:
        """Three Python threads in busy loops while the block runs."""

        def __enter__(self):
            self.stop = False
            self.threads = [threading.Thread(target=self.spin, daemon=True) for _ in range(3)]
            for thread in self.threads:
                thread.start()

        def spin(self):
            counter = 0
            while not self.stop:
                counter += 1

        def __exit__(self, *exc):
            self.stop = True
            for thread in self.threads:
                thread.join()

    for _ in range(args.rounds):
        for name, ours, inputs, peers in cases:
            record((name, "ours"), ours, inputs)
            for peer_name, peer in peers:
                if peer is not None:
                    record((name, peer_name), peer, inputs)
        with Spinners():
            for name, ours, inputs, _ in cases:
                record((name, "contended"), ours, inputs)

    print(f"\n{'function':<22}{'ns/call':>9}   {'peer':<28}{'ns/call':>9}{'peer / ours':>13}")
    ratios = {}
    for name, _, _, peers in cases:
        ours_ns = timings[(name, "ours")]
        first = True
        for peer_name, peer in peers:
            if peer is None:
                continue
            peer_ns = timings[(name, peer_name)]
            ratios[(name, peer_name)] = peer_ns / ours_ns
            label = name if first else ""
            ours_text = f"{ours_ns:9.0f}" if first else " " * 9
            print(f"{label:<22}{ours_text}   {peer_name:<28}{peer_ns:9.0f}{peer_ns / ours_ns:12.2f}x")
            first = False

    print(f"\n{'function':<22}{'alone':>9}{'3 busy threads':>16}{'ratio':>9}")
    contention = {}
    for name, _, _, _ in cases:
        alone, busy = timings[(name, "ours")], timings[(name, "contended")]
        contention[name] = busy / alone
        print(f"{name:<22}{alone:9.0f}{busy:16.0f}{busy / alone:8.2f}x")

    print("\ntargets")
    checks = []

    def target(label, ok):
        checks.append(ok)
        print(f"  {'ok  ' if ok else 'MISS'} {label}")

    for name, peer in [("parse_datetime", "datetime.fromisoformat"), ("parse_iso_date", "date.fromisoformat")]:
        target(f"{name} within 1.5x of {peer} ({1 / ratios[(name, peer)]:.2f}x its time)",
               ratios[(name, peer)] >= 1 / 1.5)
        if (name, "ciso8601.parse_datetime") in ratios:
            ratio = ratios[(name, "ciso8601.parse_datetime")]
            target(f"{name} no slower than ciso8601 ({1 / ratio:.2f}x its time)", ratio >= 1.0)
    for name in ["parse_iso_duration", "duration_isoformat"]:
        peer = "isodate.parse_duration" if name == "parse_iso_duration" else "isodate.duration_isoformat"
        if (name, peer) in ratios:
            target(f"{name} at least 20x faster than {peer} ({ratios[(name, peer)]:.1f}x)", ratios[(name, peer)] >= 20)
    ratio = ratios[("to_snake_case", "re.sub x3 + str.lower")]
    target(f"to_snake_case at least 10x faster than re.sub ({ratio:.1f}x)", ratio >= 10)
    worst = max(contention.values())
    target(f"with 3 busy threads every call within 3x of alone (worst {worst:.2f}x)", worst <= 3)
    return 0 if all(checks) else 1


if __name__ == "__main__":
    sys.exit(main())
