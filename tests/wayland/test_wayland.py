# The editor as a native Wayland client under each desktop's own compositor, nested in a private
# Xvfb: the shared scenarios, closed as a user closes it there. Exits 77 (skipped) without Wayland.
import sys

from harness import glfw
from harness.case import EditorTestCase, main
from harness.scenarios import ScenarioSet
from harness.wayland import Kwin, Mutter, Sway, Weston


class OnCompositor(ScenarioSet):
    compositor, scale = None, 1

    def display_factory(self):
        return self.compositor(self.scale)


class OnMutter(OnCompositor, EditorTestCase):
    compositor = Mutter


class OnKwin(OnCompositor, EditorTestCase):
    compositor = Kwin


class OnWeston(OnCompositor, EditorTestCase):
    compositor = Weston


class OnSway(OnCompositor, EditorTestCase):
    compositor = Sway


class OnSwayAtScale2(OnSway):
    scale = 2


class OnWestonAtScale2(OnWeston):
    scale = 2


if __name__ == "__main__":
    if not glfw.has_wayland():
        print(f"SKIPPED: GLFW {glfw.version()} has no Wayland backend")
        sys.exit(77)
    main()
