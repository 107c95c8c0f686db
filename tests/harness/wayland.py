# Each desktop's own compositor (GNOME's mutter, KDE Plasma's kwin, weston, sway) nested in a
# private Xvfb, the editor its native client: its X window takes XTest input and gives pixels.
import json
import os
import struct
import subprocess
import tempfile
import time

from Xlib import X

from harness.common import (HOLD_SECONDS, STARTUP_TIMEOUT, EditorExited, HarnessError,
                            die_with_parent, stop_process, wait_for)
from harness.display import Window
from harness.picture import BLACK, WHITE
from harness.report import WINDOW_HEIGHT, WINDOW_TITLE, WINDOW_WIDTH
from harness.x11 import XServer

# Moves into a new window, HOLD_SECONDS apart, before it counts as found.
SETTLE_MOVES = 15
# The output in logical units, whatever its scale: room for the window and its title bar.
OUTPUT = (800, 600)


def write_blank_cursor_theme(folder):
    """An Xcursor theme of one transparent pixel: mutter and weston draw the client's cursor
    into every picture taken with the pointer over the window."""
    os.makedirs(os.path.join(folder, "blank", "cursors"))
    image = struct.pack("<9I", 36, 0xFFFD0002, 1, 1, 1, 1, 0, 0, 0) + b"\0\0\0\0"
    data = struct.pack("<4s3I", b"Xcur", 16, 0x10000, 1) + struct.pack("<3I", 0xFFFD0002, 1, 28)
    for name in ("left_ptr", "default", "arrow"):
        with open(os.path.join(folder, "blank", "cursors", name), "wb") as f:
            f.write(data + image)


def runs_of(line, black, length):
    """Where the runs of exactly `length` black (or non-black) pixels in a row begin."""
    starts, x = [], 0
    while x < len(line):
        end = x
        while end < len(line) and (line[end] == BLACK) == black:
            end += 1
        if end - x == length:
            starts.append(x)
        x = max(end, x + 1)
    return starts


class Compositor(XServer):
    """A private Xvfb with a compositor on it, started by `command()` in a D-Bus session of its
    own, one output of `scale` pixels per logical unit. It outlives dbus-run-session, so close()
    ends its whole process group."""

    program = None  # the compositor's name
    # Where the title bar's close button sits, in logical units from the client area's top
    # right corner (libdecor's title bar, which GLFW draws where the compositor does not).
    close_button = (-18, -18)

    def __init__(self, scale=1):
        self.scale, self.session, self.output = scale, None, None
        super().__init__(screen=f"{OUTPUT[0] * scale}x{OUTPUT[1] * scale}x24")
        self.log = tempfile.TemporaryFile()
        try:
            write_blank_cursor_theme(os.path.join(self.runtime_dir, "icons"))
            env = dict(super().environment(), **self.variables())
            self.session = subprocess.Popen(
                ["dbus-run-session", "--", *self.command()], stdin=subprocess.DEVNULL,
                stdout=self.log, stderr=self.log, env=env, start_new_session=True,
                preexec_fn=die_with_parent)
            wait_for(self._ready, STARTUP_TIMEOUT, what=f"{self.program}'s socket and output")
        except BaseException:
            self.close()
            raise

    def command(self):
        raise NotImplementedError

    def variables(self):  # of the compositor's own environment
        return {}

    def _ready(self):
        if self.session.poll() is not None:
            raise AssertionError(f"{self.program} exited with {self.session.returncode}: "
                                 f"{self.log_text()[-2000:]}")
        self.socket = next((n for n in os.listdir(self.runtime_dir)
                            if n.startswith("wayland-") and "." not in n), None)
        windows = [w for w in self.root.query_tree().children
                   if w.get_attributes().map_state == X.IsViewable]
        if self.socket and windows:
            self.output = max(windows, key=lambda w: w.get_geometry().width)
            return True
        return False

    def log_text(self):
        self.log.seek(0)
        return self.log.read().decode(errors="replace")

    def environment(self):
        env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
        env.update(XDG_RUNTIME_DIR=self.runtime_dir, WAYLAND_DISPLAY=self.socket,
                   XCURSOR_PATH=os.path.join(self.runtime_dir, "icons"), XCURSOR_THEME="blank")
        return env

    def find_window(self, process, timeout):
        def look():
            if process is not None and process.poll() is not None:
                raise EditorExited(f"editor exited with {process.returncode}")
            return self.locate()
        origin = wait_for(look, timeout, what=f'the window "{WINDOW_TITLE}" on {self.program}')
        window = CompositorWindow(self, origin)
        self.output.set_input_focus(X.RevertToPointerRoot, X.CurrentTime)
        # The pointer enters now, well before a test's first move: GLFW 3.4 takes no position
        # from the entry, and weston passed on no motion for a while after the window appeared.
        for _ in range(SETTLE_MOVES):
            window.move_to(WINDOW_WIDTH // 2, WINDOW_HEIGHT // 2)
            self.connection.sync()
            time.sleep(HOLD_SECONDS)
        return window

    def locate(self):
        """The client area's top left in screen pixels: a window-wide black row (a new editor
        draws only black) right below a title bar as wide, found by whichever stands out."""
        width = WINDOW_WIDTH * self.scale
        geometry = self.output.get_geometry()
        screen = self.grab(0, 0, geometry.width, geometry.height)
        w = screen.width
        for y in range(1, screen.height - WINDOW_HEIGHT * self.scale + 1):
            bar, row = screen.pixels[(y - 1) * w:y * w], screen.pixels[y * w:(y + 1) * w]
            for line, black in ((row, True), (bar, False)):
                for x in runs_of(line, black, width):
                    if (all(p == BLACK for p in row[x:x + width])
                            and all(p != BLACK for p in bar[x:x + width])):
                        return (x, y)
        return None

    def click(self, window, x, y):
        """A left click at (x, y) in window units from the client area's top left."""
        window.move_to(x, y)
        time.sleep(HOLD_SECONDS)
        self.button_down()
        time.sleep(HOLD_SECONDS)
        self.button_up()

    def close_window(self, window):
        """Closes the window as a user would: by its title bar's close button."""
        self.click(window, WINDOW_WIDTH + self.close_button[0], self.close_button[1])

    def close(self):
        stop_process(self.session, group=True)
        self.log.close()
        super().close()


class CompositorWindow(Window):
    """No frames() (held input waits for reports): the compositor redraws its output for motion,
    clicks and focus too, so counting that let a press and its release fall between two polls."""

    def __init__(self, compositor, origin):
        self.compositor, self.origin = compositor, origin

    def move_to(self, x, y):
        # GLFW 3.4 ignores the entry's position, so the pointer arrives by a step from next door.
        s = self.compositor.scale
        for dx in (1, 0):
            self.compositor.fake_input(X.MotionNotify, x=int(self.origin[0] + (x + dx) * s),
                                       y=int(self.origin[1] + y * s))

    def grab(self):
        s = self.compositor.scale
        picture = self.compositor.grab(*self.origin, WINDOW_WIDTH * s, WINDOW_HEIGHT * s)
        if s > 1:
            # Scaled with filtering, edges are grey: a neutral grey rounds to black or white.
            picture.pixels = [(WHITE if p & 0xFF >= 0x80 else BLACK)
                              if p >> 16 == (p >> 8) & 0xFF == p & 0xFF else p
                              for p in picture.pixels]
        return picture

    def request_close(self):
        self.compositor.close_window(self)


class Mutter(Compositor):
    program = "mutter"

    def command(self):
        return ["mutter", "--wayland", "--nested", "--no-x11"]

    def variables(self):
        return {"MUTTER_DEBUG_DUMMY_MODE_SPECS": f"{OUTPUT[0] * self.scale}x"
                                                 f"{OUTPUT[1] * self.scale}",
                "MUTTER_DEBUG_DUMMY_MONITOR_SCALES": str(self.scale)}

    def find_window(self, process, timeout):
        window = super().find_window(process, timeout)
        # Nested mutter passes pointer motion on only after a first click; a click while no
        # triangle is selected changes nothing.
        self.click(window, WINDOW_WIDTH - 10, WINDOW_HEIGHT - 10)
        return window

    def close_window(self, window):
        """Alt+F4, mutter's own close."""
        self.key_down("Alt_L")
        self.key_down("F4")
        time.sleep(HOLD_SECONDS)
        self.key_up("F4")
        self.key_up("Alt_L")


class Kwin(Compositor):
    program = "kwin"

    def command(self):
        return ["kwin_wayland", "--x11-display", self.name, "--width", str(OUTPUT[0]),
                "--height", str(OUTPUT[1]), "--scale", str(self.scale)]


class Weston(Compositor):
    """Without the desktop shell's panel: a panel that comes up after the window (its clock's
    text is slow on a cold font cache) covers a title bar placed where the panel was not yet."""
    program = "weston"

    def command(self):
        path = os.path.join(self.runtime_dir, "weston.ini")
        with open(path, "w") as f:
            f.write("[shell]\npanel-position=none\n")
        return ["weston", "--backend=x11", f"--width={OUTPUT[0]}", f"--height={OUTPUT[1]}",
                f"--scale={self.scale}", "--idle-time=0", f"--config={path}"]


class Sway(Compositor):
    program = "sway"
    # Floating keeps the window at the size it asks for.
    CONFIG = ('xwayland disable\ndefault_border none\ndefault_floating_border none\n'
              f'for_window [title="{WINDOW_TITLE}"] floating enable\n'
              'output X11-1 resolution {}x{} scale {}\n')

    def command(self):
        path = os.path.join(self.runtime_dir, "sway.config")
        with open(path, "w") as f:
            f.write(self.CONFIG.format(OUTPUT[0] * self.scale, OUTPUT[1] * self.scale,
                                     self.scale))
        return ["sway", "--config", path]

    def variables(self):
        return {"WLR_BACKENDS": "x11", "WLR_RENDERER": "pixman"}

    def swaymsg(self, *args):
        ipc = next((n for n in os.listdir(self.runtime_dir) if n.startswith("sway-ipc.")), "")
        socket = os.path.join(self.runtime_dir, ipc)
        run = subprocess.run(["swaymsg", "-r", *args], capture_output=True, text=True,
                             env=dict(self.environment(), SWAYSOCK=socket))
        if run.returncode != 0:
            raise HarnessError(f"swaymsg {' '.join(args)}: {run.stdout}{run.stderr}")
        return json.loads(run.stdout)

    def locate(self):
        """Sway draws no title bar on a borderless floating window, but says where it is."""
        nodes = [self.swaymsg("-t", "get_tree")]
        while nodes:
            node = nodes.pop()
            if node.get("name") == WINDOW_TITLE and node.get("focused"):
                self.window_id = node["id"]
                return node["rect"]["x"] * self.scale, node["rect"]["y"] * self.scale
            nodes += node["nodes"] + node["floating_nodes"]
        return None

    def close_window(self, window):
        """swaymsg kill, sway's own close."""
        self.swaymsg(f"[con_id={self.window_id}]", "kill")
