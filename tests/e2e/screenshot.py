# Makes the README's screenshot: starts the editor under a private Xvfb, places two triangles
# with real input, and saves the 640 x 480 client area as a PNG.
#   PYTHONPATH=tests python3 tests/e2e/screenshot.py build/ci/triangle-editor docs/screenshot.png
import os
import sys

from harness.editor import check_sanitizer_reports, start_editor
from harness.scenarios import place
from harness.x11 import XServer

TRIANGLES = {
    0: [(80, 420), (240, 60), (320, 390)],
    1: [(360, 120), (600, 180), (440, 450)],
}


def main():
    if len(sys.argv) != 3:
        sys.exit(f"usage: {sys.argv[0]} TRIANGLE_EDITOR OUTPUT.png")
    exe, target = os.path.abspath(sys.argv[1]), sys.argv[2]
    with XServer() as server, start_editor(server, exe) as editor:
        editor.find_window()
        for index, corners in TRIANGLES.items():
            place(editor, index, corners)
        # Park the cursor outside so that it plays no part in the picture.
        editor.move_to(1000, 700)
        editor.wait_for_picture(list(TRIANGLES.values()), what="both triangles on screen")
        editor.window.grab().image.save(target, "PNG", optimize=True)  # the same still picture
        if editor.close_and_wait() != 0:
            sys.exit("the editor did not exit cleanly")
    check_sanitizer_reports()
    print(f"saved {target}")


if __name__ == "__main__":
    main()
