# Sourced by the benchmark scripts (tools/bench-*.sh) after they set root: the viewer they
# measure, and a private Xvfb whose screen fbsample (tools/bench/fbsample.c) reads.

# bench_binaries NAME: sets viewer and predicate from KESTROVA_BUILD (default build/);
# exits when either is missing. NAME starts the messages.
bench_binaries() {
    local name=$1 build=${KESTROVA_BUILD:-$root/build} f
    viewer=$build/kestrova-client/kestrova-viewer
    predicate=$build/tools/kestrova-predicate/kestrova-predicate
    for f in "$viewer" "$predicate"; do
        if [ ! -x "$f" ]; then
            echo "$name: $f is missing; build first (tools/build.sh)" >&2
            exit 1
        fi
    done
}

# bench_screen_start NAME: makes the work folder (sets work), builds work/fbsample and starts
# our own X server, with its screen kept in a file that fbsample maps (work/fb/Xvfb_screen0,
# by -fbdir) and a black root window, so a screen nobody draws on reads black. Sets xvfb_pid
# and DISPLAY, sources the rest of the headless environment and sets an EXIT trap that ends
# the X server and removes the work folder (kept with KEEP=1). NAME starts the messages.
bench_screen_start() {
    bench_screen_name=$1
    local n=90
    work=$(mktemp -d "${TMPDIR:-/tmp}/kestrova-$1.XXXXXX")
    gcc -O2 -Wall -o "$work/fbsample" "$root/tools/bench/fbsample.c"
    mkdir -p "$work/fb"
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp -noreset -br -fbdir "$work/fb" >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [ -e "/tmp/.X11-unix/X$n" ] && [ -s "$work/fb/Xvfb_screen0" ] && break
        sleep 0.1
    done
    if [ ! -e "/tmp/.X11-unix/X$n" ]; then
        echo "$bench_screen_name: Xvfb :$n did not start" >&2
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
    trap bench_screen_stop EXIT
}

bench_screen_stop() {
    kestrova_headless_stop
    if [ -n "${KEEP:-}" ] && [ "$KEEP" != 0 ]; then
        echo "$bench_screen_name: work folder kept: $work"
    else
        rm -rf "$work"
    fi
}

# bench_run SCRIPT [ARG...]: runs tools/bench/SCRIPT on the screen of bench_screen_start with
# the arguments every benchmark takes and ARGs, between lines on the machine's load.
bench_run() {
    local script=$1
    shift
    echo "$bench_screen_name: $viewer on Xvfb $DISPLAY (1920x1080x24), $(nproc) CPUs, load average $(cut -d' ' -f1-3 /proc/loadavg)"
    /usr/bin/python3 "$root/tools/bench/$script" \
        --viewer "$viewer" --predicate "$predicate" --fbsample "$work/fbsample" \
        --fb "$work/fb/Xvfb_screen0" --xvfb-pid "$xvfb_pid" --work "$work" \
        --interval-us "${SAMPLE_INTERVAL_US:-250}" --quiet-wait "${QUIET_WAIT:-0}" "$@"
    echo "$bench_screen_name: load average at the end $(cut -d' ' -f1-3 /proc/loadavg)"
}
