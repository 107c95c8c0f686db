# Frame-rate and start-up comparison of the editor against the bare GLFW loop, in one Xvfb,
# with the editor's standard output to a file and to a terminal (a tmux pane). Driven by
# scripts/bench, which builds both first.
#
# Frames are counted without touching the editor: it reports every eleventh frame, so its
# frame count is 11 x the reports written (to within 10). The bare loop prints its own count
# when sent SIGUSR1. Each run measures a fixed span of time that starts after a warm-up, and
# the two programs take turns so that a change in machine load hits both alike.
import argparse
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "tests", "e2e"))
from harness import Editor, MapWatcher, XServer  # noqa: E402

REPORT_PERIOD_FRAMES = 11
LAST_REPORT_LINE = b"nowRendered = 4"
SAMPLE = re.compile(rb"sample (\d+) (\d+)")
FINAL = re.compile(rb"frames (\d+) first-frame (\d+)")


def read(path):
    with open(path, "rb") as f:
        return f.read()


class Launch:
    """One run of a program with its standard output in `capture`, either directly (a file)
    or through a tmux pane whose output tmux pipes to `capture` (a terminal)."""

    serial = 0

    def __init__(self, program, mode, xenv, capture, workdir):
        self.mode = mode
        self.capture = capture
        self.started = time.monotonic()
        if mode == "file":
            self.out = open(capture, "wb")
            self.process = subprocess.Popen([program], stdout=self.out,
                                            stderr=subprocess.DEVNULL, env=xenv)
            self.pid = self.process.pid
            return
        open(capture, "wb").close()
        # A server of its own each time: a server being shut down must not take this one.
        Launch.serial += 1
        socket = "triangle-bench-%d-%d" % (os.getpid(), Launch.serial)
        self.tmux = ["tmux", "-L", socket, "-f", "/dev/null"]
        # The pane's shell waits for the program and keeps its exit status in a file: tmux
        # can report a pane dead well before it has collected the status.
        self.status_file = capture + ".status"
        if os.path.exists(self.status_file):
            os.remove(self.status_file)
        command = "%s; echo $? > %s" % (program, self.status_file)
        subprocess.run(self.tmux + [
            "new-session", "-d", "-s", "bench", "-x", "80", "-y", "24",
            "-e", "DISPLAY=" + xenv["DISPLAY"], command, ";",
            "pipe-pane", "-t", "bench", "-o", "cat >> " + capture], check=True, cwd=workdir)
        self.server_pid = int(self.tmux_format("#{pid}"))
        shell = int(self.tmux_format("#{pane_pid}"))
        self.pid = None
        deadline = time.monotonic() + 10
        while self.pid is None and time.monotonic() < deadline:
            with open("/proc/%d/task/%d/children" % (shell, shell)) as f:
                children = f.read().split()
            if children:
                self.pid = int(children[0])
            else:
                time.sleep(0.001)
        if self.pid is None:
            raise RuntimeError("no program started in the tmux pane")

    def tmux_format(self, fmt):
        return subprocess.run(self.tmux + ["display-message", "-p", "-t", "bench", fmt],
                              check=True, capture_output=True).stdout.decode().strip()

    def alive(self):
        if self.mode == "file":
            return self.process.poll() is None
        return not os.path.exists(self.status_file)

    def wait(self, timeout):
        """Exit status, or None if the program is still running after `timeout` s."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if not self.alive():
                break
            time.sleep(0.02)
        else:
            return None
        if self.mode == "file":
            self.out.close()
            return self.process.returncode
        time.sleep(0.1)  # the file may be created a moment before it is written
        with open(self.status_file) as f:
            status = int(f.read().strip() or -1)
        subprocess.run(self.tmux + ["kill-server"], check=False, stderr=subprocess.DEVNULL)
        return status

    def kill(self):
        try:
            os.kill(self.pid, signal.SIGKILL)
        except (ProcessLookupError, TypeError):
            pass
        if self.mode == "tty":
            subprocess.run(self.tmux + ["kill-server"], check=False, stderr=subprocess.DEVNULL)


def cpu_seconds(pids):
    """User and system time used so far by these processes, all their threads included."""
    ticks = 0
    for pid in pids:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        ticks += int(fields[11]) + int(fields[12])
    return ticks / os.sysconf("SC_CLK_TCK")


def editor_frames(launch):
    """(frames so far, monotonic time of the reading)."""
    now = time.monotonic()
    return read(launch.capture).count(LAST_REPORT_LINE) * REPORT_PERIOD_FRAMES, now


def bare_frames(launch):
    before = len(SAMPLE.findall(read(launch.capture)))
    os.kill(launch.pid, signal.SIGUSR1)
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline:
        samples = SAMPLE.findall(read(launch.capture))
        if len(samples) > before:
            frames, at = samples[-1]
            return int(frames), int(at) / 1e9
        time.sleep(0.005)
    raise RuntimeError("the bare loop did not answer SIGUSR1")


def measure(kind, program, mode, x, workdir, warmup, seconds):
    capture = os.path.join(workdir, "%s-%s.out" % (kind, mode))
    watcher = MapWatcher(x)
    launch = Launch(program, mode, x.environment(), capture, workdir)
    try:
        window, mapped_at = watcher.wait(30, alive=launch.alive)
        first_output_at = None
        warm_until = mapped_at + warmup
        while time.monotonic() < warm_until:
            if kind == "editor" and first_output_at is None and b"nowRendered" in read(capture):
                first_output_at = time.monotonic()
            time.sleep(0.001)
        count = editor_frames if kind == "editor" else bare_frames
        # CPU time of everything a frame costs: the program with its llvmpipe threads, the
        # X server that receives each swap and, on a terminal, tmux drawing the report.
        pids = [launch.pid, x.process.pid] + ([launch.server_pid] if mode == "tty" else [])
        cpu0 = cpu_seconds(pids)
        frames0, t0 = count(launch)
        time.sleep(seconds)
        frames1, t1 = count(launch)
        cpu1 = cpu_seconds(pids)
        Editor.started_elsewhere(x, window).request_close()
        status = launch.wait(10)
        if status != 0:
            raise RuntimeError("%s (%s) exited with %s" % (kind, mode, status))
    except BaseException:
        launch.kill()
        raise
    finally:
        watcher.close()

    fps = (frames1 - frames0) / (t1 - t0)
    result = {"fps": fps, "mapped": mapped_at - launch.started,
              "cpu_us": 1e6 * (cpu1 - cpu0) / (frames1 - frames0)}
    if kind == "editor" and first_output_at is not None:
        # The first report is written at the start of frame 11.
        result["first_frame"] = first_output_at - launch.started - 10 / fps
    if kind == "bare":
        final = FINAL.search(read(capture))
        if final is None:
            raise RuntimeError("the bare loop did not print its count")
        result["first_frame"] = int(final.group(2)) / 1e9 - launch.started
    return result


def spread(values):
    return "median %.1f, min %.1f, max %.1f" % (statistics.median(values), min(values),
                                                max(values))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--editor", required=True)
    parser.add_argument("--bare", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--seconds", type=float, default=5.0)
    parser.add_argument("--warmup", type=float, default=1.0)
    parser.add_argument("--modes", default="file,tty")
    args = parser.parse_args()
    programs = {"editor": os.path.abspath(args.editor), "bare": os.path.abspath(args.bare)}
    modes = args.modes.split(",")

    print("machine: %d cores, %s; load average at start %s" % (
        os.cpu_count(), cpu_model(), " ".join(open("/proc/loadavg").read().split()[:3])))
    results = {(kind, mode): [] for kind in programs for mode in modes}
    ratios = {mode: [] for mode in modes}
    cpu_ratios = {mode: [] for mode in modes}
    workdir = tempfile.mkdtemp(prefix="triangle-bench-")
    try:
        with XServer() as x:
            for run in range(args.runs):
                for mode in modes:
                    order = ["editor", "bare"] if run % 2 == 0 else ["bare", "editor"]
                    got = {}
                    for kind in order:
                        got[kind] = measure(kind, programs[kind], mode, x, workdir,
                                            args.warmup, args.seconds)
                        results[(kind, mode)].append(got[kind])
                    ratio = got["editor"]["fps"] / got["bare"]["fps"]
                    ratios[mode].append(ratio)
                    cpu_ratio = got["bare"]["cpu_us"] / got["editor"]["cpu_us"]
                    cpu_ratios[mode].append(cpu_ratio)
                    print("run %d %-4s  editor %7.1f fps %6.1f cpu-us/frame  "
                          "bare %7.1f fps %6.1f cpu-us/frame  ratio %.3f  cpu ratio %.3f" % (
                              run + 1, mode, got["editor"]["fps"], got["editor"]["cpu_us"],
                              got["bare"]["fps"], got["bare"]["cpu_us"], ratio, cpu_ratio),
                          flush=True)
    finally:
        shutil.rmtree(workdir, ignore_errors=True)

    print("load average at end %s" % " ".join(open("/proc/loadavg").read().split()[:3]))
    ok = True
    for mode in modes:
        editor = [r["fps"] for r in results[("editor", mode)]]
        bare = [r["fps"] for r in results[("bare", mode)]]
        median_ratio = statistics.median(ratios[mode])
        met = median_ratio >= 0.98
        ok = ok and met
        print("%s: editor fps %s; bare fps %s" % (mode, spread(editor), spread(bare)))
        print("%s: ratio editor/bare median %.3f, min %.3f, max %.3f (%d runs) -> %s" % (
            mode, median_ratio, min(ratios[mode]), max(ratios[mode]), len(ratios[mode]),
            "target 0.98 met" if met else "below target 0.98"))
        print("%s: CPU time per frame, editor %s us; bare %s us; ratio bare/editor median "
              "%.3f, min %.3f, max %.3f" % (
                  mode, spread([r["cpu_us"] for r in results[("editor", mode)]]),
                  spread([r["cpu_us"] for r in results[("bare", mode)]]),
                  statistics.median(cpu_ratios[mode]), min(cpu_ratios[mode]),
                  max(cpu_ratios[mode])))
    for kind in programs:
        rows = results[(kind, "file")] if "file" in modes else []
        mapped = [1000 * r["mapped"] for r in rows]
        first = [1000 * r["first_frame"] for r in rows if "first_frame" in r]
        if mapped:
            print("start-up %s (stdout to file): launch to window mapped ms %s; "
                  "launch to first frame ms %s" % (kind, spread(mapped),
                                                   spread(first) if first else "n/a"))
    return 0


def cpu_model():
    for line in open("/proc/cpuinfo"):
        if line.startswith("model name"):
            return line.split(":", 1)[1].strip()
    return "unknown CPU"


if __name__ == "__main__":
    sys.exit(main())
