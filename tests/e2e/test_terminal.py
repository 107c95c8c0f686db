# The report on a real terminal (tmux): each report replaces the last one, so the screen shows
# exactly one, at the top, with nothing scrolled away above it.
import shlex
import subprocess

from harness.case import EditorTestCase, main
from harness.common import HarnessError, wait_for
from harness.editor import Editor, editor_command
from harness.report import expected_report

TRIANGLE = [(40, 30), (620, 90), (200, 465)]  # (-0.875, 0.875) (0.9375, 0.625) (-0.375, -0.9375)
COLUMNS, ROWS = 120, 30


def _read(path):
    try:
        with open(path) as f:
            return f.read()
    except FileNotFoundError:
        return ""


class Terminal(EditorTestCase):
    def tmux(self, *args):
        return subprocess.run(["tmux", "-S", self.socket, "-f", "/dev/null", *args],
                              check=True, capture_output=True, text=True, timeout=30).stdout

    def test_terminal_shows_one_report_at_the_top(self):
        # A socket of its own in the test's directory, so that nothing is left behind.
        self.socket = self.path("tmux")
        status_file = self.path("status")
        session = " ".join(f"{name}={shlex.quote(value)}"
                           for name, value in self.display.session_variables().items())
        script = (f"{session} {shlex.join(editor_command(self.exe))}; "
                  f"echo $? > {shlex.quote(status_file)}")
        # The shell waits for the editor to record its exit status.
        self.tmux("new-session", "-d", "-x", str(COLUMNS), "-y", str(ROWS), "sh", "-c", script)
        self.addCleanup(subprocess.run, ["tmux", "-S", self.socket, "kill-server"],
                        capture_output=True)

        editor = Editor(self.display, None)
        editor.find_window()

        editor.tap_key("4")
        for corner in TRIANGLE:
            editor.click(*corner)
        try:
            self.wait_for_picture(editor, [TRIANGLE])
        except AssertionError:
            print("terminal at the time:\n" + self.tmux("capture-pane", "-p"))
            raise

        expected = expected_report({3: TRIANGLE})

        def one_report_on_screen():
            screen = self.tmux("capture-pane", "-p").split("\n")
            history = int(self.tmux("display-message", "-p", "#{history_size}").strip())
            if screen[:6] != expected or any(line.strip() for line in screen[6:]) or history:
                raise HarnessError(f"screen {screen}, {history} lines of history")
            return True

        wait_for(one_report_on_screen, what="exactly one report on the terminal")
        editor.request_close()
        status = wait_for(lambda: _read(status_file).strip(), what="the editor's exit status")
        self.assertEqual(status, "0")


if __name__ == "__main__":
    main()
