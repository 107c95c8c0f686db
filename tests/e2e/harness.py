# Drives the real triangle-editor under a private Xvfb: starts the server and the program, sends
# XTest input, reads the screen back, parses the status report and always cleans up after itself.
# The end-to-end tests, the input storm, the screenshot, the Wine test, the release test and the
# measuring scripts (scripts/lib) all drive X through this one module.
import atexit
import ctypes
import os
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

from Xlib import X, display as xdisplay, protocol
from Xlib.ext import damage, xtest

WINDOW_TITLE = "Hello World"
CLIENT_WIDTH = 640
CLIENT_HEIGHT = 480
SCREEN_SIZE = "1024x768x24"

# Input is polled once a frame, so a press that begins and ends between two polls is never
# seen. Each press and release is therefore held for at least this long, and until the editor
# has drawn a few frames since (it can stall, e.g. while a terminal is slow to take its output).
HOLD_SECONDS = 0.1
SEEN_FRAMES = 3

# Generous: the machine has two cores and ctest may run several of these tests at once.
STARTUP_TIMEOUT = 30.0
CONDITION_TIMEOUT = 20.0

WHITE = 0xFFFFFF
BLACK = 0x000000

# One report: five triangle lines and the selection, each number in iostream's default format.
NUMBER = r"-?(?:\d+(?:\.\d*)?|\.\d+)(?:e[-+]\d+)?"
TRIANGLE_LINE = re.compile(
    r"nowRendered = ([0-4]) \| 0: x({n})y({n}) 1: x({n})y({n}) 2: x({n})y({n})".format(n=NUMBER)
)
SELECTION_LINE = re.compile(r"-1|[0-4]")


class HarnessError(AssertionError):
    """A condition not (yet) met; wait_for retries on it."""


class EditorExited(AssertionError):
    """The editor ended while a test still expected it to run; never worth waiting on."""


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


def editor_variables():
    """The variables given to the editor on top of its inherited environment."""
    variables = {name[len(EDITOR_ENV_PREFIX):]: value for name, value in os.environ.items()
                 if name.startswith(EDITOR_ENV_PREFIX)}
    for name in SANITIZER_OPTIONS:
        if name in variables:
            variables[name] += ":log_path=" + _sanitizer_log_prefix()
    return variables


def editor_command(exe):
    """The argument list that starts the executable with editor_variables() applied."""
    variables = editor_variables()
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


def _die_with_parent():
    # A test killed by ctest's timeout must not leave its server or editor running.
    libc = ctypes.CDLL(None, use_errno=True)
    PR_SET_PDEATHSIG = 1
    libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def wait_for(condition, timeout=CONDITION_TIMEOUT, interval=0.05, what="condition"):
    """Polls condition() until it returns something truthy; returns that, or raises."""
    deadline = time.monotonic() + timeout
    last_error = None
    while True:
        try:
            value = condition()
            if value:
                return value
        except HarnessError as error:
            last_error = error
        if time.monotonic() >= deadline:
            detail = f": {last_error}" if last_error else ""
            raise HarnessError(f"timed out after {timeout:.0f} s waiting for {what}{detail}")
        time.sleep(interval)


def stop_process(process, grace=5.0):
    if process is None or process.poll() is not None:
        return
    process.terminate()
    try:
        process.wait(grace)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


class _Closing:
    """Usable in a with statement that closes it (stops it, for an Editor) at the end."""

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class XServer(_Closing):
    """A private Xvfb on a display number it picks itself, so parallel tests never collide."""

    def __init__(self, extra_args=(), screen=SCREEN_SIZE):
        read_end, write_end = os.pipe()
        try:
            self.process = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-noreset",
                 "-screen", "0", screen, *extra_args],
                pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL, preexec_fn=_die_with_parent)
        finally:
            os.close(write_end)
        try:
            self.number = self._read_display_number(read_end)
        except BaseException:
            stop_process(self.process)
            raise
        finally:
            os.close(read_end)
        self.name = f":{self.number}"
        self.runtime_dir = tempfile.mkdtemp(prefix="triangle-runtime-")  # mode 0700
        self.display = xdisplay.Display(self.name)
        self.screen = self.display.screen()
        self.root = self.screen.root

    def _read_display_number(self, read_end):
        text = b""
        deadline = time.monotonic() + STARTUP_TIMEOUT
        while not text.endswith(b"\n"):
            remaining = deadline - time.monotonic()
            if remaining <= 0 or self.process.poll() is not None:
                raise HarnessError("Xvfb did not report its display number")
            ready, _, _ = select.select([read_end], [], [], remaining)
            if ready:
                chunk = os.read(read_end, 64)
                if not chunk:
                    raise HarnessError("Xvfb closed -displayfd without a display number")
                text += chunk
        return int(text.strip())

    def session_variables(self):
        """What a desktop session gives a program: this display, and a runtime directory, here
        an empty one of the server's own. GLFW 3.4 tries Wayland before X11: with no
        XDG_RUNTIME_DIR, libwayland writes "error: XDG_RUNTIME_DIR is invalid or not set in the
        environment." to stderr, and with the desktop's own it would reach a real compositor.
        In an empty one it finds no compositor, says nothing, and GLFW takes this display."""
        return {"DISPLAY": self.name, "XDG_RUNTIME_DIR": self.runtime_dir}

    def environment(self):
        env = dict(os.environ)
        env.update(self.session_variables())
        env.pop("WAYLAND_DISPLAY", None)
        return env

    def close(self):
        try:
            self.display.close()
        except Exception:
            pass
        stop_process(self.process)
        shutil.rmtree(self.runtime_dir, ignore_errors=True)

    # --- input ---------------------------------------------------------------------------

    def move_to(self, x, y):
        """Moves the pointer to screen position (x, y)."""
        xtest.fake_input(self.display, X.MotionNotify, x=int(x), y=int(y))
        self.display.sync()

    def key_down(self, keysym):
        xtest.fake_input(self.display, X.KeyPress, self.keycode(keysym))
        self.display.sync()

    def key_up(self, keysym):
        xtest.fake_input(self.display, X.KeyRelease, self.keycode(keysym))
        self.display.sync()

    def button_down(self, button=1):
        xtest.fake_input(self.display, X.ButtonPress, button)
        self.display.sync()

    def button_up(self, button=1):
        xtest.fake_input(self.display, X.ButtonRelease, button)
        self.display.sync()

    def keycode(self, keysym):
        code = self.display.keysym_to_keycode(keysym)
        if not code:
            raise HarnessError(f"no keycode for keysym {keysym:#x}")
        return code

    # --- screen ----------------------------------------------------------------------------

    def grab(self, x, y, width, height):
        """Reads a rectangle of the screen back as a Picture."""
        image = self.root.get_image(x, y, width, height, X.ZPixmap, 0xFFFFFFFF)
        if image.depth != 24 or len(image.data) != width * height * 4:
            raise HarnessError(f"unexpected image format: depth {image.depth}, "
                               f"{len(image.data)} bytes for {width}x{height}")
        return Picture(width, height, image.data)


class FrameCounter(_Closing):
    """Counts the editor's redraws of its window from now on, through DAMAGE events on a
    connection of its own. Input is polled once a frame, so a press held until the editor
    has drawn a few frames is known to have been seen, however busy the machine is."""

    def __init__(self, server, window):
        self.display = xdisplay.Display(server.name)
        try:
            self.display.damage_query_version()
            self.event_type = self.display.query_extension("DAMAGE").first_event
            target = self.display.create_resource_object("window", window.id)
            self.damage = target.damage_create(damage.DamageReportRawRectangles)
            self.display.sync()
        except BaseException:
            self.display.close()
            raise
        self.count = 0

    def wait(self, frames, timeout=CONDITION_TIMEOUT):
        deadline = time.monotonic() + timeout
        while True:
            while self.display.pending_events():
                if self.display.next_event().type == self.event_type:
                    self.count += 1
            if self.count >= frames:
                return
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise HarnessError(f"the editor drew {self.count} of {frames} frames "
                                   f"in {timeout:.0f} s")
            select.select([self.display.fileno()], [], [], min(remaining, 0.1))

    def close(self):
        try:
            self.display.damage_destroy(self.damage)
            self.display.sync()
        except Exception:  # the window may be gone already
            pass
        self.display.close()


class MapWatcher(_Closing):
    """Sees top-level windows being mapped, on a connection of its own opened before the program
    starts, and notes when each MapNotify arrived (the start-up measurements use that)."""

    def __init__(self, server):
        self.display = xdisplay.Display(server.name)
        root = self.display.screen().root
        root.change_attributes(event_mask=X.SubstructureNotifyMask)
        self.display.sync()

    def wait(self, timeout=STARTUP_TIMEOUT, title=WINDOW_TITLE, alive=lambda: True):
        """(window id, monotonic time of its MapNotify) for the first window with this title
        mapped since the watcher was made."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and alive():
            while self.display.pending_events():
                event = self.display.next_event()
                if event.type == X.MapNotify:
                    seen = time.monotonic()
                    try:
                        if event.window.get_wm_name() == title:
                            return event.window.id, seen
                    except Exception:  # the window went away meanwhile
                        pass
            select.select([self.display], [], [], 0.05)
        raise HarnessError(f'no window titled "{title}" was mapped in {timeout:.0f} s')

    def close(self):
        self.display.close()


class Picture:
    """Pixels as 0xRRGGBB integers, row by row, from a 32-bit little-endian ZPixmap."""

    def __init__(self, width, height, data):
        self.width = width
        self.height = height
        self.pixels = [p & 0xFFFFFF for p in memoryview(bytes(data)).cast("I")]

    def contains(self, x, y):
        return 0 <= x < self.width and 0 <= y < self.height

    def at(self, x, y):
        if not self.contains(x, y):
            raise HarnessError(f"({x}, {y}) is outside the {self.width}x{self.height} picture")
        return self.pixels[int(y) * self.width + int(x)]

    def colours(self):
        return set(self.pixels)

    def white_points(self):
        w = self.width
        return [(i % w, i // w) for i, p in enumerate(self.pixels) if p == WHITE]

    def save_png(self, path):
        rows = bytearray()
        for y in range(self.height):
            rows.append(0)  # no filter
            for p in self.pixels[y * self.width:(y + 1) * self.width]:
                rows += bytes(((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF))

        def chunk(kind, body):
            return (struct.pack(">I", len(body)) + kind + body
                    + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)
        with open(path, "wb") as out:
            out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                      + chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))


class Editor(_Closing):
    """One run of the editor on an XServer. stdout is anything Popen accepts; command_prefix
    wraps the executable (a shell that closes a descriptor first, say, or Wine); env replaces
    the server's environment."""

    def __init__(self, server, exe, stdout=subprocess.DEVNULL, command_prefix=(), env=None):
        self.server = server
        # A file rather than a pipe: nobody reads stderr while the editor runs, and a full pipe
        # would stall it.
        self.stderr = tempfile.TemporaryFile()
        self.process = subprocess.Popen(
            [*command_prefix, *editor_command(exe)], stdin=subprocess.DEVNULL, stdout=stdout,
            stderr=self.stderr, env=env if env is not None else server.environment(),
            preexec_fn=_die_with_parent)
        self.window = None
        self.origin = (0, 0)

    @classmethod
    def started_elsewhere(cls, server, window_id=None):
        """An editor that something else started (a terminal, say), known only by its window."""
        editor = cls.__new__(cls)
        editor.server, editor.process, editor.stderr = server, None, None
        editor.window, editor.origin = None, (0, 0)
        if window_id is not None:
            editor.window = server.display.create_resource_object("window", window_id)
        return editor

    # --- window ----------------------------------------------------------------------------

    def find_window(self, timeout=STARTUP_TIMEOUT):
        """Waits for a viewable top-level window titled "Hello World" and records where it is."""

        def look():
            if self.process is not None and self.process.poll() is not None:
                raise EditorExited(f"editor exited with {self.process.returncode} before "
                                   f"showing its window; stderr: {self.stderr_text()}")
            for window in self.server.root.query_tree().children:
                try:
                    if (window.get_wm_name() == WINDOW_TITLE
                            and window.get_attributes().map_state == X.IsViewable):
                        return window
                except Exception:  # a window that vanished while we looked
                    continue
            return None

        self.window = wait_for(look, timeout, what=f'a window titled "{WINDOW_TITLE}"')
        self.update_origin()
        # No window manager gives it the focus, so do what one would: keys then reach it
        # wherever the pointer is.
        self.window.set_input_focus(X.RevertToParent, X.CurrentTime)
        self.server.display.sync()
        return self.window

    def update_origin(self):
        """Root position of the client area: the window itself or, under Wine, the child window
        that holds the GL surface."""
        client = self.window
        for candidate in self.window.query_tree().children:
            geometry = candidate.get_geometry()
            if (geometry.width, geometry.height) == (CLIENT_WIDTH, CLIENT_HEIGHT):
                client = candidate
                break
        coords = self.server.root.translate_coords(client, 0, 0)
        self.origin = (coords.x, coords.y)

    def client_size(self):
        geometry = self.window.get_geometry()
        return geometry.width, geometry.height

    def title(self):
        return self.window.get_wm_name()

    def request_close(self):
        """Asks the window to close the way a window manager does: WM_PROTOCOLS/WM_DELETE_WINDOW."""
        d = self.server.display
        protocols = d.intern_atom("WM_PROTOCOLS")
        delete = d.intern_atom("WM_DELETE_WINDOW")
        event = protocol.event.ClientMessage(
            window=self.window, client_type=protocols,
            data=(32, [delete, X.CurrentTime, 0, 0, 0]))
        self.window.send_event(event, event_mask=X.NoEventMask)
        d.sync()

    def wait(self, timeout=STARTUP_TIMEOUT):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise HarnessError(f"editor still running {timeout:.0f} s later") from None

    def close_and_wait(self, timeout=STARTUP_TIMEOUT):
        self.request_close()
        return self.wait(timeout)

    def is_running(self):
        return self.process.poll() is None

    def stderr_text(self):
        self.stderr.seek(0)
        return self.stderr.read().decode(errors="replace")

    def close(self):
        self.stop()

    def stop(self):
        if self.process is None or self.stderr.closed:
            return
        stop_process(self.process)
        text = self.stderr_text()
        if _sanitizer_report_in(text):
            _sanitizer_findings.append(f"stderr of editor {self.process.pid}:\n{text}")
        self.stderr.close()

    # --- input ---------------------------------------------------------------------------

    def wait_frames(self, frames=SEEN_FRAMES, hold=HOLD_SECONDS):
        """Waits at least `hold` seconds and until the editor has drawn `frames` more frames,
        and so has polled the input sent before this call."""
        with FrameCounter(self.server, self.window) as counter:
            time.sleep(hold)
            counter.wait(frames)

    def tap_key(self, keysym):
        self.server.key_down(keysym)
        try:
            self.wait_frames()
        finally:
            self.server.key_up(keysym)
        self.wait_frames()

    def move_to(self, x, y):
        """Moves the pointer to (x, y) in the window's client area."""
        self.server.move_to(self.origin[0] + x, self.origin[1] + y)

    def click(self, x, y):
        self.move_to(x, y)
        self.server.button_down(1)
        try:
            self.wait_frames()
        finally:
            self.server.button_up(1)
        self.wait_frames()

    def grab(self):
        return self.server.grab(self.origin[0], self.origin[1], CLIENT_WIDTH, CLIENT_HEIGHT)


# --- geometry --------------------------------------------------------------------------------


def to_ndc(x, y):
    """Window pixel position to the coordinates the editor stores, narrowed to float as it does."""
    return float32(x / 320.0 - 1.0), float32(1.0 - y / 240.0)


def float32(value):
    return struct.unpack("f", struct.pack("f", value))[0]


def fmt(value):
    """iostream's default float format: %g with six significant digits."""
    return "%g" % value


def triangle_line(index, corners):
    """The report line for a triangle whose corners were fixed at these window positions."""
    parts = [f"nowRendered = {index} |"]
    for n, (x, y) in enumerate(corners):
        nx, ny = to_ndc(x, y)
        parts.append(f"{n}: x{fmt(nx)}y{fmt(ny)}")
    return " ".join(parts)


def expected_report(placed, selection=-1):
    """The six report lines for triangles placed at the given window positions
    ({index: three (x, y)}); the rest still collapsed at the centre."""
    lines = []
    for index in range(5):
        if index in placed:
            lines.append(triangle_line(index, placed[index]))
        else:
            lines.append(f"nowRendered = {index} | 0: x0y0 1: x0y0 2: x0y0")
    lines.append(str(selection))
    return lines


def edge_distances(point, triangle):
    """Signed distances of a point from each edge, positive inside (either winding)."""
    (ax, ay), (bx, by), (cx, cy) = triangle
    area2 = (bx - ax) * (cy - ay) - (by - ay) * (cx - ax)
    sign = 1.0 if area2 > 0 else -1.0
    px, py = point
    result = []
    for (x0, y0), (x1, y1) in (((ax, ay), (bx, by)), ((bx, by), (cx, cy)), ((cx, cy), (ax, ay))):
        cross = (x1 - x0) * (py - y0) - (y1 - y0) * (px - x0)
        result.append(sign * cross / ((x1 - x0) ** 2 + (y1 - y0) ** 2) ** 0.5)
    return result


def interior_points(triangle):
    """A few points well inside a triangle: its centroid and points pulled towards each corner."""
    (ax, ay), (bx, by), (cx, cy) = triangle
    weights = [(1 / 3, 1 / 3, 1 / 3), (0.6, 0.2, 0.2), (0.2, 0.6, 0.2), (0.2, 0.2, 0.6)]
    return [(wa * ax + wb * bx + wc * cx, wa * ay + wb * by + wc * cy) for wa, wb, wc in weights]


def exterior_points(triangle, distance=12):
    """Points a little beyond each edge's midpoint, just outside the triangle."""
    (ax, ay), (bx, by), (cx, cy) = triangle
    centroid = ((ax + bx + cx) / 3, (ay + by + cy) / 3)
    points = []
    for (x0, y0), (x1, y1) in (((ax, ay), (bx, by)), ((bx, by), (cx, cy)), ((cx, cy), (ax, ay))):
        mx, my = (x0 + x1) / 2, (y0 + y1) / 2
        dx, dy = mx - centroid[0], my - centroid[1]
        length = (dx * dx + dy * dy) ** 0.5
        points.append((mx + dx / length * distance, my + dy / length * distance))
    return points


def check_shows_triangles(picture, triangles):
    """Raises unless the picture is white inside the triangles and black everywhere else."""
    colours = picture.colours()
    if not colours <= {WHITE, BLACK}:
        raise HarnessError(f"colours other than black and white: "
                           f"{sorted('%06x' % c for c in colours - {WHITE, BLACK})[:5]}")
    for triangle in triangles:
        for x, y in interior_points(triangle):
            if picture.at(x, y) != WHITE:
                raise HarnessError(f"({x:.0f}, {y:.0f}) inside {triangle} is not white")
        for x, y in exterior_points(triangle):
            if (picture.contains(x, y)
                    and not any(min(edge_distances((x, y), t)) > -2 for t in triangles)
                    and picture.at(x, y) != BLACK):
                raise HarnessError(f"({x:.0f}, {y:.0f}) outside {triangle} is not black")
    # Every white pixel must be explained by some triangle (allowing for edge rasterisation).
    for point in picture.white_points():
        centre = (point[0] + 0.5, point[1] + 0.5)
        if not any(min(edge_distances(centre, t)) > -1.5 for t in triangles):
            raise HarnessError(f"white pixel at {point} outside every triangle {triangles}")
    return True


# --- the report -------------------------------------------------------------------------------


def parse_reports(text, finished=False):
    """Splits the editor's output into six-line reports. Returns (reports, problems): problems
    lists the blocks of lines that do not fit the format. While the editor still runs, the
    output may stop part-way through a report; unless finished, that unfinished tail is only
    checked for the lines it has."""
    lines = text.split("\n")
    tail = lines.pop()  # "" when the output ends with a full line
    if finished and tail:
        lines.append(tail)
    reports, problems = [], []
    i = 0
    while i < len(lines):
        block = lines[i:i + 6]
        fits = all(_line_fits(n, line) for n, line in enumerate(block))
        if len(block) < 6:
            if finished or not fits:
                problems.append((i + 1, block))
            break
        if fits:
            reports.append(block)
            i += 6
            continue
        problems.append((i + 1, block))
        # Resynchronise on the next first line so that one fault is reported once.
        i += 1
        while i < len(lines) and not lines[i].startswith("nowRendered = 0 "):
            i += 1
    return reports, problems


def _line_fits(n, line):
    if n < 5:
        match = TRIANGLE_LINE.fullmatch(line)
        return bool(match) and match.group(1) == str(n)
    return bool(SELECTION_LINE.fullmatch(line))


def last_report(path):
    """The newest complete report in an output file that may still be growing."""
    with open(path, "rb") as f:
        f.seek(0, os.SEEK_END)
        f.seek(max(0, f.tell() - 4096))
        text = f.read().decode(errors="replace")
    start = text.find("\nnowRendered = 0 ")
    if text.startswith("nowRendered = 0 "):
        start = -1
    elif start < 0:
        return None
    reports, _ = parse_reports(text[start + 1:])
    return reports[-1] if reports else None


def report_count(path):
    # Reports are six lines each, so the count of selection lines is cheaper than a full parse.
    with open(path, "rb") as f:
        return f.read().count(b"nowRendered = 0 ")


# --- test cases ------------------------------------------------------------------------------


class EditorTestCase(unittest.TestCase):
    """Each test gets its own X server, torn down with everything started on it."""

    exe = None
    screen = SCREEN_SIZE

    def setUp(self):
        # Registered first, so run last: after every editor of the test has been stopped.
        self.addCleanup(check_sanitizer_reports)
        self.server = XServer(screen=self.screen)
        self.addCleanup(self.server.close)
        work = tempfile.TemporaryDirectory(prefix="triangle-e2e-")
        self.addCleanup(work.cleanup)
        self.work_dir = work.name

    def path(self, name):
        return os.path.join(self.work_dir, name)

    def start_editor(self, **kwargs):
        editor = Editor(self.server, self.exe, **kwargs)
        self.addCleanup(editor.stop)
        editor.find_window()
        return editor

    def start_editor_to_file(self, name="stdout.txt"):
        """Starts the editor with standard output going to a file; returns (editor, path)."""
        path = self.path(name)
        with open(path, "wb") as out:
            editor = self.start_editor(stdout=out)
        return editor, path


    def wait_for_picture(self, editor, triangles, what="the triangles on screen"):
        return wait_for(lambda: check_shows_triangles(editor.grab(), triangles), what=what)

    def wait_for_selection(self, output, index):
        wait_for(lambda: (last_report(output) or [None])[-1] == str(index),
                 what=f"selection {index} in the report")

    def wait_for_report(self, output, expected, what="the expected report"):
        def matches():
            report = last_report(output)
            if report != expected:
                raise HarnessError(f"last report {report}, wanted {expected}")
            return True
        return wait_for(matches, what=what)


def main():
    """Runs a test module's cases against the executable named by the first argument."""
    if len(sys.argv) < 2:
        sys.exit(f"usage: {sys.argv[0]} TRIANGLE_EDITOR [unittest arguments]")
    EditorTestCase.exe = os.path.abspath(sys.argv[1])
    unittest.main(argv=[sys.argv[0], *sys.argv[2:]], verbosity=2)
