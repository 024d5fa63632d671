#!/usr/bin/env bash
# Builds kestrova-viewer and plays the bundled demo presentation (examples/demo).
# With a DISPLAY the viewer opens full screen on it; without one it runs on a private
# X server and saves a screenshot to build/demo-screenshot.png every few seconds.
# Runs until interrupted, or for KESTROVA_DEMO_SECONDS seconds when that is set.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

if [ "$(id -u)" = 0 ]; then
    bash tools/setup-debian.sh
fi
bash tools/build.sh normal
bash examples/demo/make-media.sh

headless=0
[ -z "${DISPLAY:-}" ] && headless=1
source tools/headless-env.sh

export GLOG_logtostderr=${GLOG_logtostderr:-1}
build/kestrova-client/kestrova-viewer "$@" examples/demo &
viewer=$!
trap 'kill $viewer 2>/dev/null || true; wait $viewer 2>/dev/null || true; kestrova_headless_stop' EXIT INT TERM

if [ "$headless" = 1 ]; then
    echo "demo: no display; running on a private X server ($DISPLAY), screenshots in build/demo-screenshot.png"
fi
start=$(date +%s)
while kill -0 "$viewer" 2>/dev/null; do
    sleep 3
    if [ "$headless" = 1 ]; then
        import -window root build/demo-screenshot.png 2>/dev/null || true
    fi
    if [ -n "${KESTROVA_DEMO_SECONDS:-}" ] && [ $(($(date +%s) - start)) -ge "$KESTROVA_DEMO_SECONDS" ]; then
        break
    fi
done
