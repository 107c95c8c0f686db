# The browser display: the editor's page (build/web) served on 127.0.0.1 from a thread of this
# process and shown in Debian's headless chromium, driven over the DevTools protocol on a pipe
# (--remote-debugging-pipe: JSON messages ending in a NUL byte, to the browser's fd 3 and from its
# fd 4). Keys and the mouse are trusted DOM input events (Input.dispatch*Event), pictures come
# from the composited page, the report from the page's console panel, and whatever the page logs
# as an error is kept for the test.
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

from harness.common import (CONDITION_TIMEOUT, STARTUP_TIMEOUT, EditorExited, HarnessError,
                            die_with_parent, wait_for)
from harness.display import Display, Window
from harness.editor import Editor
from harness.picture import Picture
from harness.report import WINDOW_HEIGHT, WINDOW_WIDTH

CHROMIUM_FLAGS = (
    "--headless", "--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--no-first-run", "--disable-quic", "--window-size=1400,800", "--remote-debugging-pipe")

# X keysym names as the DOM key events of a real keyboard: keyCode, code, location. Emscripten's
# GLFW maps the keyCode to a GLFW key, so "3" is GLFW_KEY_3 and "KP_3" GLFW_KEY_KP_3.
KEYS = {"Escape": (27, "Escape", 0), "Shift_L": (16, "ShiftLeft", 1)}
KEYS.update({str(d): (48 + d, f"Digit{d}", 0) for d in range(10)})
KEYS.update({f"KP_{d}": (96 + d, f"Numpad{d}", 3) for d in range(10)})
KEYS.update({c: (ord(c.upper()), f"Key{c.upper()}", 0) for c in "abcdefghijklmnopqrstuvwxyz"})

# Installed in the page once it has its Module: counts the browser's animation frames, at one of
# which the program runs each of its frames, and the program's reports (each begins with the
# panel's clear). At every animation frame it checks what a person sees in the panel then:
# nothing before the first report, afterwards one six-line report and no control character.
# Anything else is kept in harness.panelFaults.
PAGE_PROBE = r"""(() => {
  const panel = document.getElementById("console");
  const harness = window.harness = {frames: 0, reports: 0, panelFaults: []};
  const clear = Module.clearConsole;
  Module.clearConsole = () => { harness.reports++; clear(); };
  const frame = () => {
    harness.frames++;
    const text = panel.textContent, lines = text.split("\n");
    if (text !== "" && (lines.length !== 7 || lines[6] !== "" ||
                        /[\u0000-\u0009\u000b-\u001f\u007f-\u009f]/.test(text))) {
      if (harness.panelFaults.length < 10) harness.panelFaults.push(text);
    }
    requestAnimationFrame(frame);
  };
  requestAnimationFrame(frame);
})()"""


class DevTools:
    """Chromium with a DevTools connection on a pipe. call() sends a command and returns its
    result; events are collected in order."""

    def __init__(self, extra_flags=()):
        self.profile = tempfile.mkdtemp(prefix="triangle-chromium-")
        to_browser, self.writer = os.pipe()
        self.reader, from_browser = os.pipe()

        def child():
            die_with_parent()
            os.dup2(to_browser, 3)
            os.dup2(from_browser, 4)

        self.process = subprocess.Popen(
            ["chromium", *CHROMIUM_FLAGS, *extra_flags, f"--user-data-dir={self.profile}",
             "about:blank"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, pass_fds=(3, 4), preexec_fn=child, start_new_session=True)
        os.close(to_browser)
        os.close(from_browser)
        self.last_id = 0
        self.answers = {}
        self.events = []
        self.changed = threading.Condition()
        self.thread = threading.Thread(target=self._receive, daemon=True)
        self.thread.start()

    def _receive(self):
        pending = b""
        while chunk := os.read(self.reader, 1 << 16):
            *messages, pending = (pending + chunk).split(b"\0")
            with self.changed:
                for message in map(json.loads, messages):
                    if "id" in message:
                        self.answers[message["id"]] = message
                    else:
                        self.events.append((message["method"], message.get("params", {})))
                self.changed.notify_all()
        with self.changed:
            self.answers = None  # the browser has gone
            self.changed.notify_all()

    def call(self, method, session=None, timeout=CONDITION_TIMEOUT, **params):
        with self.changed:
            self.last_id += 1
            number = self.last_id
        message = {"id": number, "method": method, "params": params}
        if session:
            message["sessionId"] = session
        try:
            os.write(self.writer, json.dumps(message).encode() + b"\0")
        except BrokenPipeError:
            raise EditorExited(f"chromium ended before {method}") from None
        with self.changed:
            if not self.changed.wait_for(lambda: self.answers is None or number in self.answers,
                                         timeout):
                raise HarnessError(f"no answer from chromium to {method} in {timeout} s")
            if self.answers is None:
                raise EditorExited(f"chromium ended before answering {method}")
            answer = self.answers.pop(number)
        if "error" in answer:
            raise HarnessError(f"{method}: {answer['error']}")
        return answer["result"]

    def close(self):
        try:
            if self.process.poll() is None:
                try:
                    self.call("Browser.close", timeout=5)
                    self.process.wait(10)
                except (AssertionError, subprocess.TimeoutExpired):
                    os.killpg(self.process.pid, 9)
                    self.process.wait()
        finally:
            os.close(self.writer)
            self.thread.join(5)
            os.close(self.reader)
            shutil.rmtree(self.profile, ignore_errors=True)


class QuietFiles(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                      ".wasm": "application/wasm", ".js": "text/javascript"}

    def log_message(self, *args):
        pass


class BrowserDisplay(Display):
    """A headless Chromium page on the editor's page from `folder`, served at self.url."""

    def __init__(self, folder, extra_flags=()):
        self.server = http.server.ThreadingHTTPServer(
            ("127.0.0.1", 0), functools.partial(QuietFiles, directory=folder))
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.url = "http://127.0.0.1:%d/" % self.server.server_address[1]
        self.devtools = self.window = None
        try:
            self.devtools = DevTools(extra_flags)
            target = next(t["targetId"] for t in self.devtools.call("Target.getTargets")[
                "targetInfos"] if t["type"] == "page")
            self.session = self.devtools.call("Target.attachToTarget", targetId=target,
                                              flatten=True)["sessionId"]
            for domain in ("Page", "Runtime", "Log"):
                self.send(f"{domain}.enable")
            self.send("Page.navigate", url=self.url)
        except BaseException:
            self.close()
            raise

    def send(self, method, **params):
        return self.devtools.call(method, self.session, **params)

    def evaluate(self, expression):
        answer = self.send("Runtime.evaluate", expression=expression, returnByValue=True)
        if "exceptionDetails" in answer:
            raise HarnessError(f"{expression!r} threw {answer['exceptionDetails']}")
        return answer["result"].get("value")

    def console_errors(self):
        """Uncaught exceptions, console.error and console.assert calls, and failed loads."""
        errors = []
        for method, params in list(self.devtools.events):
            if method == "Runtime.exceptionThrown":
                errors.append(params["exceptionDetails"]["text"])
            elif method == "Runtime.consoleAPICalled" and params["type"] in ("error", "assert"):
                errors.append(" ".join(str(a.get("value", a.get("description")))
                                       for a in params["args"]))
            elif method == "Log.entryAdded" and params["entry"]["level"] == "error":
                errors.append(params["entry"]["text"])
        return errors

    def environment(self):
        return dict(os.environ)

    def find_window(self, process=None, timeout=STARTUP_TIMEOUT):
        """The page once its program has written a report."""
        if self.window is None:
            wait_for(lambda: self.evaluate("typeof Module == 'object'"), timeout,
                     what="the page's script")
            self.evaluate(PAGE_PROBE)
            wait_for(lambda: self.evaluate("harness.reports > 0"), timeout,
                     what="the page's first report")
            self.window = PageWindow(self)
        return self.window

    def key_down(self, key):
        self._key("keyDown", key)

    def key_up(self, key):
        self._key("keyUp", key)

    def _key(self, kind, key):
        code, name, location = KEYS[key]
        text = key[-1] if key[-1].isdigit() or len(key) == 1 else ""
        self.send("Input.dispatchKeyEvent", type=kind, windowsVirtualKeyCode=code,
                  code=name, key=text or name.removesuffix("Left"), location=location,
                  text=text if kind == "keyDown" else "")

    def button_down(self, button=1):
        self.window.mouse("mousePressed", button)

    def button_up(self, button=1):
        self.window.mouse("mouseReleased", button)

    def close(self):
        try:
            if self.devtools is not None:
                self.devtools.close()
        finally:
            self.server.shutdown()
            self.server.server_close()


class PageWindow(Window):
    """The page's canvas, whose top left is the window's client area origin."""

    def __init__(self, display):
        self.display = display
        self.origin = display.evaluate(
            "(r => [r.left + scrollX, r.top + scrollY])(canvas.getBoundingClientRect())")
        self.at = (0, 0)

    def mouse(self, kind, button=1):
        self.display.send("Input.dispatchMouseEvent", type=kind, x=self.origin[0] + self.at[0],
                          y=self.origin[1] + self.at[1], clickCount=int(kind != "mouseMoved"),
                          button={1: "left", 2: "middle", 3: "right"}[button]
                          if kind != "mouseMoved" else "none")

    def move_to(self, x, y):
        self.at = (x, y)
        self.mouse("mouseMoved")

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
        raise unittest.SkipTest("a page is never closed from inside")

    def frames(self):
        return FrameCounter(self.display)


class FrameCounter:
    """The page's animation frames from now on, as the page probe counts them; the program
    draws one frame at each."""

    def __init__(self, display):
        self.display = display
        self.start = display.evaluate("harness.frames")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        return False

    def wait(self, frames, timeout=CONDITION_TIMEOUT):
        wait_for(lambda: self.display.evaluate("harness.frames") >= self.start + frames,
                 timeout, what=f"{frames} frames of the page")


class PageEditor(Editor):
    """The editor running in the page: the harness's Editor without a process of its own, its
    report read from the page's console panel."""

    def __init__(self, display):
        super().__init__(display, None)

    def last_report(self):
        lines = self.display.evaluate("document.getElementById('console').textContent")
        lines = lines.split("\n")
        return lines[:6] if len(lines) == 7 else None

    def report_count(self):
        return self.display.evaluate("harness.reports")

    def close_and_wait(self, timeout=None):
        raise unittest.SkipTest("a page is never closed from inside; its exit status is moot")

    def stderr_text(self):
        return "\n".join(self.display.console_errors())
