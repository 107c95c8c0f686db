# The web page with real input: the shared scenarios in Chromium, Firefox and WebKit, and in
# Chromium what only a page has (focus, a press released outside, touch, no WebGL). Every test
# also checks that the panel only ever showed one whole report and the page logged no error.
import contextlib
import math
import os
import pathlib
import shutil
import tempfile
import unittest

from harness.browser import BrowserDisplay, page_editor
from harness.case import EditorTestCase, main
from harness.common import STARTUP_TIMEOUT, wait_for
from harness.report import (CENTRE, TRIANGLE_LINE, WINDOW_HEIGHT, WINDOW_TITLE, WINDOW_WIDTH,
                            expected_report, is_report)
from harness.scenarios import BAND_CORNER, CORNERS, ScenarioSet, place, place_a_triangle

OUTSIDE = (WINDOW_WIDTH + 80, 120)  # on the console panel, (1.25, 0.5) for the program
# A phone held upright, in CSS pixels; a desktop screen of 2 device pixels per CSS pixel.
PHONE = {"width": 390, "height": 844, "deviceScaleFactor": 3, "isMobile": True, "hasTouch": True}
RETINA = {"width": 1280, "height": 800, "deviceScaleFactor": 2}
# The boxes of the page's parts, in CSS pixels, and what a phone needs of them.
LAYOUT = """(() => {
  const box = (element) => element.getBoundingClientRect().toJSON();
  const panel = document.getElementById("console");
  return {picture: box(canvas), buttons: [...document.querySelectorAll("#digits button")].map(box),
          panel: box(panel), panelFont: parseFloat(getComputedStyle(panel).fontSize),
          zoom: visualViewport.scale, width: innerWidth, height: innerHeight,
          scrollWidth: document.documentElement.scrollWidth};
})()"""


def corners_in(report, index):
    """Triangle `index`'s corners in a report, in window units."""
    numbers = [float(n) for n in TRIANGLE_LINE.fullmatch(report[index]).groups()[1:]]
    return [((x + 1) * CENTRE[0], (1 - y) * CENTRE[1]) for x, y in zip(numbers[::2], numbers[1::2])]


class WebCase(EditorTestCase):
    """self.exe is the folder that scripts/build-web leaves (build/web)."""

    engine = "chromium"
    browser_args = ()
    viewport = None

    @classmethod
    def display_factory(cls):
        if not os.path.exists(os.path.join(cls.exe, "triangle-editor.wasm")):
            raise AssertionError(f"no page in {cls.exe}: scripts/build-web builds it")
        return BrowserDisplay(cls.exe, cls.engine, cls.browser_args, cls.viewport)

    def start_page(self):
        editor = page_editor(self.display)  # no process: nothing to stop
        editor.find_window()
        self.addCleanup(self.check_panel_and_console, editor)
        self.assertEqual(editor.window.title(), WINDOW_TITLE)
        self.assertEqual(editor.window.size(), (WINDOW_WIDTH, WINDOW_HEIGHT))
        return editor

    def check_panel_and_console(self, editor):
        self.assertEqual(self.display.evaluate("harness.panelFaults"), [],
                         "the panel showed something other than one six-line report")
        self.assertTrue(is_report(editor.last_report()), editor.last_report())
        self.assertEqual(self.display.console_errors(), [], "errors in the page's console")


class Chromium(ScenarioSet, WebCase):
    """One browser for the scenarios (one takes seconds to start), the page afresh for each."""

    @classmethod
    def setUpClass(cls):
        cls.browser = cls.enterClassContext(super().display_factory())

    def display_factory(self):
        if self.browser.window is not None:  # a scenario has had the page: load it afresh
            self.browser.open()
        return contextlib.nullcontext(self.browser)

    test_closing_gives_0_and_only_reports = unittest.skip("a page is never closed from inside")(
        ScenarioSet.test_closing_gives_0_and_only_reports)

    def start_scenario_editor(self):
        return self.start_page()


class Firefox(Chromium):
    engine = "firefox"


class WebKit(Chromium):
    engine = "webkit"


class ChromiumPage(WebCase):
    def test_the_canvas_takes_the_keyboard_on_load_and_when_clicked(self):
        editor = self.start_page()
        focused = "document.activeElement === canvas"
        wait_for(lambda: self.display.evaluate(focused), what="the canvas focused on load")
        # A click on the panel takes the focus away; one on the canvas brings it back, and the
        # digit keys reach the program.
        editor.click(*OUTSIDE)
        self.assertFalse(self.display.evaluate(focused))
        editor.click(320, 240)
        self.assertTrue(self.display.evaluate(focused))
        editor.tap_key("2")
        editor.wait_for_selection(1)

    def test_a_press_released_outside_the_picture_is_one_click_as_on_a_desktop(self):
        editor = self.start_page()
        editor.tap_key("1")
        editor.wait_for_selection(0)
        editor.move_to(*CORNERS[0])
        with editor.holding_button():
            # While the button is down the cursor reaches the program outside the picture too.
            editor.move_to(*OUTSIDE)
            editor.wait_for_report(expected_report({0: [CORNERS[0], OUTSIDE, OUTSIDE]}, 0))
        # So the next click fixes the next corner, not merely a release.
        editor.click(*CORNERS[1])
        editor.click(*CORNERS[2])
        editor.wait_for_report(expected_report({0: CORNERS}), what="the placed triangle")


class PhoneLayout:
    """The page on a phone held upright, then sideways, in any engine that can emulate one."""

    def test_a_phone_shows_the_picture_as_wide_as_it_can_with_the_buttons_and_report(self):
        self.start_page()
        page = self.display.evaluate(LAYOUT)
        picture, buttons, panel = page["picture"], page["buttons"], page["panel"]
        self.assertEqual(page["zoom"], 1, "laid out for the phone's width, not zoomed out")
        self.assertGreaterEqual(picture["width"], 0.85 * page["width"])
        self.assertAlmostEqual(picture["height"] * 4, picture["width"] * 3, delta=1)
        for button in buttons:
            self.assertGreaterEqual(min(button["width"], button["height"]), 48)
            self.assertLessEqual(button["bottom"], page["height"], "a button below the screen")
        self.assertGreaterEqual(page["panelFont"], 12)
        self.assertLessEqual(page["scrollWidth"], page["width"], "the page scrolls sideways")
        self.assertLessEqual(panel["right"], page["width"])
        # Held sideways, the whole picture and the buttons fit the screen together.
        self.display.set_viewport({**self.viewport, "width": 844, "height": 390})
        page = wait_for(lambda: (lambda p: p["width"] == 844 and p)(self.display.evaluate(LAYOUT)),
                        what="the page laid out sideways")
        for box in [page["picture"], *page["buttons"]]:
            self.assertLessEqual(box["bottom"], page["height"])
            self.assertLessEqual(box["right"], page["width"])


class ChromiumPhone(PhoneLayout, WebCase):
    viewport = PHONE

    def test_a_digit_button_and_three_taps_place_corners_where_the_finger_was(self):
        editor = self.start_page()
        self.assertLess(editor.window.shown, 1, "the picture is scaled to the phone")
        touch = self.display.touch
        # The cursor starts at the window's corner; a touch must not press there.
        editor.wait_for_report(expected_report({}))
        button = self.display.evaluate(LAYOUT)["buttons"][2]  # "3"
        self.display.browser.touch("tap", button["x"] + button["width"] / 2,
                                   button["y"] + button["height"] / 2)
        editor.wait_for_selection(2)
        # Window points that fall between the phone's CSS pixels; the second one is put down,
        # moved through the rubber band's corner and lifted there.
        taps = [(161.3, 60.7), (480.45, 119.9), (319.2, 420.35)]
        touch("tap", *taps[0])
        touch("start", *taps[1])
        touch("move", *BAND_CORNER)
        touch("end", *BAND_CORNER)
        touch("tap", *taps[2])
        editor.wait_for_selection(-1)
        for corner, tap in zip(corners_in(editor.last_report(), 2), taps):
            self.assertLess(math.dist(corner, tap), 0.1, f"{corner} for {tap}")


class ChromiumTouch(WebCase):
    viewport = {"hasTouch": True}

    def test_a_tap_within_one_task_still_fixes_a_corner(self):
        # A finger down and up in the same task, so inside one frame: the page must hold the
        # press across frames, or the program never sees it.
        editor = self.start_page()
        editor.tap_key("1")
        editor.wait_for_selection(0)
        x, y = editor.window.page_point(*CORNERS[0])
        self.display.evaluate(f"""(() => {{
          const finger = new Touch({{identifier: 7, target: canvas, clientX: {x}, clientY: {y}}});
          for (const type of ["touchstart", "touchend"]) {{
            const touches = type === "touchstart" ? [finger] : [];
            canvas.dispatchEvent(new TouchEvent(type, {{touches, changedTouches: [finger],
                                                        bubbles: true, cancelable: true}}));
          }}
        }})()""")
        # Fixed, it stays where the finger was while the others follow the mouse.
        editor.wait_frames()
        editor.move_to(*CORNERS[1])
        editor.wait_for_report(expected_report({0: [CORNERS[0]] + [CORNERS[1]] * 2}, 0),
                               what="one corner fixed by the shortest tap")


class ChromiumRetina(WebCase):
    viewport = RETINA

    def test_at_two_device_pixels_a_pixel_the_picture_is_sharp_and_the_mouse_exact(self):
        editor = self.start_page()
        page = self.display.evaluate(LAYOUT)
        self.assertGreaterEqual(page["panel"]["left"], page["picture"]["right"],
                                "the report beside the picture")
        self.assertEqual(page["panel"]["top"], page["picture"]["top"])
        self.assertEqual(self.display.evaluate("[canvas.width, canvas.height]"), [1280, 960],
                         "a backing store of the screen's device pixels")
        # The mouse's reports exact, the pictures as sharp as the screen (display.scale 2).
        place_a_triangle(editor)

    def test_after_a_change_of_the_ratio_the_picture_stays_whole(self):
        editor = self.start_page()
        place(editor, 0, CORNERS)
        # Zooming or another screen changes the ratio; the picture stays whole, if not sharp.
        for ratio in (3, 1, 1.5, 2):
            self.display.set_viewport({**self.viewport, "deviceScaleFactor": ratio})
            editor.wait_for_picture([CORNERS], what=f"the picture at {ratio}", sharp=False)


# Firefox's driver has no mobile mode or touch screen, but sizes and pixel ratios.
class FirefoxPhone(PhoneLayout, WebCase):
    engine = "firefox"
    viewport = {"width": 390, "height": 844, "deviceScaleFactor": 3}


class FirefoxRetina(ChromiumRetina):
    engine = "firefox"


# WebKit's driver sets no pixel ratio; GTK's scale does, for the whole browser.
class WebKitRetina(ChromiumRetina):
    engine = "webkit"
    viewport = {"deviceScaleFactor": 2}

    def test_after_a_change_of_the_ratio_the_picture_stays_whole(self):
        self.skipTest("WebKit's driver cannot change the pixel ratio of a running browser")


class ChromiumApp(WebCase):
    """The page in a folder of its own, which the test makes into a newer build."""

    def display_factory(self):
        folder = tempfile.TemporaryDirectory(prefix="triangle-page-")
        self.addCleanup(folder.cleanup)
        self.page = shutil.copytree(self.exe, os.path.join(folder.name, "page"))
        return BrowserDisplay(self.page)

    def replace_in(self, name, old, new):
        path = pathlib.Path(self.page, name)
        path.write_text(path.read_text().replace(old, new, 1))

    def test_the_page_installs_starts_offline_and_takes_a_new_build_on_the_next_visit(self):
        self.start_page()
        self.assertEqual(self.display.browser.cdp("Page.getInstallabilityErrors"),
                         {"installabilityErrors": []})
        wait_for(lambda: self.display.evaluate("Boolean(navigator.serviceWorker.controller)"),
                 what="the page served by its worker")
        # No server: the page starts and runs all the same.
        self.display.stop_serving()
        self.display.open()
        editor = self.start_page()
        editor.tap_key("2")
        editor.wait_for_selection(1)
        # A new build on the server; the next visit ends on it, and only its files are kept.
        self.replace_in("index.html", "<title>", '<meta name="build" content="next"><title>')
        self.replace_in("sw.js", "triangle-editor-", "triangle-editor-next-")
        self.display.serve()
        self.display.open()
        new_build = "document.querySelector('meta[name=build]') !== null"
        wait_for(lambda: self.display.evaluate(new_build), STARTUP_TIMEOUT, what="the new build")
        self.start_page()
        self.assertRegex(" ".join(self.display.evaluate("caches.keys()")),
                         "^triangle-editor-next-[0-9a-f]+$")


class ChromiumWithoutWebGL(WebCase):
    browser_args = ("--disable-webgl",)

    def test_the_page_says_in_one_line_that_it_needs_webgl(self):
        failure = "document.getElementById('failure')"
        text = wait_for(lambda: self.display.evaluate(f"!{failure}.hidden && {failure}.innerText"),
                        what="the failure line")
        self.assertRegex(text, r"^[^\n]*\bWebGL\b[^\n]*$")
        self.assertEqual(self.display.evaluate("document.getElementById('console').textContent"),
                         "")
        self.assertEqual(self.display.console_errors(), [])


if __name__ == "__main__":
    main()
