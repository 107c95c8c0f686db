# The end-to-end tests' base class: a private display per test, everything stopped at the end.
import os
import sys
import tempfile
import unittest

from harness.common import STARTUP_TIMEOUT
from harness.editor import check_sanitizer_reports, start_editor
from harness.x11 import XServer


class EditorTestCase(unittest.TestCase):
    """Each test gets its own display from display_factory (an Xvfb unless a subclass says), a
    context manager closed at the end of the test."""

    exe = None  # the executable under test, from the command line

    def display_factory(self):
        return XServer()

    def setUp(self):
        # Registered first, so run last: after every editor of the test has been stopped.
        self.addCleanup(check_sanitizer_reports)
        self.display = self.enterContext(self.display_factory())
        self.work_dir = self.enterContext(tempfile.TemporaryDirectory(prefix="triangle-e2e-"))

    def path(self, name):
        return os.path.join(self.work_dir, name)

    def report_line(self, line):
        """A line of output as the report has it, or None for a platform's own (ReportFile)."""
        return line

    def start_editor(self, find_timeout=STARTUP_TIMEOUT, **kwargs):
        """Starts the editor (see editor.start_editor) and waits for its window."""
        editor = start_editor(self.display, self.exe, line_filter=self.report_line, **kwargs)
        self.addCleanup(editor.close)
        editor.find_window(find_timeout)
        return editor

    def start_editor_to_file(self, **kwargs):
        return self.start_editor(stdout=self.path("stdout.txt"), **kwargs)


def main(usage="TRIANGLE_EDITOR", take=None):
    """Runs a test module's cases: take(*arguments) gets the leading arguments, a word of `usage`
    each (by default the one is the executable under test), unittest the rest."""
    count = len(usage.split()) + 1
    if len(sys.argv) < count:
        sys.exit(f"usage: {sys.argv[0]} {usage} [unittest arguments]")
    (take or (lambda exe: setattr(EditorTestCase, "exe", os.path.abspath(exe))))(*sys.argv[1:count])
    unittest.main(argv=[sys.argv[0], *sys.argv[count:]], verbosity=2)
