# What every display offers a test: a private server with real input and the editor's window
# on it (x11.XServer, wayland.Compositor, browser.BrowserDisplay), so scenarios run on all.
from abc import ABC, abstractmethod

from harness.common import Closing


class Display(Closing, ABC):
    """A display server private to one test, with real keyboard and pointer input."""

    scale = 1  # physical pixels per window unit

    @abstractmethod
    def find_window(self, process, timeout):
        """The "Hello World" Window within `timeout` s, given the keyboard; EditorExited if
        `process` (a Popen, or None) ends first."""

    @abstractmethod
    def key_down(self, key):
        """Presses a key, named as X names its keysym ("1", "KP_3", "Escape")."""

    @abstractmethod
    def key_up(self, key):
        """Releases a key pressed by key_down."""

    @abstractmethod
    def button_down(self, button=1):
        """Presses a mouse button (1 is the left one) wherever the pointer is."""

    @abstractmethod
    def button_up(self, button=1):
        """Releases a mouse button."""



class Window(ABC):
    """The editor's window; positions in window units from the client area's top left."""

    @abstractmethod
    def move_to(self, x, y):
        """Moves the pointer to (x, y)."""

    @abstractmethod
    def grab(self):
        """The client area as a Picture, in physical pixels."""

    @abstractmethod
    def request_close(self):
        """Asks the window to close, as a window manager or compositor does."""

    def frames(self):
        """A context manager counting the editor's frames from now on (.wait(n, timeout)); None
        where the display cannot see them."""
        return None
