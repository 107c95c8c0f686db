# The X11 display: a private Xvfb, real input through XTest, frames seen through DAMAGE events
# and pixels read back from the screen.
import contextlib
import os
import select
import shutil
import subprocess
import tempfile

from Xlib import X, XK, display as xdisplay, protocol
from Xlib.ext import damage, xtest

from harness.common import (STARTUP_TIMEOUT, Closing, EditorExited, HarnessError,
                            die_with_parent, stop_process, wait_for)
from harness.display import Display, Window
from harness.picture import Picture
from harness.report import WINDOW_HEIGHT, WINDOW_TITLE, WINDOW_WIDTH

SCREEN_SIZE = "1024x768x24"


class XServer(Display):
    """A private Xvfb on a display number it picks itself, so parallel tests never collide."""

    def __init__(self, extra_args=(), screen=SCREEN_SIZE):
        read_end, write_end = os.pipe()
        try:
            self.process = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-noreset",
                 "-screen", "0", screen, *extra_args],
                pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)
        finally:
            os.close(write_end)
        try:
            with open(read_end, "rb") as numbers:  # Xvfb writes its display number and "\n"
                if not select.select([numbers], [], [], STARTUP_TIMEOUT)[0]:
                    raise HarnessError(f"no display number from Xvfb in {STARTUP_TIMEOUT:.0f} s")
                number = numbers.readline()  # b"" once Xvfb has exited
            if not number:
                raise AssertionError(f"Xvfb exited with {self.process.wait(STARTUP_TIMEOUT)}")
        except BaseException:
            stop_process(self.process)
            raise
        self.name = f":{int(number)}"
        self.runtime_dir = tempfile.mkdtemp(prefix="triangle-runtime-")  # mode 0700
        self.connection = xdisplay.Display(self.name)
        self.root = self.connection.screen().root

    def environment(self):
        """This display and an empty runtime directory of its own: GLFW 3.4 tries Wayland first,
        and libwayland complains without one; the desktop's would reach a real compositor."""
        env = dict(os.environ, DISPLAY=self.name, XDG_RUNTIME_DIR=self.runtime_dir)
        env.pop("WAYLAND_DISPLAY", None)
        return env

    def close(self):
        with contextlib.suppress(Exception):
            self.connection.close()
        stop_process(self.process)
        shutil.rmtree(self.runtime_dir, ignore_errors=True)

    def find_window(self, process, timeout):
        """A viewable top-level "Hello World", given the focus as a window manager would."""

        def look():
            if process is not None and process.poll() is not None:
                raise EditorExited(f"editor exited with {process.returncode}, no window shown")
            for window in self.root.query_tree().children:
                try:
                    if (window.get_wm_name() == WINDOW_TITLE
                            and window.get_attributes().map_state == X.IsViewable):
                        return window
                except Exception:  # a window that vanished while we looked
                    continue

        return self.window_by_id(wait_for(look, timeout, what=f'a window "{WINDOW_TITLE}"').id)

    def window_by_id(self, window_id):
        """The window with this id, given the keyboard."""
        window = X11Window(self, self.connection.create_resource_object("window", window_id))
        window.handle.set_input_focus(X.RevertToParent, X.CurrentTime)
        self.connection.sync()
        return window

    def fake_input(self, event, detail=0, **position):
        xtest.fake_input(self.connection, event, detail, **position)
        self.connection.sync()

    def key_down(self, key):
        self.fake_input(X.KeyPress, self.keycode(key))

    def key_up(self, key):
        self.fake_input(X.KeyRelease, self.keycode(key))

    def button_down(self, button=1):
        self.fake_input(X.ButtonPress, button)

    def button_up(self, button=1):
        self.fake_input(X.ButtonRelease, button)

    def keycode(self, key):
        code = self.connection.keysym_to_keycode(XK.string_to_keysym(key))
        if not code:
            raise HarnessError(f"no keycode for key {key!r}")
        return code

    def grab(self, x, y, width, height):  # a rectangle of the screen
        image = self.root.get_image(x, y, width, height, X.ZPixmap, 0xFFFFFFFF)
        if image.depth != 24 or len(image.data) != width * height * 4:
            raise HarnessError(f"depth {image.depth}, {len(image.data)} B for {width}x{height}")
        return Picture.from_xrgb(width, height, image.data)


class X11Window(Window):
    def __init__(self, server, handle):
        self.server, self.handle = server, handle
        self.update_origin()

    def update_origin(self):
        """Root position of the client area: the window, or under Wine its GL child window."""
        client = self.handle
        for candidate in self.handle.query_tree().children:
            geometry = candidate.get_geometry()
            if (geometry.width, geometry.height) == (WINDOW_WIDTH, WINDOW_HEIGHT):
                client = candidate
                break
        coords = self.server.root.translate_coords(client, 0, 0)
        self.origin = (coords.x, coords.y)

    def move_to(self, x, y):
        self.server.fake_input(X.MotionNotify, x=int(self.origin[0] + x),
                               y=int(self.origin[1] + y))

    def grab(self):
        return self.server.grab(self.origin[0], self.origin[1], WINDOW_WIDTH, WINDOW_HEIGHT)

    def size(self):
        geometry = self.handle.get_geometry()
        return geometry.width, geometry.height

    def request_close(self):
        """WM_PROTOCOLS/WM_DELETE_WINDOW, as a window manager sends it (destroying the window
        would kill the program with an X error)."""
        d = self.server.connection
        event = protocol.event.ClientMessage(
            window=self.handle, client_type=d.intern_atom("WM_PROTOCOLS"),
            data=(32, [d.intern_atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0]))
        self.handle.send_event(event, event_mask=X.NoEventMask)
        d.sync()

    def configure(self, **geometry):
        """Moves (x, y) or resizes (width, height) the window, as a window manager would."""
        self.handle.configure(**geometry)
        self.server.connection.sync()
        self.update_origin()

    def frames(self):
        return DamageCounter(self.server, self.handle)


class DamageCounter(Closing):
    """Counts the window's redraws from now on: DAMAGE events on a connection of its own."""

    def __init__(self, server, window):
        self.display = xdisplay.Display(server.name)  # its own connection, for its own events
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

    def wait(self, frames, timeout):
        def drawn():
            for pause in (0, 0.5):  # what has come, else the next event
                if pause:
                    select.select([self.display], [], [], pause)
                while self.display.pending_events():
                    if self.display.next_event().type == self.event_type:
                        self.count += 1
                if self.count >= frames:
                    return True
            raise HarnessError(f"the editor drew {self.count} of {frames} frames")
        wait_for(drawn, timeout, what=f"{frames} frames")

    def close(self):
        with contextlib.suppress(Exception):  # the window may be gone already
            self.display.damage_destroy(self.damage)
            self.display.sync()
        self.display.close()
