"""The example script runs against the freshly built module."""

import os
import subprocess
import sys

from conftest import EXTENSION_DIR, REPO_ROOT


def test_demo_runs():
    env = dict(os.environ, TOLVA_BUILD_DIR=str(EXTENSION_DIR.parent))
    result = subprocess.run([sys.executable, "-W", "error", str(REPO_ROOT / "examples" / "demo.py")],
                            capture_output=True, text=True, env=env, timeout=60)
    assert result.returncode == 0, result.stderr
    assert "'my_ns::sub_ns::FeatureX'" in result.stdout
    assert "datetime.timedelta(days=1, seconds=7384, microseconds=500000)" in result.stdout
