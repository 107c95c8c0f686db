# One run of the editor on a display: its process, its window, real input to it and its
# report; and a terminal to show the report on.
import atexit
import contextlib
import os
import shutil
import subprocess
import tempfile
import time

from harness.common import (HOLD_SECONDS, SEEN_FRAMES, STARTUP_TIMEOUT, CONDITION_TIMEOUT,
                            Closing, EditorExited, HarnessError, die_with_parent, stop_process,
                            wait_for)
from harness.picture import check_shows_triangles
from harness.report import ReportFile

# EDITOR_ENV_<NAME> reaches the editor alone, as <NAME> set by env(1) right before it: the
# sanitized build's options and preloads, which must not reach python, Xvfb, tmux or a shell.
EDITOR_ENV_PREFIX = "EDITOR_ENV_"
SANITIZER_OPTIONS = ("ASAN_OPTIONS", "UBSAN_OPTIONS")

_sanitizer_log_dir = None


def _sanitizer_log_prefix():
    """Sanitizers write to <prefix>.<pid> in a directory of this process: the editor's stderr
    may be closed, a pipe, /dev/full or a terminal."""
    global _sanitizer_log_dir
    if _sanitizer_log_dir is None:
        _sanitizer_log_dir = tempfile.mkdtemp(prefix="triangle-sanitizer-")
        atexit.register(shutil.rmtree, _sanitizer_log_dir, ignore_errors=True)
    return os.path.join(_sanitizer_log_dir, "report")


def editor_command(exe):
    """The argument list that starts the executable with the EDITOR_ENV_ variables applied."""
    variables = {name[len(EDITOR_ENV_PREFIX):]: value for name, value in os.environ.items()
                 if name.startswith(EDITOR_ENV_PREFIX)}
    for name in SANITIZER_OPTIONS:
        if name in variables:
            variables[name] += ":log_path=" + _sanitizer_log_prefix()
    prefix = ["env", *(f"{name}={value}" for name, value in variables.items())] if variables else []
    return [*prefix, exe]


def check_sanitizer_reports():
    """Raises if an editor run so far left a sanitizer report (written only for a fault)."""
    found = []
    for name in sorted(os.listdir(_sanitizer_log_dir)) if _sanitizer_log_dir else ():
        path = os.path.join(_sanitizer_log_dir, name)
        with open(path, errors="replace") as f:
            found.append(f"{name}:\n{f.read()}")
        os.remove(path)
    if found:
        raise AssertionError("sanitizer report from the editor:\n" + "\n".join(found))


class EditorProcess(Closing):
    """The editor's process (or, for a measurement, any program's) with its stderr kept in a
    file: nobody reads stderr while it runs, and a full pipe would stall it."""

    def __init__(self, command, env, stdout=subprocess.DEVNULL):
        self.stderr = tempfile.TemporaryFile()
        try:
            self.popen = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=stdout,
                                          stderr=self.stderr, env=env, preexec_fn=die_with_parent)
        except BaseException:
            self.stderr.close()
            raise
        self.pid = self.popen.pid

    def running(self):
        return self.popen.poll() is None

    def send_signal(self, signum):
        self.popen.send_signal(signum)

    def wait(self, timeout):
        try:
            return self.popen.wait(timeout)
        except subprocess.TimeoutExpired:
            raise HarnessError(f"editor still running {timeout:.0f} s later") from None

    def stderr_text(self):
        if self.stderr.closed:
            return ""
        self.stderr.seek(0)
        return self.stderr.read().decode(errors="replace")

    def close(self):
        stop_process(self.popen)
        self.stderr.close()


def start_editor(display, exe, stdout=subprocess.DEVNULL, command_prefix=(), line_filter=None,
                 **options):
    """Starts the editor on a display behind `command_prefix` (a shell, the Wine launcher), its
    stdout to a path whose reports the Editor reads (through `line_filter`, see ReportFile), or
    to anything Popen takes. The window is still to be found."""
    reports = None
    if isinstance(stdout, str):
        stdout = open(stdout, "wb")
        reports = ReportFile(stdout.name, line_filter)
    try:
        process = EditorProcess([*command_prefix, *editor_command(exe)], display.environment(),
                                stdout)
    finally:
        if reports is not None:
            stdout.close()
    return Editor(display, process, reports, **options)


class Editor(Closing):
    """The editor on a display as a test drives it: its window (`window`, or find_window), real
    input, its reports (a ReportFile, or anything with last() and count(): a page's panel) and
    its process, unless it runs in a page. Each wait takes up to `step_timeout` s; with
    `frames_by_reports`, input is held until reports show that a frame has polled it."""

    def __init__(self, display, process=None, reports=None, step_timeout=CONDITION_TIMEOUT,
                 frames_by_reports=False, window=None):
        self.display, self.process, self.reports, self.window = display, process, reports, window
        self.step_timeout, self.frames_by_reports = step_timeout, frames_by_reports

    def find_window(self, timeout=STARTUP_TIMEOUT):
        popen = self.process.popen if self.process else None
        try:
            self.window = self.display.find_window(popen, timeout)
        except EditorExited as exited:
            raise EditorExited(f"{exited}; stderr: {self.stderr_text()}") from None
        return self.window

    def wait_for_picture(self, triangles, what="the triangles on screen", sharp=True):
        """Waits until the window shows just `triangles`, white on black (check_shows_triangles)."""
        return wait_for(lambda: check_shows_triangles(self.window.grab(), triangles,
                                                      self.display.scale, sharp),
                        self.step_timeout, what=what)

    def is_running(self):
        return self.process is None or self.process.running()

    def check_running(self):
        if not self.is_running():
            raise EditorExited(f"editor exited with {self.process.popen.returncode}")

    def close_and_wait(self, timeout=None):
        """Asks the window to close; the exit status."""
        self.window.request_close()
        return self.process.wait(timeout or max(STARTUP_TIMEOUT, self.step_timeout))

    def stderr_text(self):
        return self.process.stderr_text() if self.process else ""

    def close(self):
        if hasattr(self.reports, "close"):  # a page's panel has nothing to close
            self.reports.close()
        if self.process is not None:
            self.process.close()

    def last_report(self):  # the newest complete report so far, or None
        return self.reports.last()

    def report_count(self):
        return self.reports.count()

    def wait_for_last_report(self, fits, what):
        """Waits until the newest complete report fits (fits(report), report possibly None)."""
        def matches():
            self.check_running()
            report = self.last_report()
            if not fits(report):
                raise HarnessError(f"last report {report}")
            return True
        return wait_for(matches, self.step_timeout, what=what)

    def wait_for_report(self, expected, what="the expected report"):
        return self.wait_for_last_report(lambda report: report == expected, f"{what}: {expected}")

    def wait_for_selection(self, index):
        self.wait_for_last_report(lambda report: report and report[-1] == str(index),
                                  f"selection {index} in the report")

    def wait_for_reports(self, count):
        target = self.report_count() + count

        def written():
            self.check_running()
            return self.report_count() >= target
        wait_for(written, self.step_timeout, what=f"{count} more reports")

    def wait_frames(self):
        """Waits HOLD_SECONDS and until the editor has drawn SEEN_FRAMES more frames, so has
        polled the input sent before; where frames are not seen (frames_by_reports, or a window
        that counts none), until two more reports are complete. The first may come from a frame
        that polled before the input and printed after it (its clear runs a command first, which
        under load can take longer than HOLD_SECONDS); the second's frame began after that one."""
        counter = None if self.frames_by_reports else self.window.frames()
        if counter is None:
            time.sleep(HOLD_SECONDS)
            self.wait_for_reports(2)
            return
        with counter:
            time.sleep(HOLD_SECONDS)
            counter.wait(SEEN_FRAMES, self.step_timeout)

    def tap_key(self, key):
        self.display.key_down(key)
        try:
            self.wait_frames()
        finally:
            self.display.key_up(key)
        self.wait_frames()

    def move_to(self, x, y):
        self.window.move_to(x, y)

    @contextlib.contextmanager
    def holding_button(self):
        """Holds the left button down, seen by the editor, for the body of the with statement."""
        self.display.button_down()
        try:
            self.wait_frames()
            yield
        finally:
            self.display.button_up()
        self.wait_frames()

    def click(self, x, y):
        self.move_to(x, y)
        with self.holding_button():
            pass


class Terminal(Closing):
    """A real terminal: a tmux pane of `columns` x `rows` on a tmux server of its own (socket
    path `socket`), running nothing; a program with its stdout on `tty` shows its output there."""

    def __init__(self, socket, columns=80, rows=24):
        self.command = ["tmux", "-S", socket, "-f", "/dev/null"]
        try:
            self.run("new-session", "-d", "-x", str(columns), "-y", str(rows), "sleep", "infinity")
            self.tty = self.query("#{pane_tty}")
        except BaseException:
            self.close()
            raise

    def run(self, *args):
        return subprocess.run([*self.command, *args], check=True, capture_output=True, text=True,
                              timeout=30).stdout

    def query(self, variable):
        return self.run("display-message", "-p", variable).strip()

    def screen(self):
        """The pane's lines as they are shown."""
        return self.run("capture-pane", "-p").split("\n")

    def history_size(self):
        """How many lines have scrolled off the top of the pane."""
        return int(self.query("#{history_size}"))

    def close(self):
        subprocess.run([*self.command, "kill-server"], capture_output=True, timeout=30)
