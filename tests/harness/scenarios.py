# Scenarios written once and run on every display and build: the same real input and checks.
from harness.report import expected_report

# The digit keys of the main row select triangles 0 to 4 (not the keypad's).
SELECT_KEYS = ["1", "2", "3", "4", "5"]

# Corners at window positions whose coordinates (x/320 - 1, 1 - y/240) are exact in float, so
# the expected report text does not depend on rounding.
CORNERS = [(160, 60), (480, 120), (320, 420)]  # (-0.5, 0.75) (0.5, 0.5) (0, -0.75)
BAND_CORNER = (560, 360)                       # (0.75, -0.5): where the rubber band is checked
AWAY = (600, 440)
HELD_AT = (80, 420)                            # (-0.75, -0.75)
DRAGGED_THROUGH = [(200, 300), (400, 180), (600, 60)]
AFTER_DRAG = [HELD_AT, (240, 240), (100, 330)]  # (-0.25, 0) (-0.6875, -0.375)


def place(editor, index, corners):
    """Selects triangle `index` with its digit key and fixes its three corners by clicks."""
    editor.tap_key(SELECT_KEYS[index])
    for corner in corners:
        editor.click(*corner)


def place_a_triangle(editor):
    """From a fresh start: digit key 3 selects triangle 2, whose unfixed corners follow the
    cursor (all three at first), and three clicks place it at CORNERS."""
    editor.wait_for_report(expected_report({}), what="the first report")
    editor.move_to(*CORNERS[0])
    editor.tap_key("3")
    for fixed, corner in enumerate(CORNERS):
        if fixed == 2:
            # Two corners fixed: the third follows the cursor, so a rubber band shows.
            editor.move_to(*BAND_CORNER)
            band = CORNERS[:2] + [BAND_CORNER]
            editor.wait_for_picture([band], what="the rubber band")
            editor.wait_for_report(expected_report({2: band}, 2), what="the rubber band")
        editor.move_to(*corner)
        following = CORNERS[:fixed] + [corner] * (3 - fixed)
        editor.wait_for_report(expected_report({2: following}, 2),
                               what=f"corners {fixed} to 2 following the cursor")
        editor.click(*corner)

    # The third click releases the selection, and placed means fixed: moving the cursor
    # afterwards changes nothing.
    editor.move_to(*AWAY)
    editor.wait_frames()
    editor.wait_for_picture([CORNERS], what="the triangle staying put")
    editor.wait_for_report(expected_report({2: CORNERS}), what="the triangle staying put")


class ScenarioSet:
    """The scenarios every display and build runs, mixed into its test case: `class
    OnX11(ScenarioSet, EditorTestCase)`, each from an editor of its own. A display or build
    changes how the editor starts (start_scenario_editor) and what it adds to the output
    (report_line, check_after_close); one that cannot do a scenario skips it, saying why."""

    def start_scenario_editor(self):
        return self.start_editor_to_file()

    def check_after_close(self, editor):
        """What else the closed editor's run must show: here, not a word on stderr."""
        self.assertEqual(editor.stderr_text(), "", "the editor writes nothing to stderr")

    def test_a_keypad_digit_does_not_select(self):
        editor = self.start_scenario_editor()
        editor.wait_for_report(expected_report({}), what="the first report")
        editor.wait_for_picture([], what="an empty picture")
        editor.tap_key("KP_3")
        editor.wait_for_reports(2)
        self.assertEqual(editor.last_report()[-1], "-1", "keypad 3 must not select")
        # The keys do reach the editor: the main row's 3 selects.
        editor.tap_key("3")
        editor.wait_for_selection(2)

    def test_a_digit_key_and_three_clicks_place_a_triangle(self):
        place_a_triangle(self.start_scenario_editor())

    def test_a_button_held_through_a_drag_fixes_one_corner(self):
        editor = self.start_scenario_editor()
        editor.tap_key("5")
        editor.wait_for_selection(4)
        editor.move_to(*HELD_AT)
        with editor.holding_button():
            for point in DRAGGED_THROUGH:
                editor.move_to(*point)
                editor.wait_frames()
            # Still held at the end of the drag: only the first corner is fixed.
            end = DRAGGED_THROUGH[-1]
            editor.wait_for_report(expected_report({4: [HELD_AT, end, end]}, 4),
                                   what="one corner fixed during the drag")
        editor.click(*AFTER_DRAG[1])
        editor.move_to(*AFTER_DRAG[2])
        editor.wait_for_picture([AFTER_DRAG], what="the rubber band after the drag")
        editor.click(*AFTER_DRAG[2])
        editor.wait_for_report(expected_report({4: AFTER_DRAG}), what="the placed triangle")
        editor.wait_for_picture([AFTER_DRAG], what="the triangle placed after the drag")

    def test_closing_gives_0_and_only_reports(self):
        # The output is nothing but reports, from the empty start to the placed triangle.
        editor = self.start_scenario_editor()
        editor.wait_for_report(expected_report({}), what="the first report")
        place(editor, 2, CORNERS)
        editor.wait_for_report(expected_report({2: CORNERS}), what="the placed triangle")
        self.assertEqual(editor.close_and_wait(), 0)
        reports, problems = editor.reports.finish()
        self.assertEqual(problems, [], "every line of the output belongs to a report")
        self.assertEqual(reports[0], expected_report({}))
        self.assertEqual(reports[-1], expected_report({2: CORNERS}))
        self.check_after_close(editor)
        print(f"{len(reports)} reports")
