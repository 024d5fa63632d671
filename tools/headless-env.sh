# Sourced by the test and demo scripts: a private X server and a quiet, headless
# environment for Qt, QtWebEngine and GStreamer. Sets DISPLAY unless one is given.
# kestrova_headless_stop (run by the EXIT trap) ends the X server and removes the runtime
# directory.

kestrova_headless_stop() {
    if [ -n "${KESTROVA_XVFB_PID:-}" ]; then
        kill "$KESTROVA_XVFB_PID" 2>/dev/null || true
        wait "$KESTROVA_XVFB_PID" 2>/dev/null || true
        unset KESTROVA_XVFB_PID
    fi
    if [ -n "${KESTROVA_RUNTIME_DIR:-}" ]; then
        rm -rf "$KESTROVA_RUNTIME_DIR"
        unset KESTROVA_RUNTIME_DIR
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
}

if [ -z "${DISPLAY:-}" ]; then
    kestrova_headless_start
fi

KESTROVA_RUNTIME_DIR=$(mktemp -d "${TMPDIR:-/tmp}/kestrova-runtime.XXXXXX")
chmod 0700 "$KESTROVA_RUNTIME_DIR"
export XDG_RUNTIME_DIR=$KESTROVA_RUNTIME_DIR
trap kestrova_headless_stop EXIT
export XDG_CACHE_HOME=${XDG_CACHE_HOME:-$HOME/.cache}
export DBUS_SESSION_BUS_ADDRESS=disabled:
export QT_QPA_PLATFORM=xcb
export QT_GSTREAMER_PLAYBIN_AUDIOSINK=fakeaudiosink
# QtWebEngine refuses to run as root inside its sandbox.
if [ "$(id -u)" = 0 ]; then
    export QTWEBENGINE_DISABLE_SANDBOX=1
fi
