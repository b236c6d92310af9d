"""Puts the freshly built extension first on sys.path."""

import os
import pathlib
import sys

_ROOT = pathlib.Path(__file__).resolve().parents[2]
_BUILD = pathlib.Path(os.environ.get("TOLVA_BUILD_DIR", _ROOT / "build" / "release"))
sys.path.insert(0, str(_BUILD / "python"))

# For tests that run the module in a subprocess or inspect the built file.
EXTENSION_DIR = _BUILD / "python"
REPO_ROOT = _ROOT
