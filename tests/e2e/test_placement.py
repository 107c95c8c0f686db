# Placing triangles with real keys and clicks: what the window shows while and after a triangle
# is placed, and the report the editor writes to a file.
from Xlib import XK

from harness import (EditorTestCase, expected_report, last_report, main, parse_reports,
                     report_count, wait_for)

# Corners at window positions whose coordinates (x/320 - 1, 1 - y/240) are exact in float, so
# the expected report text does not depend on rounding.
FIRST = [(160, 60), (480, 120), (320, 420)]  # (-0.5, 0.75) (0.5, 0.5) (0, -0.75)
BAND_CORNER = (560, 360)                    # (0.75, -0.5): where the rubber band is checked
HELD_AT = (80, 420)                          # (-0.75, -0.75)
DRAGGED_THROUGH = [(200, 300), (400, 180), (600, 60)]
SECOND = [HELD_AT, (240, 240), (100, 330)]   # (-0.25, 0) (-0.6875, -0.375)


class Placement(EditorTestCase):
    def test_key_and_three_clicks_place_a_triangle_and_the_report_ends_with_it(self):
        editor, output = self.start_editor_to_file()
        self.wait_for_report(output, expected_report({}), what="the first report")
        self.wait_for_picture(editor, [], what="an empty picture")

        # Keypad digits are not the selection keys.
        editor.tap_key(XK.XK_KP_3)
        before = report_count(output)
        wait_for(lambda: report_count(output) > before + 2, what="more reports")
        self.assertEqual(last_report(output)[-1], "-1", "keypad 3 must not select")

        editor.tap_key(XK.XK_3)
        self.wait_for_selection(output, 2)
        editor.click(*FIRST[0])
        editor.click(*FIRST[1])

        # Two corners fixed: the third follows the cursor, so a rubber-band triangle shows.
        editor.move_to(*BAND_CORNER)
        band = FIRST[:2] + [BAND_CORNER]
        self.wait_for_picture(editor, [band], what="the rubber band")
        self.wait_for_report(output, expected_report({2: band}, selection=2))

        editor.click(*FIRST[2])
        self.wait_for_report(output, expected_report({2: FIRST}), what="the placed triangle")
        self.wait_for_picture(editor, [FIRST], what="the placed triangle")

        # Placed means fixed: moving the cursor afterwards changes nothing.
        editor.move_to(600, 440)
        editor.wait_frames()
        self.wait_for_picture(editor, [FIRST], what="the triangle staying put")

        self.assertEqual(editor.close_and_wait(), 0)
        with open(output) as f:
            text = f.read()
        reports, problems = parse_reports(text, finished=True)
        self.assertEqual(problems, [], "every line of the output belongs to a report")
        self.assertEqual(reports[0], expected_report({}))
        self.assertEqual(text.splitlines()[-6:], expected_report({2: FIRST}))
        self.assertTrue(text.endswith("-1\n"))

    def test_a_button_held_while_the_cursor_moves_fixes_one_corner(self):
        editor, output = self.start_editor_to_file()
        editor.tap_key(XK.XK_5)
        self.wait_for_selection(output, 4)

        editor.move_to(*HELD_AT)
        self.server.button_down(1)
        try:
            editor.wait_frames()
            for point in DRAGGED_THROUGH:
                editor.move_to(*point)
                editor.wait_frames()
            # Still held at the end of the drag: only the first corner is fixed; the other two
            # are at the cursor.
            end = DRAGGED_THROUGH[-1]
            self.wait_for_report(output, expected_report({4: [HELD_AT, end, end]}, selection=4),
                                 what="one corner fixed during the drag")
        finally:
            self.server.button_up(1)
        editor.wait_frames()

        editor.click(*SECOND[1])
        editor.move_to(*SECOND[2])
        self.wait_for_picture(editor, [SECOND], what="the rubber band after the drag")
        editor.click(*SECOND[2])
        self.wait_for_report(output, expected_report({4: SECOND}), what="the placed triangle")
        self.wait_for_picture(editor, [SECOND], what="the triangle placed after the drag")
        self.assertEqual(editor.close_and_wait(), 0)


if __name__ == "__main__":
    main()
