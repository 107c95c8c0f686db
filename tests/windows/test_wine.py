# The Windows builds under Wine on a private Xvfb: the shared scenarios, and every report right
# after one "cls", which the stand-in command processor (comspec-probe.exe beside the .exe, as
# scripts/build-windows leaves it) marks in the output.
import os

from harness.case import EditorTestCase, main
from harness.report import REPORT_LINES
from harness.scenarios import ScenarioSet

HERE = os.path.dirname(os.path.abspath(__file__))
TIME_LIMIT = None  # s, from the command line: what CTest gives the run
# comspec_probe.c writes this line to stderr, then stdout, per command; the editor's is "cls".
CLEAR_MARK = "comspec-probe: /c cls"


class UnderWine(ScenarioSet, EditorTestCase):
    arch = None  # from the command line

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

    def start_scenario_editor(self):
        probe = os.path.join(os.path.dirname(self.exe), "comspec-probe.exe")
        # The launcher stops the program before CTest would stop this test, so that it can still
        # remove its Wine prefix.
        launcher = [os.path.join(HERE, "run_under_wine.py"), "--display", "--comspec", probe,
                    self.arch, str(int(TIME_LIMIT - 30))]
        # Every cls blocks the frame loop while the command processor runs, so a press is held
        # until reports show that frames have passed; a fresh prefix alone takes 10 to 30 s
        # natively and several times that emulated.
        self.editor = self.start_editor_to_file(
            command_prefix=launcher, step_timeout=TIME_LIMIT * 0.2, frames_by_reports=True,
            find_timeout=TIME_LIMIT * 0.6)
        return self.editor

    def test_keypad_placement_drag_and_close(self):
        try:
            super().test_keypad_placement_drag_and_close()
        except AssertionError:
            if hasattr(self, "editor"):
                stderr = self.editor.stderr_text().replace(CLEAR_MARK + "\r\n", "")
                print("stderr (end, less the probe's marks):", stderr[-2000:], sep="\n")
            raise

    def check_after_close(self, editor):
        self.assertEqual(self.clear_faults[:5], [], "a clear's line inside a report")
        self.assertEqual(self.lines_since_clear, REPORT_LINES, "the output ends in a whole report")
        # A report without its mark on stdout: the probe's marks on stderr tell whether the
        # command processor did not run (the editor's fault) or only its stdout line was lost.
        stderr = editor.stderr_text()
        reports, ran = len(editor.reports.reports), stderr.count(CLEAR_MARK)
        if self.unmarked:
            self.assertGreaterEqual(ran, reports, f"{self.unmarked} reports without a clear's "
                                    f"line: the command processor ran {ran} times for {reports} "
                                    "reports, so the editor's cls did not run before each")
            print(f"{self.unmarked} clears' lines lost on stdout; the probe ran {ran} times")
        # A crash after the last frame can leave status 0; Wine still says so on stderr.
        self.assertNotIn("Unhandled", stderr.replace(CLEAR_MARK + "\r\n", ""))


def take_arguments(arch, exe, seconds):
    global TIME_LIMIT
    UnderWine.arch, EditorTestCase.exe, TIME_LIMIT = arch, os.path.abspath(exe), float(seconds)


if __name__ == "__main__":
    main("i686|x86_64 TRIANGLE_EDITOR.exe SECONDS", take_arguments)
