# Pictures of the client area, as 0xRRGGBB pixels, and whether one shows exactly the given
# triangles: white inside them, black everywhere else.
import re
import struct
import zlib

from harness.common import HarnessError

WHITE = 0xFFFFFF
BLACK = 0x000000


class Picture:
    """Pixels as 0xRRGGBB integers, row by row."""

    def __init__(self, width, height, pixels):
        if len(pixels) != width * height:
            raise HarnessError(f"{len(pixels)} pixels for a {width}x{height} picture")
        self.width = width
        self.height = height
        self.pixels = pixels

    @classmethod
    def from_xrgb(cls, width, height, data):
        """From 32-bit little-endian pixels (an X ZPixmap of depth 24)."""
        return cls(width, height, [p & 0xFFFFFF for p in memoryview(bytes(data)).cast("I")])

    @classmethod
    def from_rgb(cls, width, height, data, channels=3):
        """From 8-bit channels, red first, `channels` bytes a pixel."""
        return cls(width, height, [(data[i] << 16) | (data[i + 1] << 8) | data[i + 2]
                                   for i in range(0, width * height * channels, channels)])

    @classmethod
    def from_ppm(cls, data):
        """From a binary PPM (P6, maximum 255), as grim writes it."""
        header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", data)
        if not header:
            raise HarnessError(f"not an 8-bit binary PPM: {data[:20]!r}")
        width, height = int(header.group(1)), int(header.group(2))
        return cls.from_rgb(width, height, data[header.end():header.end() + width * height * 3])

    @classmethod
    def from_png(cls, data):
        """From an 8-bit RGB or RGBA PNG without interlacing."""
        if data[:8] != b"\x89PNG\r\n\x1a\n":
            raise HarnessError("not a PNG")
        position, idat = 8, b""
        while position < len(data):
            length, kind = struct.unpack(">I4s", data[position:position + 8])
            body = data[position + 8:position + 8 + length]
            if kind == b"IHDR":
                width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
                if depth != 8 or colour not in (2, 6) or interlace:
                    raise HarnessError(f"PNG of depth {depth}, colour type {colour}")
            elif kind == b"IDAT":
                idat += body
            position += 12 + length
        channels = 3 if colour == 2 else 4
        stride = width * channels
        raw, rows, previous = zlib.decompress(idat), bytearray(), bytearray(stride)
        for y in range(height):
            start = y * (stride + 1)
            kind, row = raw[start], bytearray(raw[start + 1:start + 1 + stride])
            for i in range(stride):
                left = row[i - channels] if i >= channels else 0
                up, corner = previous[i], previous[i - channels] if i >= channels else 0
                if kind == 1:
                    row[i] = (row[i] + left) & 0xFF
                elif kind == 2:
                    row[i] = (row[i] + up) & 0xFF
                elif kind == 3:
                    row[i] = (row[i] + (left + up) // 2) & 0xFF
                elif kind == 4:
                    estimate = left + up - corner
                    pa, pb, pc = abs(estimate - left), abs(estimate - up), abs(estimate - corner)
                    row[i] = (row[i] + (left if pa <= pb and pa <= pc else up if pb <= pc
                                        else corner)) & 0xFF
            rows += row
            previous = row
        return cls.from_rgb(width, height, rows, channels)

    def colours(self):
        return set(self.pixels)

    def white_points(self):
        w = self.width
        return [(i % w, i // w) for i, p in enumerate(self.pixels) if p == WHITE]

    def save_png(self, path):
        rows = bytearray()
        for y in range(self.height):
            rows.append(0)  # no filter
            for p in self.pixels[y * self.width:(y + 1) * self.width]:
                rows += bytes(((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF))

        def chunk(kind, body):
            return (struct.pack(">I", len(body)) + kind + body
                    + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)
        with open(path, "wb") as out:
            out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                      + chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))


def area2(triangle):
    """Twice the signed area of a triangle."""
    (ax, ay), (bx, by), (cx, cy) = triangle
    return (bx - ax) * (cy - ay) - (by - ay) * (cx - ax)


def edges(triangle):
    """Each edge as (a, b, c) with a x + b y + c its signed distance, positive inside."""
    sign = 1.0 if area2(triangle) > 0 else -1.0
    result = []
    for (x0, y0), (x1, y1) in zip(triangle, triangle[1:] + triangle[:1]):
        length = ((x1 - x0) ** 2 + (y1 - y0) ** 2) ** 0.5
        a, b = -sign * (y1 - y0) / length, sign * (x1 - x0) / length
        result.append((a, b, -(a * x0 + b * y0)))
    return result


def inside_by(x, y, triangle_edges):
    """How far (x, y) lies inside a triangle: its least distance from an edge, negative outside."""
    return min(a * x + b * y + c for a, b, c in triangle_edges)


# How far from a triangle's edge, in physical pixels, rasterisation may go either way.
EDGE_SLACK = 1.5


def check_shows_triangles(picture, triangles, scale=1):
    """Raises unless the picture is black and white only, white at every pixel whose centre lies
    well inside a triangle and black at every pixel well outside all of them. The triangles are
    in window units; the picture has `scale` physical pixels per unit."""
    colours = picture.colours()
    if not colours <= {WHITE, BLACK}:
        raise HarnessError(f"colours other than black and white: "
                           f"{sorted('%06x' % c for c in colours - {WHITE, BLACK})[:5]}")
    # A collapsed triangle, or one whose corners lie on a line, shows nothing.
    visible = [t for t in triangles if area2(t) != 0]
    shapes = [[(x * scale, y * scale) for x, y in t] for t in visible]
    shape_edges = [edges(shape) for shape in shapes]
    for shape, found, triangle in zip(shapes, shape_edges, visible):
        xs, ys = [p[0] for p in shape], [p[1] for p in shape]
        for y in range(max(0, int(min(ys))), min(picture.height, int(max(ys)) + 1)):
            for x in range(max(0, int(min(xs))), min(picture.width, int(max(xs)) + 1)):
                if (inside_by(x + 0.5, y + 0.5, found) > EDGE_SLACK
                        and picture.pixels[y * picture.width + x] != WHITE):
                    raise HarnessError(f"({x}, {y}) inside {triangle} is not white")
    for x, y in picture.white_points():
        if not any(inside_by(x + 0.5, y + 0.5, found) > -EDGE_SLACK for found in shape_edges):
            raise HarnessError(f"white pixel at {(x, y)} outside every triangle {triangles}")
    return True
