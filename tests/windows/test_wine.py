# The Windows builds under Wine, on a private Xvfb: the placement scenario with real keys and
# clicks, checked in the pixels and the exact report; every report right after one "cls", which
# the stand-in command processor marks in the output; and exit status 0 on closing the window.
# Usage: test_wine.py path/to/triangle-editor.exe SECONDS
# (comspec-probe.exe beside the executable, as scripts/build-windows leaves it)
import os
import sys
import unittest

from harness import scenarios
from harness.case import EditorTestCase
from pe_headers import TARGETS, parse_pe

HERE = os.path.dirname(os.path.abspath(__file__))
TIME_LIMIT = 300.0  # what CTest gives the run; the i686 build, emulated, gets more


class UnderWine(EditorTestCase):
    def test_placement_report_clears_and_exit_status(self):
        if not os.path.isfile(self.exe):
            self.fail(f"{self.exe} does not exist: run scripts/build-windows first")
        with open(self.exe, "rb") as image:
            arch = "i686" if parse_pe(image.read())[0] == TARGETS["i686"][0] else "x86_64"
        probe = os.path.join(os.path.dirname(self.exe), "comspec-probe.exe")
        # The launcher stops the program before CTest would stop this test, so that it can still
        # remove its Wine prefix.
        launcher = [os.path.join(HERE, "run_under_wine.sh"), "--display", "--comspec", probe,
                    arch, str(int(TIME_LIMIT - 30))]
        # Every cls blocks the frame loop while the command processor runs, so a press is held
        # until reports show that frames have passed; a fresh prefix alone takes 10 to 30 s
        # natively and several times that emulated.
        editor = self.start_editor_to_file(command_prefix=launcher, step_timeout=TIME_LIMIT * 0.2,
                                           frames_by_reports=True, find_timeout=TIME_LIMIT * 0.6)
        try:
            scenarios.place_a_triangle(self, editor)
            reports = scenarios.close_after_placement(self, editor, cleared_by_probe=True)
            # A crash after the last frame can leave status 0; Wine still says so on stderr.
            self.assertNotIn("Unhandled", editor.stderr_text())
            print(f"{reports} reports, each after one clear")
        except AssertionError:
            print("stderr (end):", editor.stderr_text()[-2000:], sep="\n")
            raise


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(f"usage: {sys.argv[0]} TRIANGLE_EDITOR.exe [SECONDS] [unittest arguments]")
    EditorTestCase.exe = os.path.abspath(sys.argv[1])
    if len(sys.argv) > 2:
        TIME_LIMIT = float(sys.argv[2])
    unittest.main(argv=[sys.argv[0], *sys.argv[3:]], verbosity=2)
