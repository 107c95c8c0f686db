# The web page with real input: the shared scenarios in Chromium, Firefox and WebKit, and in
# Chromium what only a page has (focus, a press released outside, touch, no WebGL). Every test
# also checks that the panel only ever showed one whole report and the page logged no error.
import contextlib
import os
import unittest

from harness.browser import BrowserDisplay, page_editor
from harness.case import EditorTestCase, main
from harness.common import wait_for
from harness.report import WINDOW_HEIGHT, WINDOW_TITLE, WINDOW_WIDTH, expected_report, is_report
from harness.scenarios import BAND_CORNER, CORNERS, ScenarioSet

OUTSIDE = (WINDOW_WIDTH + 80, 120)  # on the console panel, (1.25, 0.5) for the program


class WebCase(EditorTestCase):
    """self.exe is the folder that scripts/build-web leaves (build/web)."""

    engine = "chromium"
    browser_args = ()
    touch = False

    @classmethod
    def display_factory(cls):
        if not os.path.exists(os.path.join(cls.exe, "triangle-editor.wasm")):
            raise AssertionError(f"no page in {cls.exe}: scripts/build-web builds it")
        return BrowserDisplay(cls.exe, cls.engine, cls.browser_args, cls.touch)

    def start_page(self):
        editor = page_editor(self.display)  # no process: nothing to stop
        editor.find_window()
        self.addCleanup(self.check_panel_and_console, editor)
        self.assertEqual(editor.window.title(), WINDOW_TITLE)
        self.assertEqual(editor.window.size(), (WINDOW_WIDTH, WINDOW_HEIGHT))
        return editor

    def check_panel_and_console(self, editor):
        self.assertGreater(editor.report_count(), 0, "the probe saw no report")
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


class ChromiumTouch(WebCase):
    touch = True

    def test_a_digit_button_and_three_taps_place_a_triangle(self):
        editor = self.start_page()
        touch = self.display.touch
        # The cursor starts at the window's corner; a touch must not press there.
        editor.wait_for_report(expected_report({}))
        touch("tap", *self.display.evaluate(
            "((b, c) => [b.left + b.width / 2 - c.left, b.top + b.height / 2 - c.top])(document"
            ".querySelector('#digits button[value=\"3\"]').getBoundingClientRect(), "
            "canvas.getBoundingClientRect())"))
        editor.wait_for_selection(2)
        touch("tap", *CORNERS[0])
        editor.wait_for_report(expected_report({2: [CORNERS[0]] * 3}, 2),
                               what="one corner fixed by one tap")
        # A finger put down fixes the next corner; the last one follows it as it moves.
        touch("start", *CORNERS[1])
        touch("move", *BAND_CORNER)
        band = CORNERS[:2] + [BAND_CORNER]
        editor.wait_for_report(expected_report({2: band}, 2), what="the rubber band by touch")
        editor.wait_for_picture([band], what="the rubber band by touch")
        touch("end", *BAND_CORNER)
        touch("tap", *CORNERS[2])
        editor.wait_for_report(expected_report({2: CORNERS}), what="the placed triangle")
        editor.wait_for_picture([CORNERS], what="the placed triangle")

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
