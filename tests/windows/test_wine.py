# The Windows builds under Wine on a private Xvfb: the shared scenarios, and every report right
# after one "cls", marked in the output by the stand-in command processor beside the .exe.
import os
import tempfile
import time

from harness.case import EditorTestCase, main
from harness.report import REPORT_LINES
from harness.scenarios import ScenarioSet

HERE = os.path.dirname(os.path.abspath(__file__))
# comspec_probe.c writes this line to stderr, then stdout, per command; the editor's is "cls".
CLEAR_MARK = "comspec-probe: /c cls"


class UnderWine(ScenarioSet, EditorTestCase):
    arch = time_limit = None  # from the command line; the time limit (s) is what CTest gives

    def setUp(self):
        super().setUp()
        self.lines_since_clear = None  # none before the first clear
        self.clear_faults = []
        self.unmarked = 0  # reports with no clear's line before them

    def report_line(self, line):
        """Lines end in CRLF. Each report must come right after one clear: a clear's line
        where the last report has just ended, and none inside a report."""
        line = line.removesuffix("\r")
        if line.startswith("comspec-probe: "):
            if line != CLEAR_MARK or self.lines_since_clear not in (None, REPORT_LINES):
                self.clear_faults.append(f"{line!r} after {self.lines_since_clear} report lines")
            self.lines_since_clear = 0
        elif self.lines_since_clear in (None, REPORT_LINES):
            self.unmarked += 1
            self.lines_since_clear = 1
        else:
            self.lines_since_clear += 1
        return None if line.startswith("comspec-probe: ") else line

    @classmethod
    def setUpClass(cls):
        # One Wine prefix for all the scenarios: setting one up takes most of a run's time.
        scratch = tempfile.TemporaryDirectory(prefix="wine-scenarios-")
        cls.addClassCleanup(scratch.cleanup)
        cls.prefix = os.path.join(scratch.name, "prefix")
        cls.deadline = time.monotonic() + cls.time_limit - 30  # launchers stop Wine before CTest

    def start_scenario_editor(self):
        probe = os.path.join(os.path.dirname(self.exe), "comspec-probe.exe")
        left = max(int(self.deadline - time.monotonic()), 1)
        launcher = [os.path.join(HERE, "run_under_wine.py"), "--display", "--comspec", probe,
                    "--prefix", self.prefix, self.arch, str(left)]
        # Every cls blocks the frame loop while the command processor runs, so a press is held
        # until reports show frames have passed; setting up the prefix takes 10 to 30 s natively.
        editor = self.start_editor_to_file(
            command_prefix=launcher, step_timeout=self.time_limit * 0.2, frames_by_reports=True,
            find_timeout=left * 0.6)
        self.addCleanup(self.check_run, editor)
        return editor

    def check_run(self, editor):
        """After each scenario: what Wine and the launcher said, if anything, and whether every
        report read came right after one clear."""
        stderr = editor.stderr_text()
        if text := stderr.replace(CLEAR_MARK + "\r\n", ""):
            print("stderr (end, less the probe's marks):", text[-2000:], sep="\n")
        self.assertEqual(self.clear_faults[:5], [], "a clear's line inside a report")
        # For a report without its mark on stdout, the probe's marks on stderr, written first,
        # tell whether the command processor did not run (the editor's fault) or its line was lost.
        reports, ran = len(editor.reports.reports), stderr.count(CLEAR_MARK)
        if self.unmarked:
            self.assertGreaterEqual(ran, reports, f"{self.unmarked} reports without a clear's "
                                    f"line: the command processor ran {ran} times for {reports} "
                                    "reports, so the editor's cls did not run before each")
            print(f"{self.unmarked} clears' lines lost on stdout; the probe ran {ran} times")

    def check_after_close(self, editor):
        self.assertEqual(self.lines_since_clear, REPORT_LINES, "the output ends in a whole report")
        # A crash after the last frame can leave status 0; Wine still says so on stderr.
        self.assertNotIn("Unhandled", editor.stderr_text().replace(CLEAR_MARK + "\r\n", ""))


def take_arguments(arch, exe, seconds):
    UnderWine.arch, UnderWine.time_limit = arch, float(seconds)
    EditorTestCase.exe = os.path.abspath(exe)


if __name__ == "__main__":
    main("i686|x86_64 TRIANGLE_EDITOR.exe SECONDS", take_arguments)
