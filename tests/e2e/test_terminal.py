# The report on a real terminal (a tmux pane): each report replaces the last one, so the screen
# shows exactly one, at the top, with nothing scrolled away above it.
from harness.case import EditorTestCase, main
from harness.common import HarnessError, wait_for
from harness.editor import Terminal
from harness.report import expected_report
from harness.scenarios import place

TRIANGLE = [(40, 30), (620, 90), (200, 465)]  # (-0.875, 0.875) (0.9375, 0.625) (-0.375, -0.9375)


class OnATerminal(EditorTestCase):
    def test_terminal_shows_one_report_at_the_top(self):
        # A socket of its own in the test's directory, so that nothing is left behind.
        terminal = Terminal(self.path("tmux"), columns=120, rows=30)
        self.addCleanup(terminal.close)
        with open(terminal.tty, "wb") as tty:
            editor = self.start_editor(stdout=tty)
        place(editor, 3, TRIANGLE)
        try:
            editor.wait_for_picture([TRIANGLE])
        except AssertionError:
            print("terminal at the time:", *terminal.screen(), sep="\n")
            raise

        expected = expected_report({3: TRIANGLE})

        def one_report_on_screen():
            screen, history = terminal.screen(), terminal.history_size()
            if screen[:6] != expected or any(line.strip() for line in screen[6:]) or history:
                raise HarnessError(f"screen {screen}, {history} lines of history")
            return True

        wait_for(one_report_on_screen, what="exactly one report on the terminal")
        self.assertEqual(editor.close_and_wait(), 0)


if __name__ == "__main__":
    main()
