# The editor's report: its grammar, the report expected for triangles placed at given window
# positions, and the one reader of the editor's output, which follows a file as it grows.
import re
import struct

# The editor's window; the cursor mapping assumes this size.
WINDOW_WIDTH = 640
WINDOW_HEIGHT = 480
WINDOW_TITLE = "Hello World"
TRIANGLE_COUNT = 5
CENTRE = (WINDOW_WIDTH // 2, WINDOW_HEIGHT // 2)

# One report: five triangle lines and the selection, each number in iostream's default format.
REPORT_LINES = TRIANGLE_COUNT + 1
NUMBER = r"-?(?:\d+(?:\.\d*)?|\.\d+)(?:e[-+]\d+)?"
TRIANGLE_LINE = re.compile(
    r"nowRendered = ([0-4]) \| 0: x({n})y({n}) 1: x({n})y({n}) 2: x({n})y({n})".format(n=NUMBER))
SELECTION_LINE = re.compile(r"-1|[0-4]")


def to_ndc(x, y):
    """Window position to the coordinates the editor stores, narrowed to float as it does."""
    return struct.unpack("2f", struct.pack("2f", x / CENTRE[0] - 1.0, 1.0 - y / CENTRE[1]))


def expected_report(placed, selection=-1):
    """The six report lines for triangles at the given window positions ({index: three (x, y)});
    the rest still collapsed at the centre. Numbers as iostream prints them: %g."""
    lines = []
    for index in range(TRIANGLE_COUNT):
        corners = [to_ndc(x, y) for x, y in placed.get(index, [CENTRE] * 3)]
        lines.append(f"nowRendered = {index} | " + " ".join(
            f"{n}: x{x:g}y{y:g}" for n, (x, y) in enumerate(corners)))
    return lines + [str(selection)]


def line_fits(n, line):
    """Whether `line` is well-formed as line n (0 to 5) of a report."""
    if n < TRIANGLE_COUNT:
        match = TRIANGLE_LINE.fullmatch(line)
        return bool(match) and match.group(1) == str(n)
    return bool(SELECTION_LINE.fullmatch(line))


def is_report(lines):
    return len(lines) == REPORT_LINES and all(line_fits(n, line) for n, line in enumerate(lines))


class ReportFile:
    """Reads the editor's output file while the editor writes it: its reports (last(), count())
    and the lines that fit no report. `line_filter` takes each line (without "\\n") and returns it
    as the report has it, or None for a platform's own line; finish() reads the rest at the end."""

    def __init__(self, path, line_filter=None):
        self.file = open(path, "rb")
        self.line_filter = line_filter or (lambda line: line)
        self.pending = b""
        self.lines_read = 0
        self.block = []          # the report being read
        self.resyncing = False   # after a fault, until the next first line of a report
        self.reports = []
        self.problems = []       # (line number, the lines that do not make a report)

    def poll(self):
        if self.file.closed:  # finished
            return
        self.pending += self.file.read()
        *complete, self.pending = self.pending.split(b"\n")
        for raw in complete:
            self.lines_read += 1
            line = self.line_filter(raw.decode(errors="replace"))
            if line is not None:
                self._take(line)

    def _take(self, line):
        if line_fits(len(self.block), line):
            self.resyncing = False
            self.block.append(line)
            if len(self.block) == REPORT_LINES:
                self.reports.append(self.block)
                self.block = []
            return
        # Reported once, then read on from the next line that can begin a report.
        if not self.resyncing:
            self.problems.append((self.lines_read, self.block + [line]))
        self.block = [line] if line_fits(0, line) else []
        self.resyncing = not self.block

    def last(self):
        """The newest complete report so far, or None."""
        self.poll()
        return self.reports[-1] if self.reports else None

    def count(self):
        self.poll()
        return len(self.reports)

    def finish(self):
        """(reports, problems) of the whole output, once the editor has ended: a last line
        without its "\\n", or a report cut short, is a problem too."""
        self.poll()
        if self.pending:
            self.problems.append((self.lines_read + 1, [self.pending.decode(errors="replace")]))
            self.pending = b""
        if self.block:
            self.problems.append((self.lines_read, self.block))
            self.block = []
        self.close()
        return self.reports, self.problems

    def close(self):
        self.file.close()
