"""Small projects written into a temporary folder for the analysis tests, and
helpers that find where a piece of text sits in a source."""

import pathlib

FEATURES_PY = '''\
from tolva.features import features, feature
from tolva import online, offline


@features(name="fraud", max_staleness="1h")
class UserAccount:
    # Amount in cents.
    # :owner: ops-team
    # :tags: pii, billing
    balance: int = feature(max_staleness="10m", etl_offline_to_online=True)
    # Shown to users.
    display_name: str
    age = compute_age(unit="years")
    nickname = "none"  # a trailing comment documents nothing

    def helper(self):
        inside = 1


@features
class Transaction:
    amount: float


class NotAFeature:
    x: int = 1
'''

RESOLVERS_PY = '''\
from tolva import online, offline as batch
from .features import UserAccount


@online(tags={"team": "risk", "tier": 1}, owner="ops")
def get_balance(account_id, region: str = "eu") -> int:
    if account_id:
        return 1
    return 2


@batch
def nightly(x):
    def inner():
        return 3
    return inner


def plain(a, b: int):
    pass
'''


def write_project(root):
    """The package `pkg` below `root` and the list of its files (a text file
    and a file with a syntax error included). Returns (paths, files)."""
    root = pathlib.Path(root)
    pkg = root / "pkg"
    pkg.mkdir()
    paths = {
        "init": pkg / "__init__.py",
        "features": pkg / "features.py",
        "resolvers": pkg / "resolvers.py",
        "broken": pkg / "broken.py",
        "notes": pkg / "notes.txt",
    }
    paths["init"].write_text("")
    paths["features"].write_text(FEATURES_PY)
    paths["resolvers"].write_text(RESOLVERS_PY)
    paths["broken"].write_text("def broken(:\n    pass\n")
    paths["notes"].write_text("not python at all (\n")
    files = [str(paths[k]) for k in ("init", "broken", "notes", "features", "resolvers")]
    return {k: str(v) for k, v in paths.items()}, files


def span(source, text, occurrence=0, after=None):
    """(start line, start character, end line, end character), zero-based, of
    the `occurrence`-th `text` in `source` (characters, not bytes), counting
    from the first `after` when it is given."""
    position = source.index(after) if after is not None else 0
    index = -1
    for _ in range(occurrence + 1):
        index = source.index(text, position)
        position = index + 1
    return _position(source, index) + _position(source, index + len(text))


def _position(source, index):
    line = source.count("\n", 0, index)
    line_start = source.rfind("\n", 0, index) + 1
    return (line, index - line_start)


def assert_location(value):
    assert type(value) is tuple and len(value) == 4
    assert all(type(part) is int and part >= 0 for part in value)


def write_large_project(root, count=2000, resolvers=10):
    """`count` files mod_0.py ... below `root`, each with `resolvers`
    decorated resolvers resolver_0 ... and the feature class Big of twenty
    commented fields f0 ... f19. Returns the list of their paths."""
    root = pathlib.Path(root)
    body = "".join(
        f"@online(owner='o{i}', tags={{'k': {i}}})\ndef resolver_{i}(a, b: int, *c, d=1, **e) -> int:\n"
        f"    if a:\n        return b\n    return {i}\n\n\n" for i in range(resolvers))
    fields = "".join(f"    # :owner: team{i}\n    # :tags: t{i}, u\n    f{i}: int = feature(x={i})\n"
                     for i in range(20))
    source = ("from tolva import online\nfrom tolva.features import features, feature\n\n\n" + body
              + "@features(name='big')\nclass Big:\n" + fields)
    files = []
    for i in range(count):
        path = root / f"mod_{i}.py"
        path.write_text(source)
        files.append(str(path))
    return files
