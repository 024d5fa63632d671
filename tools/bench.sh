#!/usr/bin/env bash
# Builds and runs the benchmarks, printing their figures. Never part of the test pass.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash tools/build.sh normal >/dev/null
for bench in build/tests/nimblesieve/nimblesieve_bench; do
    echo "== $(basename "$bench")"
    "$bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true "$@"
done
bash tools/bench-playback.sh
bash tools/bench-video.sh
