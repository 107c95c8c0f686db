"""The editor's web page in headless Chromium, as a display and an editor for the shared scenarios.

The page (build/web) is served on 127.0.0.1 from a thread of this process and opened in Debian's
chromium, which this module speaks the DevTools protocol to over --remote-debugging-pipe: JSON
messages ending in a NUL byte, written to the browser's fd 3 and read from its fd 4. Keys and the
mouse go in as trusted DOM input events (Input.dispatch*Event), pictures come from the composited
page (Page.captureScreenshot), the report from the page's console panel, and every error the page
logs is kept for the test to check.
"""
import base64
import functools
import http.server
import json
import os
import shutil
import subprocess
import tempfile
import threading
import unittest

from harness.case import EditorExited, HarnessError, wait_for
from harness.display import Display, Window
from harness.picture import Picture
from harness.report import WINDOW_HEIGHT, WINDOW_WIDTH

CHROMIUM_FLAGS = (
    "--headless", "--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--no-first-run", "--disable-quic", "--window-size=1400,800", "--remote-debugging-pipe")
CALL_TIMEOUT = 30.0

# X keysym names (the harness's key names) as the DOM's keyCode, code and location: what a real
# keyboard's key event carries, and what Emscripten's GLFW maps to GLFW keys.
_KEYS = {"Escape": (27, "Escape", 0), "Shift_L": (16, "ShiftLeft", 1), "space": (32, "Space", 0)}
_KEYS.update({str(d): (48 + d, f"Digit{d}", 0) for d in range(10)})
_KEYS.update({f"KP_{d}": (96 + d, f"Numpad{d}", 3) for d in range(10)})
_KEYS.update({c: (ord(c.upper()), f"Key{c.upper()}", 0) for c in "abcdefghijklmnopqrstuvwxyz"})

# Installed in the page once it has loaded: counts the program's frames and reports (around its
# main loop and the panel's clear), and checks after every frame what a person would see in the
# panel then: nothing before the first report, afterwards exactly one six-line report without
# control characters. Whatever else shows is kept in harness.panelFaults.
_PAGE_PROBE = """(() => {
  const panel = document.getElementById("console");
  const harness = window.harness = {frames: 0, reports: 0, panelFaults: []};
  const clear = Module.clearConsole;
  Module.clearConsole = () => { harness.reports++; clear(); };
  Module.postMainLoop = () => {
    harness.frames++;
    const text = panel.textContent;
    const lines = text.split("\\n");
    const fine = text === "" || (lines.length === 7 && lines[6] === "" &&
        !/[\\u0000-\\u0009\\u000b-\\u001f\\u007f-\\u009f]/.test(text));
    if (!fine && harness.panelFaults.length < 10) harness.panelFaults.push(text);
  };
  return true;
})()"""


class _DevTools:
    """Chromium with a DevTools connection over a pipe; call() waits for a command's result."""

    def __init__(self, url, extra_flags=()):
        self.profile = tempfile.mkdtemp(prefix="triangle-chromium-")
        to_browser, self._to_browser = os.pipe()
        self._from_browser, from_browser = os.pipe()

        def give_pipes():  # in the child: the ends Chromium expects, at fds 3 and 4
            os.dup2(to_browser, 3)
            os.dup2(from_browser, 4)

        self.process = subprocess.Popen(
            ["chromium", *CHROMIUM_FLAGS, *extra_flags, f"--user-data-dir={self.profile}", url],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            pass_fds=(3, 4), preexec_fn=give_pipes, start_new_session=True)
        os.close(to_browser)
        os.close(from_browser)
        self._next_id = 0
        self._results = {}
        self.events = []  # (method, params), in order
        self._changed = threading.Condition()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        pending = b""
        while True:
            chunk = os.read(self._from_browser, 65536)
            if not chunk:
                break
            pending += chunk
            *messages, pending = pending.split(b"\0")
            with self._changed:
                for message in map(json.loads, messages):
                    if "id" in message:
                        self._results[message["id"]] = message
                    else:
                        self.events.append((message["method"], message.get("params", {})))
                self._changed.notify_all()
        with self._changed:
            self._results = None  # the browser is gone
            self._changed.notify_all()

    def call(self, method, session=None, timeout=CALL_TIMEOUT, **params):
        with self._changed:
            self._next_id += 1
            number = self._next_id
        message = {"id": number, "method": method, "params": params}
        if session:
            message["sessionId"] = session
        os.write(self._to_browser, json.dumps(message).encode() + b"\0")
        with self._changed:
            if not self._changed.wait_for(lambda: self._results is None or number in self._results,
                                          timeout):
                raise HarnessError(f"no answer from Chromium to {method} in {timeout} s")
            if self._results is None:
                raise EditorExited(f"Chromium ended before answering {method}")
            answer = self._results.pop(number)
        if "error" in answer:
            raise HarnessError(f"{method}: {answer['error']}")
        return answer["result"]

    def close(self):
        try:
            if self.process.poll() is None:
                try:
                    self.call("Browser.close", timeout=5)
                except (HarnessError, EditorExited, OSError):
                    pass
                try:
                    self.process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    os.killpg(self.process.pid, 9)
                    self.process.wait()
        finally:
            os.close(self._to_browser)
            self._reader.join(timeout=5)
            os.close(self._from_browser)
            shutil.rmtree(self.profile, ignore_errors=True)


class _Quiet(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                      ".wasm": "application/wasm", ".js": "text/javascript"}

    def log_message(self, *args):
        pass


def _serve(folder):
    """Serves folder on 127.0.0.1 at a free port from a thread; returns the server."""
    server = http.server.ThreadingHTTPServer(
        ("127.0.0.1", 0), functools.partial(_Quiet, directory=folder))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


class BrowserDisplay(Display):
    """A page of headless Chromium showing the editor's page from `folder` (build/web)."""

    scale = 1

    def __init__(self, folder, extra_flags=()):
        self.server = _serve(folder)
        self.url = "http://127.0.0.1:%d/" % self.server.server_address[1]
        self.page = None
        try:
            self.devtools = _DevTools("about:blank", extra_flags)
            targets = self.devtools.call("Target.getTargets")["targetInfos"]
            target = next(t["targetId"] for t in targets if t["type"] == "page")
            self.session = self.devtools.call("Target.attachToTarget", targetId=target,
                                              flatten=True)["sessionId"]
            for domain in ("Page", "Runtime", "Log"):
                self.devtools.call(f"{domain}.enable", self.session)
        except BaseException:
            self.close()
            raise

    def send(self, method, **params):
        return self.devtools.call(method, self.session, **params)

    def evaluate(self, expression):
        answer = self.send("Runtime.evaluate", expression=expression, returnByValue=True)
        if "exceptionDetails" in answer:
            raise HarnessError(f"{expression!r} threw: {answer['exceptionDetails']}")
        return answer["result"].get("value")

    def open_page(self, timeout=30.0):
        """Opens the page and returns it once the program has drawn its first frames."""
        self.send("Page.navigate", url=self.url)
        wait_for(lambda: self.evaluate("typeof Module == 'object' && Module.calledRun === true")
                 or None, timeout, "the program to start")
        self.evaluate(_PAGE_PROBE)
        self.page = EditorPage(self)
        self.page.wait_frames()
        return self.page

    def console_errors(self):
        """What the page logged as an error: exceptions, console.error, failed loads."""
        errors = []
        for method, params in list(self.devtools.events):
            if method == "Runtime.exceptionThrown":
                errors.append(params["exceptionDetails"].get("text", "exception"))
            elif method == "Runtime.consoleAPICalled" and params["type"] in ("error", "assert"):
                errors.append(" ".join(str(a.get("value", a.get("description")))
                                       for a in params["args"]))
            elif method == "Log.entryAdded" and params["entry"]["level"] == "error":
                errors.append(params["entry"]["text"])
        return errors

    # The input of the Display interface, at the cursor's last position on the page.
    def key_down(self, key):
        self._key("keyDown", key)

    def key_up(self, key):
        self._key("keyUp", key)

    def _key(self, kind, key):
        code, name, location = _KEYS[key]
        text = key[-1] if key[-1].isdigit() or len(key) == 1 else ""
        self.send("Input.dispatchKeyEvent", type=kind if text or kind == "keyUp" else "rawKeyDown",
                  windowsVirtualKeyCode=code, nativeVirtualKeyCode=code, code=name,
                  key=text or name, text=text if kind == "keyDown" else "", location=location)

    def button_down(self, button=1):
        self.page.mouse("mousePressed", button)

    def button_up(self, button=1):
        self.page.mouse("mouseReleased", button)

    def environment(self):
        return dict(os.environ)

    def find_window(self, process=None, timeout=30.0):
        return self.page or self.open_page(timeout)

    def close(self):
        try:
            if getattr(self, "devtools", None):
                self.devtools.close()
        finally:
            self.server.shutdown()
            self.server.server_close()


class EditorPage(Window):
    """The running page: both the Window of the display and the editor the scenarios drive."""

    def __init__(self, display):
        self.display = display
        self.at = (0, 0)
        rect = display.evaluate("(r => [r.left + window.scrollX, r.top + window.scrollY])("
                                "document.getElementById('canvas').getBoundingClientRect())")
        self.origin = tuple(rect)

    # --- Window
    def move_to(self, x, y):
        self.at = (x, y)
        self.mouse("mouseMoved")

    def mouse(self, kind, button=1):
        names = {1: "left", 2: "middle", 3: "right"}
        self.display.send("Input.dispatchMouseEvent", type=kind, x=self.origin[0] + self.at[0],
                          y=self.origin[1] + self.at[1], button=names[button] if kind != "mouseMoved"
                          else "none", clickCount=1 if kind != "mouseMoved" else 0)

    def grab(self):
        shot = self.display.send("Page.captureScreenshot", format="png", clip={
            "x": self.origin[0], "y": self.origin[1], "width": WINDOW_WIDTH,
            "height": WINDOW_HEIGHT, "scale": 1})
        return Picture.from_png(base64.b64decode(shot["data"]))

    def size(self):
        return tuple(self.display.evaluate("[canvas.width, canvas.height]"))

    def title(self):
        return self.display.evaluate("document.title")

    def request_close(self):
        raise unittest.SkipTest("a page is not closed from inside")

    def frames(self):
        return _FrameCount(self)

    # --- the editor
    def probe(self, name):
        return self.display.evaluate(f"harness.{name}")

    def find_window(self, timeout=30.0):
        return self

    def tap_key(self, key):
        with self.frames() as frames:
            self.display.key_down(key)
            frames.wait(2)
        self.display.key_up(key)
        self.wait_frames()

    def click(self, x, y):
        self.move_to(x, y)
        with self.hold_button():
            self.wait_frames()

    def hold_button(self):
        return _HeldButton(self)

    def wait_frames(self, count=3):
        with self.frames() as frames:
            frames.wait(count)

    def last_report(self):
        text = self.display.evaluate("document.getElementById('console').textContent")
        lines = text.split("\n")
        return lines[:-1] if len(lines) == 7 else None

    def report_count(self):
        return self.probe("reports")

    def wait_for_report(self, expected, timeout=20.0):
        wait_for(lambda: self.last_report() == expected or None, timeout,
                 f"the report {expected}, last {self.last_report()}")

    def close_and_wait(self):
        raise unittest.SkipTest("a page is not closed from inside; it runs until it is left")

    def stderr_text(self):
        return "\n".join(self.display.console_errors())

    def stop(self):
        pass


class _FrameCount:
    def __init__(self, page):
        self.page = page

    def __enter__(self):
        self.start = self.page.probe("frames")
        return self

    def __exit__(self, *exc):
        return False

    def wait(self, count, timeout=20.0):
        wait_for(lambda: self.page.probe("frames") >= self.start + count or None, timeout,
                 f"{count} frames of the page")


class _HeldButton:
    def __init__(self, page):
        self.page = page

    def __enter__(self):
        self.page.display.button_down(1)
        self.page.wait_frames(2)
        return self

    def __exit__(self, *exc):
        self.page.display.button_up(1)
        self.page.wait_frames(2)
        return False
