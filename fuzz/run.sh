#!/usr/bin/env bash
# Builds the parser fuzzer with clang 14 (libFuzzer, ASan, UBSan) and runs it.
#
#   fuzz/run.sh [SECONDS]        run for SECONDS (default 60)
#
# Environment: TOLVA_FUZZ_BUILD, the build folder (default build/fuzz);
# TOLVA_FUZZ_JOBS, parallel fuzzing processes (default 1).
#
# The seed corpus is written into the build folder on the first run: a few
# hundred small files sampled from the standard library of /usr/bin/python3;
# the IPython cells of fuzz/ipython_seeds join them (every input is parsed in
# both modes).
# Inputs the fuzzer finds go to $TOLVA_FUZZ_BUILD/corpus, crashes to
# $TOLVA_FUZZ_BUILD/artifacts, the logs of parallel jobs to
# $TOLVA_FUZZ_BUILD/fuzz-N.log. Exit status: non-zero when the fuzzer found a
# crash, a hang, a FatalError or a broken invariant.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
build=${TOLVA_FUZZ_BUILD:-build/fuzz}
jobs=${TOLVA_FUZZ_JOBS:-1}

cmake -S fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build"

if [ ! -d "$build/seeds" ]; then
  /usr/bin/python3 - "$build/seeds" <<'PY'
import os, shutil, sys, sysconfig
out = sys.argv[1]
os.makedirs(out + ".tmp", exist_ok=True)
lib = sysconfig.get_paths()["stdlib"]
small = []
for root, dirs, files in os.walk(lib):
    dirs[:] = sorted(d for d in dirs if d not in ("site-packages", "dist-packages", "__pycache__"))
    for name in sorted(files):
        path = os.path.join(root, name)
        if name.endswith(".py") and 0 < os.path.getsize(path) <= 4096:
            small.append(path)
step = max(1, len(small) // 300)
for i, path in enumerate(small[::step][:300]):
    shutil.copyfile(path, os.path.join(out + ".tmp", f"seed_{i:03d}.py"))
os.rename(out + ".tmp", out)
PY
fi
mkdir -p "$build/corpus" "$build/artifacts"

parallel=()
if [ "$jobs" -gt 1 ]; then parallel=(-jobs="$jobs" -workers="$jobs"); fi
# Parallel jobs write their logs (fuzz-N.log) into the working folder.
dict="$PWD/fuzz/python.dict"
ipython_seeds="$PWD/fuzz/ipython_seeds"
cd "$build"
status=0
./parse_fuzzer "${parallel[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -max_len=65536 \
  -dict="$dict" -print_final_stats=1 -artifact_prefix=artifacts/ corpus seeds "$ipython_seeds" || status=$?
if [ "$status" -ne 0 ] && [ "$jobs" -gt 1 ]; then
  # A finding is in the log of the job that made it.
  grep -l -E 'ERROR|SUMMARY|parse_fuzzer: ' fuzz-*.log | xargs -r tail -n 60
fi
exit "$status"
