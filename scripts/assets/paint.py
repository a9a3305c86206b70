"""Small drawing kit for the resource images, built on Pillow.

Everything is drawn on a canvas SCALE times larger than the final image and
reduced at the end, which gives smooth anti-aliased edges for shapes, strokes
and text.  Coordinates passed to these helpers are in final-image pixels.
"""

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

SCALE = 4

FONTS = {
    "sans-bold": "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",
    "sans-cond-bold": "/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed-Bold.ttf",
}


def hex_rgba(colour, alpha=255):
    """'#rrggbb' -> (r, g, b, a)."""
    colour = colour.lstrip("#")
    return (int(colour[0:2], 16), int(colour[2:4], 16), int(colour[4:6], 16), alpha)


def mix(c1, c2, t):
    """Linear blend of two '#rrggbb' colours, t=0 gives c1."""
    a, b = hex_rgba(c1), hex_rgba(c2)
    return "#%02x%02x%02x" % tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


def lighter(colour, t):
    return mix(colour, "#ffffff", t)


def darker(colour, t):
    return mix(colour, "#000000", t)


class Canvas:
    """An oversampled RGBA drawing surface of a given final size."""

    def __init__(self, width, height):
        self.width, self.height = width, height
        self.img = Image.new("RGBA", (width * SCALE, height * SCALE), (0, 0, 0, 0))

    # -- masks -------------------------------------------------------------
    def blank_mask(self):
        return Image.new("L", self.img.size, 0)

    def rrect_mask(self, box, radius, corners=None):
        """Rounded rectangle; box is (x0, y0, x1, y1) in final pixels, x1/y1 exclusive."""
        mask = self.blank_mask()
        x0, y0, x1, y1 = (round(v * SCALE) for v in box)
        r = round(radius * SCALE)
        draw = ImageDraw.Draw(mask)
        draw.rounded_rectangle((x0, y0, x1 - 1, y1 - 1), radius=r, fill=255)
        if corners and r:
            # corners: (top-left, top-right, bottom-right, bottom-left); False = square
            squares = ((x0, y0), (x1 - r, y0), (x1 - r, y1 - r), (x0, y1 - r))
            for rounded, (cx, cy) in zip(corners, squares):
                if not rounded:
                    draw.rectangle((cx, cy, cx + r - 1, cy + r - 1), fill=255)
        return mask

    def ellipse_mask(self, box):
        mask = self.blank_mask()
        x0, y0, x1, y1 = (round(v * SCALE) for v in box)
        ImageDraw.Draw(mask).ellipse((x0, y0, x1 - 1, y1 - 1), fill=255)
        return mask

    def polygon_mask(self, points):
        mask = self.blank_mask()
        ImageDraw.Draw(mask).polygon([(x * SCALE, y * SCALE) for x, y in points], fill=255)
        return mask

    def lines_mask(self, points, width, round_caps=True):
        """Polyline stroke with round joints and caps."""
        mask = self.blank_mask()
        draw = ImageDraw.Draw(mask)
        pts = [(x * SCALE, y * SCALE) for x, y in points]
        w = max(1, round(width * SCALE))
        draw.line(pts, fill=255, width=w, joint="curve")
        if round_caps:
            r = w / 2
            for x, y in (pts[0], pts[-1]):
                draw.ellipse((x - r, y - r, x + r, y + r), fill=255)
        return mask

    def arc_mask(self, box, start, end, width):
        mask = self.blank_mask()
        x0, y0, x1, y1 = (v * SCALE for v in box)
        ImageDraw.Draw(mask).arc((x0, y0, x1, y1), start, end, fill=255, width=round(width * SCALE))
        return mask

    def text_mask(self, xy, text, font, size, anchor="la"):
        mask = self.blank_mask()
        fnt = ImageFont.truetype(FONTS.get(font, font), round(size * SCALE))
        ImageDraw.Draw(mask).text((xy[0] * SCALE, xy[1] * SCALE), text, font=fnt, fill=255, anchor=anchor)
        return mask

    @staticmethod
    def ring(outer, inner):
        """Outer mask minus inner mask: a border of the shape."""
        return ImageChops.subtract(outer, inner)

    @staticmethod
    def intersect(a, b):
        return ImageChops.multiply(a, b)

    @staticmethod
    def union(a, b):
        return ImageChops.lighter(a, b)

    @staticmethod
    def shift(mask, dx, dy, background=0):
        """Move a mask by (dx, dy) final pixels; uncovered area gets background."""
        out = Image.new("L", mask.size, background)
        out.paste(mask, (round(dx * SCALE), round(dy * SCALE)))
        return out

    # -- paints ------------------------------------------------------------
    def vgradient(self, stops, y0=0, y1=None):
        """Vertical gradient image; stops are (position 0..1, '#rrggbb'[, alpha])."""
        y1 = self.height if y1 is None else y1
        h = self.img.size[1]
        top, bottom = y0 * SCALE, y1 * SCALE
        column = Image.new("RGBA", (1, h))
        px = column.load()
        cols = [(p, hex_rgba(c, a[0] if a else 255)) for p, c, *a in stops]
        for y in range(h):
            t = min(1.0, max(0.0, (y + 0.5 - top) / max(1, bottom - top)))
            for i in range(len(cols) - 1):
                if t <= cols[i + 1][0] or i == len(cols) - 2:
                    (p0, c0), (p1, c1) = cols[i], cols[i + 1]
                    u = 0.0 if p1 == p0 else min(1.0, max(0.0, (t - p0) / (p1 - p0)))
                    px[0, y] = tuple(round(c0[k] + (c1[k] - c0[k]) * u) for k in range(4))
                    break
        return column.resize(self.img.size, Image.NEAREST)

    def solid(self, colour, alpha=255):
        return Image.new("RGBA", self.img.size, hex_rgba(colour, alpha))

    def fill(self, mask, paint, opacity=1.0):
        """Composite paint (an RGBA image or '#rrggbb') through mask."""
        if isinstance(paint, str):
            paint = self.solid(paint)
        layer = paint.copy()
        alpha = ImageChops.multiply(layer.getchannel("A"), mask)
        if opacity < 1.0:
            alpha = alpha.point(lambda v: round(v * opacity))
        layer.putalpha(alpha)
        self.img.alpha_composite(layer)

    def shadow(self, mask, dx=0, dy=1, blur=1.5, colour="#000000", opacity=0.35):
        soft = self.shift(mask, dx, dy).filter(ImageFilter.GaussianBlur(blur * SCALE))
        self.fill(soft, colour, opacity)

    def glow_inside(self, mask, blur, colour, opacity, dy=0):
        """Soft shade along the inner edge of a shape (inset effect)."""
        outside = ImageChops.invert(mask)
        soft = self.shift(outside, 0, dy, 255).filter(ImageFilter.GaussianBlur(blur * SCALE))
        self.fill(self.intersect(soft, mask), colour, opacity)

    def result(self):
        return self.img.resize((self.width, self.height), Image.LANCZOS)

    def save(self, path):
        self.result().save(path, "PNG", optimize=True)


def inset(box, d):
    x0, y0, x1, y1 = box
    return (x0 + d, y0 + d, x1 - d, y1 - d)


def bordered_panel(cv, box, radius, fill_paint, border, border_width=1.0, highlight=None,
                   corners=None):
    """A rounded panel with a border line and an optional inner top highlight line."""
    outer = cv.rrect_mask(box, radius, corners)
    inner = cv.rrect_mask(inset(box, border_width), max(0, radius - border_width), corners)
    cv.fill(inner, fill_paint)
    if highlight:
        colour, opacity = highlight
        below = cv.shift(inner, 0, 1)
        cv.fill(cv.ring(inner, below), colour, opacity)
    if isinstance(border, tuple):
        colour, opacity = border
        cv.fill(cv.ring(outer, inner), colour, opacity)
    else:
        cv.fill(cv.ring(outer, inner), border)
    return outer, inner
