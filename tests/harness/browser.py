# The browser display: the editor's page (build/web), served on 127.0.0.1 by a thread of this
# process, in headless Chromium, or Firefox or WebKitGTK's MiniBrowser on a private Xvfb (neither
# has WebGL without one), with trusted input: puppeteer-core in a Node process drives Chromium and
# Firefox (tests/web/page_driver.js), Selenium and WebKitWebDriver drive WebKit.
import base64
import contextlib
import functools
import http.server
import json
import os
import shutil
import subprocess
import threading
import unittest
import warnings

from selenium.common.exceptions import WebDriverException
from selenium.webdriver import ActionChains, Keys, Remote, WebKitGTKOptions
from selenium.webdriver.common.utils import free_port, is_connectable

from harness.common import (CONDITION_TIMEOUT, STARTUP_TIMEOUT, Closing, EditorExited,
                            HarnessError, die_with_parent, stop_process, wait_for)
from harness.display import Display, Window
from harness.editor import Editor
from harness.picture import Picture
from harness.report import WINDOW_HEIGHT, WINDOW_WIDTH
from harness.x11 import XServer

ENGINES = ("chromium", "firefox", "webkit")
TESTS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PAGE_DRIVER = os.path.join(TESTS, "web", "page_driver.js")
# Where tests/web/install-driver puts the locked puppeteer-core.
DRIVER_MODULES = os.path.join(os.environ.get("WEB_DRIVER_DIR") or os.path.join(
    os.path.dirname(TESTS), "build", "deps", "web-driver"), "node_modules")
# The browser's window (and page viewport) in CSS px: room for the picture and the panel.
BROWSER_WINDOW = {"width": 1400, "height": 800}

# Beyond what puppeteer-core passes anyway (no first run, no sync, no background networking).
CHROMIUM_FLAGS = ("--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
                  "--disable-component-update", "--disable-quic",
                  "--window-size={width},{height}".format(**BROWSER_WINDOW))
MINIBROWSER = "/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser"

# Installed once the page has its Module: counts the animation frames (the program runs one frame
# at each) and the reports (each begins with the panel's clear), and checks at every frame what a
# person sees in the panel then: nothing before the first report, afterwards one six-line report
# and no control character (the page's own CONTROL). Anything else goes to harness.panelFaults.
PAGE_PROBE = r"""(() => {
  const panel = document.getElementById("console");
  const harness = window.harness = {frames: 0, reports: 0, panelFaults: []};
  const clear = Module.clearConsole;
  Module.clearConsole = () => { harness.reports++; clear(); };
  requestAnimationFrame(function frame() {
    harness.frames++;
    const text = panel.textContent, lines = text.split("\n");
    if (text !== "" && harness.panelFaults.length < 10 && (lines.length !== 7 ||
        lines[6] !== "" || text.search(CONTROL) !== -1)) {
      harness.panelFaults.push(text);
    }
    requestAnimationFrame(frame);
  });
})()"""


class Puppeteer:
    """Chromium or Firefox under puppeteer-core, one JSON line per command."""

    def __init__(self, engine, x_server, extra_args=(), viewport=None):
        if not os.path.isdir(os.path.join(DRIVER_MODULES, "puppeteer-core")):
            raise HarnessError(f"no puppeteer-core in {DRIVER_MODULES} (tests/web/install-driver)")
        env = x_server.environment() if x_server else dict(os.environ)
        self.process = subprocess.Popen(
            ["node", PAGE_DRIVER], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            env={**env, "NODE_PATH": DRIVER_MODULES}, preexec_fn=die_with_parent,
            start_new_session=True, text=True)
        chromium = engine == "chromium"
        try:
            self.call(timeout=STARTUP_TIMEOUT, **{
                "browser": "chrome" if chromium else "firefox",
                "executablePath": shutil.which("chromium" if chromium else "firefox-esr"),
                "args": [*CHROMIUM_FLAGS, *extra_args] if chromium else list(extra_args),
                "headless": chromium, "env": env, "viewport": viewport})
        except BaseException:
            self.close()
            raise

    def call(self, timeout=CONDITION_TIMEOUT, **command):
        try:
            self.process.stdin.write(json.dumps(command) + "\n")
            self.process.stdin.flush()
        except BrokenPipeError:
            raise EditorExited(f"the page driver ended before {command}") from None
        line = []  # read by a thread of its own, so that a driver that hangs cannot stall us
        reader = threading.Thread(target=lambda: line.append(self.process.stdout.readline()),
                                  daemon=True)
        reader.start()
        reader.join(timeout)
        if not line:
            raise HarnessError(f"no answer from the page driver to {command} in {timeout} s")
        if not line[0]:
            raise EditorExited(f"the page driver ended before answering {command}")
        answer = json.loads(line[0])
        if "error" in answer:
            raise HarnessError(f"{command.get('do', 'launch')}: {answer['error']}")
        return answer["value"]

    def goto(self, url):
        self.call(do="goto", url=url, timeout=STARTUP_TIMEOUT)

    def evaluate(self, expression):
        return self.call(do="evaluate", expression=expression)

    def key(self, kind, key):
        self.call(do="key", kind=kind, key="Numpad" + key[3:] if key.startswith("KP_") else key)

    def move(self, x, y):
        self.call(do="move", x=x, y=y)

    def button(self, kind):
        self.call(do="button", kind=kind)

    def touch(self, kind, x, y):
        self.call(do="touch", kind=kind, x=x, y=y)

    def set_viewport(self, viewport):
        self.call(do="viewport", viewport=viewport)

    def cdp(self, method, **params):
        """A DevTools protocol command's result (Chromium only)."""
        return self.call(do="cdp", method=method, params=params)

    def grab(self, x, y, width, height):
        return Picture.from_bytes(base64.b64decode(self.call(do="screenshot", clip={
            "x": x, "y": y, "width": width, "height": height})))

    def errors(self):
        return self.call(do="errors")

    def close(self):
        with contextlib.suppress(OSError, subprocess.TimeoutExpired):
            self.process.stdin.close()  # the driver then closes the browser and ends
            self.process.wait(10)
        stop_process(self.process, group=True)
        self.process.stdout.close()


class WebKit:
    """MiniBrowser under WebKitWebDriver, through Selenium. Classic WebDriver reads no console:
    the errors are those that the page logs or throws once ERROR_PROBE is in, after each load."""

    ERROR_PROBE = r"""
      const errors = window.pageErrors = [];
      const error = console.error.bind(console);
      console.error = (...args) => { errors.push(args.join(" ")); error(...args); };
      addEventListener("error", (event) => errors.push(String(event.message)));"""
    KEYS = {f"KP_{d}": getattr(Keys, f"NUMPAD{d}") for d in range(10)}

    def __init__(self, x_server, extra_args=(), scale=1):
        self.x_server = x_server
        port = free_port()
        self.process = subprocess.Popen(
            ["WebKitWebDriver", f"--port={port}", "--host=127.0.0.1"],
            env=dict(x_server.environment(), GDK_SCALE=str(scale)),  # device px a CSS px
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=die_with_parent, start_new_session=True)
        self.driver = None
        try:
            wait_for(lambda: is_connectable(port, "127.0.0.1"), STARTUP_TIMEOUT,
                     what="WebKitWebDriver")
            options = WebKitGTKOptions()
            options.binary_location = MINIBROWSER
            for argument in ("--automation", *extra_args):
                options.add_argument(argument)
            with warnings.catch_warnings():  # Selenium 4.8's own defaults use a deprecated name
                warnings.simplefilter("ignore", DeprecationWarning)
                self.driver = Remote(command_executor=f"http://127.0.0.1:{port}", options=options)
            self.driver.set_page_load_timeout(STARTUP_TIMEOUT)
            self.driver.set_window_size(**BROWSER_WINDOW)
        except BaseException:
            self.close()
            raise

    def goto(self, url):
        self.driver.get(url)
        self.driver.execute_script(self.ERROR_PROBE)

    def evaluate(self, expression):
        try:
            return self.driver.execute_script(f"return ({expression});")
        except WebDriverException as error:  # as with Puppeteer: a wait_for tries again
            raise HarnessError(f"evaluate: {error.msg}") from None

    def key(self, kind, key):
        getattr(ActionChains(self.driver), "key_" + kind)(self.KEYS.get(key, key)).perform()

    def move(self, x, y):
        chain = ActionChains(self.driver, duration=0)
        chain.w3c_actions.pointer_action.move_to_location(round(x), round(y))
        chain.perform()

    def button(self, kind):
        chain = ActionChains(self.driver)
        (chain.click_and_hold if kind == "down" else chain.release)().perform()

    def grab(self, x, y, width, height):
        # WebKit's WebDriver screenshots miss most of a WebGL canvas; the X server has what a
        # person sees. The browser's bars are above the page, whose top left is then at the
        # window's position plus the height and width of what is not the page.
        left, top, ratio = self.evaluate("[screenX + outerWidth - innerWidth, "
                                         "screenY + outerHeight - innerHeight, devicePixelRatio]")
        return self.x_server.grab(*(round(n * ratio) for n in (left + x, top + y, width, height)))

    def errors(self):
        return self.evaluate("window.pageErrors || []")

    def close(self):
        with contextlib.suppress(Exception):  # it is stopped all the same
            if self.driver is not None:
                self.driver.quit()
        stop_process(self.process, group=True)


class QuietFiles(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


class BrowserDisplay(Display):
    """The editor's page from `folder`, served at self.url, in `engine` (one of ENGINES).
    `extra_args` go to the browser; `viewport` is Puppeteer's (size, deviceScaleFactor,
    isMobile, hasTouch: a phone), the browser's window of 1400 x 800 by default."""

    def __init__(self, folder, engine="chromium", extra_args=(), viewport=None):
        self.folder, self.server = folder, None
        self.serve()
        self.x_server = self.browser = self.window = None
        viewport = {**BROWSER_WINDOW, **(viewport or {})}
        self.device_scale = viewport.get("deviceScaleFactor", 1)
        try:
            if engine != "chromium":  # room for the browser's window at its pixel ratio
                self.x_server = XServer(screen=f"{round(1440 * self.device_scale)}x"
                                               f"{round(900 * self.device_scale)}x24")
            self.browser = (WebKit(self.x_server, extra_args, self.device_scale)
                            if engine == "webkit" else
                            Puppeteer(engine, self.x_server, extra_args, viewport))
            self.open()
        except BaseException:
            self.close()
            raise

    def serve(self):
        """Serves the folder on 127.0.0.1, on the port it had before if it was served."""
        port = self.server.server_address[1] if self.server else 0
        self.server = http.server.ThreadingHTTPServer(
            ("127.0.0.1", port), functools.partial(QuietFiles, directory=self.folder))
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.url = "http://127.0.0.1:%d/" % self.server.server_address[1]

    def stop_serving(self):
        self.server.shutdown()
        self.server.server_close()

    def set_viewport(self, viewport):
        """A new viewport (see above), as when a phone is turned or a window changes screens."""
        self.browser.set_viewport(viewport)
        self.device_scale = viewport.get("deviceScaleFactor", 1)
        self.evaluate("new Promise((laidOut) => requestAnimationFrame(() => "
                      "requestAnimationFrame(laidOut)))")
        if self.window is not None:
            self.window.locate()

    def open(self, page=""):
        """Loads `page` of the served folder, by default the editor's, afresh."""
        self.window = None
        self.browser.goto(self.url + page)

    def evaluate(self, expression):
        return self.browser.evaluate(expression)

    def console_errors(self):
        """Uncaught exceptions, console.error and console.assert calls, and failed loads."""
        return self.browser.errors()

    def find_window(self, process, timeout):
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
        self.browser.key("down", key)

    def key_up(self, key):
        self.browser.key("up", key)

    def button_down(self, button=1):  # a page is driven with the left button only
        self.browser.button("down")

    def button_up(self, button=1):
        self.browser.button("up")

    def touch(self, kind, x, y):
        """A finger at window position (x, y): "start", "move", "end" or "tap" (down and up)."""
        self.browser.touch(kind, *self.window.page_point(x, y))

    def close(self):
        try:
            if self.browser is not None:
                self.browser.close()
        finally:
            if self.x_server is not None:
                self.x_server.close()
            self.stop_serving()


class PageWindow(Window):
    """The page's canvas, whose top left is the window's client area origin, shown `shown` CSS
    pixels a window unit; it sets the display's scale, physical pixels a window unit."""

    def __init__(self, display):
        self.display = display
        self.locate()

    def locate(self):
        *self.origin, self.shown = self.display.evaluate(
            "(r => [r.left + scrollX, r.top + scrollY, r.width / canvas.clientWidth])"
            "(canvas.getBoundingClientRect())")
        self.display.scale = self.shown * self.display.device_scale

    def page_point(self, x, y):
        return self.origin[0] + x * self.shown, self.origin[1] + y * self.shown

    def move_to(self, x, y):
        self.display.browser.move(*self.page_point(x, y))

    def grab(self):
        return self.display.browser.grab(*self.origin, WINDOW_WIDTH * self.shown,
                                         WINDOW_HEIGHT * self.shown)

    def size(self):
        return tuple(self.display.evaluate("[canvas.clientWidth, canvas.clientHeight]"))

    def title(self):
        return self.display.evaluate("document.title")

    def request_close(self):
        raise unittest.SkipTest("a page is never closed from inside")

    def frames(self):
        return FrameCounter(self.display)


class FrameCounter(Closing):
    """The page's animation frames from now on, at each of which the program draws one."""

    def __init__(self, display):
        self.display, self.start = display, display.evaluate("harness.frames")

    def wait(self, frames, timeout=CONDITION_TIMEOUT):
        wait_for(lambda: self.display.evaluate("harness.frames") >= self.start + frames,
                 timeout, what=f"{frames} frames of the page")

    def close(self):
        """Nothing to stop: the probe counts all the time."""


class PanelReports:
    """The reports of the editor in the page, as its console panel shows them."""

    def __init__(self, display):
        self.display = display

    def last(self):
        text = self.display.evaluate("document.getElementById('console').textContent")
        return text.split("\n")[:6] if text.count("\n") == 6 else None

    def count(self):
        return self.display.evaluate("harness.reports")


def page_editor(display):
    """The editor running in the page: no process of its own, its report in the panel."""
    return Editor(display, reports=PanelReports(display))
