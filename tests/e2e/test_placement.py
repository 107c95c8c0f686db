# Placing triangles with real keys and clicks: what the window shows while and after a triangle
# is placed, and the report the editor writes to a file.
from harness import scenarios
from harness.case import EditorTestCase, main


class Placement(EditorTestCase):
    def test_key_and_three_clicks_place_a_triangle_and_the_report_ends_with_it(self):
        editor = self.start_editor_to_file()
        scenarios.place_a_triangle(self, editor)
        scenarios.close_after_placement(self, editor)

    def test_a_button_held_while_the_cursor_moves_fixes_one_corner(self):
        editor = self.start_editor_to_file()
        scenarios.hold_a_button_while_dragging(self, editor)
        self.assertEqual(editor.close_and_wait(), 0)


if __name__ == "__main__":
    main()
