# Frame-rate and start-up comparison of the editor against the bare GLFW loop, in one Xvfb, with
# the editor's standard output to a file and to a terminal (a tmux pane). Driven by
# scripts/bench, which builds both programs and the frame counter first.
#
# Both programs run at once, side by side in one Xvfb, and take turns: one is stopped (SIGSTOP)
# while the other runs for a short slice, in the order A B B A A B ..., so that a change in the
# machine's load or clock hits both alike; each adjacent pair of slices gives one ratio. Frames
# are counted by the same preloaded wrapper of glfwSwapBuffers in both (bench/frame_counter.cpp),
# and CPU time comes from the scheduler's nanosecond counters of every thread.
#
# What makes the figures steady on a small virtual machine, by default: short slices (0.1 s;
# the machine's speed drifts over seconds, so long slices compare different machines), llvmpipe
# rendering on the program's own thread (LP_NUM_THREADS=0) instead of worker threads that fight
# Xvfb for two cores, and the program and Xvfb pinned together on one core with tmux and this
# driver on the other. Each frame hands a 640 x 480 image to Xvfb and waits for it; across two
# cores that hand-over costs a wake-up and a cache transfer each frame, which halves the frame
# rate and makes it vary far more (--split-cores measures that layout).
import argparse
import glob
import mmap
import os
import select
import shutil
import signal
import statistics
import struct
import sys
import tempfile
import time

from Xlib import X, display as xdisplay

from harness.common import STARTUP_TIMEOUT, Closing, wait_for
from harness.editor import Editor, EditorProcess, Terminal
from harness.report import WINDOW_TITLE, to_ndc
from harness.scenarios import place
from harness.x11 import XServer

SCREEN = "1320x500x24"   # room for both 640 x 480 windows side by side
BARE_WINDOW_X = 660
PARKED_POINTER = (1310, 490)  # over neither window, in the editor's window units
# The placed scene: five triangles, in window pixels, that the editor gets by real input and
# the bare loop by its arguments; about 40 % of the window is white.
TRIANGLES = [
    [(40, 40), (200, 40), (120, 200)],
    [(240, 40), (400, 40), (320, 200)],
    [(440, 40), (600, 40), (520, 200)],
    [(80, 260), (280, 260), (180, 440)],
    [(360, 260), (560, 260), (460, 440)],
]


class MapWatcher(Closing):
    """Sees top-level windows being mapped, on a connection of its own opened before the program
    starts, and notes when each MapNotify arrived: the start-up time ends there."""

    def __init__(self, server):
        self.display = xdisplay.Display(server.name)
        root = self.display.screen().root
        root.change_attributes(event_mask=X.SubstructureNotifyMask)
        self.display.sync()

    def wait(self, process):
        """(window id, monotonic time of its MapNotify) for the first window titled "Hello
        World" mapped since the watcher was made by `process` (an EditorProcess)."""
        def mapped():
            if not process.running():
                raise AssertionError(f"the program exited with {process.popen.returncode}")
            # Waits on the connection itself, so that a MapNotify is timed as it arrives.
            select.select([self.display], [], [], 0.5)
            while self.display.pending_events():
                event = self.display.next_event()
                if event.type == X.MapNotify:
                    seen = time.monotonic()
                    try:
                        if event.window.get_wm_name() == WINDOW_TITLE:
                            return event.window.id, seen
                    except Exception:  # the window went away meanwhile
                        pass
            return None
        return wait_for(mapped, STARTUP_TIMEOUT, what=f'a window titled "{WINDOW_TITLE}" mapped')

    def close(self):
        self.display.close()


class SwapCount:
    """The page the frame counter writes: swaps done and the CLOCK_MONOTONIC time of the first."""

    def __init__(self, path):
        self.path = path
        with open(path, "wb") as f:
            f.write(bytes(16))
        self.file = open(path, "r+b")
        self.map = mmap.mmap(self.file.fileno(), 16)

    def read(self):
        return struct.unpack_from("<Qq", self.map)

    def close(self):
        self.map.close()
        self.file.close()


def cpu_ns(pid):
    """CPU time of every thread of a process so far, in ns (scheduler accounting)."""
    total = 0
    for stat in glob.glob("/proc/%d/task/*/schedstat" % pid):
        try:
            with open(stat) as f:
                total += int(f.read().split()[0])
        except (FileNotFoundError, ProcessLookupError):
            pass  # a thread that ended meanwhile
    return total


def pin(pid, cpus):
    for task in os.listdir("/proc/%d/task" % pid):
        os.sched_setaffinity(int(task), cpus)


class Contender:
    """A program under measurement, its standard output to a file, /dev/null or a terminal (a
    tmux pane): its process, window and frame counter."""

    serial = 0  # numbers the contenders, so that no file name is used twice

    def __init__(self, kind, command, mode, x, workdir, args):
        Contender.serial += 1
        name = "%s-%s-%d" % (kind, mode, Contender.serial)
        self.kind = kind
        self.count = SwapCount(os.path.join(workdir, name + ".count"))
        variables = {"LD_PRELOAD": args.counter, "BENCH_FRAME_COUNT": self.count.path}
        if args.lp_threads is not None:
            variables["LP_NUM_THREADS"] = str(args.lp_threads)
        argv = ["env", *("%s=%s" % item for item in variables.items()),
                "taskset", "-c", str(args.program_cpu), *command]
        self.process = self.terminal = None
        try:
            if mode == "tty":
                self.terminal = Terminal(os.path.join(workdir, name + ".tmux"))
            path = {"file": os.path.join(workdir, name + ".out"), "null": os.devnull,
                    "tty": self.terminal and self.terminal.tty}[mode]
            with MapWatcher(x) as watcher:
                with open(path, "wb") as stdout:
                    self.started = time.monotonic()
                    self.process = EditorProcess(argv, x.environment(), stdout)
                window, self.mapped_at = watcher.wait(self.process)
        except BaseException:
            self.stop()
            raise
        # Input goes to it as to the editor in the tests.
        self.editor = Editor(x, self.process)
        self.editor.window = x.window_by_id(window)

    def sample(self):
        """(frames, program CPU ns, monotonic s)"""
        frames, _ = self.count.read()
        return frames, cpu_ns(self.process.pid), time.monotonic()

    def signal(self, sig):
        self.process.popen.send_signal(sig)

    def close(self):
        """Closes the window; raises unless the program then exits with 0."""
        try:
            self.signal(signal.SIGCONT)
            self.editor.request_close()
            status = self.process.wait(10)
            if status != 0:
                raise RuntimeError("%s exited with %s" % (self.kind, status))
        finally:
            self.stop()

    def stop(self):
        for part in (self.process, self.count, self.terminal):
            if part is not None:
                part.close()


def place_triangles(editor):
    for index, corners in enumerate(TRIANGLES):
        place(editor, index, corners)
    editor.move_to(*PARKED_POINTER)
    editor.wait_frames()


def bare_arguments(scene):
    """What the bare loop draws: nothing (clear), five collapsed triangles as the editor draws
    them before any is placed (collapsed), or the placed scene's triangles (placed)."""
    if scene == "clear":
        return []
    if scene == "collapsed":
        return ["0"] * 30
    return ["%.9g" % value for corners in TRIANGLES for corner in corners
            for value in to_ndc(*corner)]


def compare(x, mode, scene, programs, workdir, args):
    """Runs both programs at once and takes `pairs` pairs of slices; returns a list of
    {kind: (fps, program us/frame, Xvfb us/frame, tmux us/frame)} per pair."""
    editor = Contender("editor", [programs["editor"]], mode, x, workdir, args)
    contenders = {"editor": editor}
    try:
        if scene == "placed":
            place_triangles(editor.editor)
        editor.signal(signal.SIGSTOP)
        bare = Contender("bare", [programs["bare"], *bare_arguments(scene)], mode, x, workdir,
                         args)
        contenders["bare"] = bare
        bare.editor.window.configure(x=BARE_WINDOW_X, y=0)
        bare.signal(signal.SIGSTOP)
        others = [x.process.pid]
        pairs = []
        for index in range(args.pairs):
            order = ["editor", "bare"] if index % 2 == 0 else ["bare", "editor"]
            pair = {}
            for kind in order:
                contender = contenders[kind]
                server_pids = others + ([contender.terminal.server_pid] if mode == "tty" else [])
                contender.signal(signal.SIGCONT)
                time.sleep(args.settle)
                frames0, cpu0, t0 = contender.sample()
                others0 = [cpu_ns(pid) for pid in server_pids]
                time.sleep(args.slice)
                frames1, cpu1, t1 = contender.sample()
                others1 = [cpu_ns(pid) for pid in server_pids]
                contender.signal(signal.SIGSTOP)
                frames = frames1 - frames0
                if frames <= 0:
                    raise RuntimeError("%s drew no frames in a slice" % kind)
                per_frame = [(b - a) / 1000 / frames for a, b in zip(others0, others1)]
                pair[kind] = (frames / (t1 - t0), (cpu1 - cpu0) / 1000 / frames,
                              per_frame[0], per_frame[1] if len(per_frame) > 1 else 0.0)
            pairs.append(pair)
    finally:
        failures = []
        for contender in contenders.values():
            try:
                contender.close()
            except Exception as failure:  # the other one is still closed
                failures.append(failure)
        if failures:
            raise failures[0]
    return pairs


def startup(x, programs, workdir, args):
    """Launch to window mapped and launch to first swap, ms, for each program in turn."""
    results = {kind: [] for kind in programs}
    for run in range(args.startup_runs):
        for kind in (["editor", "bare"] if run % 2 == 0 else ["bare", "editor"]):
            contender = Contender(kind, [programs[kind]], "file", x, workdir, args)
            # The counter notes the first swap's own time, so polling late does not matter.
            wait_for(lambda: contender.count.read()[0] > 0, what=f"the {kind}'s first frame")
            first_swap = contender.count.read()[1] / 1e9
            started = contender.started
            results[kind].append((1000 * (contender.mapped_at - started),
                                  1000 * (first_swap - started)))
            contender.close()
    return results


def summary(values, digits=1):
    values = sorted(values)
    q1, _, q3 = statistics.quantiles(values, n=4) if len(values) > 1 else (values[0],) * 3
    f = "%%.%df" % digits
    return ("median " + f + ", min-max " + f + "-" + f + ", IQR " + f + "-" + f) % (
        statistics.median(values), values[0], values[-1], q1, q3)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--editor", required=True)
    parser.add_argument("--bare", required=True)
    parser.add_argument("--counter", required=True, help="the frame counter library to preload")
    parser.add_argument("--pairs", type=int, default=120, help="slice pairs per comparison")
    parser.add_argument("--slice", type=float, default=0.1, help="measured seconds per slice")
    parser.add_argument("--settle", type=float, default=0.05,
                        help="seconds a program runs after SIGCONT before its slice starts")
    parser.add_argument("--modes", default="file,tty",
                        help="where the editor's stdout goes: file, tty (a tmux pane) or null "
                             "(/dev/null, which leaves out the cost of writing the report)")
    parser.add_argument("--scenes", default="clear,collapsed,placed",
                        help="what the bare loop draws beside the editor: clear, nothing (the "
                             "editor draws its five collapsed triangles); collapsed, the same "
                             "five collapsed triangles; placed, five placed triangles in both")
    parser.add_argument("--lp-threads", type=int, default=0,
                        help="LP_NUM_THREADS for llvmpipe; -1 leaves Mesa's default")
    parser.add_argument("--split-cores", action="store_true",
                        help="Xvfb on another core than the program, not on the same")
    parser.add_argument("--startup-runs", type=int, default=5)
    args = parser.parse_args()
    if args.lp_threads < 0:
        args.lp_threads = None
    cpus = sorted(os.sched_getaffinity(0))
    if len(cpus) < 2:
        sys.exit("frame_rate: needs two cores, one for the program and Xvfb")
    args.program_cpu = cpus[-1]
    programs = {"editor": os.path.abspath(args.editor), "bare": os.path.abspath(args.bare)}
    args.counter = os.path.abspath(args.counter)

    print("machine: %d cores, %s; load average at start %s" % (
        os.cpu_count(), cpu_model(), " ".join(open("/proc/loadavg").read().split()[:3])))
    print("LP_NUM_THREADS %s; %s; %d pairs of %.2f s slices (after %.2f s to settle)" % (
        "default" if args.lp_threads is None else args.lp_threads,
        ("program on cpu %d, Xvfb, tmux and this driver on the other" if args.split_cores
         else "program and Xvfb on cpu %d, tmux and this driver on the other")
        % args.program_cpu, args.pairs, args.slice, args.settle), flush=True)
    workdir = tempfile.mkdtemp(prefix="triangle-bench-")
    try:
        with XServer(screen=SCREEN) as x:
            rest = set(cpus[:-1])
            os.sched_setaffinity(0, rest)
            pin(x.process.pid, rest if args.split_cores else {args.program_cpu})
            for scene in args.scenes.split(","):
                for mode in args.modes.split(","):
                    pairs = compare(x, mode, scene, programs, workdir, args)
                    report(mode, scene, pairs)
            if args.startup_runs:
                for kind, rows in startup(x, programs, workdir, args).items():
                    print("start-up %s (stdout to a file, %d runs): launch to window mapped ms "
                          "%s; launch to first frame ms %s" % (
                              kind, len(rows), summary([r[0] for r in rows]),
                              summary([r[1] for r in rows])))
    finally:
        shutil.rmtree(workdir, ignore_errors=True)
    print("load average at end %s" % " ".join(open("/proc/loadavg").read().split()[:3]))
    return 0


def report(mode, scene, pairs):
    ratio = [p["editor"][0] / p["bare"][0] for p in pairs]
    cpu_ratio = [p["editor"][1] / p["bare"][1] for p in pairs]
    print("%s, %s scene (%d pairs):" % ({"file": "stdout to a file", "tty": "stdout to tmux",
                                         "null": "stdout to /dev/null"}[mode], scene,
                                        len(pairs)))
    for kind in ("editor", "bare"):
        print("  %-6s fps %s; program CPU us/frame %s; Xvfb us/frame %s%s" % (
            kind, summary([p[kind][0] for p in pairs]), summary([p[kind][1] for p in pairs]),
            summary([p[kind][2] for p in pairs]),
            "; tmux us/frame %s" % summary([p[kind][3] for p in pairs]) if mode == "tty"
            else ""))
    low, high = median_interval(ratio)
    print("  fps ratio editor/bare %s; 95%% confidence interval of the median %.3f-%.3f" % (
        summary(ratio, 3), low, high))
    print("  program CPU per frame ratio editor/bare %s" % summary(cpu_ratio, 3), flush=True)


def median_interval(values):
    """Distribution-free 95 % confidence interval of the median: the order statistics whose
    ranks lie 1.96 standard deviations of a binomial(n, 1/2) either side of the middle."""
    values = sorted(values)
    n = len(values)
    half_width = 1.96 * n ** 0.5 / 2
    low = max(0, int(n / 2 - half_width))
    high = min(n - 1, int(n / 2 + half_width + 1) - 1)
    return values[low], values[high]


def cpu_model():
    for line in open("/proc/cpuinfo"):
        if line.startswith("model name"):
            return line.split(":", 1)[1].strip()
    return "unknown CPU"


if __name__ == "__main__":
    sys.exit(main())
