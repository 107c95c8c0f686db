# The X11 display: a private Xvfb, real input through XTest, frames seen through DAMAGE events
# and pixels read back from the screen.
import os
import select
import shutil
import subprocess
import tempfile
import time

from Xlib import X, XK, display as xdisplay, protocol
from Xlib.ext import damage, xtest

from harness.common import (CONDITION_TIMEOUT, STARTUP_TIMEOUT, Closing, EditorExited,
                            HarnessError, die_with_parent, stop_process, wait_for)
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
            self.number = self._read_display_number(read_end)
        except BaseException:
            stop_process(self.process)
            raise
        finally:
            os.close(read_end)
        self.name = f":{self.number}"
        self.runtime_dir = tempfile.mkdtemp(prefix="triangle-runtime-")  # mode 0700
        self.display = xdisplay.Display(self.name)
        self.root = self.display.screen().root

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

    # --- windows -------------------------------------------------------------------------

    def find_window(self, process=None, timeout=STARTUP_TIMEOUT):
        """Waits for a viewable top-level window titled "Hello World" and gives it the focus,
        as a window manager would: keys then reach it wherever the pointer is."""

        def look():
            if process is not None and process.poll() is not None:
                raise EditorExited(f"editor exited with {process.returncode} before showing "
                                   "its window")
            for window in self.root.query_tree().children:
                try:
                    if (window.get_wm_name() == WINDOW_TITLE
                            and window.get_attributes().map_state == X.IsViewable):
                        return window
                except Exception:  # a window that vanished while we looked
                    continue
            return None

        window = self.window_by_id(wait_for(look, timeout, what=f'a window "{WINDOW_TITLE}"').id)
        window.focus()
        return window

    def window_by_id(self, window_id):
        return X11Window(self, self.display.create_resource_object("window", window_id))

    # --- input ---------------------------------------------------------------------------

    def move_to(self, x, y):
        """Moves the pointer to screen position (x, y)."""
        xtest.fake_input(self.display, X.MotionNotify, x=int(x), y=int(y))
        self.display.sync()

    def key_down(self, key):
        xtest.fake_input(self.display, X.KeyPress, self.keycode(key))
        self.display.sync()

    def key_up(self, key):
        xtest.fake_input(self.display, X.KeyRelease, self.keycode(key))
        self.display.sync()

    def button_down(self, button=1):
        xtest.fake_input(self.display, X.ButtonPress, button)
        self.display.sync()

    def button_up(self, button=1):
        xtest.fake_input(self.display, X.ButtonRelease, button)
        self.display.sync()

    def keycode(self, key):
        code = self.display.keysym_to_keycode(XK.string_to_keysym(key))
        if not code:
            raise HarnessError(f"no keycode for key {key!r}")
        return code

    def grab(self, x, y, width, height):
        """Reads a rectangle of the screen back."""
        image = self.root.get_image(x, y, width, height, X.ZPixmap, 0xFFFFFFFF)
        if image.depth != 24 or len(image.data) != width * height * 4:
            raise HarnessError(f"unexpected image format: depth {image.depth}, "
                               f"{len(image.data)} bytes for {width}x{height}")
        return Picture.from_xrgb(width, height, image.data)


class X11Window(Window):
    def __init__(self, server, handle):
        self.server = server
        self.handle = handle
        self.origin = (0, 0)
        self.update_origin()

    def focus(self):
        self.handle.set_input_focus(X.RevertToParent, X.CurrentTime)
        self.server.display.sync()

    def update_origin(self):
        """Root position of the client area: the window itself or, under Wine, the child window
        that holds the GL surface."""
        client = self.handle
        for candidate in self.handle.query_tree().children:
            geometry = candidate.get_geometry()
            if (geometry.width, geometry.height) == (WINDOW_WIDTH, WINDOW_HEIGHT):
                client = candidate
                break
        coords = self.server.root.translate_coords(client, 0, 0)
        self.origin = (coords.x, coords.y)

    def move_to(self, x, y):
        self.server.move_to(self.origin[0] + x, self.origin[1] + y)

    def grab(self):
        return self.server.grab(self.origin[0], self.origin[1], WINDOW_WIDTH, WINDOW_HEIGHT)

    def size(self):
        geometry = self.handle.get_geometry()
        return geometry.width, geometry.height

    def title(self):
        return self.handle.get_wm_name()

    def request_close(self):
        """WM_PROTOCOLS/WM_DELETE_WINDOW, as a window manager sends it. (Destroying the window
        instead would kill the program with an X error.)"""
        d = self.server.display
        event = protocol.event.ClientMessage(
            window=self.handle, client_type=d.intern_atom("WM_PROTOCOLS"),
            data=(32, [d.intern_atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0]))
        self.handle.send_event(event, event_mask=X.NoEventMask)
        d.sync()

    def frames(self):
        return FrameCounter(self.server, self.handle)


class FrameCounter(Closing):
    """Counts the editor's redraws of its window from now on, through DAMAGE events on a
    connection of its own."""

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
