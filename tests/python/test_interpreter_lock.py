"""When the utilities release the interpreter lock, and use from many threads.

The lock is released only for inputs long enough that the work outweighs
re-taking it; short calls keep it. To observe that, the switch interval is
made huge: a waiting thread then never forces the lock away, so the counter
thread below runs only while the main thread releases the lock on its own."""

import sys
import threading
import time

import pytest

import tolva_rs
from conftest import errors_on_threads

LONG = 1 << 22  # bytes: far above the release threshold
SHORT = 16


class Ticker:
    """A thread that counts while it holds the lock, sleeping between ticks."""

    def __init__(self):
        self.ticks = 0
        self.stop = False
        self.thread = threading.Thread(target=self._run, daemon=True)

    def _run(self):
        while not self.stop:
            self.ticks += 1
            time.sleep(0.0002)

    def __enter__(self):
        self.thread.start()
        time.sleep(0.01)
        return self

    def __exit__(self, *exc):
        self.stop = True
        self.thread.join()


@pytest.fixture
def huge_switch_interval():
    previous = sys.getswitchinterval()
    sys.setswitchinterval(1000.0)
    yield
    sys.setswitchinterval(previous)


def _ticks_during(ticker, call, repeat):
    before = ticker.ticks
    for _ in range(repeat):
        call()
    return ticker.ticks - before


CALLS = [
    ("to_snake_case", lambda n: (lambda: tolva_rs.to_snake_case("FeatureClass" * (n // 12)))),
    ("build_namespaced_name", lambda n: (lambda: tolva_rs.build_namespaced_name("Ab::" * (n // 4), "X"))),
    ("parse_duration_ms", lambda n: (lambda: tolva_rs.parse_duration_ms(" " * n + "1h"))),
    ("parse_iso_date", lambda n: (lambda: _raises(tolva_rs.parse_iso_date, "2" * n))),
    ("parse_datetime", lambda n: (lambda: tolva_rs.parse_datetime(" " * n + "2024-03-05"))),
    ("parse_iso_duration", lambda n: (lambda: _raises(tolva_rs.parse_iso_duration, "P" + "1" * n))),
]


def _raises(function, text):
    with pytest.raises(ValueError):
        function(text)


@pytest.mark.parametrize("name,make", CALLS)
def test_long_inputs_release_the_lock_and_short_ones_keep_it(huge_switch_interval, name, make):
    long_call, short_call = make(LONG), make(SHORT)
    with Ticker() as ticker:
        # Many short calls: the lock is never given up, so at most the tick
        # that was already waiting gets in.
        assert _ticks_during(ticker, short_call, 20000) <= 1
        # Long calls run unlocked: the ticker keeps counting meanwhile.
        start = time.perf_counter()
        ticks = _ticks_during(ticker, long_call, 3)
        elapsed = time.perf_counter() - start
        if elapsed < 0.01:
            pytest.skip(f"{name} on {LONG} bytes took only {elapsed:.4f} s: too fast to observe")
        assert ticks >= 3


def test_many_threads_share_the_functions():
    def work(seed):
        for i in range(2000):
            assert tolva_rs.to_snake_case("FeatureClass") == "feature_class"
            assert tolva_rs.parse_duration_ms(f"{seed}h{i}m") == seed * 3_600_000 + i * 60_000
            assert tolva_rs.parse_datetime("2024-03-05T10:00:00+05:30").utcoffset().seconds == 19800
            assert tolva_rs.parse_iso_time("10:00+01:00").tzinfo.tzname(None) == "+01:00"
            assert tolva_rs.timezone_from_name("Europe/Paris") is not None
            if i % 100 == 0:
                tolva_rs.to_snake_case("AbcDef" * 5000)
            with pytest.raises(ValueError):
                tolva_rs.parse_iso_duration("nope")

    errors = errors_on_threads(work)
    assert errors == []
