# Memory soak: runs the editor for a while under Xvfb, places triangles now and then with real
# input, and samples its resident set size from /proc. After a warm-up the resident set may
# not grow by more than a small margin: the frame loop and the report allocate nothing, so
# growth would mean a leak in the program or in what it drives per frame.
import argparse
import os
import statistics
import sys
import tempfile
import threading
import time

from harness.editor import start_editor
from harness.report import expected_report
from harness.scenarios import place
from harness.x11 import XServer


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS for %d" % pid)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--editor", required=True)
    parser.add_argument("--seconds", type=float, default=60.0)
    parser.add_argument("--warmup", type=float, default=10.0)
    parser.add_argument("--limit-kib", type=int, default=64)
    args = parser.parse_args()

    with XServer() as x, tempfile.TemporaryDirectory() as work, \
            start_editor(x, os.path.abspath(args.editor), stdout=os.path.join(work, "out")) as editor:
        editor.find_window()
        mapped_at = time.monotonic()
        samples = []  # (seconds since the window appeared, VmRSS KiB)
        stop = threading.Event()

        def sample():
            while not stop.is_set():
                samples.append((time.monotonic() - mapped_at, rss_kib(editor.process.pid)))
                stop.wait(0.5)

        sampler = threading.Thread(target=sample)
        sampler.start()
        try:
            # Every few seconds select the next triangle and place its three corners at
            # positions that differ each round, so the report's numbers keep changing.
            placements = 0
            deadline = mapped_at + args.seconds
            while time.monotonic() < deadline - 3:
                place(editor, placements % 5, [(40 + (placements * 37 + corner * 211) % 560,
                                                30 + (placements * 53 + corner * 149) % 420)
                                               for corner in range(3)])
                placements += 1
                time.sleep(min(3.0, max(0.0, deadline - 3 - time.monotonic())))
            time.sleep(max(0.0, deadline - time.monotonic()))
        finally:
            stop.set()
            sampler.join()
        status = editor.close_and_wait(10)
        stderr = editor.stderr_text()
        last = editor.last_report()

    settled = [kib for at, kib in samples if at >= args.warmup]
    baseline = settled[0]
    growth = max(settled) - baseline
    final_growth = settled[-1] - baseline
    print("VmRSS KiB: at window %d, after %.0f s warm-up %d, at end %d, max %d, min %d, "
          "median %d (%d samples)" % (
              samples[0][1], args.warmup, baseline, settled[-1], max(settled), min(settled),
              statistics.median(settled), len(samples)))
    print("growth after warm-up: peak %+d KiB, at end %+d KiB (limit %d KiB); %d placements" % (
        growth, final_growth, args.limit_kib, placements))

    # The last complete report must show placed corners, or the input never arrived.
    placed = last is not None and last[:5] != expected_report({})[:5]
    failures = []
    if status != 0:
        failures.append("the editor exited with %s" % status)
    if stderr.strip():
        failures.append("the editor wrote to stderr:\n" + stderr)
    if not placed:
        failures.append("no report shows a placed corner: the input did not arrive")
    if growth > args.limit_kib:
        failures.append("VmRSS grew by %d KiB after warm-up" % growth)
    for failure in failures:
        print("memory-soak: " + failure, file=sys.stderr)
    print("memory-soak: %s" % ("FAILED" if failures else "passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
