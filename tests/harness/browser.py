# The browser display: the editor's page (build/web) served on 127.0.0.1 from a thread of this
# process and shown in one of three engines with trusted input: headless Chromium, and Firefox
# and WebKitGTK's MiniBrowser on a private Xvfb (neither has WebGL without a display). Chromium
# and Firefox are driven by puppeteer-core through a small Node process (tests/web/page_driver.js),
# WebKit by its W3C WebDriver server, WebKitWebDriver, over plain HTTP. Pictures come from the
# rendered page, the report from the page's console panel.
import base64
import functools
import http.server
import json
import os
import shutil
import socket
import subprocess
import threading
import unittest
import urllib.error
import urllib.request

from harness.common import (CONDITION_TIMEOUT, STARTUP_TIMEOUT, EditorExited, HarnessError,
                            die_with_parent, stop_process, wait_for)
from harness.display import Display, Window
from harness.editor import Editor
from harness.picture import Picture
from harness.report import WINDOW_HEIGHT, WINDOW_WIDTH
from harness.x11 import XServer

ENGINES = ("chromium", "firefox", "webkit")
TESTS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PAGE_DRIVER = os.path.join(TESTS, "web", "page_driver.js")
# Where tests/web/install-driver puts the locked puppeteer-core.
DRIVER_MODULES = os.environ.get("WEB_DRIVER_MODULES") or os.path.join(
    os.path.dirname(TESTS), "build", "deps", "web-driver", "node_modules")

CHROMIUM_FLAGS = (
    "--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--no-first-run", "--disable-quic", "--window-size=1400,800")
MINIBROWSER = "/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser"

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
  return true;
})()"""


class Puppeteer:
    """Chromium or Firefox under puppeteer-core, one JSON line per command."""

    def __init__(self, engine, env, extra_args=(), touch=False):
        if not os.path.isdir(os.path.join(DRIVER_MODULES, "puppeteer-core")):
            raise HarnessError(f"no puppeteer-core in {DRIVER_MODULES}: tests/web/install-driver "
                               "installs it")
        self.process = subprocess.Popen(
            ["node", PAGE_DRIVER], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            env={**env, "NODE_PATH": DRIVER_MODULES}, preexec_fn=die_with_parent,
            start_new_session=True, text=True)
        chromium = engine == "chromium"
        self.call(timeout=STARTUP_TIMEOUT, **{
            "browser": "chrome" if chromium else "firefox",
            "executablePath": shutil.which("chromium" if chromium else "firefox-esr"),
            "args": [*CHROMIUM_FLAGS, *extra_args] if chromium else list(extra_args),
            "headless": chromium, "env": env, "touch": touch})

    def call(self, timeout=CONDITION_TIMEOUT, **command):
        try:
            self.process.stdin.write(json.dumps(command) + "\n")
            self.process.stdin.flush()
        except BrokenPipeError:
            raise EditorExited(f"the page driver ended before {command}") from None
        line = self._read_line(timeout, command)
        answer = json.loads(line)
        if "error" in answer:
            raise HarnessError(f"{command.get('do', 'launch')}: {answer['error']}")
        return answer["value"]

    def _read_line(self, timeout, command):
        result = []
        reader = threading.Thread(target=lambda: result.append(self.process.stdout.readline()),
                                  daemon=True)
        reader.start()
        reader.join(timeout)
        if not result:
            raise HarnessError(f"no answer from the page driver to {command} in {timeout} s")
        if not result[0]:
            raise EditorExited(f"the page driver ended before answering {command}")
        return result[0]

    def goto(self, url):
        self.call(do="goto", url=url, timeout=STARTUP_TIMEOUT)

    def evaluate(self, expression):
        return self.call(do="evaluate", expression=expression)

    def key(self, kind, key):
        if key.startswith("KP_"):
            key = "Numpad" + key[3:]
        self.call(do="key", kind=kind, key={"Shift_L": "ShiftLeft"}.get(key, key))

    def mouse(self, kind, x, y):
        self.call(do="mouse", kind=kind, x=x, y=y)

    def touch(self, kind, x, y):
        self.call(do="touch", kind=kind, x=x, y=y)

    def screenshot(self, x, y, width, height):
        return base64.b64decode(self.call(do="screenshot", clip={
            "x": x, "y": y, "width": width, "height": height}))

    def errors(self):
        return self.call(do="errors")

    def close(self):
        try:
            if self.process.poll() is None:
                self.call(do="close", timeout=10)
                self.process.stdin.close()
                self.process.wait(10)
        except (AssertionError, subprocess.TimeoutExpired, OSError):
            pass
        finally:
            stop_process(self.process, group=True)
            self.process.stdout.close()


# W3C WebDriver's codes for the keys that are not characters.
WEBDRIVER_KEYS = {"Escape": "\ue00c", "Shift_L": "\ue008"}
WEBDRIVER_KEYS.update({f"KP_{d}": chr(0xE01A + d) for d in range(10)})


class WebKit:
    """MiniBrowser under WebKitWebDriver, in one W3C WebDriver session. Errors are what the page
    logs or throws after the probe is in place: classic WebDriver reads no console."""

    ERROR_PROBE = r"""(() => {
      const errors = window.pageErrors = [];
      const error = console.error.bind(console);
      console.error = (...args) => { errors.push(args.join(" ")); error(...args); };
      addEventListener("error", (event) => errors.push(String(event.message)));
      return true;
    })()"""

    def __init__(self, env, extra_args=(), touch=False):
        if touch:
            raise unittest.SkipTest("WebKitWebDriver has no touch input")
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        self.base = f"http://127.0.0.1:{port}"
        self.process = subprocess.Popen(
            ["WebKitWebDriver", f"--port={port}", "--host=127.0.0.1"], env=env,
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=die_with_parent, start_new_session=True)
        self.session = None
        try:
            wait_for(self._ready, STARTUP_TIMEOUT, what="WebKitWebDriver")
            self.session = "/session/" + self.call("POST", "/session", {"capabilities": {
                "alwaysMatch": {"webkitgtk:browserOptions": {
                    "binary": MINIBROWSER, "args": ["--automation", *extra_args]}}}},
                session=False)["sessionId"]
            self.call("POST", "/window/rect", {"width": 1400, "height": 800})
        except BaseException:
            self.close()
            raise

    def _ready(self):
        try:
            return self.call("GET", "/status", session=False)["ready"]
        except (OSError, HarnessError):
            return False

    def call(self, method, path, body=None, session=True, timeout=CONDITION_TIMEOUT):
        request = urllib.request.Request(
            self.base + (self.session if session else "") + path, method=method,
            data=None if body is None else json.dumps(body).encode(),
            headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(request, timeout=timeout) as response:
                return json.load(response)["value"]
        except urllib.error.HTTPError as error:
            raise HarnessError(f"{method} {path}: {error.read().decode(errors='replace')}")

    def goto(self, url):
        self.call("POST", "/url", {"url": url}, timeout=STARTUP_TIMEOUT)

    def evaluate(self, expression):
        return self.call("POST", "/execute/sync", {"script": f"return ({expression});",
                                                   "args": []})

    def actions(self, kind, actions):
        source = {"type": kind, "id": kind, "actions": actions}
        if kind == "pointer":
            source["parameters"] = {"pointerType": "mouse"}
        self.call("POST", "/actions", {"actions": [source]})

    def key(self, kind, key):
        self.actions("key", [{"type": "key" + kind.title(),
                              "value": WEBDRIVER_KEYS.get(key, key)}])

    def mouse(self, kind, x, y):
        move = {"type": "pointerMove", "x": round(x), "y": round(y), "origin": "viewport",
                "duration": 0}
        self.actions("pointer", [move] if kind == "move" else
                     [move, {"type": "pointer" + kind.title(), "button": 0}])

    def errors(self):
        return self.evaluate("window.pageErrors || []")

    def close(self):
        try:
            if self.session is not None:
                self.call("DELETE", "", timeout=10)
        except (OSError, HarnessError):
            pass
        finally:
            stop_process(self.process, group=True)


class QuietFiles(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                      ".wasm": "application/wasm", ".js": "text/javascript"}

    def log_message(self, *args):
        pass


class BrowserDisplay(Display):
    """The editor's page from `folder`, served at self.url, in `engine` (one of ENGINES).
    `extra_args` go to the browser; with `touch` the page gets a touch screen (Chromium)."""

    def __init__(self, folder, engine="chromium", extra_args=(), touch=False):
        self.engine = engine
        self.server = http.server.ThreadingHTTPServer(
            ("127.0.0.1", 0), functools.partial(QuietFiles, directory=folder))
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.url = "http://127.0.0.1:%d/" % self.server.server_address[1]
        self.x_server = self.browser = self.window = None
        try:
            env = dict(os.environ)
            if engine != "chromium":
                self.x_server = XServer()
                env = self.x_server.environment()
            if engine == "webkit":
                self.browser = WebKit(env, extra_args, touch)
            else:
                self.browser = Puppeteer(engine, env, extra_args, touch)
            self.open()
        except BaseException:
            self.close()
            raise

    def open(self, page=""):
        """Loads `page` of the served folder, by default the editor's, afresh."""
        self.window = None
        self.browser.goto(self.url + page)

    def evaluate(self, expression):
        return self.browser.evaluate(expression)

    def console_errors(self):
        """Uncaught exceptions, console.error and console.assert calls, and failed loads."""
        return self.browser.errors()

    def environment(self):
        return dict(os.environ)

    def find_window(self, process, timeout):
        """The page once its program has written a report."""
        if self.window is None:
            wait_for(lambda: self.evaluate("typeof Module == 'object'"), timeout,
                     what="the page's script")
            self.evaluate(PAGE_PROBE)
            if isinstance(self.browser, WebKit):
                self.evaluate(WebKit.ERROR_PROBE)
            wait_for(lambda: self.evaluate("harness.reports > 0"), timeout,
                     what="the page's first report")
            self.window = PageWindow(self)
        return self.window

    def key_down(self, key):
        self.browser.key("down", key)

    def key_up(self, key):
        self.browser.key("up", key)

    def button_down(self, button=1):
        self._button("down", button)

    def button_up(self, button=1):
        self._button("up", button)

    def _button(self, kind, button):
        if button != 1:
            raise HarnessError("the page is driven with the left button only")
        self.browser.mouse(kind, *self.window.page_point(*self.window.at))

    def touch(self, kind, x, y):
        """A finger on the page at (x, y) in page pixels: kind "start", "move" or "end", or
        "tap": down and up at once."""
        self.browser.touch(kind, x, y)

    def close(self):
        try:
            if self.browser is not None:
                self.browser.close()
        finally:
            if self.x_server is not None:
                self.x_server.close()
            self.server.shutdown()
            self.server.server_close()


class PageWindow(Window):
    """The page's canvas, whose top left is the window's client area origin."""

    def __init__(self, display):
        self.display = display
        self.origin = display.evaluate(
            "(r => [r.left + scrollX, r.top + scrollY])(canvas.getBoundingClientRect())")
        self.at = (0, 0)

    def page_point(self, x, y):
        return self.origin[0] + x, self.origin[1] + y

    def move_to(self, x, y):
        self.at = (x, y)
        self.display.browser.mouse("move", *self.page_point(x, y))

    def grab(self):
        if isinstance(self.display.browser, WebKit):
            # WebKit's WebDriver screenshots miss most of a WebGL canvas; the X server has what
            # a person sees. The browser's bars are above the page, whose top left is then at
            # the window's position plus the height and width of what is not the page.
            x, y, outer_width, outer_height, width, height = self.display.evaluate(
                "[screenX, screenY, outerWidth, outerHeight, innerWidth, innerHeight]")
            left = x + outer_width - width + self.origin[0]
            top = y + outer_height - height + self.origin[1]
            return self.display.x_server.grab(left, top, WINDOW_WIDTH, WINDOW_HEIGHT)
        return Picture.from_bytes(self.display.browser.screenshot(
            *self.origin, WINDOW_WIDTH, WINDOW_HEIGHT))

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


class PanelReports:
    """The reports of the editor in the page, as its console panel shows them."""

    def __init__(self, display):
        self.display = display

    def last(self):
        lines = self.display.evaluate("document.getElementById('console').textContent")
        lines = lines.split("\n")
        return lines[:6] if len(lines) == 7 else None

    def count(self):
        return self.display.evaluate("harness.reports")


def page_editor(display):
    """The editor running in the page: no process of its own, its report in the panel."""
    return Editor(display, reports=PanelReports(display))
