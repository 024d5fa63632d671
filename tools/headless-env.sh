# Sourced by the test and demo scripts: a private X server and a quiet, headless
# environment for Qt, QtWebEngine and GStreamer. Sets DISPLAY unless one is given.
# Call kestrova_headless_stop (or let the EXIT trap do it) to end the X server.

kestrova_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

kestrova_headless_stop() {
    if [ -n "${KESTROVA_XVFB_PID:-}" ]; then
        kill "$KESTROVA_XVFB_PID" 2>/dev/null || true
        wait "$KESTROVA_XVFB_PID" 2>/dev/null || true
        unset KESTROVA_XVFB_PID
    fi
}

kestrova_headless_start() {
    local n=90
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp -noreset >"${TMPDIR:-/tmp}/kestrova-xvfb-$n.log" 2>&1 &
    KESTROVA_XVFB_PID=$!
    for _ in $(seq 100); do
        [ -e "/tmp/.X11-unix/X$n" ] && break
        sleep 0.1
    done
    if [ ! -e "/tmp/.X11-unix/X$n" ]; then
        echo "headless: Xvfb :$n did not start" >&2
        return 1
    fi
    export DISPLAY=":$n"
    trap kestrova_headless_stop EXIT
}

if [ -z "${DISPLAY:-}" ]; then
    kestrova_headless_start
fi

XDG_RUNTIME_DIR=$(mktemp -d "${TMPDIR:-/tmp}/kestrova-runtime.XXXXXX")
chmod 0700 "$XDG_RUNTIME_DIR"
export XDG_RUNTIME_DIR
export XDG_CACHE_HOME=${XDG_CACHE_HOME:-$HOME/.cache}
export DBUS_SESSION_BUS_ADDRESS=disabled:
export QT_QPA_PLATFORM=xcb
export QT_GSTREAMER_PLAYBIN_AUDIOSINK=fakeaudiosink
# QtWebEngine refuses to run as root inside its sandbox.
if [ "$(id -u)" = 0 ]; then
    export QTWEBENGINE_DISABLE_SANDBOX=1
fi
