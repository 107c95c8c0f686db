# What every display offers a test: a private server with real input, and the editor's window
# on it. X11 (x11.XServer) implements it; a scenario written against it runs on every display.
from harness.common import Closing


class Display(Closing):
    """A display server private to one test, with real keyboard and pointer input."""

    scale = 1  # physical pixels per window unit
    # How far a reported coordinate may be from the exact one: 0 where the cursor position is
    # exact, more where the display quantises it.
    cursor_tolerance = 0.0

    def environment(self):
        """The whole environment for a program shown on this display."""
        raise NotImplementedError

    def find_window(self, process, timeout):
        """The "Hello World" window, once it is shown; raises EditorExited if `process` (None:
        started elsewhere) ends first."""
        raise NotImplementedError

    def key_down(self, key):
        """Presses a key, named as X names its keysym: "1", "KP_3", "Escape", "Shift_L"."""
        raise NotImplementedError

    def key_up(self, key):
        raise NotImplementedError

    def button_down(self, button=1):
        """Presses a mouse button; 1 is the left one."""
        raise NotImplementedError

    def button_up(self, button=1):
        raise NotImplementedError

    def close(self):
        """Stops everything the display started."""
        raise NotImplementedError


class Window:
    """The editor's window on a display."""

    def move_to(self, x, y):
        """Moves the pointer to (x, y) in window units from the client area's top left."""
        raise NotImplementedError

    def grab(self):
        """The client area as a Picture, in physical pixels."""
        raise NotImplementedError

    def size(self):
        """The client area's (width, height) in window units."""
        raise NotImplementedError

    def title(self):
        raise NotImplementedError

    def request_close(self):
        """Asks the window to close, as a window manager or compositor does."""
        raise NotImplementedError

    def frames(self):
        """A context manager that counts the frames drawn from now on (.wait(n, timeout)), or
        None where the display cannot see frames: the editor then waits for reports instead."""
        return None
