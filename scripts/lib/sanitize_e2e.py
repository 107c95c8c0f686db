# End to end under AddressSanitizer and UndefinedBehaviorSanitizer: the sanitized editor in
# Xvfb selects triangle 2 with the key, gets three corners placed by real clicks, reports
# them, and is closed the way a window manager closes it. Any sanitizer report, a wrong
# report or an exit status other than 0 fails the run.
import argparse
import glob
import os
import re
import subprocess
import sys
import tempfile
import time

from Xlib import XK

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "tests", "e2e"))
from harness import Editor, XServer  # noqa: E402

# Window coordinates of the three clicks and what the cursor mapping makes of them.
CLICKS = [(480, 120), (160, 360), (400, 300)]
EXPECTED_LINE = b"nowRendered = 1 | 0: x0.5y0.5 1: x-0.5y-0.5 2: x0.25y-0.25"


def driver_preload(editor):
    """LD_PRELOAD that keeps Mesa's software driver loaded until exit. glfwTerminate unloads
    libGL, and with it the driver that libglvnd opened; blocks the driver still holds from
    its own static data then look unreferenced and their stacks point into an unmapped,
    nameless module that no suppression can name. Preloaded libraries are never unloaded,
    so leak detection stays on for everything, the driver included. The sanitizer runtime
    must come first in the list."""
    ldd = subprocess.run(["ldd", editor], capture_output=True, text=True, check=True).stdout
    asan = [line.split()[2] for line in ldd.splitlines() if "libasan" in line]
    drivers = glob.glob("/usr/lib/*/dri/swrast_dri.so") + glob.glob("/usr/lib/*/libGLX_mesa.so.0")
    return " ".join(asan[:1] + drivers)


def last_report(path):
    with open(path, "rb") as f:
        reports = re.findall(rb"(?:nowRendered = \d \| [^\n]*\n){5}-?\d+\n", f.read())
    return reports[-1] if reports else b""


def wait_for_report(path, predicate, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        report = last_report(path)
        if predicate(report):
            return report
        time.sleep(0.05)
    return last_report(path)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--editor", required=True)
    parser.add_argument("--suppressions", required=True)
    args = parser.parse_args()

    failures = []
    with XServer() as x, tempfile.TemporaryDirectory() as work:
        out_path = os.path.join(work, "stdout")
        env = dict(x.environment(),
                   ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1:"
                                "detect_stack_use_after_return=1:check_initialization_order=1",
                   LSAN_OPTIONS="suppressions=%s:print_suppressions=1"
                                % os.path.abspath(args.suppressions),
                   UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1",
                   LD_PRELOAD=driver_preload(os.path.abspath(args.editor)))
        print("sanitize-e2e: LD_PRELOAD=" + env["LD_PRELOAD"])
        with open(out_path, "wb") as out:
            editor = Editor(x, os.path.abspath(args.editor), stdout=out, env=env)
        with editor:
            editor.find_window(60)
            wait_for_report(out_path, bool, 30)

            editor.tap_key(XK.XK_2)
            selected = wait_for_report(out_path, lambda r: r.endswith(b"\n1\n"), 10)
            if not selected.endswith(b"\n1\n"):
                failures.append("key 2 did not select triangle 1; last report:\n"
                                + selected.decode())
            for cx, cy in CLICKS:
                editor.click(cx, cy)
            placed = wait_for_report(
                out_path, lambda r: EXPECTED_LINE in r and r.endswith(b"\n-1\n"), 10)
            if EXPECTED_LINE not in placed or not placed.endswith(b"\n-1\n"):
                failures.append("the placement is not reported as expected; last report:\n"
                                + placed.decode())
            status = editor.close_and_wait(60)
            stderr = editor.stderr_text()

    print(stderr, end="")
    if status != 0:
        failures.append("the editor exited with %s" % status)
    if re.search(r"ERROR: (Address|Leak)Sanitizer|runtime error:|SUMMARY: ", stderr):
        failures.append("a sanitizer reported a fault (above)")
    for failure in failures:
        print("sanitize-e2e: " + failure, file=sys.stderr)
    print("sanitize-e2e: %s" % ("FAILED" if failures else "passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
