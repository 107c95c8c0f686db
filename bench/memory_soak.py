# Memory soak: the editor under Xvfb, placing triangles now and then, its resident set sampled
# from /proc. After a warm-up it may grow by a small margin at most: growth would mean a leak in
# the program or in what it drives per frame.
import argparse
import os
import sys
import tempfile
import time

from figures import summary
from harness.editor import start_editor
from harness.report import expected_report
from harness.scenarios import place
from harness.x11 import XServer


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))


def main():
    parser = argparse.ArgumentParser(description="Fails if the editor's resident set grows.")
    parser.add_argument("--editor", required=True)
    parser.add_argument("--seconds", type=float, default=60.0)
    parser.add_argument("--warmup", type=float, default=10.0)
    parser.add_argument("--limit-kib", type=int, default=64)
    args = parser.parse_args()
    if not 0 <= args.warmup < args.seconds:
        parser.error("the warm-up must end before the soak does")

    with XServer() as x, tempfile.TemporaryDirectory() as work, start_editor(
            x, os.path.abspath(args.editor), stdout=os.path.join(work, "out")) as editor:
        editor.find_window()
        mapped_at = time.monotonic()
        deadline = mapped_at + args.seconds
        samples = []  # (seconds since the window appeared, VmRSS KiB), every 0.5 s
        placements, next_placement = 0, mapped_at
        while (now := time.monotonic()) < deadline:
            samples.append((now - mapped_at, rss_kib(editor.process.pid)))
            # 3 s after the last placement, the next triangle gets three corners at positions
            # that differ each round, so that the report's numbers keep changing.
            if next_placement <= now < deadline - 3:
                place(editor, placements % 5, [(40 + (placements * 37 + corner * 211) % 560,
                                                30 + (placements * 53 + corner * 149) % 420)
                                               for corner in range(3)])
                placements += 1
                next_placement = time.monotonic() + 3
            time.sleep(0.5)
        status = editor.close_and_wait(10)
        stderr = editor.stderr_text()
        last = editor.last_report()

    settled = [kib for at, kib in samples if at >= args.warmup]
    growth = max(settled) - settled[0]
    print(f"VmRSS KiB: at window {samples[0][1]}, after {args.warmup:.0f} s warm-up {settled[0]}, "
          f"at end {settled[-1]}; after warm-up {summary(settled, 0)} ({len(samples)} samples)")
    print(f"growth after warm-up: peak {growth:+d} KiB, at end {settled[-1] - settled[0]:+d} KiB "
          f"(limit {args.limit_kib} KiB); {placements} placements")

    # The last complete report must show placed corners, or the input never arrived.
    placed = last is not None and last[:5] != expected_report({})[:5]
    failures = [message for failed, message in [
        (status != 0, f"the editor exited with {status}"),
        (stderr.strip(), "the editor wrote to stderr:\n" + stderr),
        (not placed, "no report shows a placed corner: the input did not arrive"),
        (growth > args.limit_kib, f"VmRSS grew by {growth} KiB after warm-up")] if failed]
    for failure in failures:
        print("memory-soak: " + failure, file=sys.stderr)
    print("memory-soak: %s" % ("FAILED" if failures else "passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
