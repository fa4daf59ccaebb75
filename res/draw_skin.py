#!/usr/bin/env python3
"""Draws the update window's skin: the background (bitmap 107) and the four button
images (bitmaps 102-105), as 24-bit BMPs; and the program's icon (updater.ico: 16, 32, 48
and 256 pixels, the small ones as 32-bit bitmaps, the large one as PNG).

The images are committed, so a build needs neither this script nor its font. Rerun it
after changing the artwork:

    python3 res/draw_skin.py            # writes res/*.bmp and res/updater.ico
    python3 res/draw_skin.py --png DIR  # also writes PNG previews into DIR

Needs Python 3 with PIL and the WenQuanYi Zen Hei font (Debian: python3-pil,
fonts-wqy-zenhei).
"""
import argparse
import io
import math
import os
import random
import struct

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

FONT_PATH = "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc"
SS = 4  # supersampling factor for curves, diagonals and text

# The window is 512 x 415 with a one-pixel border drawn by the system, so the client area
# (and the visible part of the background, copied from 0,0) is 510 x 413.
BG_W, BG_H = 512, 415
VIS_W, VIS_H = 510, 413
BTN_W, BTN_H = 154, 46

# Places of the controls over the background (client coordinates).
INFO_BOX = (30, 70, 480, 300)      # text box: x 30, y 70, 450 x 230
PROGRESS = (30, 340, 330, 390)     # progress bar: x 30, y 340, 300 x 50
CANCEL = (335, 342, 335 + BTN_W, 342 + BTN_H)
CLOSE_X = (VIS_W - BTN_W) // 2     # Close is centred on the client area at y 340

GOLD_HI = (255, 228, 150)
GOLD = (214, 170, 92)
GOLD_DK = (120, 84, 38)
BRONZE_DK = (62, 40, 20)
INK = (10, 7, 6)


# ---------------------------------------------------------------- small helpers

def lerp(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(len(a)))


def vgradient(w, h, stops):
    """Vertical gradient through (position 0..1, colour) stops."""
    img = Image.new("RGB", (w, h))
    px = img.load()
    for y in range(h):
        t = y / max(1, h - 1)
        for i in range(len(stops) - 1):
            p0, c0 = stops[i]
            p1, c1 = stops[i + 1]
            if p0 <= t <= p1:
                c = lerp(c0, c1, (t - p0) / max(1e-9, p1 - p0))
                break
        else:
            c = stops[-1][1]
        for x in range(w):
            px[x, y] = c
    return img


def noise(w, h, seed, blur, strength):
    """Grey value noise around 128, blurred into a soft grain; deterministic."""
    rnd = random.Random(seed)
    img = Image.frombytes("L", (w, h), bytes(rnd.randrange(256) for _ in range(w * h)))
    if blur:
        img = img.filter(ImageFilter.GaussianBlur(blur))
    # Stretch back the contrast the blur took away, then scale to the wanted strength.
    lo, hi = img.getextrema()
    span = max(1, hi - lo)
    return img.point(lambda v: int(128 + ((v - lo) / span - 0.5) * 2 * strength))


def add_grain(img, grain):
    """Adds a 128-centred grain image to every channel of an RGB image."""
    src, g = img.load(), grain.load()
    out = Image.new("RGB", img.size)
    dst = out.load()
    w, h = img.size
    for y in range(h):
        for x in range(w):
            d = g[x, y] - 128
            r, gg, b = src[x, y]
            dst[x, y] = (max(0, min(255, r + d)), max(0, min(255, gg + d)), max(0, min(255, b + d)))
    return out


def vignette(w, h, strength, power=2.2):
    """L mask: 255 in the middle falling off toward the edges (multiplied in)."""
    img = Image.new("L", (w, h))
    px = img.load()
    cx, cy = (w - 1) / 2, (h - 1) / 2
    for y in range(h):
        dy = abs(y - cy) / cy
        for x in range(w):
            dx = abs(x - cx) / cx
            d = min(1.0, (dx ** power + dy ** power) ** (1 / power))
            px[x, y] = int(255 * (1 - strength * d ** 3))
    return img


def multiply_mask(img, mask):
    return ImageChops.multiply(img, Image.merge("RGB", (mask, mask, mask)))


def bevel(draw, box, light, dark):
    """Rings of a bevel, outermost first. light/dark: colour lists for the top-left and
    bottom-right sides of each ring (raised: light outside; sunken: swap them)."""
    x0, y0, x1, y1 = box  # inclusive pixel box
    for i, (lc, dc) in enumerate(zip(light, dark)):
        a0, b0, a1, b1 = x0 + i, y0 + i, x1 - i, y1 - i
        draw.line([(a0, b1), (a0, b0), (a1, b0)], fill=lc)
        draw.line([(a1, b0 + 1), (a1, b1), (a0 + 1, b1)], fill=dc)


class Overlay:
    """An RGBA layer drawn at SS times the size and composited down onto an RGB image."""

    def __init__(self, size):
        self.size = size
        self.img = Image.new("RGBA", (size[0] * SS, size[1] * SS), (0, 0, 0, 0))
        self.draw = ImageDraw.Draw(self.img)

    @staticmethod
    def s(v):
        return v * SS

    def pts(self, points):
        return [(x * SS, y * SS) for x, y in points]

    def composite_onto(self, base):
        small = self.img.convert("RGBa").resize(self.size, Image.LANCZOS).convert("RGBA")
        out = base.convert("RGBA")
        out.alpha_composite(small)
        return out.convert("RGB")


def text_layer(size, text, font, spacing, centre, fill_stops, stroke=0, stroke_fill=INK,
               glow=None, shadow=None):
    """Renders a caption at SS scale: optional glow and shadow, a dark stroke, and a
    vertical gradient fill. centre in output pixels. Returns an RGBA image at SS scale."""
    W, H = size[0] * SS, size[1] * SS
    mask = Image.new("L", (W, H), 0)
    md = ImageDraw.Draw(mask)
    widths = [md.textlength(ch, font=font) for ch in text]
    total = sum(widths) + spacing * SS * (len(text) - 1)
    asc, desc = font.getmetrics()
    # Centre on the ink of the glyphs, not on the font's line box.
    bbox = md.textbbox((0, 0), text[0], font=font)
    for ch in text[1:]:
        b = md.textbbox((0, 0), ch, font=font)
        bbox = (min(bbox[0], b[0]), min(bbox[1], b[1]), max(bbox[2], b[2]), max(bbox[3], b[3]))
    ink_h = bbox[3] - bbox[1]
    x = centre[0] * SS - total / 2
    y = centre[1] * SS - ink_h / 2 - bbox[1]
    positions = []
    for ch, w in zip(text, widths):
        positions.append((x, y, ch))
        x += w + spacing * SS

    def render(stroke_px):
        m = Image.new("L", (W, H), 0)
        d = ImageDraw.Draw(m)
        for px, py, ch in positions:
            d.text((px, py), ch, font=font, fill=255, stroke_width=stroke_px, stroke_fill=255)
        return m

    layer = Image.new("RGBA", (W, H), (0, 0, 0, 0))
    if glow:
        colour, radius, amount = glow
        g = render(int(stroke * SS) + SS).filter(ImageFilter.GaussianBlur(radius * SS))
        g = g.point(lambda v: min(255, int(v * amount)))
        layer.alpha_composite(Image.merge("RGBA", (*Image.new("RGB", (W, H), colour).split(), g)))
    if shadow:
        colour, dx, dy, blur = shadow
        s = render(int(stroke * SS)).filter(ImageFilter.GaussianBlur(blur * SS))
        s = ImageChops.offset(s, int(dx * SS), int(dy * SS))
        layer.alpha_composite(Image.merge("RGBA", (*Image.new("RGB", (W, H), colour).split(), s)))
    if stroke:
        st = render(int(stroke * SS))
        layer.alpha_composite(Image.merge("RGBA", (*Image.new("RGB", (W, H), stroke_fill).split(), st)))
    body = render(0)
    top = centre[1] * SS - ink_h / 2
    fill = Image.new("RGB", (W, H))
    grad = vgradient(1, max(2, int(ink_h)), fill_stops)
    fill.paste(grad.resize((W, max(2, int(ink_h)))), (0, int(top)))
    # Above and below the ink box keep the end colours.
    fill.paste(Image.new("RGB", (W, max(0, int(top))), fill_stops[0][1]), (0, 0))
    below = int(top) + max(2, int(ink_h))
    if below < H:
        fill.paste(Image.new("RGB", (W, H - below), fill_stops[-1][1]), (0, below))
    layer.alpha_composite(Image.merge("RGBA", (*fill.split(), body)))
    return layer


def diamond(o, cx, cy, r, outer=GOLD, inner=(150, 24, 18), hi=GOLD_HI):
    """A gold diamond stud with a red stone, on an Overlay, centre and radius in pixels."""
    d = o.draw
    d.polygon(o.pts([(cx, cy - r - 1), (cx + r + 1, cy), (cx, cy + r + 1), (cx - r - 1, cy)]), fill=INK + (255,))
    d.polygon(o.pts([(cx, cy - r), (cx + r, cy), (cx, cy + r), (cx - r, cy)]), fill=outer + (255,))
    d.polygon(o.pts([(cx, cy - r), (cx + r, cy), (cx, cy)]), fill=hi + (255,))
    d.polygon(o.pts([(cx, cy + r), (cx - r, cy), (cx, cy)]), fill=GOLD_DK + (255,))
    ri = r * 0.5
    d.polygon(o.pts([(cx, cy - ri), (cx + ri, cy), (cx, cy + ri), (cx - ri, cy)]), fill=inner + (255,))
    d.polygon(o.pts([(cx - ri * 0.5, cy - ri * 0.1), (cx, cy - ri * 0.6), (cx + ri * 0.2, cy - ri * 0.3)]),
              fill=(255, 140, 120, 220))


def rule(o, x0, x1, y, colour=GOLD, width=1.0):
    """A thin gold rule that fades out toward both ends."""
    steps = 60
    for i in range(steps):
        t0, t1 = i / steps, (i + 1) / steps
        mid = (t0 + t1) / 2
        alpha = int(255 * min(1.0, (1 - abs(mid - 0.5) * 2) * 2.2))
        o.draw.line(o.pts([(x0 + (x1 - x0) * t0, y), (x0 + (x1 - x0) * t1, y)]),
                    fill=colour + (alpha,), width=int(width * SS))


# ---------------------------------------------------------------- the background

def draw_background():
    w, h = VIS_W, VIS_H
    # Body: dark lacquer, warm at the top, almost black at the bottom, with a soft grain.
    img = vgradient(w, h, [(0, (58, 30, 24)), (0.45, (40, 22, 19)), (1, (18, 11, 10))])
    img = add_grain(img, noise(w, h, 107, 1.2, 7))
    img = multiply_mask(img, vignette(w, h, 0.55))
    d = ImageDraw.Draw(img)

    # Title strip across the top, behind the cartouche.
    strip = vgradient(w - 18, 50, [(0, (30, 16, 13)), (0.5, (44, 22, 18)), (1, (22, 12, 10))])
    img.paste(strip, (9, 9))
    d.line([(9, 59), (w - 10, 59)], fill=(12, 8, 7))
    d.line([(9, 60), (w - 10, 60)], fill=GOLD_DK)
    d.line([(9, 61), (w - 10, 61)], fill=(150, 110, 56))
    d.line([(9, 62), (w - 10, 62)], fill=(12, 8, 7))

    # Bottom tray: a long recess that holds the progress bar and Cancel, or Close alone.
    tray = (16, 332, w - 17, 397)
    t0, t1 = tray[0] + 3, tray[1] + 3
    inner = vgradient(tray[2] - tray[0] - 5, tray[3] - tray[1] - 5,
                      [(0, (10, 7, 6)), (0.3, (24, 15, 12)), (1, (30, 19, 15))])
    img.paste(inner, (t0, t1))
    bevel(d, tray, [(8, 5, 4), (40, 26, 16), (18, 11, 9)], [(196, 156, 90), (120, 86, 44), (60, 40, 22)])

    # Outer metal frame.
    ring_light = [INK, (236, 204, 140), (206, 164, 96), (170, 126, 64), (132, 94, 46), (96, 66, 32), INK]
    ring_dark = [INK, (66, 44, 20), (86, 58, 28), (108, 76, 38), (120, 86, 44), (150, 112, 60), INK]
    bevel(d, (0, 0, w - 1, h - 1), ring_light, ring_dark)
    d.rectangle((7, 7, w - 8, h - 8), outline=(150, 112, 56))
    d.rectangle((8, 8, w - 9, h - 9), outline=(24, 14, 10))

    # Text panel: parchment in a sunken bronze frame. The text box draws black text
    # straight over this, so it stays light.
    x0, y0, x1, y1 = INFO_BOX
    panel = vgradient(x1 - x0, y1 - y0, [(0, (236, 222, 190)), (0.5, (228, 211, 174)), (1, (214, 192, 150))])
    panel = add_grain(panel, noise(x1 - x0, y1 - y0, 1003, 2.0, 5))
    burn = vignette(x1 - x0, y1 - y0, 0.22, power=4.0)
    panel = multiply_mask(panel, burn)
    img.paste(panel, (x0, y0))
    frame = (x0 - 6, y0 - 6, x1 + 5, y1 + 5)
    bevel(d, frame,
          [INK, (210, 170, 100), (150, 110, 56), (96, 66, 32), (56, 36, 18), (30, 20, 12)],
          [INK, (70, 46, 22), (96, 66, 32), (150, 110, 56), (196, 156, 90), (120, 96, 64)])

    # Full-size canvas: the last column and row continue the frame's outline (they sit
    # under the window border and are never seen).
    full = Image.new("RGB", (BG_W, BG_H), INK)
    full.paste(img, (0, 0))

    # Ornaments, supersampled.
    o = Overlay((BG_W, BG_H))
    # Corner pieces: a gold fan over each corner of the frame with a stone.
    for cx, cy, sx, sy in [(4, 4, 1, 1), (w - 5, 4, -1, 1), (4, h - 5, 1, -1), (w - 5, h - 5, -1, -1)]:
        pts = [(cx, cy), (cx + sx * 30, cy), (cx + sx * 30, cy + sy * 5), (cx + sx * 12, cy + sy * 8),
               (cx + sx * 8, cy + sy * 12), (cx + sx * 5, cy + sy * 30), (cx, cy + sy * 30)]
        o.draw.polygon(o.pts(pts), fill=INK + (255,))
        inner_pts = [(cx + sx * 1.2, cy + sy * 1.2), (cx + sx * 28.5, cy + sy * 1.2), (cx + sx * 28.5, cy + sy * 3.8),
                     (cx + sx * 11.5, cy + sy * 6.8), (cx + sx * 6.8, cy + sy * 11.5), (cx + sx * 3.8, cy + sy * 28.5),
                     (cx + sx * 1.2, cy + sy * 28.5)]
        o.draw.polygon(o.pts(inner_pts), fill=GOLD + (255,))
        o.draw.line(o.pts([(cx + sx * 2, cy + sy * 2.2), (cx + sx * 27, cy + sy * 2.2)]), fill=GOLD_HI + (255,), width=SS)
        o.draw.line(o.pts([(cx + sx * 2.2, cy + sy * 2), (cx + sx * 2.2, cy + sy * 27)]), fill=GOLD_HI + (200,), width=SS)
        diamond(o, cx + sx * 8, cy + sy * 8, 6)

    # Title cartouche with pointed ends.
    cx, cy = w / 2, 33
    half, hh = 118, 20
    shape = [(cx - half - 16, cy), (cx - half, cy - hh), (cx + half, cy - hh), (cx + half + 16, cy),
             (cx + half, cy + hh), (cx - half, cy + hh)]
    o.draw.polygon(o.pts([(x, y + 2) for x, y in shape]), fill=(0, 0, 0, 150))
    o.draw.polygon(o.pts(shape), fill=INK + (255,))
    shrink = lambda pts, k: [(cx + (x - cx) * (1 - k / (half + 16)), cy + (y - cy) * (1 - k / hh)) for x, y in pts]
    o.draw.polygon(o.pts(shrink(shape, 1.4)), fill=GOLD + (255,))
    o.draw.polygon(o.pts(shrink(shape, 3.0)), fill=GOLD_DK + (255,))
    o.draw.polygon(o.pts(shrink(shape, 4.0)), fill=INK + (255,))
    # Lacquer inside, red with a sheen along the top.
    lac = Image.new("RGBA", o.img.size, (0, 0, 0, 0))
    lac_mask = Image.new("L", o.img.size, 0)
    ImageDraw.Draw(lac_mask).polygon(o.pts(shrink(shape, 5.0)), fill=255)
    grad = vgradient(1, 2 * hh, [(0, (150, 40, 26)), (0.45, (104, 22, 16)), (1, (52, 10, 8))])
    grad = grad.resize((o.img.size[0], 2 * hh * SS))
    lac_fill = Image.new("RGB", o.img.size, (52, 10, 8))
    lac_fill.paste(grad, (0, int((cy - hh) * SS)))
    lac = Image.merge("RGBA", (*lac_fill.split(), lac_mask))
    o.img.alpha_composite(lac)
    o.draw.line(o.pts([(cx - half + 6, cy - hh + 6.5), (cx + half - 6, cy - hh + 6.5)]), fill=(255, 170, 140, 70), width=SS)

    # Rules and studs beside the cartouche.
    for side in (-1, 1):
        x_in = cx + side * (half + 22)
        x_out = 40 if side < 0 else w - 41
        rule(o, min(x_in, x_out), max(x_in, x_out), cy - 3, GOLD, 1.2)
        rule(o, min(x_in, x_out), max(x_in, x_out), cy + 3, GOLD_DK, 1.0)
        diamond(o, x_in - side * 1, cy, 4)
        diamond(o, (x_in + x_out) / 2, cy, 3)

    # Divider between the text panel and the tray.
    rule(o, 60, w - 60, 317, GOLD, 1.2)
    rule(o, 120, w - 120, 320, GOLD_DK, 1.0)
    diamond(o, w / 2, 318.5, 5)

    # Gold corner brackets on the text panel.
    fx0, fy0, fx1, fy1 = frame
    for bx, by, sx, sy in [(fx0 - 2, fy0 - 2, 1, 1), (fx1 + 2, fy0 - 2, -1, 1),
                           (fx0 - 2, fy1 + 2, 1, -1), (fx1 + 2, fy1 + 2, -1, -1)]:
        arm = 20
        o.draw.polygon(o.pts([(bx, by), (bx + sx * arm, by), (bx + sx * arm, by + sy * 4), (bx + sx * 4, by + sy * 4),
                              (bx + sx * 4, by + sy * arm), (bx, by + sy * arm)]), fill=INK + (255,))
        o.draw.polygon(o.pts([(bx + sx * 0.8, by + sy * 0.8), (bx + sx * (arm - 0.8), by + sy * 0.8),
                              (bx + sx * (arm - 0.8), by + sy * 3.2), (bx + sx * 3.2, by + sy * 3.2),
                              (bx + sx * 3.2, by + sy * (arm - 0.8)), (bx + sx * 0.8, by + sy * (arm - 0.8))]),
                       fill=GOLD + (255,))
        o.draw.line(o.pts([(bx + sx * 1.2, by + sy * 1.4), (bx + sx * (arm - 1.5), by + sy * 1.4)]),
                    fill=GOLD_HI + (230,), width=SS)
    # Studs at the ends of the tray.
    for sx in (tray[0] - 1, tray[2] + 1):
        o.draw.ellipse(o.pts([(sx - 4, 364.5 - 4), (sx + 4, 364.5 + 4)]), fill=INK + (255,))
        o.draw.ellipse(o.pts([(sx - 3, 364.5 - 3), (sx + 3, 364.5 + 3)]), fill=GOLD + (255,))
        o.draw.ellipse(o.pts([(sx - 2, 363.5 - 2), (sx + 0.5, 363.5 + 0.5)]), fill=GOLD_HI + (255,))

    # The title, gold on the lacquer.
    font = ImageFont.truetype(FONT_PATH, 26 * SS, index=0)
    o.img.alpha_composite(text_layer((BG_W, BG_H), "游戏更新", font, 9, (cx, cy + 0.5),
                                     [(0, (255, 246, 200)), (0.45, (244, 204, 116)), (0.55, (214, 160, 70)),
                                      (1, (250, 214, 130))],
                                     stroke=1.4, stroke_fill=(40, 8, 4),
                                     glow=((255, 120, 40), 3.5, 0.55), shadow=((0, 0, 0), 1.2, 1.6, 0.8)))
    return o.composite_onto(full)


# ---------------------------------------------------------------- the buttons

def draw_button(caption, lit):
    w, h = BTN_W, BTN_H
    img = Image.new("RGB", (w, h), INK)
    d = ImageDraw.Draw(img)
    # Plate.
    px0, py0, px1, py1 = 5, 5, w - 6, h - 6
    if lit:
        stops = [(0, (70, 22, 16)), (0.5, (52, 14, 10)), (1, (30, 8, 6))]
    else:
        stops = [(0, (50, 38, 32)), (0.5, (34, 25, 21)), (1, (20, 14, 12))]
    plate = vgradient(px1 - px0 + 1, py1 - py0 + 1, stops)
    plate = add_grain(plate, noise(px1 - px0 + 1, py1 - py0 + 1, 7 + lit, 0.8, 4))
    img.paste(plate, (px0, py0))

    # Metal frame: a raised bronze bevel, then a dark groove round the plate.
    bevel(d, (0, 0, w - 1, h - 1),
          [INK, (244, 214, 150), (206, 164, 96), (150, 108, 54), INK],
          [INK, (70, 46, 20), (96, 66, 32), (132, 94, 46), INK])

    o = Overlay((w, h))
    if lit:
        # Red glow behind the caption, brightest in the middle of the plate.
        glow = Image.new("L", o.img.size, 0)
        gd = ImageDraw.Draw(glow)
        gx, gy = w / 2, h / 2
        gd.ellipse(o.pts([(gx - 44, gy - 16), (gx + 44, gy + 16)]), fill=255)
        glow = glow.filter(ImageFilter.GaussianBlur(11 * SS))
        o.img.alpha_composite(Image.merge("RGBA", (*Image.new("RGB", o.img.size, (236, 40, 16)).split(),
                                                   glow.point(lambda v: int(v * 0.9)))))
        core = Image.new("L", o.img.size, 0)
        ImageDraw.Draw(core).ellipse(o.pts([(gx - 30, gy - 7), (gx + 30, gy + 7)]), fill=255)
        core = core.filter(ImageFilter.GaussianBlur(6 * SS))
        o.img.alpha_composite(Image.merge("RGBA", (*Image.new("RGB", o.img.size, (255, 120, 50)).split(),
                                                   core.point(lambda v: int(v * 0.55)))))
    # Sheen on the upper half of the plate.
    sheen_h = int((py1 - py0) * 0.5 * SS)
    for i in range(sheen_h):
        alpha = int(22 * (1 - i / sheen_h) ** 1.5)
        o.draw.line([(px0 * SS, py0 * SS + i), ((px1 + 1) * SS, py0 * SS + i)], fill=(255, 240, 220, alpha))
    o.draw.line(o.pts([(px0, py0 + 0.5), (px1 + 1, py0 + 0.5)]), fill=(255, 230, 190, 40), width=SS)
    # Studs at the ends of the plate.
    for sx in (px0 + 7, px1 - 6):
        o.draw.ellipse(o.pts([(sx - 3.2, h / 2 - 3.2), (sx + 3.2, h / 2 + 3.2)]), fill=INK + (255,))
        o.draw.ellipse(o.pts([(sx - 2.4, h / 2 - 2.4), (sx + 2.4, h / 2 + 2.4)]), fill=(GOLD if lit else (170, 130, 70)) + (255,))
        o.draw.ellipse(o.pts([(sx - 1.6, h / 2 - 1.8), (sx + 0.3, h / 2 + 0.1)]), fill=GOLD_HI + (230,))
    # Corner ticks of the frame.
    for cx, cy, sx, sy in [(2, 2, 1, 1), (w - 3, 2, -1, 1), (2, h - 3, 1, -1), (w - 3, h - 3, -1, -1)]:
        o.draw.polygon(o.pts([(cx, cy), (cx + sx * 9, cy), (cx, cy + sy * 9)]), fill=GOLD_HI + (255,))
        o.draw.polygon(o.pts([(cx + sx * 1.5, cy + sy * 1.5), (cx + sx * 6, cy + sy * 1.5), (cx + sx * 1.5, cy + sy * 6)]),
                       fill=(150, 24, 18, 255) if lit else GOLD_DK + (255,))

    font = ImageFont.truetype(FONT_PATH, 22 * SS, index=0)
    if lit:
        fill = [(0, (255, 255, 236)), (0.5, (255, 232, 170)), (1, (255, 196, 120))]
        layer = text_layer((w, h), caption, font, 10, (w / 2, h / 2), fill, stroke=1.1, stroke_fill=(70, 6, 2),
                           glow=((255, 70, 20), 2.5, 1.0), shadow=((20, 0, 0), 1, 1.2, 0.6))
    else:
        fill = [(0, (246, 222, 160)), (0.5, (212, 172, 100)), (1, (170, 128, 66))]
        layer = text_layer((w, h), caption, font, 10, (w / 2, h / 2), fill, stroke=1.1, stroke_fill=INK,
                           shadow=((0, 0, 0), 1, 1.4, 0.6))
    o.img.alpha_composite(layer)
    return o.composite_onto(img)


# ---------------------------------------------------------------- main

IMAGES = {
    "background.bmp": lambda: draw_background(),   # 107
    "cancel_lit.bmp": lambda: draw_button("取消", True),   # 102
    "cancel.bmp": lambda: draw_button("取消", False),      # 103
    "close_lit.bmp": lambda: draw_button("关闭", True),    # 104
    "close.bmp": lambda: draw_button("关闭", False),       # 105
}


# ---------------------------------------------------------------- the icon

ICON_SIZES = (16, 32, 48, 256)


def draw_icon(size):
    """The program's icon at one size: the window's gold-rimmed lacquer tile with its
    diamond stud, on a transparent ground. Small sizes are drawn at their own size, so
    the rim stays crisp rather than being scaled down."""
    big = size * SS
    img = Image.new("RGBA", (big, big), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    pad = max(1, big // 32)
    radius = big // 5
    box = (pad, pad, big - 1 - pad, big - 1 - pad)
    d.rounded_rectangle(box, radius, fill=INK + (255,))
    rim = max(SS, big // 14)
    d.rounded_rectangle((box[0] + rim // 3, box[1] + rim // 3, box[2] - rim // 3, box[3] - rim // 3), radius,
                        fill=GOLD_DK + (255,))
    d.rounded_rectangle((box[0] + rim // 2, box[1] + rim // 2, box[2] - rim, box[3] - rim), radius,
                        fill=GOLD_HI + (255,))
    inner = (box[0] + rim, box[1] + rim, box[2] - rim, box[3] - rim)
    lacquer = vgradient(inner[2] - inner[0], inner[3] - inner[1], [(0, (74, 38, 28)), (1, (22, 12, 10))])
    mask = Image.new("L", lacquer.size, 0)
    ImageDraw.Draw(mask).rounded_rectangle((0, 0, lacquer.size[0] - 1, lacquer.size[1] - 1),
                                           max(1, radius - rim), fill=255)
    img.paste(lacquer, inner[:2], mask)
    o = Overlay((size, size))
    c = size / 2
    diamond(o, c, c, size * 0.30)
    overlay = o.img.resize((big, big))
    img.alpha_composite(overlay)
    return img.resize((size, size), Image.LANCZOS)


def ico_bitmap(img):
    """One icon image as Windows stores small icons: a 32-bit bottom-up DIB at twice the
    height (colour, then an all-clear AND mask; the alpha channel does the masking)."""
    w, h = img.size
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    px = img.load()
    for y in range(h - 1, -1, -1):
        rows.append(b"".join(struct.pack("BBBB", px[x, y][2], px[x, y][1], px[x, y][0], px[x, y][3])
                             for x in range(w)))
    mask_row = ((w + 31) // 32) * 4
    return header + b"".join(rows) + bytes(mask_row * h)


def write_ico(path, images):
    blobs = []
    for img in images:
        if img.size[0] >= 256:
            out = io.BytesIO()
            img.save(out, "PNG")
            blobs.append(out.getvalue())
        else:
            blobs.append(ico_bitmap(img))
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for img, blob in zip(images, blobs):
        w, h = img.size
        data += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    with open(path, "wb") as f:
        f.write(data + b"".join(blobs))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--out", default=here, help="where the BMPs go (default: beside this script)")
    ap.add_argument("--png", help="also write PNG previews into this directory")
    args = ap.parse_args()
    for name, make in IMAGES.items():
        img = make()
        assert img.mode == "RGB"
        img.save(os.path.join(args.out, name), "BMP")
        if args.png:
            os.makedirs(args.png, exist_ok=True)
            img.save(os.path.join(args.png, name.replace(".bmp", ".png")), "PNG")
        print(f"{name}: {img.size[0]}x{img.size[1]}")
    icons = [draw_icon(size) for size in ICON_SIZES]
    write_ico(os.path.join(args.out, "updater.ico"), icons)
    if args.png:
        for img in icons:
            img.save(os.path.join(args.png, f"icon_{img.size[0]}.png"), "PNG")
    print("updater.ico: " + ", ".join(str(size) for size in ICON_SIZES))


if __name__ == "__main__":
    main()
