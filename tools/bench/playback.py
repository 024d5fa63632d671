"""Playback figures of kestrova-viewer as the screen shows them.

Run by tools/bench-playback.sh, which starts an Xvfb with -fbdir, builds fbsample and passes
their paths. The screen is read through fbsample (tools/bench/fbsample.c), which records
every change of five pixels with CLOCK_MONOTONIC time stamps and a running sample number.

Figures:
  gap      transitions between full-screen colour builds: samples showing neither the
           outgoing nor the incoming colour; on-screen time of each build against its duration
  memory   VmRSS after many short builds against VmRSS after the first 50
  cpu      CPU time of the viewer while one still image plays
  start    process start to the first build's colour on screen
Every figure only prints; nothing here fails on timing.
"""
import argparse
import os
import re
import signal
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zlib

WIDTH, HEIGHT = 1920, 1080
# No black: black is what the window shows while nothing plays.
PALETTE = [0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF, 0xFFFFFF]
NAMES = {0xFF0000: "red", 0x00FF00: "green", 0x0000FF: "blue", 0xFFFF00: "yellow",
         0xFF00FF: "magenta", 0x00FFFF: "cyan", 0xFFFFFF: "white", 0x000000: "black"}
FRAME_MS = 1000.0 / 60


def colour_name(c):
    return NAMES.get(c, "#%06x" % c)


def log(*args):
    print(*args, flush=True)


# ---------------------------------------------------------------- content folders

def write_png(path, rgb):
    raw = (b"\x00" + bytes(((rgb >> 16) & 255, (rgb >> 8) & 255, rgb & 255)) * WIDTH) * HEIGHT

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))


def build_qml(i, kind, tag, source, seconds):
    """One build of a slide document: a layer showing the asset for `seconds`. A build stays
    on screen while its layer animates, so a pause holds it; a video is started by its build."""
    if kind == "video":
        animation = ("SequentialAnimation { ScriptAction { script: l%d.playMedia() } "
                     "PauseAnimation { duration: %d } }" % (i, round(seconds * 1000)))
    else:
        animation = "PauseAnimation { duration: %d }" % round(seconds * 1000)
    return ('        Build { duration: %g; layer: Layer { id: l%d; asset: Asset { tag: "%s"; kind: "%s"; '
            'name: "%s"; source: "%s" }\n            %s } }' % (seconds, i, tag, kind, tag, source, animation))


def write_slides(root, slides, always):
    """slides: list of (slide name, [(kind, tag, source, seconds)]), the sources in root/slides;
    writes the slide documents and a playlist of them in that order, each under `always`."""
    os.makedirs(os.path.join(root, "slides"), exist_ok=True)
    for name, builds in slides:
        with open(os.path.join(root, "slides", name + ".qml"), "w") as f:
            f.write("import QtQuick 2.2\nimport Kestrova 1.0\nSlide {\n    builds: [\n"
                    + ",\n".join(build_qml(i, *b) for i, b in enumerate(builds)) + "\n    ]\n}\n")
    with open(os.path.join(root, "playlist.json"), "w") as f:
        f.write('{"predicates": ["%s"], "slides": [%s]}\n' % (
            always, ", ".join('{"name": "%s", "predicates": [0]}' % name for name, _ in slides)))


def write_content(root, slides, duration, always):
    """slides: list of (slide name, [palette colours]); every build shows its colour as a
    full-screen picture for `duration` seconds."""
    os.makedirs(os.path.join(root, "slides"), exist_ok=True)
    for _, colours in slides:
        for c in colours:
            image = os.path.join(root, "slides", "%06x.png" % c)
            if not os.path.exists(image):
                write_png(image, c)
    write_slides(root, [(name, [("image", "%06x.png" % c, "%06x.png" % c, duration) for c in colours])
                        for name, colours in slides], always)


# ---------------------------------------------------------------- processes

class Viewer:
    """The viewer with its log read line by line; `Play counter: N` lines are noted as they come."""

    def __init__(self, args, content, log_path, on_counter=None, env=None):
        """env: more environment for the viewer, over this process's."""
        env = dict(os.environ, GLOG_logtostderr="1", **(env or {}))
        self.log_file = open(log_path, "w")
        self.lines = []  # (monotonic ns on arrival, text)
        self.counter = -1
        self.counter_event = threading.Condition()
        self.on_counter = on_counter
        self.proc = subprocess.Popen([args.viewer, content], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.PIPE, env=env)
        self.pid = self.proc.pid
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for raw in self.proc.stderr:
            now = time.monotonic_ns()
            text = raw.decode("utf-8", "replace").rstrip("\n")
            self.log_file.write(text + "\n")
            self.lines.append((now, text))
            m = re.match(r"Play counter: (\d+)$", text)
            if m:
                n = int(m.group(1))
                if self.on_counter:
                    self.on_counter(n, now)
                with self.counter_event:
                    self.counter = n
                    self.counter_event.notify_all()
        with self.counter_event:
            self.counter_event.notify_all()

    def wait_counter(self, n, timeout):
        end = time.monotonic() + timeout
        with self.counter_event:
            while self.counter < n and self.proc.poll() is None:
                left = end - time.monotonic()
                if left <= 0:
                    return False
                self.counter_event.wait(min(left, 1.0))
            return self.counter >= n

    def stop(self):
        began = time.monotonic()
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(15)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                try:
                    self.proc.wait(60)
                except subprocess.TimeoutExpired:
                    log("  WARNING: viewer %d does not end even after SIGKILL" % self.pid)
        self.reader.join(10)
        self.log_file.close()
        if time.monotonic() - began > 5:
            log("  note: stopping the viewer took %.0f s" % (time.monotonic() - began))


class Sampler:
    """fbsample writing change records to a file until stopped."""

    def __init__(self, args, out_path, extra=()):
        self.out_path = out_path
        self.stats_path = out_path + ".stats"
        self.stats_file = open(self.stats_path, "w")
        self.proc = subprocess.Popen([args.fbsample, "--out", out_path, *sampler_options(args), *extra, args.fb],
                                     stdout=subprocess.DEVNULL, stderr=self.stats_file)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        self.proc.wait()
        self.stats_file.close()
        return read_samples(self.out_path, self.stats_path)


def sampler_options(args):
    return ["--interval-us", str(args.interval_us), "--realtime", str(args.sampler_priority)]


def read_samples(out_path, stats_path):
    """Returns (records, end, stats, clock) from fbsample's output: records are
    (t_ns, sample number, [colours]); end is (t_ns, samples) of the last sample."""
    records, end, clock = [], None, None
    with open(out_path) as f:
        for line in f:
            parts = line.split()
            if parts[0] == "#":
                if parts[1] == "clock":
                    clock = (int(parts[2]), int(parts[3]))  # realtime ns, monotonic ns
                elif parts[1] == "end":
                    end = (int(parts[2]), int(parts[3]))
                continue
            records.append((int(parts[0]), int(parts[1]), [int(p, 16) for p in parts[2:]]))
    stats = {}
    with open(stats_path) as f:
        m = re.search(r"samples (\d+) seconds ([\d.]+) rate (\d+) max-interval-us (\d+) long-pauses (\d+)"
                      r"(?: reached-ms ([\d.]+))?",
                      f.read())
        if m:
            stats = {"samples": int(m.group(1)), "seconds": float(m.group(2)), "rate": int(m.group(3)),
                     "max_interval_ms": int(m.group(4)) / 1000.0, "long_pauses": int(m.group(5)),
                     "reached_ms": float(m.group(6)) if m.group(6) else None}
    return records, end, stats, clock


class OtherViewers:
    """Watches kestrova-viewer processes that are not ours: on a shared machine they run
    real-time threads on the same CPU as ours and disturb every figure."""

    def __init__(self):
        self.lock = threading.Lock()
        self.stop_event = threading.Event()
        self.reset()
        self.thread = threading.Thread(target=self._watch, daemon=True)
        self.thread.start()

    def reset(self):
        with self.lock:
            self.ticks, self.most, self.seen, self.start = 0, 0, {}, time.monotonic()
            self.last = {}

    @staticmethod
    def find():
        found = {}
        for entry in os.listdir("/proc"):
            if entry.isdigit():
                try:
                    with open("/proc/%s/comm" % entry) as f:
                        if f.read().strip() == "kestrova-viewer":
                            found[int(entry)] = cpu_ticks(int(entry))
                except (OSError, IndexError, ValueError):
                    pass
        return found

    def _watch(self):
        while not self.stop_event.wait(0.5):
            found = {pid: t for pid, t in self.find().items() if not descends_from_us(pid)}
            with self.lock:
                for pid, t in found.items():
                    self.ticks += t - self.last.get(pid, t)
                self.last = found
                self.most = max(self.most, len(found))
                for pid in found:
                    if pid not in self.seen:
                        try:
                            with open("/proc/%d/cmdline" % pid, "rb") as f:
                                self.seen[pid] = f.read().replace(b"\0", b" ").decode("utf-8", "replace").strip()
                        except OSError:
                            self.seen[pid] = "?"

    def wait_for_quiet(self, seconds):
        end = time.monotonic() + seconds
        others = [pid for pid in self.find() if not descends_from_us(pid)]
        if others and seconds > 0:
            log("  waiting up to %.0f s for other kestrova-viewer processes to end: %s"
                % (seconds, " ".join(map(str, others))))
        while others and time.monotonic() < end:
            time.sleep(2)
            others = [pid for pid in self.find() if not descends_from_us(pid)]
        return others

    def report(self):
        """(processes seen, most at once, % of a core they used) since the last reset."""
        with self.lock:
            pct = self.ticks / os.sysconf("SC_CLK_TCK") / max(0.001, time.monotonic() - self.start) * 100
            return dict(self.seen), self.most, pct


def descends_from_us(pid):
    me = os.getpid()
    for _ in range(6):
        try:
            with open("/proc/%d/stat" % pid) as f:
                pid = int(f.read().rsplit(")", 1)[1].split()[1])
        except (OSError, IndexError, ValueError):
            return False
        if pid == me:
            return True
        if pid <= 1:
            return False
    return False


def sampling_note(stats):
    return ("sampling: %d samples at %d Hz, longest pause between samples %.1f ms, %d pauses over 8 ms"
            % (stats.get("samples", 0), stats.get("rate", 0), stats.get("max_interval_ms", -1),
               stats.get("long_pauses", -1)))


def rss_kb(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def cpu_ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime, stime (fields 14 and 15)


# ---------------------------------------------------------------- analysis

def screen_runs(records, end):
    """Splits the samples into runs of a whole screen of one palette colour and the states
    between them. Returns (runs, between): runs are dicts with colour, t, n (first time and
    sample number), t_end, n_end and inner (states inside the run that broke it for a while,
    such as a black flash); between[j] lists the states between run j and run j+1. A state is
    (t, n, t_next, n_next, colours)."""
    runs, between, pending = [], [], []
    for i, (t, n, colours) in enumerate(records):
        t_next, n_next = (records[i + 1][0], records[i + 1][1]) if i + 1 < len(records) else end
        clean = len(set(colours)) == 1 and colours[0] in PALETTE
        if clean and runs and runs[-1]["colour"] == colours[0]:
            runs[-1]["inner"].extend(pending)
            pending = []
            runs[-1]["t_end"], runs[-1]["n_end"] = t_next, n_next
        elif clean:
            if runs:
                between.append(pending)
            pending = []
            runs.append({"colour": colours[0], "t": t, "n": n, "t_end": t_next, "n_end": n_next, "inner": []})
        else:
            pending.append((t, n, t_next, n_next, colours))
    return runs, between


def analyse_transitions(records, end, transitions, palette_cycle):
    """Gap figures over the first `transitions` transitions after the first build appeared,
    and the builds' runs for on-screen durations.

    A sample is a gap when one of its points shows neither the outgoing nor the incoming
    build's colour (black, anything else); a sample with both colours (a frame copied half
    way) is not. Within a build, any sample not of its colour is a gap."""
    runs, between = screen_runs(records, end)
    result = {"runs": runs, "transitions": 0, "gap_samples": 0, "gap_transitions": 0, "gap_ms": 0.0,
              "gap_longest_ms": 0.0, "tear_samples": 0, "tear_transitions": 0, "order_errors": [], "gaps": []}

    def add_gap(kind, j, a, b, states):
        gap_n, gap_ms, tear_n, seen = 0, 0.0, 0, set()
        for (t, n, t_next, n_next, colours) in states:
            if a != b and all(c in (a, b) for c in colours):
                tear_n += n_next - n
            else:
                gap_n += n_next - n
                gap_ms += (t_next - t) / 1e6
                seen |= {c for c in colours if c not in (a, b)}
        if gap_n:
            result["gap_samples"] += gap_n
            result["gap_ms"] += gap_ms
            result["gap_longest_ms"] = max(result["gap_longest_ms"], gap_ms)
            result["gaps"].append({"kind": kind, "transition": j, "from": a, "to": b, "samples": gap_n, "ms": gap_ms,
                                   "showed": sorted(seen)})
        return gap_n, tear_n

    for j in range(min(transitions, len(runs) - 1)):
        a, b = runs[j]["colour"], runs[j + 1]["colour"]
        result["transitions"] += 1
        expected = palette_cycle[(palette_cycle.index(a) + 1) % len(palette_cycle)]
        if b != expected:
            result["order_errors"].append((j, a, b))
        # A build flashing something else while it plays counts with its outgoing transition.
        inner_gap, _ = add_gap("inside", j, a, a, runs[j]["inner"])
        gap_n, tear_n = add_gap("between", j, a, b, between[j])
        if gap_n or inner_gap:
            result["gap_transitions"] += 1
        if tear_n:
            result["tear_transitions"] += 1
            result["tear_samples"] += tear_n
    return result


def played_builds(lines):
    """'Played build' entries of the log: dicts with counter, name, started, finished (timeline ms)
    and swap_wall (wall-clock seconds of the playNextBuild() line that made the swap)."""
    entries, last_swap = [], None
    stamp = re.compile(r"^[IWEF](\d{4})(\d{2})(\d{2}) (\d{2}):(\d{2}):(\d{2})\.(\d{6}) ")
    i = 0
    while i < len(lines):
        text = lines[i][1]
        if "StartPlayingNextBuildWhenReadyState::playNextBuild()" in text:
            m = stamp.match(text)
            if m:
                y, mo, d, h, mi, s, us = (int(g) for g in m.groups())
                last_swap = time.mktime((y, mo, d, h, mi, s, 0, 0, -1)) + us / 1e6
        if text.endswith("Played build:") and i + 6 < len(lines):
            block = dict(l[1].split(": ", 1) for l in lines[i + 1:i + 7] if ": " in l[1])
            try:
                entries.append({"counter": int(block["Play counter"]), "name": block.get("Asset name", ""),
                                "started": int(block["Started playing at"].split()[0]),
                                "finished": int(block["Finished playing at"].split()[0]),
                                "swap_wall": last_swap})
            except (KeyError, ValueError):
                pass
            i += 7
            continue
        i += 1
    return entries


def median(values):
    return statistics.median(values) if values else float("nan")


def fmt(value, unit="", digits=1):
    if value is None or value != value:
        return "n/a"
    return ("%%.%df%%s" % digits) % (value, unit)


# ---------------------------------------------------------------- the figures

def cycle_slides():
    # Two slides so transitions happen inside a slide, between slides and at the wrap.
    return [("first", PALETTE[:4]), ("second", PALETTE[4:])]


def watch_transitions(args, work, name, content, transitions, duration):
    """Plays `content` (builds of `duration` seconds) while fbsample reads the screen, until the
    viewer has logged `transitions` builds and half a second more; prints the time it ran and
    the sampling note. Samples and log go to work/<name>-samples.txt and work/<name>-viewer.log.
    Returns (viewer, records, end, clock) as read_samples gives them."""
    sampler = Sampler(args, os.path.join(work, "%s-samples.txt" % name))
    time.sleep(0.2)
    viewer = Viewer(args, content, os.path.join(work, "%s-viewer.log" % name))
    started = time.monotonic()
    # Play counter N is logged when build N ends; build N+1 must then reach the screen.
    finished = viewer.wait_counter(transitions, 60 + transitions * duration * 3)
    time.sleep(0.5)
    viewer.stop()
    records, end, stats, clock = sampler.stop()
    log("  ran %.0f s; %s" % (time.monotonic() - started, sampling_note(stats)))
    if not finished:
        log("  WARNING: the viewer logged only %d builds (log: %s)" % (viewer.counter + 1, viewer.log_file.name))
    return viewer, records, end, clock


def bench_gap(args, work, summary):
    transitions, duration = args.transitions, args.gap_build_seconds
    log("== gap and on-screen duration: %d transitions between %g s builds of %d colours"
        % (transitions, duration, len(PALETTE)))
    content = os.path.join(work, "gap-content")
    write_content(content, cycle_slides(), duration, args.always)
    viewer, records, end, clock = watch_transitions(args, work, "gap", content, transitions, duration)
    r = analyse_transitions(records, end, transitions, PALETTE)
    report_transitions(r, "gap", summary, clock)

    runs = r["runs"]
    onscreen = [((runs[j + 1]["t"] - runs[j]["t"]) / 1e6, j) for j in range(min(transitions, len(runs) - 1))]
    errors = [(abs(ms - duration * 1000), ms - duration * 1000, j) for ms, j in onscreen]
    abs_err = [e[0] for e in errors]
    signed = [e[1] for e in errors]
    log("  on-screen time of %d builds (full screen of its colour to full screen of the next):" % len(onscreen))
    if onscreen:
        log("    |error| median %s, max %s; error median %+.1f ms, min %+.1f ms, max %+.1f ms"
            % (fmt(median(abs_err), " ms"), fmt(max(abs_err), " ms"), median(signed), min(signed), max(signed)))
        worst = sorted(errors, reverse=True)[:5]
        log("    worst builds: " + ", ".join("#%d %s %+.0f ms" % (j, colour_name(runs[j]["colour"]), s)
                                             for _, s, j in worst))
    summary.append(("on-screen duration |error| median", fmt(median(abs_err), " ms"), "<= 17 ms"))
    summary.append(("on-screen duration |error| max", fmt(max(abs_err) if abs_err else None, " ms"), "<= 110 ms"))

    # The viewer's own account: its timeline's play and stop marks.
    entries = [e for e in played_builds(viewer.lines) if e["counter"] < transitions]
    log_err = [e["finished"] - e["started"] - duration * 1000 for e in entries]
    if log_err:
        log("  'Played build' log, finished - started - duration over %d builds: median %+.1f ms, min %+.1f ms, "
            "max %+.1f ms" % (len(log_err), median(log_err), min(log_err), max(log_err)))
    by_counter = {e["counter"]: e for e in entries}
    diff = [onscreen_ms - (by_counter[j]["finished"] - by_counter[j]["started"])
            for onscreen_ms, j in onscreen if j in by_counter]
    if diff:
        log("  on screen - logged duration per build: median %+.1f ms, min %+.1f ms, max %+.1f ms"
            % (median(diff), min(diff), max(diff)))
    # Time the log accounts to neither build: a build's stop mark to the next one's play mark.
    between = [by_counter[j + 1]["started"] - by_counter[j]["finished"] for j in sorted(by_counter)
               if j + 1 in by_counter]
    if between:
        log("  log: stop mark of a build -> play mark of the next: median %.1f ms, max %.1f ms"
            % (median(between), max(between)))
    # Swap decision (the playNextBuild() line right before 'Played build') to the new colour on screen.
    if clock:
        latency = []
        for e in entries:
            j = e["counter"]
            if e["swap_wall"] is not None and j + 1 < len(runs):
                swap_mono = clock[1] + (e["swap_wall"] * 1e9 - clock[0])
                latency.append((runs[j + 1]["t"] - swap_mono) / 1e6)
        if latency:
            log("  swap in the log -> new colour on screen: median %.1f ms, min %.1f ms, max %.1f ms "
                "(glog wall-clock stamps, 1 us)" % (median(latency), min(latency), max(latency)))
    summary_log = fmt(median([abs(x) for x in log_err]), " ms") if log_err else "n/a"
    summary.append(("  (log) duration |error| median / max",
                    summary_log + " / " + (fmt(max(abs(x) for x in log_err), " ms") if log_err else "n/a"), "-"))


def report_transitions(r, label, summary, clock):
    log("  transitions seen: %d; with a gap: %d; gap samples: %d; gap time: total %.1f ms, longest %.1f ms "
        "(%.1f frames at 60 Hz)" % (r["transitions"], r["gap_transitions"], r["gap_samples"], r["gap_ms"],
                                    r["gap_longest_ms"], r["gap_longest_ms"] / FRAME_MS))
    log("  half-copied frames (old colour and new colour at once, not a gap): %d samples in %d transitions"
        % (r["tear_samples"], r["tear_transitions"]))
    for g in r["gaps"][:10]:
        where = ("at transition %d, %s -> %s" % (g["transition"], colour_name(g["from"]), colour_name(g["to"]))
                 if g["kind"] == "between" else "inside build %d (%s)" % (g["transition"], colour_name(g["from"])))
        log("    gap %s: %d samples, %.1f ms, showing %s"
            % (where, g["samples"], g["ms"], ", ".join(colour_name(c) for c in g["showed"])))
    if len(r["gaps"]) > 10:
        log("    ... %d more" % (len(r["gaps"]) - 10))
    for j, a, b in r["order_errors"][:10]:
        log("    unexpected order at transition %d: %s -> %s" % (j, colour_name(a), colour_name(b)))
    summary.append(("gap samples (%s)" % label, "%d in %d of %d transitions" % (r["gap_samples"], r["gap_transitions"],
                                                                               r["transitions"]), "0"))
    if r["gap_samples"]:
        summary.append(("  longest gap (%s)" % label, "%.1f ms" % r["gap_longest_ms"], "0"))
    if r["order_errors"]:
        summary.append(("builds out of order (%s)" % label, str(len(r["order_errors"])), "0"))


def bench_memory(args, work, summary):
    builds, duration = args.builds, args.mem_build_seconds
    window = min(50, builds)
    span = min(25, window)  # builds before a mark whose VmRSS range is shown; past the start-up at the first
    log("== memory: %d builds of %g s" % (builds, duration))
    content = os.path.join(work, "memory-content")
    write_content(content, cycle_slides(), duration, args.always)
    marks = sorted(set(range(100, builds, 100)) | {window, builds})
    at_mark = {}  # builds played -> (VmRSS kB, monotonic ns), read as the Play counter line comes
    trace = []    # (builds played, VmRSS kB), every 50 ms
    holder = {}

    def on_counter(n, now):
        if n + 1 in marks and "pid" in holder:
            at_mark[n + 1] = (rss_kb(holder["pid"]), now)

    def watch(stop):
        while not stop.wait(0.05):
            kb = rss_kb(holder["pid"])
            if kb:
                trace.append((viewer.counter + 1, kb))

    sampler = Sampler(args, os.path.join(work, "memory-samples.txt"))
    time.sleep(0.2)
    viewer = Viewer(args, content, os.path.join(work, "memory-viewer.log"), on_counter)
    holder["pid"] = viewer.pid
    stop = threading.Event()
    watcher = threading.Thread(target=watch, args=(stop,), daemon=True)
    watcher.start()
    started = time.monotonic_ns()
    finished = viewer.wait_counter(builds - 1, 120 + builds * duration * 3)
    elapsed = (time.monotonic_ns() - started) / 1e9
    stop.set()
    watcher.join()
    viewer.stop()
    records, end, stats, clock = sampler.stop()
    log("  %d builds in %.0f s (%.3f s a build on average)" % (viewer.counter + 1, elapsed,
                                                               elapsed / max(1, viewer.counter + 1)))
    if not finished:
        log("  WARNING: the viewer logged only %d builds (log: %s)" % (viewer.counter + 1, viewer.log_file.name))

    # A decoded full-screen image is 7.9 MiB, so VmRSS read at one moment jumps by that much
    # with the buffers that happen to be alive; the lowest value over the builds before a mark
    # shows what stays.
    def floor(n):
        values = [kb for played, kb in trace if n - span < played <= n]
        return (min(values), max(values)) if values else (None, None)

    log("  VmRSS when the Play counter line came, and its range over the %d builds before:" % span)
    for n in marks:
        kb, now = at_mark.get(n, (None, started))
        lo, hi = floor(n)
        log("    after %5d builds (%6.1f s): %s   (%s .. %s)"
            % (n, (now - started) / 1e9, fmt(kb / 1024 if kb else None, " MiB"), fmt(lo / 1024 if lo else None, ""),
               fmt(hi / 1024 if hi else None, " MiB")))
    base, last = at_mark.get(window, (None,))[0], at_mark.get(builds, (None,))[0]
    growth = (last - base) / 1024 if base and last else None
    base_lo, last_lo = floor(window)[0], floor(builds)[0]
    growth_lo = (last_lo - base_lo) / 1024 if base_lo and last_lo else None
    log("  growth from build %d to build %d: %s; of the lowest values: %s"
        % (window, builds, fmt(growth, " MiB", 2), fmt(growth_lo, " MiB", 2)))
    summary.append(("RSS growth, build %d -> %d" % (window, builds), fmt(growth, " MiB", 2), "<= 2 MB"))
    summary.append(("  same, lowest RSS of the %d builds before" % span, fmt(growth_lo, " MiB", 2), "<= 2 MB"))
    summary.append(("  time for %d builds of %g s" % (builds, duration), "%.0f s" % elapsed, "-"))
    log("  the same run on screen (%g s builds); %s" % (duration, sampling_note(stats)))
    r = analyse_transitions(records, end, max(0, builds - 1), PALETTE)
    report_transitions(r, "%g s builds" % duration, summary, clock)


def bench_cpu(args, work, summary):
    seconds = args.cpu_seconds
    duration = max(120.0, seconds * 2)
    log("== CPU while one still image plays: %g s of a %g s build" % (seconds, duration))
    content = os.path.join(work, "cpu-content")
    colour = PALETTE[2]
    write_content(content, [("still", [colour])], duration, args.always)
    viewer = Viewer(args, content, os.path.join(work, "cpu-viewer.log"))
    wait = subprocess.run([args.fbsample, "--out", "/dev/null", "--until", "%06x" % colour, "--timeout", "60", args.fb],
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if wait.returncode != 0:
        log("  WARNING: the build never reached the screen (log: %s)" % viewer.log_file.name)
        viewer.stop()
        summary.append(("CPU, still image", "n/a", "<= 2 %"))
        return
    time.sleep(1.0)  # let loading settle; the build is on screen
    tick = os.sysconf("SC_CLK_TCK")
    x0, v0, t0 = cpu_ticks(args.xvfb_pid), cpu_ticks(viewer.pid), time.monotonic()
    time.sleep(seconds)
    x1, v1, t1 = cpu_ticks(args.xvfb_pid), cpu_ticks(viewer.pid), time.monotonic()
    alive = viewer.proc.poll() is None
    still = viewer.counter < 0
    viewer.stop()
    pct = (v1 - v0) / tick / (t1 - t0) * 100
    xpct = (x1 - x0) / tick / (t1 - t0) * 100
    log("  viewer: %.2f %% of one core over %.1f s (utime+stime, %d ticks at %d Hz); Xvfb: %.2f %%"
        % (pct, t1 - t0, v1 - v0, tick, xpct))
    if not alive or not still:
        log("  WARNING: the viewer %s during the measurement" % ("exited" if not alive else "changed build"))
    summary.append(("CPU, still image, %g s" % seconds, "%.2f %%" % pct, "<= 2 %"))
    summary.append(("  (Xvfb in the same time)", "%.2f %%" % xpct, "-"))


def bench_start(args, work, summary):
    runs = args.starts
    log("== start to first build on screen: %d runs (the first with empty caches)" % runs)
    times = []
    for i in range(runs):
        colour = PALETTE[i % len(PALETTE)]  # a new colour each run: a left-over screen cannot count
        content = os.path.join(work, "start-content-%d" % i)
        write_content(content, [("one", [colour])], 30, args.always)
        env = dict(os.environ, GLOG_logtostderr="1")
        if i == 0:
            env["XDG_CACHE_HOME"] = tempfile.mkdtemp(prefix="cold-cache.", dir=work)
        with open(os.path.join(work, "start-%d.log" % i), "w") as logf:
            subprocess.run([args.fbsample, "--out", os.path.join(work, "start-%d-samples.txt" % i),
                            *sampler_options(args), "--until", "%06x" % colour, "--timeout", "60",
                            args.fb, "--", args.viewer, content], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=logf, env=env)
        with open(os.path.join(work, "start-%d.log" % i)) as logf:
            m = re.search(r"fbsample: .* reached-ms ([\d.]+)", logf.read())
        ms = float(m.group(1)) if m else None
        times.append(ms)
        log("  run %d%s: %s" % (i + 1, " (empty XDG_CACHE_HOME: QML, Mesa and GStreamer caches)" if i == 0 else "",
                                fmt(ms, " ms")))
        time.sleep(0.5)
    warm = [t for t in times[1:] if t is not None]
    if times and times[0] is not None:
        summary.append(("start -> first build, cold caches", "%.0f ms" % times[0], "-"))
    summary.append(("start -> first build, warm min / median",
                    "%s / %s" % (fmt(min(warm) if warm else None, " ms", 0), fmt(median(warm), " ms", 0)), "<= 1.5 s"))


# ---------------------------------------------------------------- running the parts

def add_common_arguments(p):
    """The arguments every benchmark takes from its shell script: the programs, the screen
    and the work folder, and how the screen is sampled."""
    p.add_argument("--viewer", required=True)
    p.add_argument("--predicate", required=True)
    p.add_argument("--fbsample", required=True)
    p.add_argument("--fb", required=True, help="the Xvfb_screen0 file")
    p.add_argument("--xvfb-pid", type=int, required=True)
    p.add_argument("--work", required=True)
    p.add_argument("--interval-us", type=int, default=250)
    p.add_argument("--quiet-wait", type=float, default=0,
                   help="seconds to wait before each part for other kestrova-viewer processes to end")
    p.add_argument("--sampler-priority", type=int, default=50, help="SCHED_FIFO priority of fbsample, 0: none")


def compile_always(args):
    """args.always: the predicate that always holds, compiled by the predicate tool."""
    args.always = subprocess.run([args.predicate, "compile", "always"], check=True, capture_output=True,
                                 text=True).stdout.split()[0]


def run_parts(args, parts):
    """Runs the parts named in args.only (comma-separated) in the order of `parts`, a dict of
    name -> function(args, work, summary); returns the summary rows (figure, measured, goal)."""
    chosen = [n.strip() for n in args.only.split(",") if n.strip()]
    for name in chosen:
        if name not in parts:
            sys.exit("unknown part %r; known: %s" % (name, ", ".join(parts)))
    summary = []
    others = OtherViewers()
    for name in [n for n in parts if n in chosen]:
        others.wait_for_quiet(args.quiet_wait)
        others.reset()
        parts[name](args, args.work, summary)
        report_other_viewers(others, name, summary)
    return summary


def report_other_viewers(others, name, summary):
    """Warns of other kestrova-viewer processes that ran during part `name`."""
    seen, most, pct = others.report()
    if seen:
        log("  WARNING: %d other kestrova-viewer process(es) ran meanwhile (up to %d at once), using %.0f %% "
            "of a core on average; their real-time threads share our CPU, so these figures are disturbed"
            % (len(seen), most, pct))
        for pid, cmdline in list(seen.items())[:4]:
            log("    %d: %s" % (pid, cmdline[:150]))
        summary.append(("  (%s: other viewers ran, CPU)" % name, "%.0f %%" % pct, "-"))


def print_summary(summary):
    log("")
    log("== summary")
    widths = [max([len(row[i]) for row in summary] + [len(h)]) for i, h in enumerate(("figure", "measured"))]
    for row in [("figure", "measured", "goal")] + summary:
        log("  %-*s  %-*s  %s" % (widths[0], row[0], widths[1], row[1], row[2]))


def main():
    p = argparse.ArgumentParser()
    add_common_arguments(p)
    p.add_argument("--only", default="gap,memory,cpu,start")
    p.add_argument("--transitions", type=int, default=100)
    p.add_argument("--gap-build-seconds", type=float, default=1.0)
    p.add_argument("--builds", type=int, default=1000)
    p.add_argument("--mem-build-seconds", type=float, default=0.4)
    p.add_argument("--cpu-seconds", type=float, default=60)
    p.add_argument("--starts", type=int, default=5)
    args = p.parse_args()
    compile_always(args)
    summary = run_parts(args, {"gap": bench_gap, "memory": bench_memory, "cpu": bench_cpu, "start": bench_start})
    print_summary(summary)

if __name__ == "__main__":
    main()
