#!/usr/bin/env python3
"""Runs a Windows build (x86-64 or i686) under Wine in a private Xvfb and Wine prefix, places a
triangle with a real key press and three real clicks, and checks the result in the window's
pixels and in the console report, then closes the window as a window manager would and checks
the exit status. The prefix's command processor is comspec-probe.exe, which marks each command
it runs in the output, so the test also sees that every report comes right after one "cls".

Usage: wine_e2e.py path/to/triangle-editor.exe [time limit in s, default 300]
(comspec-probe.exe beside the executable, as scripts/build-windows leaves it)
Needs Xvfb, wine64 (wine32 for the i686 build) and python3-xlib (scripts/install-deps windows).
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from Xlib import XK

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from harness import (BLACK, CLIENT_HEIGHT, CLIENT_WIDTH, WHITE, Editor,  # noqa: E402
                     EditorExited, XServer, wait_for)
from pe_headers import TARGETS, parse_pe  # noqa: E402

# The time CTest gives the run (optional second argument). The 32-bit build under emulation needs
# several times what the 64-bit one does.
TIME_LIMIT = float(sys.argv[2]) if len(sys.argv) > 2 else 300
START_TIMEOUT = TIME_LIMIT * 0.6  # a fresh Wine prefix alone takes 10 to 30 s to set up natively
STEP_TIMEOUT = TIME_LIMIT * 0.2
# All waits end by then, inside CTest's limit, so that Wine and Xvfb are always cleaned up.
DEADLINE = time.monotonic() + TIME_LIMIT - 30

# Corners in window pixels, chosen to map to short exact coordinates, and their report text.
CORNERS = [((160, 120), "x-0.5y0.5"), ((480, 120), "x0.5y0.5"), ((320, 360), "x0y-0.5")]
TRIANGLE_KEY, TRIANGLE = XK.XK_3, 2
EMPTY = "0: x0y0 1: x0y0 2: x0y0"
# Window pixels inside the placed triangle and outside it.
INSIDE = [(320, 200), (200, 130), (440, 130), (320, 340)]
OUTSIDE = [(320, 110), (150, 200), (490, 200), (320, 370), (5, 5), (635, 475)]
TRIANGLE_AREA = 320 * 240 // 2
# The line comspec-probe.exe writes for each command it runs, and where Wine finds it.
PROBE_MARK = "comspec-probe: "
CLEAR = PROBE_MARK + "/c cls"
PROBE_KEY = r"HKLM\System\CurrentControlSet\Control\Session Manager\Environment"
PROBE_PATH = r"C:\comspec-probe.exe"


class Failure(AssertionError):
    pass


class ReportReader:
    """Follows the program's standard output and keeps the last complete six-line report.

    Wine writes CRLF line ends, so lines are cleaned of escape sequences and control characters
    before matching; the probe's lines are skipped (check_clears sees to them)."""

    LINE = [re.compile(rf"nowRendered = {i} \| 0: \S+ 1: \S+ 2: \S+$") for i in range(5)]
    SELECTION = re.compile(r"-?\d+$")

    def __init__(self, path):
        self.file = open(path, "rb")
        self.pending = b""
        self.window = []
        self.count = 0
        self.last = None

    def poll(self):
        self.pending += self.file.read()
        *complete, self.pending = self.pending.split(b"\n")
        for raw in complete:
            text = re.sub(r"\x1b\[[0-9;?]*[A-Za-z]", "", raw.decode("latin-1"))
            if text.startswith(PROBE_MARK):
                continue
            self.window = (self.window + [re.sub(r"[\x00-\x1f\x7f]", "", text)])[-6:]
            if len(self.window) == 6 and self.is_report(self.window):
                self.count += 1
                self.last = list(self.window)
        return self.last

    @classmethod
    def is_report(cls, lines):
        return (all(cls.LINE[i].match(lines[i]) for i in range(5))
                and cls.SELECTION.match(lines[5]) is not None)


def check_clears(path):
    """The whole output is reports, each right after one run of the command processor with
    "/c cls": a clear before every report, none inside one and no other command."""
    with open(path, "rb") as f:
        lines = f.read().decode("latin-1").splitlines()
    for start in range(0, max(len(lines), 1), 7):
        block = lines[start:start + 7]
        if len(block) != 7 or block[0] != CLEAR or not ReportReader.is_report(block[1:]):
            raise Failure(f"line {start + 1} on: {block}, expected {CLEAR!r} and a report")
    return len(lines) // 7


def expected_report(triangle_text, selected):
    lines = [f"nowRendered = {i} | {EMPTY}" for i in range(5)]
    lines[TRIANGLE] = f"nowRendered = {TRIANGLE} | {triangle_text}"
    return lines + [str(selected)]


def wait_until(condition, timeout, what):
    """wait_for, but never past DEADLINE."""
    return wait_for(condition, max(0.0, min(timeout, DEADLINE - time.monotonic())), what=what)


def main():
    exe = os.path.abspath(sys.argv[1])
    if not os.path.isfile(exe):
        raise Failure(f"{exe} does not exist: run scripts/build-windows first")
    # A PE32 program is started by the 32-bit loader itself, so that a missing 32-bit Wine
    # fails here rather than in the 64-bit loader's hand-over.
    with open(exe, "rb") as image:
        is_32bit = parse_pe(image.read())[0] == TARGETS["i686"][0]
    loaders = (["/usr/lib/wine/wine"] if is_32bit else
               ["/usr/lib/wine/wine64", shutil.which("wine64"), shutil.which("wine")])
    wine = next((path for path in loaders if path and os.path.exists(path)), None)
    wineserver = next((path for path in ["/usr/lib/wine/wineserver", shutil.which("wineserver")]
                       if path and os.path.exists(path)), None)
    if wine is None or wineserver is None:
        raise Failure(f"{'wine32' if is_32bit else 'wine64'} is not installed "
                      "(scripts/install-deps windows)")

    scratch = tempfile.mkdtemp(prefix="triangle-editor-wine-")
    server = XServer()
    env = dict(server.environment(), WINEPREFIX=os.path.join(scratch, "prefix"),
               WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    output_path = os.path.join(scratch, "stdout.txt")
    probe = os.path.join(os.path.dirname(exe), "comspec-probe.exe")
    program = None
    reader = None
    try:
        if not os.path.isfile(probe):
            raise Failure(f"{probe} does not exist: run scripts/build-windows first")
        # This also creates the prefix. A Unix COMSPEC does not reach Wine; the registry does.
        subprocess.run([wine, "reg", "add", PROBE_KEY, "/v", "ComSpec", "/d", PROBE_PATH, "/f"],
                       env=env, check=True, capture_output=True, timeout=START_TIMEOUT)
        subprocess.run([wineserver, "-w"], env=env, timeout=STEP_TIMEOUT)
        shutil.copy(probe, os.path.join(env["WINEPREFIX"], "drive_c"))
        with open(output_path, "wb") as output:
            program = Editor(server, exe, stdout=output, command_prefix=[wine], env=env)
        reader = ReportReader(output_path)

        def alive():
            if not program.is_running():
                raise EditorExited(f"the program exited early with {program.process.returncode}")
            return True

        def report_matches(lines):
            return lambda: alive() and reader.poll() == lines

        def hold_until_seen(down, up, condition, what):
            """Holds a key or button down until the program has polled it. Input is polled, so
            a press must last at least ~100 ms and, since every cls blocks the loop under Wine,
            until a report that started after the press has been written."""
            reader.poll()
            first = reader.count
            down()
            time.sleep(0.1)
            wait_until(lambda: alive() and reader.poll() and reader.count >= first + 2
                       and condition(), STEP_TIMEOUT, what)
            up()
            # Likewise the release must be seen before the next press can count.
            released = reader.count
            wait_until(lambda: alive() and reader.poll() and reader.count >= released + 2,
                       STEP_TIMEOUT, f"reports after releasing ({what})")

        program.find_window(timeout=max(0.0, min(START_TIMEOUT, DEADLINE - time.monotonic())))
        wait_until(report_matches(expected_report(EMPTY, -1)), START_TIMEOUT,
                   "the first report: all triangles at the centre, none selected")

        # Point at the first corner, then select the triangle.
        program.move_to(*CORNERS[0][0])
        hold_until_seen(lambda: server.key_down(TRIANGLE_KEY),
                        lambda: server.key_up(TRIANGLE_KEY),
                        lambda: reader.last[5] == str(TRIANGLE), "key 3 selecting")

        # Each corner: move there, see the unfixed corners follow the cursor, click to fix one.
        for fixed, ((cx, cy), text) in enumerate(CORNERS):
            program.move_to(cx, cy)
            following = [c[1] for c in CORNERS[:fixed]] + [text] * (3 - fixed)
            triangle = " ".join(f"{i}: {t}" for i, t in enumerate(following))
            wait_until(report_matches(expected_report(triangle, TRIANGLE)), STEP_TIMEOUT,
                       f"corners {fixed}-2 following the cursor to {text}")
            hold_until_seen(server.button_down, server.button_up, lambda: True,
                            f"click {fixed + 1}")

        # The frame after the third click releases the selection; the placement stays.
        placed = " ".join(f"{i}: {c[1]}" for i, c in enumerate(CORNERS))
        final = expected_report(placed, -1)
        program.move_to(600, 40)
        wait_until(report_matches(final), STEP_TIMEOUT, "the placed triangle, none selected")

        # The window shows it: white inside, black outside, and only black or white.
        picture = program.grab()
        for px, py in INSIDE:
            if picture.at(px, py) != WHITE:
                raise Failure(f"pixel ({px}, {py}) inside the triangle is "
                              f"{picture.at(px, py):06x}")
        for px, py in OUTSIDE:
            if picture.at(px, py) != BLACK:
                raise Failure(f"pixel ({px}, {py}) outside the triangle is "
                              f"{picture.at(px, py):06x}")
        whites = picture.pixels.count(WHITE)
        if whites + picture.pixels.count(BLACK) != CLIENT_WIDTH * CLIENT_HEIGHT:
            raise Failure("the window holds colours other than black and white")
        if abs(whites - TRIANGLE_AREA) > TRIANGLE_AREA * 0.02:
            raise Failure(f"{whites} white pixels, the triangle covers about {TRIANGLE_AREA}")

        # Close it the way a window manager does: WM_DELETE_WINDOW, and exit status 0.
        program.request_close()
        try:
            status = program.process.wait(
                timeout=max(1, min(STEP_TIMEOUT, DEADLINE - time.monotonic())))
        except subprocess.TimeoutExpired:
            raise Failure("the program did not exit after WM_DELETE_WINDOW") from None
        if status != 0:
            raise Failure(f"exit status {status} after WM_DELETE_WINDOW, expected 0")
        cleared = check_clears(output_path)
        print(f"ok: {cleared} reports, each after one clear; last:\n" + "\n".join(reader.poll()))
        return 0
    except AssertionError as failure:  # Failure, and the harness's waits and checks
        print(f"FAIL: {failure}")
        if reader is not None:
            print("last report read:", reader.last, sep="\n")
        if program is not None:
            print("wine stderr (end):", program.stderr_text()[-2000:], sep="\n")
        return 1
    finally:
        if program is not None and program.is_running():
            program.process.kill()
        subprocess.run([wineserver, "-k"], env=env, stderr=subprocess.DEVNULL)
        subprocess.run([wineserver, "-w"], env=env, stderr=subprocess.DEVNULL)
        if program is not None:
            program.process.wait()
            program.stop()
        server.close()
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    # A terminated test still stops its Wine and Xvfb: SystemExit runs main's clean-up.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    sys.exit(main())
