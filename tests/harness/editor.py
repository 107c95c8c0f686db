# One run of the editor on a display: its process (native, or behind any command prefix such
# as the Wine launcher), its window, real input to it, and its report.
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
from harness.report import ReportFollower, reports_match

# --- the editor's own environment -----------------------------------------------------------
#
# Variables named EDITOR_ENV_<NAME> reach the editor, and only the editor, as <NAME>: the
# sanitized build's tests use them for the sanitizer options and the libraries preloaded into
# it, which must not be loaded into python, Xvfb, tmux or a shell that starts the editor. They
# are set on the command line through env(1), right before the executable, so that whatever
# wraps the editor runs without them.
EDITOR_ENV_PREFIX = "EDITOR_ENV_"
SANITIZER_OPTIONS = ("ASAN_OPTIONS", "UBSAN_OPTIONS")
SANITIZER_MARKERS = ("ERROR: AddressSanitizer", "runtime error:", "LeakSanitizer")

_sanitizer_log_dir = None
_sanitizer_findings = []  # reports found in editors' stderr, until check_sanitizer_reports


def _sanitizer_log_prefix():
    """Sanitizers write their reports to <prefix>.<pid> in a directory of this process, not to
    the editor's stderr: that may be closed, a pipe, /dev/full or a terminal."""
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


def _sanitizer_report_in(text):
    return any(marker in text for marker in SANITIZER_MARKERS)


def check_sanitizer_reports():
    """Raises if any editor run so far reported a fault: in a sanitizer log or on its stderr.
    Each report is raised once."""
    found = list(_sanitizer_findings)
    _sanitizer_findings.clear()
    if _sanitizer_log_dir is not None:
        for name in sorted(os.listdir(_sanitizer_log_dir)):
            path = os.path.join(_sanitizer_log_dir, name)
            with open(path, errors="replace") as f:
                text = f.read()
            os.remove(path)
            if _sanitizer_report_in(text):
                found.append(f"{name}:\n{text}")
    if found:
        raise AssertionError("sanitizer report from the editor:\n" + "\n".join(found))


class Editor(Closing):
    """One run of the editor on a display. `stdout` is a path (the report is then followed
    there), or anything Popen accepts; `command_prefix` wraps the executable (a shell that
    closes a descriptor first, say, or the Wine launcher); `env` replaces the display's
    environment. With exe None the editor was started by something else (a terminal, say) and
    is known only by its window. Every wait for the editor takes up to `step_timeout` seconds
    (more for a build that runs emulated). With `frames_by_reports` (or where the display cannot
    count frames) input is held until reports show that a frame has polled it."""

    def __init__(self, display, exe, stdout=subprocess.DEVNULL, command_prefix=(), env=None,
                 step_timeout=CONDITION_TIMEOUT, frames_by_reports=False):
        self.display = display
        self.step_timeout = step_timeout
        self.frames_by_reports = frames_by_reports
        self.window = None
        self.process = None
        self.stderr = None
        self.reports = None
        if exe is None:
            return
        if isinstance(stdout, str):
            self.reports = ReportFollower(stdout)
            stdout = open(stdout, "wb")
        # A file rather than a pipe: nobody reads stderr while the editor runs, and a full pipe
        # would stall it.
        self.stderr = tempfile.TemporaryFile()
        try:
            self.process = subprocess.Popen(
                [*command_prefix, *editor_command(exe)], stdin=subprocess.DEVNULL,
                stdout=stdout, stderr=self.stderr,
                env=env if env is not None else display.environment(), preexec_fn=die_with_parent)
        finally:
            if self.reports is not None:
                stdout.close()

    # --- window ----------------------------------------------------------------------------

    def find_window(self, timeout=STARTUP_TIMEOUT):
        try:
            self.window = self.display.find_window(self.process, timeout)
        except EditorExited as exited:
            raise EditorExited(f"{exited}; stderr: {self.stderr_text()}") from None
        return self.window

    def request_close(self):
        self.window.request_close()

    def grab(self):
        return self.window.grab()

    # --- the process -----------------------------------------------------------------------

    def is_running(self):
        return self.process is None or self.process.poll() is None

    def wait(self, timeout=None):
        timeout = timeout or max(STARTUP_TIMEOUT, self.step_timeout)
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise HarnessError(f"editor still running {timeout:.0f} s later") from None

    def close_and_wait(self, timeout=None):
        self.request_close()
        return self.wait(timeout)

    def stderr_text(self):
        if self.stderr is None or self.stderr.closed:
            return ""
        self.stderr.seek(0)
        return self.stderr.read().decode(errors="replace")

    def close(self):
        """Stops the editor if it still runs and notes any sanitizer report on its stderr."""
        if self.reports is not None:
            self.reports.close()
        if self.process is None or self.stderr.closed:
            return
        stop_process(self.process)
        text = self.stderr_text()
        if _sanitizer_report_in(text):
            _sanitizer_findings.append(f"stderr of editor {self.process.pid}:\n{text}")
        self.stderr.close()

    # --- the report ------------------------------------------------------------------------

    def last_report(self):
        """The newest complete report in the editor's output so far, or None."""
        return self.reports.poll()

    def report_count(self):
        self.reports.poll()
        return self.reports.count

    def wait_for_report(self, expected, what="the expected report"):
        def matches():
            if not self.is_running():
                raise EditorExited(f"editor exited with {self.process.returncode}")
            report = self.last_report()
            if not reports_match(report, expected, self.display.cursor_tolerance):
                raise HarnessError(f"last report {report}, wanted {expected}")
            return True
        return wait_for(matches, self.step_timeout, what=what)

    def wait_for_selection(self, index):
        def selected():
            report = self.last_report()
            if report is None or report[-1] != str(index):
                raise HarnessError(f"last report {report}")
            return True
        wait_for(selected, self.step_timeout, what=f"selection {index} in the report")

    def wait_for_reports(self, count):
        """Waits until `count` more reports have been written."""
        target = self.report_count() + count

        def written():
            if not self.is_running():
                raise EditorExited(f"editor exited with {self.process.returncode}")
            return self.report_count() >= target
        wait_for(written, self.step_timeout, what=f"{count} more reports")

    # --- input ---------------------------------------------------------------------------

    def wait_frames(self, frames=SEEN_FRAMES, hold=HOLD_SECONDS):
        """Waits at least `hold` seconds and until the editor has drawn `frames` more frames,
        and so has polled the input sent before this call. Where the display cannot see frames,
        a report that began after this call has to be complete: two more reports."""
        counter = None if self.frames_by_reports else self.window.frames()
        if counter is None:
            time.sleep(hold)
            self.wait_for_reports(2)
            return
        with counter:
            time.sleep(hold)
            counter.wait(frames, self.step_timeout)

    def tap_key(self, key):
        self.display.key_down(key)
        try:
            self.wait_frames()
        finally:
            self.display.key_up(key)
        self.wait_frames()

    def move_to(self, x, y):
        """Moves the pointer to (x, y) in the window's client area."""
        self.window.move_to(x, y)

    @contextlib.contextmanager
    def holding_button(self, button=1):
        """Holds a button down, seen by the editor, for the body of the with statement."""
        self.display.button_down(button)
        try:
            self.wait_frames()
            yield
        finally:
            self.display.button_up(button)
        self.wait_frames()

    def click(self, x, y):
        self.move_to(x, y)
        with self.holding_button():
            pass
