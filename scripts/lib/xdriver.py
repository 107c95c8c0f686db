# A private Xvfb server and the few things the measuring scripts do with it: wait for the
# editor's window, send real input through XTest (xdotool) and ask the window to close.
import os
import select
import subprocess
import time

from Xlib import X, display, protocol

WINDOW_TITLE = "Hello World"


class Xvfb:
    """An Xvfb on a display number it picks itself (-displayfd), stopped on exit."""

    def __init__(self, extra_args=()):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-noreset",
             "-screen", "0", "1024x768x24", *extra_args],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        ready, _, _ = select.select([read_end], [], [], 30)
        while ready:
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
            if number.endswith(b"\n"):
                break
            ready, _, _ = select.select([read_end], [], [], 30)
        os.close(read_end)
        if not number.strip():
            self.stop()
            raise RuntimeError("Xvfb did not start")
        self.name = ":" + number.decode().strip()
        self.env = dict(os.environ, DISPLAY=self.name)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


class Session:
    """An X connection that sees top-level windows being mapped as they are."""

    def __init__(self, name):
        self.display = display.Display(name)
        self.root = self.display.screen().root
        self.root.change_attributes(event_mask=X.SubstructureNotifyMask)
        self.display.sync()
        self.protocols = self.display.intern_atom("WM_PROTOCOLS")
        self.delete = self.display.intern_atom("WM_DELETE_WINDOW")

    def wait_for_mapped_window(self, timeout, title=WINDOW_TITLE, alive=lambda: True):
        """Returns (window, monotonic time the MapNotify arrived) for the first window with
        this title mapped after the session started, or (None, None) after `timeout` s."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and alive():
            while self.display.pending_events():
                event = self.display.next_event()
                if event.type == X.MapNotify:
                    seen = time.monotonic()
                    try:
                        if event.window.get_wm_name() == title:
                            return event.window, seen
                    except Exception:  # the window went away meanwhile
                        pass
            select.select([self.display], [], [], 0.05)
        return None, None

    def request_close(self, window):
        """What a window manager sends for the close button: WM_DELETE_WINDOW."""
        event = protocol.event.ClientMessage(
            window=window, client_type=self.protocols,
            data=(32, [self.delete, X.CurrentTime, 0, 0, 0]))
        window.send_event(event, event_mask=X.NoEventMask)
        self.display.flush()

    def close(self):
        self.display.close()


def xdotool(env, *args):
    subprocess.run(["xdotool", *map(str, args)], env=env, check=True)


def hold_key(env, key, seconds=0.1):
    """Input is polled, so a key must stay down across a few frames to be seen."""
    xdotool(env, "keydown", key)
    time.sleep(seconds)
    xdotool(env, "keyup", key)


def click_at(env, window, x, y, seconds=0.1):
    """Moves the pointer to (x, y) in the window, lets frames see it there, then clicks."""
    xdotool(env, "mousemove", "--window", window.id, x, y)
    time.sleep(seconds)
    xdotool(env, "mousedown", 1)
    time.sleep(seconds)
    xdotool(env, "mouseup", 1)
    time.sleep(seconds)
