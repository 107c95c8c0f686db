# The editor's web page in headless Chromium with real input: the shared scenarios, and what
# only a page has: its console panel, its focus, its console's errors, and a browser without WebGL.
import os

from harness import scenarios
from harness.browser import BrowserDisplay, PageEditor
from harness.case import EditorTestCase, main
from harness.common import wait_for
from harness.report import WINDOW_HEIGHT, WINDOW_TITLE, WINDOW_WIDTH, is_report


class WebCase(EditorTestCase):
    """self.exe is the folder that scripts/build-web leaves (build/web)."""

    chromium_flags = ()

    def display_factory(self):
        if not os.path.exists(os.path.join(self.exe, "triangle-editor.wasm")):
            self.fail(f"no page in {self.exe}: scripts/build-web builds it")
        return BrowserDisplay(self.exe, self.chromium_flags)


class WebPage(WebCase):
    def start_page(self):
        editor = PageEditor(self.display)
        self.addCleanup(editor.close)
        editor.find_window()
        # Checked after every test, whatever it did: the panel only ever showed one whole report,
        # and the page logged no error.
        self.addCleanup(self.check_panel_and_console, editor)
        return editor

    def check_panel_and_console(self, editor):
        self.assertGreater(editor.report_count(), 0, "the probe saw no report")
        self.assertEqual(self.display.evaluate("harness.panelFaults"), [],
                         "the panel showed something other than one six-line report")
        self.assertTrue(is_report(editor.last_report()), editor.last_report())
        self.assertEqual(self.display.console_errors(), [], "errors in the page's console")

    def test_a_digit_key_and_three_clicks_place_a_triangle(self):
        editor = self.start_page()
        self.assertEqual(editor.window.title(), WINDOW_TITLE)
        self.assertEqual(editor.window.size(), (WINDOW_WIDTH, WINDOW_HEIGHT))
        scenarios.place_a_triangle(self, editor)

    def test_a_button_held_over_many_frames_fixes_one_corner(self):
        scenarios.hold_a_button_while_dragging(self, self.start_page())

    def test_the_canvas_takes_the_keyboard_on_load_and_when_clicked(self):
        editor = self.start_page()
        focused = "document.activeElement === canvas"
        wait_for(lambda: self.display.evaluate(focused), what="the canvas focused on load")
        # A click on the panel takes the focus away; one on the canvas brings it back, and the
        # digit keys reach the program.
        editor.move_to(WINDOW_WIDTH + 100, 100)
        editor.click(WINDOW_WIDTH + 100, 100)
        self.assertFalse(self.display.evaluate(focused))
        editor.click(320, 240)
        self.assertTrue(self.display.evaluate(focused))
        editor.tap_key("2")
        editor.wait_for_selection(1)


class WebPageWithoutWebGL(WebCase):
    chromium_flags = ("--disable-webgl",)

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
