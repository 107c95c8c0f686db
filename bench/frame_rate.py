# Frame rate and start-up of the editor against the bare GLFW loop (bench/bare_loop.cpp) in one
# Xvfb, the editor's stdout to a file, a tmux pane or /dev/null; run by scripts/bench.
# Both programs run side by side and take turns, one stopped (SIGSTOP) while the other runs a
# short slice, A B B A A B ..., so that a drift in the machine's speed hits both alike; each pair
# of slices gives one ratio. docs/performance.md gives the rest of the method and its reasons.
import argparse
import contextlib
import os
import select
import signal
import struct
import sys
import tempfile
import time

from Xlib import X, display as xdisplay

from figures import load, machine, median_interval, summary
from harness.common import STARTUP_TIMEOUT, Closing, wait_for
from harness.editor import Editor, EditorProcess, Terminal
from harness.report import WINDOW_TITLE, to_ndc
from harness.scenarios import place
from harness.x11 import XServer

SCREEN = "1320x500x24"   # room for both 640 x 480 windows side by side
BARE_WINDOW_X = 660
PARKED_POINTER = (1310, 490)  # over neither window, in the editor's window units
# The placed scene in window pixels, about 40 % of the window white: the editor gets it by real
# input; the bare loop gets each scene's corners as its arguments.
TRIANGLES = [[(40, 40), (200, 40), (120, 200)], [(240, 40), (400, 40), (320, 200)],
             [(440, 40), (600, 40), (520, 200)], [(80, 260), (280, 260), (180, 440)],
             [(360, 260), (560, 260), (460, 440)]]
BARE_ARGUMENTS = {"clear": [], "collapsed": ["0"] * 30,
                  "placed": ["%.9g" % value for corners in TRIANGLES for corner in corners
                             for value in to_ndc(*corner)]}
STDOUT = {"file": "stdout to a file", "tty": "stdout to tmux", "null": "stdout to /dev/null"}


class MapWatcher(Closing):
    """Times the program's MapNotify, the end of start-up, on a connection opened before it."""

    def __init__(self, server):
        self.display = xdisplay.Display(server.name)
        self.display.screen().root.change_attributes(event_mask=X.SubstructureNotifyMask)
        self.display.sync()

    def wait(self, process):
        """(window id, monotonic time of its MapNotify) of the program's window."""
        def mapped():
            if not process.running():
                raise AssertionError(f"the program exited with {process.wait(0)}")
            select.select([self.display], [], [], 0.5)  # so that a MapNotify is timed on arrival
            while self.display.pending_events():
                event = self.display.next_event()
                seen = time.monotonic()
                with contextlib.suppress(Exception):  # unless the window went away meanwhile
                    if event.type == X.MapNotify and event.window.get_wm_name() == WINDOW_TITLE:
                        return event.window.id, seen
        return wait_for(mapped, STARTUP_TIMEOUT, what=f'a window titled "{WINDOW_TITLE}" mapped')

    def close(self):
        self.display.close()


def swaps(path):
    """(swaps done, CLOCK_MONOTONIC ns of the first) from the frame counter's page."""
    with open(path, "rb") as f:
        return struct.unpack("<Qq", f.read(16))


def turns(n):
    """Who runs first in pair or run n: A B, then B A."""
    return ("editor", "bare") if n % 2 == 0 else ("bare", "editor")


class Contender(Closing):
    """A program under measurement: its process, its window (an Editor) and its frame count."""

    def __init__(self, kind, command, mode, x, workdir, args):
        self.kind = kind
        folder = tempfile.mkdtemp(prefix=f"{kind}-{mode}-", dir=workdir)
        self.count = os.path.join(folder, "count")
        with open(self.count, "wb") as f:
            f.write(bytes(16))
        argv = ["env", "LD_PRELOAD=" + args.counter, "BENCH_FRAME_COUNT=" + self.count,
                "LP_NUM_THREADS=0", "taskset", "-c", str(args.program_cpu), *command]
        self.parts = contextlib.ExitStack()  # the process and its terminal, stopped in that order
        try:
            if mode == "tty":
                path = self.parts.enter_context(Terminal(os.path.join(folder, "tmux"))).tty
            else:
                path = os.devnull if mode == "null" else os.path.join(folder, "out")
            with MapWatcher(x) as watcher, open(path, "wb") as stdout:
                self.started = time.monotonic()
                self.process = self.parts.enter_context(
                    EditorProcess(argv, x.environment(), stdout))
                window, self.mapped_at = watcher.wait(self.process)
            self.editor = Editor(x, self.process, window=x.window_by_id(window))
        except BaseException:
            self.parts.close()
            raise

    def sample(self):
        """(frames, program CPU ns, monotonic s). The CPU time, of all threads, is the scheduler's
        count, from the process's clock, whose id Linux makes as clock_getcpuclockid(3) does."""
        cpu_clock = (~self.process.pid << 3) | 2
        return swaps(self.count)[0], time.clock_gettime_ns(cpu_clock), time.monotonic()

    def close(self):
        """Closes the window; raises unless the program then exits with 0."""
        try:
            self.process.send_signal(signal.SIGCONT)
            status = self.editor.close_and_wait(10)
            if status != 0:
                raise RuntimeError(f"{self.kind} exited with {status}")
        finally:
            self.parts.close()


def compare(x, mode, scene, workdir, args):
    """Both programs at once: per pair of slices, {kind: (fps, program CPU us per frame)}."""
    with contextlib.ExitStack() as both:  # closes both, whatever happens
        editor = both.enter_context(Contender("editor", [args.editor], mode, x, workdir, args))
        if scene == "placed":
            for index, corners in enumerate(TRIANGLES):
                place(editor.editor, index, corners)
            editor.editor.move_to(*PARKED_POINTER)
            editor.editor.wait_frames()
        editor.process.send_signal(signal.SIGSTOP)
        bare = both.enter_context(Contender(
            "bare", [args.bare, *BARE_ARGUMENTS[scene]], mode, x, workdir, args))
        bare.editor.window.configure(x=BARE_WINDOW_X, y=0)
        bare.process.send_signal(signal.SIGSTOP)
        contenders, pairs = {"editor": editor, "bare": bare}, []
        for index in range(args.pairs):
            pair = {}
            for kind in turns(index):
                contender = contenders[kind]
                contender.process.send_signal(signal.SIGCONT)
                time.sleep(args.settle)
                before = contender.sample()
                time.sleep(args.slice)
                frames, cpu, seconds = (b - a for a, b in zip(before, contender.sample()))
                contender.process.send_signal(signal.SIGSTOP)
                if frames <= 0:
                    raise RuntimeError(f"{kind} drew no frames in a slice")
                pair[kind] = (frames / seconds, cpu / 1000 / frames)
            pairs.append(pair)
    return pairs


def report(mode, scene, pairs):
    print(f"{STDOUT[mode]}, {scene} scene ({len(pairs)} pairs):")
    for kind in ("editor", "bare"):
        print(f"  {kind:6} fps {summary(p[kind][0] for p in pairs)}; "
              f"program CPU us/frame {summary(p[kind][1] for p in pairs)}")
    ratio = [p["editor"][0] / p["bare"][0] for p in pairs]
    low, high = median_interval(ratio)
    print(f"  fps ratio editor/bare {summary(ratio, 3)}; "
          f"95% confidence interval of the median {low:.3f}-{high:.3f}")
    print("  program CPU per frame ratio editor/bare "
          + summary((p["editor"][1] / p["bare"][1] for p in pairs), 3), flush=True)


def startup(x, workdir, args):
    """Launch to window mapped and launch to first frame, ms, for each program in turn."""
    results = {"editor": [], "bare": []}
    for run in range(args.startup_runs):
        for kind in turns(run):
            with Contender(kind, [getattr(args, kind)], "file", x, workdir, args) as contender:
                # The counter notes the first swap's own time, so polling late does not matter.
                first_swap = wait_for(lambda: swaps(contender.count)[1],
                                      what=f"the {kind}'s first frame") / 1e9
            results[kind].append((1000 * (contender.mapped_at - contender.started),
                                  1000 * (first_swap - contender.started)))
    for kind, rows in results.items():
        print(f"start-up {kind} (stdout to a file, {len(rows)} runs): launch to window mapped "
              f"ms {summary(r[0] for r in rows)}; launch to first frame ms "
              f"{summary(r[1] for r in rows)}", flush=True)


def main():
    parser = argparse.ArgumentParser(
        description="Frame rate and start-up of the editor against the bare GLFW loop.")
    parser.add_argument("--editor", required=True, type=os.path.abspath)
    parser.add_argument("--bare", required=True, type=os.path.abspath)
    parser.add_argument("--counter", required=True, type=os.path.abspath, help="the frame counter")
    parser.add_argument("--pairs", type=int, default=120, help="slice pairs per comparison")
    parser.add_argument("--slice", type=float, default=0.1, help="measured seconds per slice")
    parser.add_argument("--settle", type=float, default=0.05,
                        help="seconds a program runs after SIGCONT before its slice starts")
    parser.add_argument("--modes", default="file,tty", help="stdout: file, tty (tmux) or null")
    parser.add_argument("--scenes", default="clear,collapsed,placed",
                        help="clear (the bare loop draws nothing), collapsed or placed triangles")
    parser.add_argument("--startup-runs", type=int, default=5)
    args = parser.parse_args()
    cpus = sorted(os.sched_getaffinity(0))
    if len(cpus) < 2:
        sys.exit("frame_rate: needs two cores, one for the program and Xvfb")
    args.program_cpu = cpus[-1]

    print("machine:", machine())
    print(f"program and Xvfb on cpu {args.program_cpu}, tmux and this driver on the others; "
          f"{args.pairs} pairs of {args.slice:.2f} s slices (after {args.settle:.2f} s to settle)",
          flush=True)
    with tempfile.TemporaryDirectory(prefix="triangle-bench-") as workdir, \
            XServer(screen=SCREEN) as x:
        os.sched_setaffinity(0, cpus[:-1])
        for task in os.listdir(f"/proc/{x.process.pid}/task"):
            os.sched_setaffinity(int(task), {args.program_cpu})
        for scene in args.scenes.split(","):
            for mode in args.modes.split(","):
                report(mode, scene, compare(x, mode, scene, workdir, args))
        if args.startup_runs:
            startup(x, workdir, args)
    print("load average at end", load())


if __name__ == "__main__":
    main()
