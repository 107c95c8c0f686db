# Input storm: twenty seconds of random keys, buttons, motion far outside and resizes; the
# editor stays up, writes only well-formed reports and closes cleanly.
import os
import random
import time

from harness.case import EditorTestCase, main
from harness.scenarios import SELECT_KEYS
from harness.x11 import XServer

STORM_SECONDS = float(os.environ.get("STORM_SECONDS", "20"))
SCREEN_WIDTH, SCREEN_HEIGHT = 1600, 1200

KEYPAD_KEYS = ["KP_1", "KP_2", "KP_3", "KP_4", "KP_5", "KP_0", "KP_Enter"]
OTHER_KEYS = ["0", "6", "9", "a", "q", "space", "Escape", "Return", "Tab", "Shift_L",
              "Control_L", "Alt_L", "F4", "BackSpace", "Delete"]
ALL_KEYS = SELECT_KEYS * 3 + KEYPAD_KEYS + OTHER_KEYS
BUTTONS = [1] * 6 + [2, 3, 4, 5, 6, 7]


class InputStorm(EditorTestCase):
    @staticmethod
    def display_factory():
        return XServer(screen=f"{SCREEN_WIDTH}x{SCREEN_HEIGHT}x24")

    def test_random_input_storm(self):
        seed = int(os.environ.get("STORM_SEED", str(int(time.time()))))
        print(f"\nstorm seed {seed} (set STORM_SEED to repeat)", flush=True)
        rng = random.Random(seed)
        editor = self.start_editor_to_file()
        server, window = self.display, editor.window
        keys_down, buttons_down = set(), set()

        def anywhere_inside():
            return rng.randrange(640), rng.randrange(480)

        def far_outside():  # window positions; the window is at the screen's top left
            return rng.randrange(700, SCREEN_WIDTH), rng.randrange(500, SCREEN_HEIGHT)

        def short():
            return rng.choice([0.0, 0.001, 0.005, 0.02, 0.06, 0.12])

        def toggle(item, held, down, up):
            """Releases an item held down; otherwise presses it, and mostly releases it soon."""
            if item not in held:
                down(item)
                held.add(item)
                if rng.random() >= 0.7:
                    return
                time.sleep(short())
            up(item)
            held.discard(item)

        actions = 0
        end = time.monotonic() + STORM_SECONDS
        try:
            while time.monotonic() < end:
                actions += 1
                roll = rng.random()
                if roll < 0.25:  # a key tapped, or pressed and left down for a while
                    toggle(rng.choice(ALL_KEYS), keys_down, server.key_down, server.key_up)
                elif roll < 0.45:  # a button clicked, or held down across later actions
                    toggle(rng.choice(BUTTONS), buttons_down, server.button_down,
                           server.button_up)
                elif roll < 0.75:  # the cursor: inside, far outside, or dragged across
                    window.move_to(*(anywhere_inside() if rng.random() < 0.7 else far_outside()))
                elif roll < 0.8:  # a resize, smaller or larger than the creation size
                    window.configure(width=rng.randrange(1, 1400), height=rng.randrange(1, 1100))
                elif roll < 0.85:  # a burst of motion with no pause at all
                    for _ in range(rng.randrange(5, 50)):
                        window.move_to(*anywhere_inside())
                time.sleep(short())
                if actions % 50 == 0:
                    self.assertTrue(editor.is_running(), f"editor died after {actions} actions")
        finally:
            for key in keys_down:
                server.key_up(key)
            for button in buttons_down:
                server.button_up(button)
        print(f"{actions} actions in {STORM_SECONDS:.0f} s", flush=True)

        self.assertTrue(editor.is_running(), "the editor did not survive the storm")
        self.assertEqual(editor.close_and_wait(), 0)
        reports, problems = editor.reports.finish()
        self.assertEqual(problems[:3], [], "malformed output")
        selections = {report[-1] for report in reports}
        print(f"{len(reports)} reports; selections seen: {sorted(selections)}", flush=True)
        self.assertGreater(len(reports), 100)
        # The storm did reach the editor: some triangle was selected at some point.
        self.assertTrue(selections - {"-1"}, "no selection ever showed in the report")


if __name__ == "__main__":
    main()
