# Start-up and shut-down: refusing to start without a usable display, the window it opens, and
# the clean exit on a close request, all without a word on stderr.
import subprocess

from harness.case import EditorTestCase, main
from harness.common import STARTUP_TIMEOUT, stop_process
from harness.editor import editor_command
from harness.report import WINDOW_HEIGHT, WINDOW_TITLE, WINDOW_WIDTH
from harness.x11 import XServer


class StartupFailures(EditorTestCase):
    def run_expecting_failure(self, env):
        process = subprocess.Popen(editor_command(self.exe), stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        self.addCleanup(stop_process, process)
        stdout, stderr = process.communicate(timeout=STARTUP_TIMEOUT)
        self.assertEqual(process.returncode, 255, f"stderr: {stderr!r}")
        self.assertEqual(stdout, b"", "nothing may be printed when no window could be opened")
        self.assertEqual(stderr, b"", "nothing may be printed when no window could be opened")

    def test_without_a_display_exits_255_silently(self):
        env = self.display.environment()
        del env["DISPLAY"]
        self.run_expecting_failure(env)

    def test_on_a_server_without_glx_exits_255_silently(self):
        with XServer(extra_args=["-extension", "GLX"]) as no_glx:
            self.assertNotIn("GLX", no_glx.connection.list_extensions())
            self.run_expecting_failure(no_glx.environment())


class TheWindow(EditorTestCase):
    def test_window_is_titled_sized_and_black_then_closes_with_0(self):
        editor = self.start_editor()
        self.assertEqual(editor.window.title(), WINDOW_TITLE)
        self.assertEqual(editor.window.size(), (WINDOW_WIDTH, WINDOW_HEIGHT))

        # Xvfb's root is a grey weave, so all-black means the editor has drawn its frame.
        editor.wait_for_picture([], what="an all-black client area")
        self.assertTrue(editor.is_running())
        self.assertEqual(editor.close_and_wait(), 0)
        self.assertEqual(editor.stderr_text(), "", "the editor writes nothing to stderr")


if __name__ == "__main__":
    main()
