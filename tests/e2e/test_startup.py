# Start-up failures: without a usable display the editor exits with 255 and without a word.
import subprocess

from harness.case import EditorTestCase, main
from harness.common import STARTUP_TIMEOUT, stop_process
from harness.editor import editor_command
from harness.x11 import XServer


class StartupFailures(EditorTestCase):
    def run_expecting_failure(self, env):
        process = subprocess.Popen(editor_command(self.exe), stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        self.addCleanup(stop_process, process)
        stdout, stderr = process.communicate(timeout=STARTUP_TIMEOUT)
        self.assertEqual((process.returncode, stdout, stderr), (255, b"", b""),
                         "exit 255, and nothing printed, when no window could be opened")

    def test_without_a_display_exits_255_silently(self):
        env = self.display.environment()
        del env["DISPLAY"]
        self.run_expecting_failure(env)

    def test_on_a_server_without_glx_exits_255_silently(self):
        with XServer(extra_args=["-extension", "GLX"]) as no_glx:
            self.assertNotIn("GLX", no_glx.connection.list_extensions())
            self.run_expecting_failure(no_glx.environment())


if __name__ == "__main__":
    main()
