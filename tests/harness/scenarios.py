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


def place_a_triangle(test, editor, index=2):
    """From a fresh start: a keypad digit does not select, a digit key selects triangle `index`,
    whose unfixed corners follow the cursor, and three clicks place it. Returns the corners."""
    key = SELECT_KEYS[index]
    editor.wait_for_report(expected_report({}), what="the first report")
    test.wait_for_picture(editor, [], what="an empty picture")

    # Keypad digits are not the selection keys.
    editor.tap_key("KP_" + key)
    editor.wait_for_reports(2)
    test.assertEqual(editor.last_report()[-1], "-1", f"keypad {key} must not select")

    editor.move_to(*CORNERS[0])
    editor.tap_key(key)
    editor.wait_for_report(expected_report({index: [CORNERS[0]] * 3}, index),
                           what=f"key {key} selecting, every corner at the cursor")

    for fixed, corner in enumerate(CORNERS):
        editor.move_to(*corner)
        following = CORNERS[:fixed] + [corner] * (3 - fixed)
        editor.wait_for_report(expected_report({index: following}, index),
                               what=f"corners {fixed} to 2 following the cursor")
        if fixed == 2:
            # Two corners fixed: the third follows the cursor, so a rubber band shows.
            editor.move_to(*BAND_CORNER)
            band = CORNERS[:2] + [BAND_CORNER]
            test.wait_for_picture(editor, [band], what="the rubber band")
            editor.wait_for_report(expected_report({index: band}, index), what="the rubber band")
            editor.move_to(*corner)
            editor.wait_for_report(expected_report({index: CORNERS}, index))
        editor.click(*corner)

    # The frame after the third click releases the selection; the placement stays.
    editor.wait_for_report(expected_report({index: CORNERS}), what="the placed triangle")
    test.wait_for_picture(editor, [CORNERS], what="the placed triangle")

    # Placed means fixed: moving the cursor afterwards changes nothing.
    editor.move_to(*AWAY)
    editor.wait_frames()
    test.wait_for_picture(editor, [CORNERS], what="the triangle staying put")
    editor.wait_for_report(expected_report({index: CORNERS}), what="the triangle staying put")
    return CORNERS


def hold_a_button_while_dragging(test, editor, index=4, placed=None):
    """A button held over many frames while the cursor moves fixes one corner only; `placed`
    ({index: corners}), the triangles placed before, stay."""
    placed = dict(placed or {})
    others = list(placed.values())
    editor.tap_key(SELECT_KEYS[index])
    editor.wait_for_selection(index)
    editor.move_to(*HELD_AT)
    with editor.holding_button():
        for point in DRAGGED_THROUGH:
            editor.move_to(*point)
            editor.wait_frames()
        # Still held at the end of the drag: only the first corner is fixed; the other two are
        # at the cursor.
        end = DRAGGED_THROUGH[-1]
        editor.wait_for_report(expected_report({**placed, index: [HELD_AT, end, end]}, index),
                               what="one corner fixed during the drag")

    editor.click(*AFTER_DRAG[1])
    editor.move_to(*AFTER_DRAG[2])
    test.wait_for_picture(editor, others + [AFTER_DRAG], what="the rubber band after the drag")
    editor.click(*AFTER_DRAG[2])
    editor.wait_for_report(expected_report({**placed, index: AFTER_DRAG}),
                           what="the placed triangle")
    test.wait_for_picture(editor, others + [AFTER_DRAG], what="the triangle placed after the drag")
    placed[index] = AFTER_DRAG
    return placed


def close_after_placement(test, editor, placed):
    """Closes the window after `placed` ({index: corners}): exit 0, and the output nothing but
    reports, from the empty start to the placed triangles. Returns the number of reports."""
    test.assertEqual(editor.close_and_wait(), 0)
    reports, problems = editor.reports.finish()
    test.assertEqual(problems, [], "every line of the output belongs to a report")
    test.assertEqual(reports[0], expected_report({}))
    test.assertEqual(reports[-1], expected_report(placed))
    return len(reports)


class ScenarioSet:
    """The scenarios every display and build runs, mixed into its test case: `class
    OnX11(ScenarioSet, EditorTestCase)`. One editor goes through them in turn. A display or
    build changes how the editor starts (start_scenario_editor) and what it adds to the output
    (report_line, check_after_close); `closes` is False where the window cannot be closed (a
    page)."""

    closes = True

    def start_scenario_editor(self):
        return self.start_editor_to_file()

    def check_after_close(self, editor):
        """What else the closed editor's run must show: here, not a word on stderr."""
        self.assertEqual(editor.stderr_text(), "", "the editor writes nothing to stderr")

    def test_keypad_placement_drag_and_close(self):
        editor = self.start_scenario_editor()
        placed = {2: place_a_triangle(self, editor)}
        placed = hold_a_button_while_dragging(self, editor, placed=placed)
        if self.closes:
            count = close_after_placement(self, editor, placed)
            self.check_after_close(editor)
            print(f"{count} reports")
