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
build=${KESTROVA_BUILD:-$root/build}
viewer=$build/kestrova-client/kestrova-viewer
predicate=$build/tools/kestrova-predicate/kestrova-predicate
for f in "$viewer" "$predicate"; do
    if [ ! -x "$f" ]; then
        echo "bench-playback: $f is missing; build first (tools/build.sh)" >&2
        exit 1
    fi
done

if [ -n "${QUICK:-}" ] && [ "${QUICK}" != 0 ]; then
    : "${TRANSITIONS:=20}" "${BUILDS:=150}" "${CPU_SECONDS:=10}" "${STARTS:=3}"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/kestrova-bench-playback.XXXXXX")
gcc -O2 -Wall -o "$work/fbsample" "$root/tools/bench/fbsample.c"

# Our own X server, with its screen kept in a file that fbsample maps (-fbdir), and a
# black root window, so a screen nobody draws on reads black.
mkdir -p "$work/fb"
n=90
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp -noreset -br -fbdir "$work/fb" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -e "/tmp/.X11-unix/X$n" ] && [ -s "$work/fb/Xvfb_screen0" ] && break
    sleep 0.1
done
if [ ! -e "/tmp/.X11-unix/X$n" ]; then
    echo "bench-playback: Xvfb :$n did not start" >&2
    cat "$work/xvfb.log" >&2
    kill "$xvfb_pid" 2>/dev/null || true
    exit 1
fi
export DISPLAY=":$n"
# The rest of the headless environment; it leaves a set DISPLAY alone and its stop
# function ends the X server named here.
# shellcheck source=tools/headless-env.sh
source "$root/tools/headless-env.sh"
KESTROVA_XVFB_PID=$xvfb_pid
cleanup() {
    kestrova_headless_stop
    if [ -n "${KEEP:-}" ] && [ "$KEEP" != 0 ]; then
        echo "bench-playback: work folder kept: $work"
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT

echo "bench-playback: $viewer on Xvfb $DISPLAY (1920x1080x24), $(nproc) CPUs, load average $(cut -d' ' -f1-3 /proc/loadavg)"
/usr/bin/python3 "$root/tools/bench/playback.py" \
    --viewer "$viewer" --predicate "$predicate" --fbsample "$work/fbsample" \
    --fb "$work/fb/Xvfb_screen0" --xvfb-pid "$xvfb_pid" --work "$work" \
    --only "${ONLY:-gap,memory,cpu,start}" \
    --transitions "${TRANSITIONS:-100}" --gap-build-seconds "${GAP_BUILD_SECONDS:-1}" \
    --builds "${BUILDS:-1000}" --mem-build-seconds "${MEM_BUILD_SECONDS:-0.4}" \
    --cpu-seconds "${CPU_SECONDS:-60}" --starts "${STARTS:-5}" \
    --interval-us "${SAMPLE_INTERVAL_US:-250}" --quiet-wait "${QUIET_WAIT:-0}"
echo "bench-playback: load average at the end $(cut -d' ' -f1-3 /proc/loadavg)"
