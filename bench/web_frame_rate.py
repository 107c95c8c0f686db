# The web page's animation frames per second against a bare WebGL page of the same 640 x 480
# canvas that draws five triangles a frame (one placed, four collapsed, as the editor then does),
# in each engine. The two take turns in one browser, so that both meet the same machine.
# Usage: PYTHONPATH=tests python3 bench/web_frame_rate.py build/web [ROUNDS [SECONDS [ENGINE...]]]
# (PIXEL_RATIO=2 for a screen of 2 device pixels a CSS pixel).
# (tests/web/install-driver first: it installs the browser driver library).
import os
import shutil
import sys
import tempfile
import time

from figures import load, machine, summary
from harness import scenarios
from harness.browser import ENGINES, BrowserDisplay, page_editor
from harness.report import to_ndc

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
  gl.viewport(0, 0, canvas.width, canvas.height);
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
COUNTERS = "[harness.frames, performance.now()]"


def frame_rate(browser, seconds):
    """Animation frames per second over `seconds`, after a second to settle."""
    time.sleep(1)
    frames0, ms0 = browser.evaluate(COUNTERS)
    time.sleep(seconds)
    frames1, ms1 = browser.evaluate(COUNTERS)
    return (frames1 - frames0) / (ms1 - ms0) * 1000


def measure(folder, engine, rounds, seconds, ratio):
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
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 4
    seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 5
    with tempfile.TemporaryDirectory(prefix="triangle-web-bench-") as folder:
        shutil.copytree(sys.argv[1], folder, dirs_exist_ok=True)
        placed = [to_ndc(*corner) for corner in scenarios.CORNERS] + [(0.0, 0.0)] * 12
        with open(os.path.join(folder, "bare.html"), "w") as f:
            f.write(BARE_PAGE % [c for corner in placed for c in corner])
        print("machine:", machine(), flush=True)
        for engine in sys.argv[4:] or ENGINES:
            measure(folder, engine, rounds, seconds, int(os.environ.get("PIXEL_RATIO", 1)))


if __name__ == "__main__":
    main()
