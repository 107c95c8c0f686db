# The editor as a native Wayland client on a headless sway at output scale 1 and 2: the shared
# placement scenario with a virtual keyboard and pointer, closed by the compositor, silent on
# stderr. Exits 77 (skipped) where GLFW has no Wayland backend.
import ctypes
import os
import sys

from harness import scenarios
from harness.case import EditorTestCase, main
from harness.wayland import Sway


class AtScale1(EditorTestCase):
    scale = 1

    def display_factory(self):
        return Sway(os.environ["WAYLAND_VIRTUAL_INPUT"], self.scale)

    def test_placement_shows_under_the_clicks_and_closing_ends_with_zero(self):
        editor = self.start_editor_to_file()
        scenarios.place_a_triangle(self, editor)
        scenarios.close_after_placement(self, editor)
        self.assertEqual(editor.stderr_text(), "")


class AtScale2(AtScale1):
    scale = 2


if __name__ == "__main__":
    # The GLFW that the loader gives the editor too.
    version = ctypes.CDLL("libglfw.so.3").glfwGetVersionString
    version.restype = ctypes.c_char_p
    if b" Wayland" not in version():
        print(f"SKIPPED: GLFW {version().decode()} has no Wayland backend")
        sys.exit(77)
    if not os.environ.get("WAYLAND_VIRTUAL_INPUT"):
        sys.exit("virtual_input was not built: scripts/install-deps wayland installs what it needs")
    main()
