# Placing triangles with real keys and clicks on X11: the shared scenarios, checked in what the
# window shows and in the report the editor writes to a file.
from harness.case import EditorTestCase, main
from harness.scenarios import ScenarioSet


class OnX11(ScenarioSet, EditorTestCase):
    pass


if __name__ == "__main__":
    main()
