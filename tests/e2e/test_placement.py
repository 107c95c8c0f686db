# The window on X11 and the shared scenarios in it, with real keys and clicks: checked in what the
# window shows and in the report the editor writes to a file.
from harness.case import EditorTestCase, main
from harness.report import WINDOW_HEIGHT, WINDOW_WIDTH
from harness.scenarios import ScenarioSet


class OnX11(ScenarioSet, EditorTestCase):
    def test_the_window_found_by_its_title_is_640_by_480(self):
        self.assertEqual(self.start_editor().window.size(), (WINDOW_WIDTH, WINDOW_HEIGHT))


if __name__ == "__main__":
    main()
