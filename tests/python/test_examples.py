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


def test_analysis_example_shows_the_project():
    env = dict(os.environ, TOLVA_BUILD_DIR=str(EXTENSION_DIR.parent))
    result = subprocess.run([sys.executable, "-W", "error", str(REPO_ROOT / "examples" / "analyse_project.py")],
                            capture_output=True, text=True, env=env, timeout=60)
    assert result.returncode == 0, result.stderr
    out = result.stdout
    assert "feature class shop.features.Customer  namespace 'customer'" in out
    assert "feature class shop.features.Order  namespace 'order'" in out
    assert "owner: billing-team   tags: money" in out
    assert "Lifetime spending, in cents." in out
    assert "resolver shop.resolvers.customer_country  @online" in out
    assert "[\'tier\'] = \"gold\"" in out
    assert "parameter customer_id: int" in out
    assert "resolver shop.resolvers.lifetime_value  @offline" in out
    assert "skipped: Failed to parse " in out
    assert "helper is a function but not a resolver: True" in out
