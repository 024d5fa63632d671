#!/usr/bin/env bash
# Video playback figures of kestrova-viewer on a private Xvfb, read straight from its screen:
# frames decoded, rendered and shown for a 720p and a 1080p clip, CPU while they play, and
# gaps at video -> video and video -> image transitions. The clips are made here with
# GStreamer (gst-launch-1.0). Prints figures only; never fails on timing. Never part of
# the test pass.
#
#   bash tools/bench-video.sh          # the full run, about 5 minutes
#   QUICK=1 bash tools/bench-video.sh  # a short run, about 2 minutes
#
# Settings (environment):
#   KESTROVA_BUILD      build folder holding the viewer (default build/)
#   ONLY                parts to run, comma-separated: 720p,1080p,switch (default all)
#   CLIP_SECONDS        length of the counting clips (20)
#   GST_COUNTS=0        play the clips without GStreamer's debug log: no decoded and rendered
#                       counts, and none of the little CPU the log costs
#   TRANSITIONS         transitions watched of each kind in the switch run (20; QUICK 5)
#   SWITCH_BUILD_SECONDS  build duration in the switch run (3)
#   SAMPLE_INTERVAL_US  pause between screen samples (250)
#   QUIET_WAIT          seconds to wait before each part while other kestrova-viewer processes
#                       run (0: only warn); other viewers share the real-time CPU with ours
#   KEEP=1              keep the work folder (clips, logs, samples) and print its path
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=tools/bench/screen.sh
source "$root/tools/bench/screen.sh"
bench_binaries bench-video
command -v gst-launch-1.0 >/dev/null || { echo "bench-video: gst-launch-1.0 is missing" >&2; exit 1; }

if [ -n "${QUICK:-}" ] && [ "${QUICK}" != 0 ]; then
    : "${TRANSITIONS:=5}"
fi

bench_screen_start bench-video
bench_run video.py --only "${ONLY:-720p,1080p,switch}" --clip-seconds "${CLIP_SECONDS:-20}" \
    --gst-counts "${GST_COUNTS:-1}" \
    --transitions "${TRANSITIONS:-20}" --switch-build-seconds "${SWITCH_BUILD_SECONDS:-3}"
