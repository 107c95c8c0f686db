# The editor's report: its grammar, the report expected for triangles placed at given window
# positions, and a reader that follows an output file while the editor writes it.
import re
import struct

# The editor's window; the cursor mapping assumes this size.
WINDOW_WIDTH = 640
WINDOW_HEIGHT = 480
WINDOW_TITLE = "Hello World"
TRIANGLE_COUNT = 5

# One report: five triangle lines and the selection, each number in iostream's default format.
NUMBER = r"-?(?:\d+(?:\.\d*)?|\.\d+)(?:e[-+]\d+)?"
TRIANGLE_LINE = re.compile(
    r"nowRendered = ([0-4]) \| 0: x({n})y({n}) 1: x({n})y({n}) 2: x({n})y({n})".format(n=NUMBER)
)
SELECTION_LINE = re.compile(r"-1|[0-4]")
# Under Wine the tests' stand-in command processor marks each command it runs with this.
PROBE_MARK = "comspec-probe: "


def float32(value):
    return struct.unpack("f", struct.pack("f", value))[0]


def to_ndc(x, y):
    """Window position to the coordinates the editor stores, narrowed to float as it does."""
    return (float32(x / (WINDOW_WIDTH / 2) - 1.0), float32(1.0 - y / (WINDOW_HEIGHT / 2)))


def fmt(value):
    """iostream's default float format: %g with six significant digits."""
    return "%g" % value


def expected_report(placed, selection=-1):
    """The six report lines for triangles at the given window positions ({index: three (x, y)});
    the rest still collapsed at the centre."""
    lines = []
    for index in range(TRIANGLE_COUNT):
        corners = [to_ndc(x, y) for x, y in placed.get(index, [(320, 240)] * 3)]
        lines.append(f"nowRendered = {index} | " + " ".join(
            f"{n}: x{fmt(x)}y{fmt(y)}" for n, (x, y) in enumerate(corners)))
    return lines + [str(selection)]


def line_fits(n, line):
    """Whether `line` is well-formed as line n (0 to 5) of a report."""
    if n < TRIANGLE_COUNT:
        match = TRIANGLE_LINE.fullmatch(line)
        return bool(match) and match.group(1) == str(n)
    return bool(SELECTION_LINE.fullmatch(line))


def is_report(lines):
    return len(lines) == 6 and all(line_fits(n, line) for n, line in enumerate(lines))


def reports_match(actual, expected, tolerance=0.0):
    """Whether two reports agree: to the letter, or with every coordinate within `tolerance`
    where the display quantises the cursor."""
    if actual is None or tolerance == 0.0:
        return actual == expected
    if len(actual) != len(expected):
        return False
    for got, wanted in zip(actual, expected):
        if re.sub(NUMBER, "#", got) != re.sub(NUMBER, "#", wanted):
            return False
        numbers = zip(re.findall(NUMBER, got), re.findall(NUMBER, wanted))
        if any(abs(float(a) - float(b)) > tolerance for a, b in numbers):
            return False
    return True


def parse_reports(text, finished=False):
    """Splits the editor's output into six-line reports. Returns (reports, problems): problems
    lists the blocks of lines that do not fit the format. While the editor still runs, the
    output may stop part-way through a report; unless finished, that unfinished tail is only
    checked for the lines it has."""
    lines = text.split("\n")
    tail = lines.pop()  # "" when the output ends with a full line
    if finished and tail:
        lines.append(tail)
    reports, problems = [], []
    i = 0
    while i < len(lines):
        block = lines[i:i + 6]
        fits = all(line_fits(n, line) for n, line in enumerate(block))
        if len(block) < 6:
            if finished or not fits:
                problems.append((i + 1, block))
            break
        if fits:
            reports.append(block)
            i += 6
            continue
        problems.append((i + 1, block))
        # Resynchronise on the next first line so that one fault is reported once.
        i += 1
        while i < len(lines) and not lines[i].startswith("nowRendered = 0 "):
            i += 1
    return reports, problems


def check_cleared_reports(text, clear_command="/c cls"):
    """Raises unless the output is nothing but reports, each right after one line in which the
    stand-in command processor marks `clear_command`: a clear before every report, none inside
    one and no other command. Returns the number of reports."""
    lines = text.replace("\r\n", "\n").split("\n")
    if lines[-1] != "":
        raise AssertionError(f"the output ends inside a line: {lines[-1]!r}")
    lines.pop()
    clear = PROBE_MARK + clear_command
    for start in range(0, max(len(lines), 1), 7):
        block = lines[start:start + 7]
        if len(block) != 7 or block[0] != clear or not is_report(block[1:]):
            raise AssertionError(f"line {start + 1} on: {block}, expected {clear!r} and a report")
    return len(lines) // 7


class ReportFollower:
    """Follows an output file while the editor writes it: .poll() reads what is new and returns
    the last complete report (or None), .count is the number of reports seen. Lines end in LF
    or, under Wine, CRLF; the stand-in command processor's lines are passed over."""

    def __init__(self, path):
        self.path = path
        self.file = None
        self.pending = b""
        self.lines = []
        self.count = 0
        self.last = None

    def poll(self):
        if self.file is None:
            self.file = open(self.path, "rb")
        self.pending += self.file.read()
        *complete, self.pending = self.pending.split(b"\n")
        for raw in complete:
            line = raw.decode(errors="replace").removesuffix("\r")
            if line.startswith(PROBE_MARK):
                continue
            self.lines = (self.lines + [line])[-6:]
            if is_report(self.lines):
                self.count += 1
                self.last = list(self.lines)
        return self.last

    def close(self):
        if self.file is not None:
            self.file.close()
