# The editor as a native Wayland client, on a headless sway at output scale 1 and 2: the shared
# placement scenario with a virtual keyboard and pointer, closed by the compositor, silent on
# stderr. Exits 77 (skipped) where the editor's GLFW has no Wayland backend.
import ctypes
import os
import re
import subprocess
import sys

from harness import scenarios
from harness.case import EditorTestCase, main
from harness.wayland import Sway

SKIPPED = 77


def glfw_without_wayland(exe):
    """Why the editor cannot be a Wayland client, or None when its GLFW can."""
    linked = subprocess.run(["ldd", exe], capture_output=True, text=True).stdout
    path = re.search(r"libglfw\.so\S* => (\S+)", linked)
    if not path:
        return f"{exe} links no shared GLFW"
    version = ctypes.CDLL(path.group(1)).glfwGetVersionString
    version.restype = ctypes.c_char_p
    text = version().decode()
    return None if " Wayland" in text else f"GLFW {text} has no Wayland backend"


class AtScale1(EditorTestCase):
    scale = 1

    def display_factory(self):
        return Sway(os.environ["WAYLAND_VIRTUAL_INPUT"], self.scale)

    def test_placement_shows_under_the_clicks_and_closing_ends_with_zero(self):
        editor = self.start_editor_to_file()
        scenarios.place_a_triangle(self, editor)
        self.assertEqual(editor.close_and_wait(), 0)
        with open(editor.reports.path) as f:
            scenarios.check_output_of_placement(self, f.read())
        self.assertEqual(editor.stderr_text(), "")


class AtScale2(AtScale1):
    scale = 2


if __name__ == "__main__":
    reason = glfw_without_wayland(sys.argv[1]) if len(sys.argv) > 1 else None
    if reason:
        print(f"SKIPPED: {reason}")
        sys.exit(SKIPPED)
    if not os.environ.get("WAYLAND_VIRTUAL_INPUT"):
        sys.exit("virtual_input was not built: scripts/install-deps wayland brings what it needs")
    main()
