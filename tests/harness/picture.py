# Pictures of the client area, as 0xRRGGBB pixels, and whether one shows exactly the given
# triangles: white inside them, black everywhere else.
import io

from PIL import Image

from harness.common import HarnessError

WHITE = 0xFFFFFF
BLACK = 0x000000


class Picture:
    """An RGB picture (a PIL image) and its pixels as 0xRRGGBB integers, row by row."""

    def __init__(self, image):
        self.image = image.convert("RGB")
        self.width, self.height = self.image.size
        # Little-endian B, G, R, padding: one 0x00RRGGBB integer a pixel.
        self.pixels = memoryview(self.image.tobytes("raw", "BGRX")).cast("I").tolist()

    @classmethod
    def from_xrgb(cls, width, height, data):
        """From 32-bit little-endian pixels (an X ZPixmap of depth 24)."""
        return cls(Image.frombytes("RGB", (width, height), bytes(data), "raw", "BGRX"))

    @classmethod
    def from_bytes(cls, data):
        """From an image file's contents (PNG: a browser's screenshot)."""
        try:
            return cls(Image.open(io.BytesIO(data)))
        except OSError as error:
            raise HarnessError(f"not a picture ({error}): {bytes(data[:20])!r}") from None


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


def check_shows_triangles(picture, triangles, scale=1, sharp=True):
    """Raises unless the picture is white at every pixel whose centre lies well inside one of the
    `triangles` (window units, `scale` physical pixels each) and black well outside all, and if
    `sharp` only black and white; else (scaled by a browser) a pixel is white by its brightness."""
    is_white = WHITE.__eq__ if sharp else lambda p: (p & 0xFF) >= 0x80
    colours = set(picture.pixels)
    if sharp and not colours <= {WHITE, BLACK}:
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
                        and not is_white(picture.pixels[y * picture.width + x])):
                    raise HarnessError(f"({x}, {y}) inside {triangle} is not white")
    for y, x in (divmod(i, picture.width) for i, p in enumerate(picture.pixels) if is_white(p)):
        if not any(inside_by(x + 0.5, y + 0.5, found) > -EDGE_SLACK for found in shape_edges):
            raise HarnessError(f"white pixel at {(x, y)} outside every triangle {triangles}")
    return True
