# On a real terminal (a tmux pane) each report replaces the last; a stdout that cannot take them
# (a reader gone after one report, closed, a full device) costs only the text, not the window.
import os
import subprocess

from harness.case import EditorTestCase, main
from harness.common import HarnessError, stop_process, wait_for
from harness.editor import Terminal
from harness.report import expected_report
from harness.scenarios import place

TRIANGLE = [(100, 90), (540, 150), (300, 400)]


class Stdout(EditorTestCase):
    def place_and_close(self, editor):
        """Places a triangle, checks it is drawn and closes the window; returns the exit status."""
        place(editor, 0, TRIANGLE)
        editor.wait_for_picture([TRIANGLE], what="the placed triangle")
        self.assertTrue(editor.is_running())
        return editor.close_and_wait()

    def test_a_terminal_shows_one_report_at_the_top(self):
        # A socket of its own in the test's directory, so that nothing is left behind.
        terminal = Terminal(self.path("tmux"), columns=120, rows=30)
        self.addCleanup(terminal.close)
        with open(terminal.tty, "wb") as tty:
            editor = self.start_editor(stdout=tty)
        self.assertEqual(self.place_and_close(editor), 0)
        expected = expected_report({0: TRIANGLE})

        def one_report_on_screen():  # and nothing scrolled away above it
            screen, history = terminal.screen(), terminal.history_size()
            if screen[:6] != expected or any(line.strip() for line in screen[6:]) or history:
                raise HarnessError(f"screen {screen}, {history} lines of history")
            return True
        wait_for(one_report_on_screen, what="exactly one report on the terminal")

    def test_piped_into_head(self):
        read_end, write_end = os.pipe()
        with open(read_end, "rb") as pipe_in, open(write_end, "wb") as pipe_out:
            head = subprocess.Popen(["head", "-n", "6"], stdin=pipe_in, stdout=subprocess.PIPE)
            self.addCleanup(stop_process, head)
            editor = self.start_editor(stdout=pipe_out)
        # Only the editor and head hold the pipe now, as in `triangle-editor | head -n 6`.
        first_report, _ = head.communicate(timeout=30)
        self.assertEqual(head.returncode, 0)
        self.assertEqual(first_report.decode().splitlines(), expected_report({}))
        # head has gone: every later report meets a broken pipe.
        self.assertEqual(self.place_and_close(editor), 0)

    def test_with_stdout_closed(self):
        for closing in (">&-", "<&- >&- 2>&-"):
            with self.subTest(closing=closing):
                editor = self.start_editor(
                    command_prefix=["sh", "-c", f'exec "$0" "$@" {closing}'])
                # Had the X connection taken descriptor 1, reports would corrupt its protocol.
                self.assertEqual(os.readlink(f"/proc/{editor.process.pid}/fd/1"), "/dev/null")
                self.assertEqual(self.place_and_close(editor), 0)

    def test_writing_to_a_full_device(self):
        with open("/dev/full", "wb") as full:
            editor = self.start_editor(stdout=full)
        self.assertEqual(self.place_and_close(editor), 0)


if __name__ == "__main__":
    main()
