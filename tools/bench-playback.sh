#!/usr/bin/env bash
# Playback figures of kestrova-viewer on a private Xvfb, read straight from its screen:
# gaps between builds, on-screen time against build durations, memory growth over many
# builds, CPU for a still image and time from start to the first build on screen.
# Prints figures only; never fails on timing. Never part of the test pass.
#
#   bash tools/bench-playback.sh          # the full run, about 12 minutes
#   QUICK=1 bash tools/bench-playback.sh  # a short run, about 2 minutes
#
# Settings (environment):
#   KESTROVA_BUILD      build folder holding the viewer (default build/)
#   ONLY                parts to run, comma-separated: gap,memory,cpu,start (default all)
#   TRANSITIONS         transitions watched for gaps (100; QUICK 20)
#   GAP_BUILD_SECONDS   build duration for the gap run (1)
#   BUILDS              builds for the memory run (1000; QUICK 150)
#   MEM_BUILD_SECONDS   build duration for the memory run (0.4)
#   CPU_SECONDS         CPU measuring window (60; QUICK 10)
#   STARTS              viewer starts timed (5; QUICK 3)
#   SAMPLE_INTERVAL_US  pause between screen samples (250)
#   QUIET_WAIT          seconds to wait before each part while other kestrova-viewer processes
#                       run (0: only warn); other viewers share the real-time CPU with ours
#   KEEP=1              keep the work folder (content, logs, samples) and print its path
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=tools/bench/screen.sh
source "$root/tools/bench/screen.sh"
bench_binaries bench-playback

if [ -n "${QUICK:-}" ] && [ "${QUICK}" != 0 ]; then
    : "${TRANSITIONS:=20}" "${BUILDS:=150}" "${CPU_SECONDS:=10}" "${STARTS:=3}"
fi

bench_screen_start bench-playback
bench_run playback.py --only "${ONLY:-gap,memory,cpu,start}" \
    --transitions "${TRANSITIONS:-100}" --gap-build-seconds "${GAP_BUILD_SECONDS:-1}" \
    --builds "${BUILDS:-1000}" --mem-build-seconds "${MEM_BUILD_SECONDS:-0.4}" \
    --cpu-seconds "${CPU_SECONDS:-60}" --starts "${STARTS:-5}"
