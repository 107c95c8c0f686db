# Scenarios written once and run on every display and build: the same real input and the same
# checks of report and picture, whatever shows the window and however the editor runs.
from harness.report import (PROBE_MARK, check_cleared_reports, expected_report, parse_reports,
                            reports_match)

# Corners at window positions whose coordinates (x/320 - 1, 1 - y/240) are exact in float, so
# the expected report text does not depend on rounding.
CORNERS = [(160, 60), (480, 120), (320, 420)]  # (-0.5, 0.75) (0.5, 0.5) (0, -0.75)
BAND_CORNER = (560, 360)                       # (0.75, -0.5): where the rubber band is checked
AWAY = (600, 440)
HELD_AT = (80, 420)                            # (-0.75, -0.75)
DRAGGED_THROUGH = [(200, 300), (400, 180), (600, 60)]
AFTER_DRAG = [HELD_AT, (240, 240), (100, 330)]  # (-0.25, 0) (-0.6875, -0.375)


def place_a_triangle(test, editor, key="3", index=2):
    """From a fresh start: a keypad digit does not select, `key` selects triangle `index`, whose
    unfixed corners then follow the cursor, and three clicks place it, in the report and on
    screen. Returns the corners placed."""
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


def hold_a_button_while_dragging(test, editor, key="5", index=4, placed=None):
    """A button held down over many frames while the cursor moves fixes one corner only.
    `placed` ({index: corners}) are the triangles placed before, which stay as they are."""
    placed = dict(placed or {})
    others = list(placed.values())
    editor.tap_key(key)
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


def close_after_placement(test, editor, cleared_by_probe=False, placed=None):
    """Closes the window after the triangles `placed` ({index: corners}, by default
    place_a_triangle's) were placed: exit status 0, and the whole output nothing but
    well-formed reports, from the empty start to the placed triangles (under Wine, with
    `cleared_by_probe`, each right after one "cls" that the stand-in command processor marks).
    Returns the number of reports."""
    test.assertEqual(editor.close_and_wait(), 0)
    with open(editor.reports.path, "rb") as f:
        text = f.read().decode()
    if cleared_by_probe:
        check_cleared_reports(text)
        text = text.replace("\r\n", "\n").replace(PROBE_MARK + "/c cls\n", "")
    reports, problems = parse_reports(text, finished=True)
    test.assertEqual(problems, [], "every line of the output belongs to a report")
    test.assertEqual(reports[0], expected_report({}))
    placed = expected_report(placed or {2: CORNERS})
    test.assertTrue(reports_match(reports[-1], placed, test.display.cursor_tolerance),
                    f"last report {reports[-1]}, wanted {placed}")
    test.assertTrue(text.endswith("-1\n"))
    return len(reports)


class ScenarioSet:
    """The scenarios that every display and build runs, mixed into its test case:
    `class OnX11(ScenarioSet, EditorTestCase)`. One editor goes through them in turn: a keypad
    digit does not select, a digit key and three clicks place a triangle, a button held while
    the cursor moves fixes one corner, and closing the window ends the run with 0 and an output
    of nothing but reports. A display or build changes how the editor starts
    (start_scenario_editor) and, only where it truly cannot do a step, switches it off:
    `closes` is False where the window cannot be closed (a page)."""

    closes = True
    cleared_by_probe = False  # under Wine: every report after one "cls" of the stand-in

    def start_scenario_editor(self):
        return self.start_editor_to_file()

    def test_keypad_placement_drag_and_close(self):
        editor = self.start_scenario_editor()
        placed = {2: place_a_triangle(self, editor)}
        placed = hold_a_button_while_dragging(self, editor, placed=placed)
        if self.closes:
            close_after_placement(self, editor, self.cleared_by_probe, placed)
