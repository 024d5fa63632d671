"""Video playback figures of kestrova-viewer as the screen shows them.

Run by tools/bench-video.sh, which starts an Xvfb with -fbdir, builds fbsample and passes
their paths; the processes, sampling and transition analysis come from playback.py.

Figures:
  frames   one clip per size, each in a freshly started viewer: frames the decoder put out
           and the sink rendered (from GStreamer's own debug log) and frames that reached
           the screen (read by fbsample), against the frames in the clip; CPU of the viewer
           and of Xvfb while the clip plays
  switch   transitions between short builds of solid-colour videos and images: samples
           showing neither the outgoing nor the incoming build, per kind of transition

Every frame of a counting clip carries its number as the colours of five flat blocks, one
under each of fbsample's points: three bits a point (red, green, blue on or off), ten bits
of Gray-coded frame number and five check bits. A copy to the screen caught half way
between two consecutive frames then reads as one of the two, never as a third frame.
Every figure only prints; nothing here fails on timing.
"""
import argparse
import os
import re
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import playback  # noqa: E402
from playback import Sampler, Viewer, cpu_ticks, fmt, log, median  # noqa: E402

FPS = 30
# fbsample's points as fractions of the screen: the centre, then the centres of the quarters.
POINTS = [(0.5, 0.5), (0.25, 0.25), (0.75, 0.25), (0.25, 0.75), (0.75, 0.75)]
BLOCK = 0.1  # half the side of a code block, as a fraction of the frame
CODE_W, CODE_H = 64, 36  # the code picture, scaled up to the clip without smoothing
FRAME_BITS = 10
MAX_FRAMES = 1 << FRAME_BITS
# A torn copy can last a few milliseconds; a frame that was really shown lasts a refresh.
MIN_HOLD_MS = 3.0
# Colour classes on the screen, tolerant of the colour shifts of H.264 and its conversions.
ON, OFF = 0xA0, 0x60
VIDEO_SIZE = (1280, 720)  # the solid-colour clips of the switch run
FLASH_WINDOW_NS = 1000000000


def gray(n):
    return n ^ (n >> 1)


def from_gray(g):
    n = 0
    while g:
        n ^= g
        g >>= 1
    return n


def check_bits(n):
    return (n * 11 + 5) % 31 + 1  # never 0, so no code is all black


def encode(n):
    return gray(n) | (check_bits(n) << FRAME_BITS)


def channel(value):
    """1 or 0 for a clearly lit or dark channel, None in between."""
    return 1 if value >= ON else 0 if value <= OFF else None


def decode(colours):
    """The frame number the five sampled colours show, or None."""
    code = 0
    for p, c in enumerate(colours):
        for bit, shift in enumerate((16, 8, 0)):
            on = channel((c >> shift) & 255)
            if on is None:
                return None
            code |= on << (3 * p + bit)
    n = from_gray(code & (MAX_FRAMES - 1))
    return n if code >> FRAME_BITS == check_bits(n) else None


def snap(c):
    """A colour with each clearly lit or dark channel made full or zero; others left as they are."""
    levels = [channel((c >> s) & 255) for s in (16, 8, 0)]
    if None in levels:
        return c
    return (levels[0] * 0xFF0000) | (levels[1] * 0x00FF00) | (levels[2] * 0x0000FF)


# ---------------------------------------------------------------- media

def gst_launch(description, path, stdin=None):
    """gst-launch-1.0 making `path`, its messages in path.log."""
    with open(path + ".log", "w") as messages:
        return subprocess.Popen(["gst-launch-1.0", "-q", *description.split()], stdin=stdin,
                                stdout=subprocess.DEVNULL, stderr=messages)


def finish(proc, path):
    if proc.wait() != 0:
        with open(path + ".log") as f:
            sys.exit("bench-video: making %s failed:\n%s" % (path, f.read()))


def encoder(width, height, path):
    # x264 would pick Y444 from raw RGB, which the viewer cannot show.
    return ("video/x-raw,format=I420,width=%d,height=%d,framerate=%d/1 ! x264enc speed-preset=ultrafast "
            "tune=zerolatency ! mp4mux ! filesink location=%s" % (width, height, FPS, path))


def code_picture(n):
    """One BGRA code picture: the five blocks on a transparent ground."""
    pixels = bytearray(CODE_W * CODE_H * 4)
    code = encode(n)
    for p, (fx, fy) in enumerate(POINTS):
        bits = (code >> (3 * p)) & 7
        bgra = bytes((255 * (bits >> 2 & 1), 255 * (bits >> 1 & 1), 255 * (bits & 1), 255))
        x0, x1 = round((fx - BLOCK) * CODE_W), round((fx + BLOCK) * CODE_W)
        for y in range(round((fy - BLOCK) * CODE_H), round((fy + BLOCK) * CODE_H)):
            pixels[(y * CODE_W + x0) * 4:(y * CODE_W + x1) * 4] = bgra * (x1 - x0)
    return pixels


def make_counting_clip(path, width, height, frames):
    """H.264 in MP4: a moving test pattern, so the decoder has real work, under the code blocks."""
    caps = "width=%d,height=%d,framerate=%d/1" % (width, height, FPS)
    proc = gst_launch(
        "compositor name=mix background=black ! video/x-raw,format=AYUV,%s ! videoconvert ! %s "
        "videotestsrc pattern=smpte horizontal-speed=3 num-buffers=%d ! video/x-raw,%s ! mix. "
        "fdsrc fd=0 ! rawvideoparse width=%d height=%d format=bgra framerate=%d/1 colorimetry=sRGB "
        "! videoscale method=nearest-neighbour ! video/x-raw,width=%d,height=%d ! mix."
        % (caps, encoder(width, height, path), frames, caps, CODE_W, CODE_H, FPS, width, height),
        path, stdin=subprocess.PIPE)
    try:
        for n in range(frames):
            proc.stdin.write(code_picture(n))
        proc.stdin.close()
    except BrokenPipeError:
        pass
    finish(proc, path)


def make_solid_clip(path, rgb, seconds):
    finish(gst_launch("videotestsrc pattern=solid-color foreground-color=0xff%06x num-buffers=%d ! %s"
                      % (rgb, round(seconds * FPS), encoder(*VIDEO_SIZE, path)), path), path)


# ---------------------------------------------------------------- content

# ---------------------------------------------------------------- measuring

def thread_ticks(pid):
    """utime+stime of a process's threads, summed by thread name."""
    ticks = {}
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/stat" % (pid, tid)) as f:
                name, rest = f.read().split(" (", 1)[1].rsplit(") ", 1)
            fields = rest.split()
            ticks[name] = ticks.get(name, 0) + int(fields[11]) + int(fields[12])
        except (OSError, IndexError, ValueError):
            pass
    return ticks


def busy_ticks():
    """CPU time of the whole machine, all CPUs together, in the same ticks as /proc/<pid>/stat."""
    with open("/proc/stat") as f:
        fields = [int(v) for v in f.readline().split()[1:9]]
    return sum(fields) - fields[3] - fields[4]  # less idle and iowait


class CpuTrace:
    """utime+stime of some processes (the viewer first) and of the whole machine every 100 ms,
    with CLOCK_MONOTONIC stamps like fbsample's, and of the viewer's threads by name."""

    def __init__(self, pids):
        self.pids, self.rows, self.threads, self.stop_event = pids, [], [], threading.Event()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        while not self.stop_event.wait(0.1):
            try:
                self.rows.append((time.monotonic_ns(), [cpu_ticks(pid) for pid in self.pids] + [busy_ticks()]))
                self.threads.append((self.rows[-1][0], thread_ticks(self.pids[0])))
            except (OSError, IndexError, ValueError):
                return

    def stop(self):
        self.stop_event.set()
        self.thread.join()

    def percent(self, t0, t1):
        """% of one core of each process, and of the whole machine last, between the first and
        the last row inside [t0, t1]."""
        inside = [r for r in self.rows if t0 <= r[0] <= t1]
        if len(inside) < 2:
            return None, 0.0
        (a, ta), (b, tb) = inside[0], inside[-1]
        seconds = (b - a) / 1e9
        return [(y - x) / os.sysconf("SC_CLK_TCK") / seconds * 100 for x, y in zip(ta, tb)], seconds

    def busiest_threads(self, t0, t1, most=5):
        """The viewer's threads by name with their % of one core inside [t0, t1], busiest first."""
        inside = [r for r in self.threads if t0 <= r[0] <= t1]
        if len(inside) < 2:
            return []
        (a, first), (b, last) = inside[0], inside[-1]
        scale = 100 / os.sysconf("SC_CLK_TCK") / ((b - a) / 1e9)
        used = sorted(((last[k] - first.get(k, 0)) * scale, k) for k in last)
        return [(k, pct) for pct, k in reversed(used[-most:]) if pct > 0]


GST_LINE = re.compile(r"\s(\w+)\s+\S+\.c:\d+:(\w+):<([^>]*)> (.*)$")


def gst_counts(path):
    """Per-frame events of the decoder and the sink in a GStreamer debug log."""
    counts = dict.fromkeys(["decoded", "decoder dropped", "sink rendered", "sink dropped"], 0)
    decoders = set()
    try:
        f = open(path, errors="replace")
    except OSError:
        return None, decoders
    with f:
        for line in f:
            m = GST_LINE.search(line)
            if not m:
                continue
            function, element, text = m.group(2), m.group(3), m.group(4)
            if function == "gst_video_decoder_clip_and_push_buf" and text.startswith("pushing buffer"):
                counts["decoded"] += 1
                decoders.add(element)
            elif function.startswith("gst_video_decoder_drop_") and text.startswith("drop"):
                counts["decoder dropped"] += 1
            elif function == "gst_base_sink_chain_unlocked" and text.startswith("rendering object"):
                counts["sink rendered"] += 1
            elif function.startswith("gst_base_sink_") and text.startswith("dropped because of QoS"):
                counts["sink dropped"] += 1
    return counts, decoders


def screen_frames(records, end, frames):
    """The clip's frames the screen showed: frame number -> (first seen ns, ns on screen in all).
    Codes on screen for less than MIN_HOLD_MS in all are torn copies and left out."""
    held = {}
    for i, (t, _, colours) in enumerate(records):
        t_next = records[i + 1][0] if i + 1 < len(records) else end[0]
        n = decode(colours)
        if n is not None and n < frames:
            first, total = held.get(n, (t, 0))
            held[n] = (first, total + t_next - t)
    brief = [n for n, (_, total) in held.items() if total < MIN_HOLD_MS * 1e6]
    if brief:
        log("  frame numbers on screen for under %g ms only, not counted: %d" % (MIN_HOLD_MS, len(brief)))
    return {n: v for n, v in held.items() if n not in brief}


def runs_of(numbers):
    """Consecutive runs in sorted numbers, as (first, last)."""
    runs = []
    for n in numbers:
        if runs and n == runs[-1][1] + 1:
            runs[-1][1] = n
        else:
            runs.append([n, n])
    return runs


def bench_clip(args, work, summary, label, width, height):
    frames = round(args.clip_seconds * FPS)
    log("== frames: %s, %dx%d at %d fps, %d frames (%g s), H.264" % (label, width, height, FPS, frames,
                                                                      args.clip_seconds))
    content = os.path.join(work, "clip-%s" % label)
    os.makedirs(os.path.join(content, "slides"))
    began = time.monotonic()
    make_counting_clip(os.path.join(content, "slides", "clip.mp4"), width, height, frames)
    log("  clip made in %.0f s" % (time.monotonic() - began))
    # Two seconds more than the clip, so its last frame has time to be shown.
    playback.write_slides(content, [("clip", [("video", "clip", "clip.mp4", args.clip_seconds + 2)])], args.always)
    gst_log = os.path.join(work, "clip-%s-gst.log" % label)
    sampler = Sampler(args, os.path.join(work, "clip-%s-samples.txt" % label))
    time.sleep(0.2)
    # The decoder's and the sink's per-frame debug lines, to count their frames.
    debug = {"GST_DEBUG": "videodecoder:6,basesink:5", "GST_DEBUG_FILE": gst_log, "GST_DEBUG_NO_COLOR": "1"}
    viewer = Viewer(args, content, os.path.join(work, "clip-%s-viewer.log" % label),
                    env=debug if args.gst_counts else None)
    cpu = CpuTrace([viewer.pid, args.xvfb_pid, sampler.proc.pid])
    # Play counter 0 is logged when the clip's build ends.
    finished = viewer.wait_counter(0, 60 + args.clip_seconds * 3)
    cpu.stop()
    viewer.stop()
    records, end, stats, _ = sampler.stop()
    log("  %s" % playback.sampling_note(stats))
    if not finished:
        log("  WARNING: the clip's build did not end in time (log: %s)" % viewer.log_file.name)

    counts, decoders = gst_counts(gst_log) if args.gst_counts else (None, set())
    if counts:
        log("  GStreamer log (%s): %d frames decoded and pushed, %d dropped by the decoder; sink rendered %d, "
            "dropped %d" % (", ".join(sorted(decoders)) or "no decoder", counts["decoded"], counts["decoder dropped"],
                            counts["sink rendered"], counts["sink dropped"]))
    shown = screen_frames(records, end, frames)
    window = report_screen(shown, frames)
    pct, seconds = cpu.percent(*window) if window else (None, 0.0)
    if pct:
        log("  CPU while playing (%.1f s), %% of one core: viewer %.1f %%, Xvfb %.1f %%, fbsample %.1f %%, "
            "everything else about %.0f %% (of %d %%)" % (seconds, *pct[:3], others_pct(pct), 100 * os.cpu_count()))
        log("  busiest viewer threads: " + ", ".join("%s %.1f %%" % t for t in cpu.busiest_threads(*window)))
    else:
        log("  CPU while playing: n/a (too little shown)")
    log("  log lines: %s" % viewer_warnings(viewer))

    goal = "%d (no drops)" % frames if label == "720p" else "-"
    summary.append(("%s frames on screen / in clip" % label, "%d / %d" % (len(shown), frames), goal))
    if counts:
        summary.append(("  %s decoded / sink rendered" % label,
                        "%d / %d" % (counts["decoded"], counts["sink rendered"]), "%d" % frames))
    summary.append(("  %s CPU of the viewer while playing" % label, fmt(pct[0] if pct else None, " %"), "-"))
    summary.append(("  %s CPU of Xvfb while playing" % label, fmt(pct[1] if pct else None, " %"), "-"))
    if pct and others_pct(pct) > 20:
        summary.append(("  (%s: other processes, CPU)" % label, fmt(others_pct(pct), " %"), "-"))


def others_pct(pct):
    """The machine's CPU use less the viewer's, Xvfb's and fbsample's; the readings are not
    taken at quite the same instant, so small values are noise."""
    return max(0.0, pct[3] - pct[0] - pct[1] - pct[2])


def report_screen(shown, frames):
    """Prints what the screen showed of the clip; returns the playing time as
    (first ns, last ns), or None when too little was shown."""
    missing = runs_of([n for n in range(frames) if n not in shown])
    count = sum(b - a + 1 for a, b in missing)
    listed = ", ".join(("%d" % a if a == b else "%d-%d" % (a, b)) for a, b in missing[:12])
    log("  on screen: %d of %d frames, %d missing%s" % (len(shown), frames, count, (
        " (%s%s); longest run %d" % (listed, ", ..." if len(missing) > 12 else "",
                                     max(b - a + 1 for a, b in missing))) if missing else ""))
    order = sorted(shown, key=lambda n: shown[n][0])
    back = sum(1 for i, n in enumerate(order) if i and n < max(order[:i]))
    if back:
        log("  frames that came after a later one: %d" % back)
    if len(order) < 3:
        return None
    # The first frame is shown while the player prerolls; playing starts with the next one.
    t0, t1 = shown[order[1]][0], shown[order[-1]][0]
    steps = [(shown[b][0] - shown[a][0]) / 1e6 for a, b in zip(order[1:], order[2:])]
    log("  frame to frame on screen: median %.1f ms, max %.1f ms (%.1f ms a frame at %d fps); %d steps over two "
        "frame times" % (median(steps), max(steps), 1000.0 / FPS, FPS, sum(1 for s in steps if s > 2000.0 / FPS)))
    log("  first frame on screen: %d, for %.0f ms (preroll and start); then %.2f s on screen for %.2f s of clip"
        % (order[0], shown[order[0]][1] / 1e6, (t1 - t0) / 1e9, (order[-1] - order[1]) / FPS))
    return t0, t1


def viewer_warnings(viewer):
    """The viewer's warnings and errors, counted by their text."""
    seen = {}
    for _, text in viewer.lines:
        m = re.match(r"([WEF])\d{8} [\d:.]+ +\d+ ([^\]]+)\] (.*)", text)
        if m:
            key = "%s %s: %s" % (m.group(1), m.group(2), re.sub(r"0x[0-9a-f]+|\d+", "#", m.group(3))[:90])
            seen[key] = seen.get(key, 0) + 1
    return ("%d warnings/errors\n    " % sum(seen.values())
            + "\n    ".join("%dx %s" % (n, k) for k, n in sorted(seen.items())) if seen else "no warnings or errors")


# The switch run: two slides, so one transition of each kind is inside a slide and one
# crosses between slides.
SWITCH_SLIDES = [("first", [("video", 0xFF0000), ("video", 0x00FF00), ("image", 0x0000FF)]),
                 ("second", [("video", 0xFFFF00), ("video", 0xFF00FF), ("image", 0x00FFFF)])]
SWITCH_ORDER = [b for _, builds in SWITCH_SLIDES for b in builds]


def bench_switch(args, work, summary):
    per_kind, seconds = args.transitions, args.switch_build_seconds
    transitions = per_kind * 3  # a video -> video, a video -> image and an image -> video in every three
    log("== switch: %d transitions between %g s builds, %d of each kind (solid-colour %dx%d videos, full-screen "
        "images)" % (transitions, seconds, per_kind, *VIDEO_SIZE))
    content = os.path.join(work, "switch-content")
    write_switch_content(content, seconds, args.always)
    viewer, records, end, clock = playback.watch_transitions(args, work, "switch", content, transitions, seconds)
    snapped = [(t, n, [snap(c) for c in colours]) for t, n, colours in records]
    r = playback.analyse_transitions(snapped, end, transitions, [rgb for _, rgb in SWITCH_ORDER])
    playback.report_transitions(r, "all", [], clock)
    report_kinds(r, summary)
    if r["order_errors"]:
        summary.append(("builds out of order (switch)", str(len(r["order_errors"])), "0"))
    log("  log lines: %s" % viewer_warnings(viewer))


def write_switch_content(content, seconds, always):
    os.makedirs(os.path.join(content, "slides"))
    slides = []
    for name, builds in SWITCH_SLIDES:
        entries = []
        for kind, rgb in builds:
            source = "%06x.%s" % (rgb, "mp4" if kind == "video" else "png")
            path = os.path.join(content, "slides", source)
            if kind == "video":
                make_solid_clip(path, rgb, seconds + 1)
            else:
                playback.write_png(path, rgb)
            entries.append((kind, "%s-%06x" % (kind, rgb), source, seconds))
        slides.append((name, entries))
    playback.write_slides(content, slides, always)


def gaps_by_transition(r):
    """transition -> [gap samples, gap ms], from analyse_transitions' result. A flash inside a
    build in its first FLASH_WINDOW_NS belongs to the transition into it, a later one to the
    transition out of it."""
    gaps = {}

    def add(j, samples, ms):
        if 0 <= j < r["transitions"]:
            g = gaps.setdefault(j, [0, 0.0])
            g[0] += samples
            g[1] += ms

    for g in r["gaps"]:
        if g["kind"] == "between":
            add(g["transition"], g["samples"], g["ms"])
    for k, run in enumerate(r["runs"][:r["transitions"] + 1]):
        for t, n, t_next, n_next, _ in run["inner"]:
            add(k - 1 if t - run["t"] < FLASH_WINDOW_NS else k, n_next - n, (t_next - t) / 1e6)
    return gaps


def report_kinds(r, summary):
    runs, gaps = r["runs"], gaps_by_transition(r)
    kind_of = {rgb: kind for kind, rgb in SWITCH_ORDER}
    kinds = {}
    for j in range(r["transitions"]):
        pair = (kind_of.get(runs[j]["colour"], "other"), kind_of.get(runs[j + 1]["colour"], "other"))
        kinds.setdefault(pair, []).append(j)
    log("  per kind (a flash inside a build counts with the transition into it in its first %g s, else with "
        "the one out of it):" % (FLASH_WINDOW_NS / 1e9))
    for (ka, kb), js in sorted(kinds.items()):
        hit = [gaps[j] for j in js if j in gaps]
        samples, ms = sum(g[0] for g in hit), sum(g[1] for g in hit)
        longest = max([g[1] for g in hit] + [0.0])
        log("    %s -> %s: %d transitions, %d with a gap, %d gap samples, %.1f ms in all, longest %.1f ms "
            "(%.1f frames at 60 Hz)" % (ka, kb, len(js), len(hit), samples, ms, longest, longest / playback.FRAME_MS))
        summary.append(("gap samples, %s -> %s" % (ka, kb), "%d in %d of %d transitions" % (samples, len(hit), len(js)),
                        "0" if ka == "video" else "-"))
        if samples:
            summary.append(("  longest gap, %s -> %s" % (ka, kb), "%.1f ms (%.1f frames)"
                            % (longest, longest / playback.FRAME_MS), "-"))


# ---------------------------------------------------------------- main

def main():
    p = argparse.ArgumentParser()
    playback.add_common_arguments(p)
    p.add_argument("--only", default="720p,1080p,switch")
    p.add_argument("--clip-seconds", type=float, default=20)
    p.add_argument("--gst-counts", type=int, default=1, help="0: no GStreamer debug log, no decoder and sink counts")
    p.add_argument("--transitions", type=int, default=20, help="transitions watched of each kind")
    p.add_argument("--switch-build-seconds", type=float, default=3)
    args = p.parse_args()
    if args.clip_seconds * FPS > MAX_FRAMES:
        sys.exit("bench-video: clips of at most %d frames" % MAX_FRAMES)
    playback.compile_always(args)
    parts = {"720p": lambda a, w, s: bench_clip(a, w, s, "720p", 1280, 720),
             "1080p": lambda a, w, s: bench_clip(a, w, s, "1080p", 1920, 1080),
             "switch": bench_switch}
    playback.print_summary(playback.run_parts(args, parts))

if __name__ == "__main__":
    main()
