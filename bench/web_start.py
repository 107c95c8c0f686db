# How soon the web page shows its first report after the navigation begins, in Chromium: cold
# (a new browser profile, nothing cached) on loopback and on a "fast 3G" link, and warm, a
# second visit that the page's service worker serves from its cache. Also the page's size.
# Usage: PYTHONPATH=tests python3 bench/web_start.py [--rounds N] FOLDER... (build/web, say)
# (tests/web/install-driver first: it installs the browser driver library).
import argparse
import os

from figures import machine, summary
from harness.browser import BrowserDisplay
from harness.common import STARTUP_TIMEOUT, wait_for

# DevTools' own "fast 3G": 150 ms latency, 1.6 Mbit/s down, 750 kbit/s up.
FAST_3G = {"offline": False, "latency": 150, "downloadThroughput": 1.6e6 / 8,
           "uploadThroughput": 750e3 / 8}
# Installed before the page's own script: the time of the first whole report in the panel, in
# ms since the navigation began.
FIRST_REPORT = """addEventListener("DOMContentLoaded", () => {
  const panel = document.getElementById("console");
  new MutationObserver((_, observer) => {
    if (panel.textContent.split("\\n").length < 7) return;
    window.firstReport = performance.now();
    observer.disconnect();
  }).observe(panel, {childList: true, characterData: true, subtree: true});
});"""
PAGE_FILES = ("index.html", "triangle-editor.js", "triangle-editor.wasm")


def forget(display):
    """Drops what the constructor's visit left (cache, worker, its caches) and keeps the browser's
    cache out of later loads: each load then comes from the server or from the worker."""
    display.browser.cdp("Network.enable")
    display.browser.cdp("Network.setCacheDisabled", cacheDisabled=True)
    display.browser.cdp("Storage.clearDataForOrigin", origin=display.url.rstrip("/"),
                        storageTypes="all")


def first_report(display):
    display.open()
    return wait_for(lambda: display.evaluate("window.firstReport"), STARTUP_TIMEOUT,
                    what="the first report")


def measure(folder, rounds):
    cold, slow, warm = [], [], []
    for n in range(rounds):
        with BrowserDisplay(folder) as display:
            display.browser.call(do="onNewDocument", script=FIRST_REPORT)
            forget(display)
            cold.append(first_report(display))
            if os.path.exists(os.path.join(folder, "sw.js")):  # a page that starts offline
                wait_for(lambda: display.evaluate("Boolean(navigator.serviceWorker.controller)"),
                         what="the page served by its worker")
                warm.append(first_report(display))
        with BrowserDisplay(folder) as display:
            display.browser.call(do="onNewDocument", script=FIRST_REPORT)
            forget(display)
            display.browser.cdp("Network.emulateNetworkConditions", **FAST_3G)
            slow.append(first_report(display))
        print(f"round {n + 1}: cold {cold[-1]:.0f} ms, fast 3G {slow[-1]:.0f} ms"
              + (f", warm {warm[-1]:.0f} ms" if warm else ""), flush=True)
    size = sum(os.path.getsize(os.path.join(folder, name)) for name in PAGE_FILES)
    print(f"{folder}: {' + '.join(PAGE_FILES)} {size / 1000:.0f} KB; first report, ms after "
          f"navigation: cold {summary(cold, 0)}; fast 3G {summary(slow, 0)}"
          + (f"; warm {summary(warm, 0)}" if warm else ""), flush=True)


def main():
    parser = argparse.ArgumentParser(description="The web page's time to its first report.")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("folders", nargs="+")
    args = parser.parse_args()
    print("machine:", machine(), flush=True)
    for folder in args.folders:
        measure(folder, args.rounds)


if __name__ == "__main__":
    main()
