# Frames per second of the web page in headless Chromium, paced by the browser: the page from
# build/web with one triangle placed by real input, then three 10 s windows counting the page's
# animation frames and, from the reports (one every eleventh frame), the program's own frames.
# Usage: PYTHONPATH=tests python3 bench/web_frame_rate.py build/web
import sys
import time

from harness.browser import BrowserDisplay, PageEditor

COUNTERS = "[harness.frames, harness.reports, performance.now()]"

with BrowserDisplay(sys.argv[1]) as browser:
    page = PageEditor(browser)
    page.find_window()
    page.tap_key("3")
    for corner in [(160, 60), (480, 120), (320, 420)]:
        page.click(*corner)
    for _ in range(3):
        frames0, reports0, ms0 = browser.evaluate(COUNTERS)
        time.sleep(10)
        frames1, reports1, ms1 = browser.evaluate(COUNTERS)
        seconds = (ms1 - ms0) / 1000
        print(f"animation frames/s {(frames1 - frames0) / seconds:.1f}, "
              f"program frames/s from reports {(reports1 - reports0) * 11 / seconds:.1f}")
