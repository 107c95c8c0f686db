# The web page measured in the browser (FOLDER: build/web, after tests/web/install-driver).
# start: the time from the navigation to the first report, in Chromium: cold (a new profile,
#   nothing cached) on loopback and on a "fast 3G" link, and warm, a second visit that the
#   page's service worker serves from its cache; also the page's size.
# frames: animation frames per second against a bare WebGL page of the same 640 x 480 canvas
#   that draws five triangles a frame (one placed, four collapsed, as the editor then does), in
#   each engine, the two taking turns in one browser so that both meet the same machine.
# Usage: PYTHONPATH=tests python3 bench/web_page.py {start,frames} --help
import argparse
import os
import pathlib
import shutil
import tempfile
import time

from figures import load, machine, summary
from harness import scenarios
from harness.browser import ENGINES, BrowserDisplay, page_editor
from harness.common import STARTUP_TIMEOUT, wait_for
from harness.report import to_ndc

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

BARE_PAGE = """<!doctype html>
<html><head><meta charset="utf-8"><title>bare</title><link rel="icon" href="data:,"></head>
<body style="margin: 16px; background: #ececec">
<canvas id="canvas" style="display: block; width: 640px; height: 480px; background: #000"></canvas>
<script>
  "use strict";
  var canvas = document.getElementById("canvas");  // the screen's device pixels, as the editor's
  canvas.width = 640 * devicePixelRatio, canvas.height = 480 * devicePixelRatio;
  // The editor's context: no alpha, no antialiasing (its GLFW asks for no samples), a stencil.
  var gl = canvas.getContext("webgl", {alpha: false, antialias: false, stencil: true});
  var program = gl.createProgram();
  [[gl.VERTEX_SHADER, "attribute vec2 p; void main() { gl_Position = vec4(p, 0.0, 1.0); }"],
   [gl.FRAGMENT_SHADER, "void main() { gl_FragColor = vec4(1.0); }"]].forEach(function (s) {
    var shader = gl.createShader(s[0]);
    gl.shaderSource(shader, s[1]);
    gl.compileShader(shader);
    gl.attachShader(program, shader);
  });
  gl.linkProgram(program);
  gl.useProgram(program);
  var triangles = new Float32Array(%s);
  gl.bindBuffer(gl.ARRAY_BUFFER, gl.createBuffer());
  gl.enableVertexAttribArray(0);
  gl.vertexAttribPointer(0, 2, gl.FLOAT, false, 0, 0);
  window.harness = {frames: 0};
  requestAnimationFrame(function frame() {
    harness.frames++;
    gl.clear(gl.COLOR_BUFFER_BIT);
    for (var t = 0; t < 5; t++) {  // one upload and one draw per triangle, as the emulation does
      gl.bufferData(gl.ARRAY_BUFFER, triangles.subarray(6 * t, 6 * t + 6), gl.STREAM_DRAW);
      gl.drawArrays(gl.TRIANGLES, 0, 3);
    }
    requestAnimationFrame(frame);
  });
</script></body></html>
"""


def forget(display):
    """Times every later load's first report, drops what the constructor's visit left (cache,
    worker, its caches) and turns the cache off: each load comes from the server or the worker."""
    display.browser.call(do="onNewDocument", script=FIRST_REPORT)
    display.browser.cdp("Network.enable")
    display.browser.cdp("Network.setCacheDisabled", cacheDisabled=True)
    display.browser.cdp("Storage.clearDataForOrigin", origin=display.url.rstrip("/"),
                        storageTypes="all")


def first_report(display):
    display.open()
    return wait_for(lambda: display.evaluate("window.firstReport"), STARTUP_TIMEOUT,
                    what="the first report")


def measure_start(folder, rounds):
    cold, slow, warm = [], [], []
    for n in range(rounds):
        with BrowserDisplay(folder) as display:
            forget(display)
            cold.append(first_report(display))
            if os.path.exists(os.path.join(folder, "sw.js")):  # a page that starts offline
                wait_for(lambda: display.evaluate("Boolean(navigator.serviceWorker.controller)"),
                         what="the page served by its worker")
                warm.append(first_report(display))
        with BrowserDisplay(folder) as display:
            forget(display)
            display.browser.cdp("Network.emulateNetworkConditions", **FAST_3G)
            slow.append(first_report(display))
        print(f"round {n + 1}: cold {cold[-1]:.0f} ms, fast 3G {slow[-1]:.0f} ms"
              + (f", warm {warm[-1]:.0f} ms" if warm else ""), flush=True)
    size = sum(os.path.getsize(os.path.join(folder, name)) for name in PAGE_FILES)
    print(f"{folder}: {' + '.join(PAGE_FILES)} {size / 1000:.0f} KB; first report, ms after "
          f"navigation: cold {summary(cold, 0)}; fast 3G {summary(slow, 0)}"
          + (f"; warm {summary(warm, 0)}" if warm else ""), flush=True)


def frame_rate(browser, seconds):
    """Animation frames per second over `seconds`, after a second to settle."""
    time.sleep(1)
    frames0, ms0 = browser.evaluate("[harness.frames, performance.now()]")
    time.sleep(seconds)
    frames1, ms1 = browser.evaluate("[harness.frames, performance.now()]")
    return (frames1 - frames0) / (ms1 - ms0) * 1000


def measure_frames(folder, engine, rounds, seconds, ratio):
    with BrowserDisplay(folder, engine, viewport={"deviceScaleFactor": ratio}) as browser:
        ratios = []
        for n in range(rounds):
            browser.open()
            editor = page_editor(browser)
            editor.find_window()
            scenarios.place_a_triangle(editor)
            page = frame_rate(browser, seconds)
            browser.open("bare.html")
            bare = frame_rate(browser, seconds)
            ratios.append(page / bare)
            print(f"{engine} round {n + 1}: editor {page:.1f}, bare {bare:.1f} frames/s, "
                  f"ratio {page / bare:.3f}", flush=True)
        print(f"{engine} at {ratio}: ratio editor/bare {summary(ratios, 3)}; load {load()}",
              flush=True)


def main():
    parser = argparse.ArgumentParser(description="The web page's start and frame rate.")
    modes = parser.add_subparsers(dest="mode", required=True)
    start = modes.add_parser("start", help="the time to the first report, in Chromium")
    start.add_argument("--rounds", type=int, default=5)
    start.add_argument("folders", nargs="+")
    frames = modes.add_parser("frames", help="the frame rate against a bare WebGL page")
    frames.add_argument("--rounds", type=int, default=4)
    frames.add_argument("--seconds", type=float, default=5, help="of each page in a round")
    frames.add_argument("--ratio", type=float, default=1, help="device pixels a CSS pixel")
    frames.add_argument("folder")
    frames.add_argument("engines", nargs="*", metavar="ENGINE", help=f"of {', '.join(ENGINES)}")
    args = parser.parse_args()
    print("machine:", machine(), flush=True)
    if args.mode == "start":
        for folder in args.folders:
            measure_start(folder, args.rounds)
        return
    with tempfile.TemporaryDirectory(prefix="triangle-web-bench-") as folder:
        shutil.copytree(args.folder, folder, dirs_exist_ok=True)
        placed = [to_ndc(*corner) for corner in scenarios.CORNERS] + [(0.0, 0.0)] * 12
        pathlib.Path(folder, "bare.html").write_text(
            BARE_PAGE % [c for corner in placed for c in corner])
        for engine in args.engines or ENGINES:
            measure_frames(folder, engine, args.rounds, args.seconds, args.ratio)


if __name__ == "__main__":
    main()
