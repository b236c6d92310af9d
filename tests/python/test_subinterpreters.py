"""The module in sub-interpreters. Legacy sub-interpreters (which share the
main interpreter's lock) load the module with objects of their own: the
utilities, the classes and a `Sequence`-registered argument answer rightly
before, during and after other interpreters use the module, round after
round. An interpreter with a lock of its own refuses the import. Each
scenario runs in a fresh process, so that a crash shows as its exit status."""

import subprocess
import sys

import pytest

from conftest import EXTENSION_DIR
from analysis_fixtures import write_project

TIMEOUT = 120
ROUNDS = 4

# What every interpreter runs, in a namespace of its own that holds EXTENSION,
# FILES and ROOT: the datetime utilities (offset zones, UTC, zones by name),
# the durations, an index over the fixture project whose feature class and
# resolver are read field by field, and file lists that are sequences only
# through `collections.abc.Sequence.register`, done in that interpreter.
USE_THE_MODULE = '''
import sys
sys.path.insert(0, EXTENSION)
import collections.abc
import datetime
import zoneinfo

import tolva_rs

def offset(hours, minutes=0):
    return datetime.timezone(datetime.timedelta(hours=hours, minutes=minutes))

assert tolva_rs.parse_iso_date("2024-01-02") == datetime.date(2024, 1, 2)
assert type(tolva_rs.parse_iso_date("2024-01-02")) is datetime.date
time = tolva_rs.parse_iso_time("10:20:30.5+05:30")
assert time == datetime.time(10, 20, 30, 500000, tzinfo=offset(5, 30)), time
assert time.tzname() == "+05:30"
assert tolva_rs.parse_iso_time("10:20Z").tzinfo is datetime.timezone.utc
stamp = tolva_rs.parse_datetime("2024-03-05T10:00:00-08:00")
assert stamp == datetime.datetime(2024, 3, 5, 10, tzinfo=offset(-8)), stamp
assert stamp.tzinfo == offset(-8) and stamp.tzinfo is tolva_rs.parse_datetime("2025-01-01T00:00:00-08:00").tzinfo
assert tolva_rs.parse_datetime("2024-03-05T10:00:00Z").tzinfo is datetime.timezone.utc
assert tolva_rs.parse_iso_duration("P1DT2H") == datetime.timedelta(days=1, hours=2)
assert tolva_rs.duration_isoformat(datetime.timedelta(days=1, hours=2)) == "P1DT2H"
assert tolva_rs.parse_duration_s("1h30m") == 5400
assert tolva_rs.seconds_to_duration_string(5400) == "1h30m"
zone = tolva_rs.timezone_from_name("Europe/Paris")
assert type(zone) is zoneinfo.ZoneInfo and zone.key == "Europe/Paris"
assert tolva_rs.timezone_from_name("No/Such_Zone") is None

class Files:
    # No __getitem__: a sequence only through the registration below.
    def __init__(self, items):
        self.items = items
    def __iter__(self):
        return iter(self.items)
    def __len__(self):
        return len(self.items)

collections.abc.Sequence.register(Files)

assert tolva_rs.StdAstFileSystem(Files(["b.py", "a.py"])).all_files() == ["a.py", "b.py"]
index = tolva_rs.AstProjectIndex(Files(FILES), ROOT)
account = index.feature_class_ast("pkg.features", "UserAccount")
assert type(account) is tolva_rs.FeatureClassAST
assert (account.class_name, account.namespace) == ("UserAccount", "fraud")
balance = account.fields["balance"]
assert type(balance) is tolva_rs.FeatureFieldAST
assert (balance.owner, balance.tags) == ("ops-team", ["pii", "billing"])
resolver = index.resolver_ast("pkg.resolvers", "get_balance")
assert list(resolver.args) == ["account_id", "region"]
assert type(resolver.args["region"]) is tolva_rs.FunctionArgAST
assert resolver.args["region"].arg_name == "region"
'''

# Runs the steps named by argv[1]. `main` runs the use in the main
# interpreter and keeps its namespace, so that the objects it made are used
# again after later sub-interpreters ended; `sub` runs it in a new legacy
# sub-interpreter, which ends at once; `thread` starts a thread of the main
# interpreter that uses the module over and over, meanwhile, until `join`.
SCENARIO = '''
import sys
import threading
import _testcapi

SETUP = "EXTENSION = %r\\nFILES = %r\\nROOT = %r\\n" % (EXTENSION, FILES, ROOT)
kept = []

def use_again(earlier):
    account = earlier["index"].feature_class_ast("pkg.features", "UserAccount")
    assert account.fields["balance"].owner == "ops-team"
    assert earlier["account"].fields["balance"].tags == ["pii", "billing"]
    assert earlier["stamp"].utcoffset() == earlier["datetime"].timedelta(hours=-8)
    assert earlier["tolva_rs"].parse_datetime("2024-03-05T10:00:00+01:00").utcoffset().seconds == 3600

def main():
    namespace = {}
    exec(SETUP + USE_THE_MODULE, namespace)
    kept.append(namespace)
    for earlier in kept:
        use_again(earlier)

def sub():
    assert _testcapi.run_in_subinterp(SETUP + USE_THE_MODULE) == 0, "the sub-interpreter failed"

stop = threading.Event()
outcome = {"uses": 0, "error": None}

def use_meanwhile():
    try:
        namespace = {}
        exec(SETUP + USE_THE_MODULE, namespace)
        while not stop.is_set():
            use_again(namespace)
            outcome["uses"] += 1
    except BaseException as error:  # handed to `join`
        outcome["error"] = error

worker = threading.Thread(target=use_meanwhile, daemon=True)  # a failed step ends the process

def thread():
    worker.start()

def join():
    stop.set()
    worker.join()
    assert outcome["error"] is None, repr(outcome["error"])
    assert outcome["uses"] > 0

steps = {"sub": sub, "main": main, "thread": thread, "join": join}
for step in sys.argv[1].split(","):
    steps[step]()
print("ok")
'''

# Before 3.13 the interpreter itself hangs in run_in_subinterp while another
# thread runs, whatever that thread does.
_THREADS_BESIDE_SUB_INTERPRETERS = pytest.mark.skipif(
    sys.version_info < (3, 13), reason="run_in_subinterp hangs while another thread runs before 3.13")

# Each scenario: the steps in order.
SCENARIOS = [
    pytest.param(",".join(["sub", "main"] * ROUNDS), id="sub-interpreters first"),
    pytest.param(",".join(["main", "sub"] * ROUNDS + ["main"]), id="main interpreter first"),
    pytest.param(",".join(["sub"] * ROUNDS), id="sub-interpreters only"),
    pytest.param(",".join(["sub", "sub", "main", "sub", "sub", "main"]), id="several sub-interpreters between uses"),
    pytest.param(",".join(["main", "thread"] + ["sub"] * ROUNDS + ["join", "main"]),
                 id="sub-interpreters while a main-interpreter thread uses the module",
                 marks=_THREADS_BESIDE_SUB_INTERPRETERS),
]


@pytest.fixture(scope="module")
def project(tmp_path_factory):
    root = tmp_path_factory.mktemp("subinterpreters")
    _, files = write_project(root)
    return str(root), files


def _run(code, *args):
    return subprocess.run([sys.executable, "-c", code, *args], capture_output=True, text=True, timeout=TIMEOUT)


@pytest.mark.parametrize("steps", SCENARIOS)
def test_legacy_sub_interpreters_use_the_module_beside_the_main_one(project, steps):
    root, files = project
    code = (f"EXTENSION = {str(EXTENSION_DIR)!r}\nFILES = {files!r}\nROOT = {root!r}\n"
            f"USE_THE_MODULE = {USE_THE_MODULE!r}\n" + SCENARIO)
    result = _run(code, steps)
    assert (result.returncode, result.stderr) == (0, ""), result.stderr
    assert result.stdout == "ok\n"


# An interpreter with a lock of its own (3.12 on), made by the private module
# that each version has for it; its import of the module fails with
# ImportError.
OWN_LOCK = '''
import sys
sys.path.insert(0, EXTENSION)
code = "import sys\\nsys.path.insert(0, %r)\\nimport tolva_rs" % EXTENSION
if sys.version_info >= (3, 13):
    import _interpreters
    interpreter = _interpreters.create("isolated")
    failure = _interpreters.exec(interpreter, code)
    _interpreters.destroy(interpreter)
    assert failure is not None, "the import succeeded"
    print(failure.type.__name__)
else:
    import _xxsubinterpreters
    interpreter = _xxsubinterpreters.create(isolated=True)
    try:
        _xxsubinterpreters.run_string(interpreter, code)
        print("the import succeeded")
    except _xxsubinterpreters.RunFailedError as failure:
        # Its text: "<class 'ImportError'>: module tolva_rs does not ..."
        print(str(failure).split("'")[1])
    _xxsubinterpreters.destroy(interpreter)
# The main interpreter still uses the module afterwards.
import tolva_rs
assert tolva_rs.to_snake_case("FeatureClass") == "feature_class"
'''


@pytest.mark.skipif(sys.version_info < (3, 12), reason="interpreters with a lock of their own exist from 3.12 on")
def test_an_interpreter_with_its_own_lock_refuses_the_import():
    result = _run(f"EXTENSION = {str(EXTENSION_DIR)!r}\n" + OWN_LOCK)
    assert (result.returncode, result.stderr) == (0, ""), result.stderr
    assert result.stdout == "ImportError\n"
