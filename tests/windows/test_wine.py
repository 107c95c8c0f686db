# The Windows builds under Wine on a private Xvfb: the shared scenarios, and every report right
# after one "cls", which the stand-in command processor marks in the output.
# Usage: test_wine.py i686|x86_64 path/to/triangle-editor.exe SECONDS
# (comspec-probe.exe beside the executable, as scripts/build-windows leaves it)
import os
import sys
import tempfile
import time
import unittest

from harness.case import EditorTestCase
from harness.scenarios import ScenarioSet

HERE = os.path.dirname(os.path.abspath(__file__))
TIME_LIMIT = None  # s, from the command line: what CTest gives the run
# comspec_probe.c writes this line for every command it is given; the editor's clear is "cls".
CLEAR_MARK = "comspec-probe: /c cls"


class UnderWine(ScenarioSet, EditorTestCase):
    arch = None  # from the command line

    def setUp(self):
        super().setUp()
        self.lines_since_clear = None  # none before the first clear
        self.clear_faults = []

    def report_line(self, line):
        """Lines end in CRLF. Each report must come right after one clear: a clear's line
        where the last report has just ended, and none inside a report."""
        line = line.removesuffix("\r")
        if line.startswith("comspec-probe: "):
            if line != CLEAR_MARK or self.lines_since_clear not in (None, 6):
                self.clear_fault(line, f"after {self.lines_since_clear} report lines")
            self.lines_since_clear = 0
            return None
        if self.lines_since_clear in (None, 6):
            self.clear_fault(line, "without a clear before it")
        else:
            self.lines_since_clear += 1
        return line

    def clear_fault(self, line, what):
        if len(self.clear_faults) < 5:  # the first few tell the fault
            self.clear_faults.append(f"{line!r} {what}")

    @classmethod
    def setUpClass(cls):
        # One Wine prefix for all the scenarios: setting one up takes most of a run's time.
        scratch = tempfile.TemporaryDirectory(prefix="wine-scenarios-")
        cls.addClassCleanup(scratch.cleanup)
        cls.prefix = os.path.join(scratch.name, "prefix")
        cls.deadline = time.monotonic() + TIME_LIMIT - 30

    def start_scenario_editor(self):
        probe = os.path.join(os.path.dirname(self.exe), "comspec-probe.exe")
        # The launcher ends its run before CTest would end this test, so that it still stops Wine.
        left = max(int(self.deadline - time.monotonic()), 1)
        launcher = [os.path.join(HERE, "run_under_wine.py"), "--display", "--comspec", probe,
                    "--prefix", self.prefix, self.arch, str(left)]
        # Every cls blocks the frame loop while the command processor runs, so a press is held
        # until reports show that frames have passed; setting up the prefix alone takes 10 to
        # 30 s natively and several times that emulated.
        editor = self.start_editor_to_file(
            command_prefix=launcher, step_timeout=TIME_LIMIT * 0.2, frames_by_reports=True,
            find_timeout=left * 0.6)
        self.addCleanup(self.check_run, editor)
        return editor

    def check_run(self, editor):
        """After each scenario: what Wine and the launcher said, if anything, and whether every
        report read came right after one clear."""
        if text := editor.stderr_text():
            print("stderr (end):", text[-2000:], sep="\n")
        self.assertEqual(self.clear_faults, [], "a report not right after one clear")

    def check_after_close(self, editor):
        self.assertEqual(self.lines_since_clear, 6, "the output ends with a whole report")
        # A crash after the last frame can leave status 0; Wine still says so on stderr.
        self.assertNotIn("Unhandled", editor.stderr_text())


if __name__ == "__main__":
    if len(sys.argv) < 4:
        sys.exit(f"usage: {sys.argv[0]} i686|x86_64 TRIANGLE_EDITOR.exe SECONDS [unittest args]")
    UnderWine.arch, EditorTestCase.exe = sys.argv[1], os.path.abspath(sys.argv[2])
    TIME_LIMIT = float(sys.argv[3])
    unittest.main(argv=[sys.argv[0], *sys.argv[4:]], verbosity=2)
