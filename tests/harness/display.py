# What every display offers a test: a private server with real input, and the editor's window on
# it. X11 (x11.XServer), Wayland (wayland.Sway) and a browser page (browser.BrowserDisplay)
# implement it, so a scenario written against it runs on every display.
from harness.common import Closing


class Display(Closing):
    """A display server private to one test, with real keyboard and pointer input:
    environment() gives the whole environment for a program shown on it; find_window(process,
    timeout) waits for the "Hello World" window and returns it (EditorExited if `process`, None
    when started elsewhere, ends first); key_down(key) and key_up(key) take keys named as X names
    their keysyms ("1", "KP_3", "Escape"); button_down(button=1) and button_up(button=1) press and
    release a mouse button (1 is the left one); close() stops everything it started."""

    scale = 1  # physical pixels per window unit
    # How far a reported coordinate may be from the exact one: 0 where the cursor position is
    # exact, more where the display quantises it.
    cursor_tolerance = 0.0


class Window:
    """The editor's window on a display: move_to(x, y) moves the pointer there, in window units
    from the client area's top left; grab() gives the client area as a Picture in physical
    pixels; size() its (width, height) in window units; title(); request_close() asks it to close
    as a window manager or compositor does."""

    def frames(self):
        """A context manager that counts the frames drawn from now on (.wait(n, timeout)), or
        None where the display cannot see frames: the editor then waits for reports instead."""
        return None
