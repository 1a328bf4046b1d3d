#!/usr/bin/python3
"""Draws the TALVOR editor artwork: the panel and every knob and switch strip.

Everything is drawn at four times the final size and averaged down, so edges
and text come out antialiased. The same drawing, averaged down only by two,
gives the second set at twice the size, for screens at more than 100 %.
Run with Debian's Python (python3-pil):

    /usr/bin/python3 tools/artwork/make_artwork.py

It writes the twelve PNGs into resources/img/ and their double-size twins
into resources/img/2x/, and prints the table of shelf frequencies that the
selector legends show. Output is byte-for-byte
reproducible: all texture noise comes from fixed seeds.

Options:
    --out DIR        write the PNGs somewhere else
    --preview FILE   also write a full editor mock-up (panel plus controls)
    --positions ...  control positions for the mock-up, see preview_positions()
    --check          only verify the PNGs already in the output folder (both sets)
"""

import argparse
import cmath
import math
import os
import random
import struct
import sys
import zlib

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

S = 4  # supersampling factor
HI = 2  # size of the second set, in final pixels per panel pixel
HI_DIR = "2x"  # the second set's folder, inside the output folder

PANEL_W, PANEL_H = 346, 566

FONT_DIR = "/usr/share/fonts/truetype/dejavu"

# ---------------------------------------------------------------------------
# What the controls mean. These tables mirror the plug-in's position tables;
# the legends are printed from them so that the panel tells the truth.

LOW_GAIN_DB = [-12.4, -9.2, -6.3, -4.1, -2.2, 0.0, 2.5, 4.2, 6.1, 9.3, 12.5]
MID_GAIN_DB = [-12.2, -9.3, -6.2, -4.1, -2.15, 0.0, 2.2, 4.1, 6.14, 9.15, 12.3]
HIGH_GAIN_DB = [-12.3, -9.1, -6.4, -4.2, -2.3, 0.0, 2.1, 4.3, 6.2, 9.4, 12.2]

LOW_CORNER_HZ = [56 / 9, 96 / 11, 193 / 11, 305 / 11, 36.0]
MID_CENTRE_HZ = [394.0, 791.0, 1492.0, 3005.0, 5010.0]
HIGH_CORNER_HZ = [9900.0, 13000.0, 15000.0, 17000.0, 19000.0]

SHELF_Q = 0.13
LOW_SHELF_OFFSET_DB = 0.25   # added to the low gain before the shelf is designed
HIGH_SHELF_OFFSET_DB = 0.2   # likewise for the high shelf
MEASURE_RATE = 48000.0

# Image table: resource id, file name, frame count, image size.
IMAGES = [
    (101, "BG.png", 1, 346, 566),
    (102, "BY.png", 2, 28, 58),
    (103, "HF.png", 5, 157, 380),
    (104, "HG.png", 11, 107, 1177),
    (105, "LF.png", 5, 155, 375),
    (106, "LG.png", 11, 107, 1177),
    (107, "MF.png", 5, 156, 380),
    (108, "MG.png", 11, 108, 1188),
    (109, "IN.png", 121, 107, 12947),
    (110, "OUT.png", 121, 109, 13189),
    (111, "FL.png", 2, 28, 58),
    (112, "LINK.png", 2, 28, 56),
]

# Editor placement, in drawing order: name, image file, top-left corner.
CONTROLS = [
    ("Low Freq", "LF.png", 24, 445),
    ("Low Gain", "LG.png", 57, 378),
    ("Mid Freq", "MF.png", 23, 271),
    ("Mid Gain", "MG.png", 56, 202),
    ("High Freq", "HF.png", 22, 98),
    ("High Gain", "HG.png", 57, 30),
    ("Input", "IN.png", 219, 30),
    ("Output", "OUT.png", 218, 377),
    ("Bypass", "BY.png", 258, 211),
    ("Filter", "FL.png", 258, 272),
    ("Link", "LINK.png", 258, 242),
]


def image_entry(name):
    for rid, fname, frames, w, h in IMAGES:
        if fname == name:
            return rid, frames, w, h
    raise KeyError(name)


def control_rect(name):
    """(left, top, frame width, frame height) of a control on the panel."""
    for cname, fname, x, y in CONTROLS:
        if cname == name:
            _, frames, w, h = image_entry(fname)
            return x, y, w, h // frames
    raise KeyError(name)


def control_centre(name):
    x, y, w, h = control_rect(name)
    return x + w / 2.0, y + h / 2.0


# ---------------------------------------------------------------------------
# Shelf measurement: the same bilinear-transform sections the plug-in runs.

def shelf_coefficients(kind, corner_hz, gain_db, fs, q=SHELF_Q):
    k = math.tan(math.pi * corner_hz / fs)
    v = 10.0 ** (abs(gain_db) / 20.0)
    n = 1.0 / (1.0 + k / q + k * k)
    if kind == "low":
        b = ((1 + v * k / q + v * k * k) * n,
             2 * (v * k * k - 1) * n,
             (1 - v * k / q + v * k * k) * n)
    else:
        b = ((v + v * k / q + k * k) * n,
             2 * (k * k - v) * n,
             (v - v * k / q + k * k) * n)
    a = (1.0, 2 * (k * k - 1) * n, (1 - k / q + k * k) * n)
    return b, a


def response_db(b, a, f, fs):
    z1 = cmath.exp(-2j * math.pi * f / fs)
    num = b[0] + b[1] * z1 + b[2] * z1 * z1
    den = a[0] + a[1] * z1 + a[2] * z1 * z1
    return 20.0 * math.log10(abs(num / den))


def half_gain_frequency(kind, corner_hz, gain_db, fs=MEASURE_RATE):
    """Frequency where a fully boosted shelf reaches half its boost in dB."""
    b, a = shelf_coefficients(kind, corner_hz, gain_db, fs)
    half = gain_db / 2.0
    lo, hi = 1.0, fs / 2.0 * 0.9999
    for _ in range(100):  # bisection on a log axis; the response is monotonic here
        mid = math.sqrt(lo * hi)
        above = response_db(b, a, mid, fs) > half
        # The low shelf falls through the half point, the high shelf rises.
        if above == (kind == "low"):
            lo = mid
        else:
            hi = mid
    return math.sqrt(lo * hi)


def shelf_table():
    low_boost = LOW_GAIN_DB[-1] + LOW_SHELF_OFFSET_DB
    high_boost = HIGH_GAIN_DB[-1] + HIGH_SHELF_OFFSET_DB
    low = [half_gain_frequency("low", f, low_boost) for f in LOW_CORNER_HZ]
    high = [half_gain_frequency("high", f, high_boost) for f in HIGH_CORNER_HZ]
    return low_boost, low, high_boost, high


def selector_legends(tables):
    _, low_hz, _, high_hz = tables
    return {
        "Low Freq": [hz_legend(f) for f in low_hz],
        "Mid Freq": [hz_legend(f) for f in MID_CENTRE_HZ],
        "High Freq": [hz_legend(f) for f in high_hz],
    }


def hz_legend(f):
    """Two significant figures, the way the legends are engraved."""
    digits = 2 - int(math.floor(math.log10(f))) - 1
    r = round(f, digits)
    if r >= 1000:
        t = ("%.1f" % (r / 1000.0)).rstrip("0").rstrip(".")
        return t + "k"
    return "%d" % int(round(r))


def db_legend(db):
    if db == 0:
        return "0"
    t = ("%.2f" % abs(db)).rstrip("0").rstrip(".")
    return ("+" if db > 0 else "\u2212") + t


# ---------------------------------------------------------------------------
# Drawing helpers. Coordinates are panel (or frame) pixels as floats; the
# helpers scale them to the supersampled canvas.

_font_cache = {}


def font(name, size, scale=S):
    key = (name, size, scale)
    if key not in _font_cache:
        _font_cache[key] = ImageFont.truetype(os.path.join(FONT_DIR, name), int(round(size * scale)))
    return _font_cache[key]


SANS = "DejaVuSans.ttf"
SANS_B = "DejaVuSans-Bold.ttf"
COND = "DejaVuSansCondensed.ttf"
COND_B = "DejaVuSansCondensed-Bold.ttf"


def sc(v):
    return v * S


def box(x0, y0, x1, y1):
    return [sc(x0), sc(y0), sc(x1), sc(y1)]


def new_layer(w, h):
    return Image.new("RGBA", (w * S, h * S), (0, 0, 0, 0))


def new_mask(img):
    return Image.new("L", img.size, 0)


def paint(img, mask, colour, opacity=1.0):
    """Composite a flat colour onto img through an 'L' mask."""
    r, g, b = colour[:3]
    a = colour[3] if len(colour) > 3 else 255
    a = int(round(a * opacity))
    if a <= 0:
        return
    if a < 255:
        mask = mask.point(lambda p: p * a // 255)
    layer = Image.new("RGBA", img.size, (r, g, b, 0))
    layer.putalpha(mask)
    img.alpha_composite(layer)


def paint_image(img, mask, source):
    """Composite an RGB(A) source image through a mask."""
    layer = source.convert("RGBA")
    if source.mode == "RGBA":
        mask = ImageChops.multiply(mask, source.getchannel("A"))
    layer.putalpha(mask)
    img.alpha_composite(layer)


def ellipse_mask(img, cx, cy, r):
    m = new_mask(img)
    ImageDraw.Draw(m).ellipse(box(cx - r, cy - r, cx + r, cy + r), fill=255)
    return m


def rrect_mask(img, x0, y0, x1, y1, radius):
    m = new_mask(img)
    ImageDraw.Draw(m).rounded_rectangle(box(x0, y0, x1, y1), radius=sc(radius), fill=255)
    return m


def _text_onto(mask, x, y, text, fnt, anchor, spacing, scale):
    d = ImageDraw.Draw(mask)
    if scale == 1:
        # Whole-pixel spacing only, or rounded glyph positions drift unevenly.
        spacing = float(round(spacing))
    if spacing == 0.0:
        d.text((x * scale, y * scale), text, font=fnt, fill=255, anchor=anchor)
        return
    widths = [fnt.getlength(ch) for ch in text]
    if scale == 1:
        widths = [float(round(w)) for w in widths]
        # Whole-pixel spacing, or the rounded glyph positions drift unevenly.
        spacing = float(max(1, round(spacing)))
    total = sum(widths) + spacing * scale * (len(text) - 1)
    pos = x * scale - {"l": 0.0, "m": total / 2.0, "r": total}[anchor[0]]
    for ch, w in zip(text, widths):
        d.text((round(pos), y * scale), ch, font=fnt, fill=255, anchor="l" + anchor[1])
        pos += w + spacing * scale


def text_mask(img, x, y, text, fnt, anchor="mm", spacing=0.0):
    """Supersampled mask of a line of text; spacing adds letter spacing in pixels."""
    m = new_mask(img)
    _text_onto(m, x, y, text, font(*fnt), anchor, spacing, S)
    return m


def text_size(text, fnt):
    l, t, r, b = font(*fnt).getbbox(text, anchor="mm")
    return (r - l) / S, (b - t) / S


# Small legends are drawn after the downscale, at final size, so that the
# font's hinting keeps their stems on whole pixels; supersampled text of
# eight pixels or so comes out noticeably softer.
_crisp_text = {}


def draw_text(img, x, y, text, fnt, colour, anchor="mm", spacing=0.0, crisp=True):
    if crisp:
        _crisp_text.setdefault(id(img), []).append((x, y, text, fnt, colour, anchor, spacing))
    else:
        paint(img, text_mask(img, x, y, text, fnt, anchor, spacing), colour)


def _render_crisp_text(small, items, scale=1):
    for x, y, text, fnt, colour, anchor, spacing in items:
        m = Image.new("L", small.size, 0)
        if scale == 1:
            _text_onto(m, round(x), round(y), text, font(fnt[0], fnt[1], 1), anchor, spacing, 1)
        else:
            _crisp_text_scaled(m, round(x), round(y), text, fnt, anchor, spacing, scale)
        paint(small, m, colour)


def _crisp_text_scaled(mask, x, y, text, fnt, anchor, spacing, scale):
    """Crisp text on the larger set: hinted at its own size, each letter placed
    where the final-size text has it (times the scale), so both sets agree."""
    d = ImageDraw.Draw(mask)
    big = font(fnt[0], fnt[1], scale)
    if float(round(spacing)) == 0.0:
        d.text((x * scale, y * scale), text, font=big, fill=255, anchor=anchor)
        return
    small = font(fnt[0], fnt[1], 1)
    widths = [float(round(small.getlength(ch))) for ch in text]
    spacing = float(max(1, round(spacing)))
    total = sum(widths) + spacing * (len(text) - 1)
    pos = x - {"l": 0.0, "m": total / 2.0, "r": total}[anchor[0]]
    for ch, w in zip(text, widths):
        d.text((round(pos) * scale, y * scale), ch, font=big, fill=255, anchor="l" + anchor[1])
        pos += w + spacing


def line_mask(img, pts, width):
    m = new_mask(img)
    d = ImageDraw.Draw(m)
    d.line([(sc(px), sc(py)) for px, py in pts], fill=255, width=max(1, int(round(sc(width)))))
    return m


def radial_line(img, cx, cy, angle_deg, r0, r1, width, colour, round_ends=False):
    """A thick line along a ray from the centre; angle 0 points up, clockwise positive."""
    a = math.radians(angle_deg)
    ux, uy = math.sin(a), -math.cos(a)
    px, py = -uy, ux
    hw = width / 2.0
    pts = [(cx + ux * r0 + px * hw, cy + uy * r0 + py * hw),
           (cx + ux * r1 + px * hw, cy + uy * r1 + py * hw),
           (cx + ux * r1 - px * hw, cy + uy * r1 - py * hw),
           (cx + ux * r0 - px * hw, cy + uy * r0 - py * hw)]
    m = new_mask(img)
    d = ImageDraw.Draw(m)
    d.polygon([(sc(x), sc(y)) for x, y in pts], fill=255)
    if round_ends:
        for r in (r0, r1):
            ex, ey = cx + ux * r, cy + uy * r
            d.ellipse(box(ex - hw, ey - hw, ex + hw, ey + hw), fill=255)
    paint(img, m, colour)


def vertical_gradient(size, top, bottom):
    """RGB image fading from colour top to colour bottom."""
    w, h = size
    g = Image.linear_gradient("L").resize((w, h), Image.BILINEAR)
    a = Image.new("RGB", (w, h), top)
    b = Image.new("RGB", (w, h), bottom)
    return Image.composite(b, a, g)


def function_image(w, h, fn):
    """Greyscale image from fn(x, y) -> 0..255, evaluated per pixel (small images only)."""
    data = bytearray(w * h)
    i = 0
    for y in range(h):
        for x in range(w):
            v = fn(x + 0.5, y + 0.5)
            data[i] = 0 if v < 0 else (255 if v > 255 else int(v))
            i += 1
    return Image.frombytes("L", (w, h), bytes(data))


def noise(w, h, seed):
    rnd = random.Random(seed)
    return Image.frombytes("L", (w, h), rnd.randbytes(w * h))


def shadow(img, mask, dx, dy, blur, opacity):
    """Soft drop shadow of a mask, composited under whatever comes next."""
    m = ImageChops.offset(mask, int(round(sc(dx))), int(round(sc(dy))))
    m = m.filter(ImageFilter.GaussianBlur(sc(blur)))
    paint(img, m, (0, 0, 0), opacity)


def downscale(img, finish=None):
    """Average S x S blocks (alpha-weighted, so clear pixels bleed no colour),
    let finish(image, scale) work on the result, then add the queued crisp
    text. Gives the pair (final size, HI times the final size): the second
    averages S / HI blocks of the same drawing."""
    items = _crisp_text.pop(id(img), [])
    pair = []
    for scale in (1, HI):
        w, h = img.size[0] * scale // S, img.size[1] * scale // S
        small = img.convert("RGBa").resize((w, h), Image.BOX).convert("RGBA")
        # Fully transparent pixels get one colour so the files compress well.
        clear = small.getchannel("A").point(lambda p: 255 if p == 0 else 0)
        small.paste((0, 0, 0, 0), (0, 0), clear)
        if finish:
            small = finish(small, scale)
        _render_crisp_text(small, items, scale)
        pair.append(small)
    return tuple(pair)


# ---------------------------------------------------------------------------
# Look.

ENAMEL = (46, 55, 64)          # slate blue-grey panel
ENAMEL_LIGHT = (58, 68, 78)
INK = (234, 226, 204)          # cream silkscreen
INK_DIM = (176, 172, 158)
ENGRAVE_DARK = (34, 34, 36)

BAND_COLOURS = {
    "HIGH": (168, 56, 46),      # red cap
    "MID": (64, 122, 96),       # green cap
    "LOW": (52, 94, 146),       # blue cap
}

KNOB_R = 29.0      # skirt radius of every knob
CAP_R = 20.5       # cap radius
SWEEP = 135.0      # pointer travel either side of top


def pointer_angle(index, count):
    return -SWEEP + 2.0 * SWEEP * index / (count - 1)


# ---------------------------------------------------------------------------
# Panel.

def panel_texture():
    """Enamel with a faint hammer-tone mottle and top-to-bottom light falloff."""
    w, h = PANEL_W * S, PANEL_H * S
    base = vertical_gradient((w, h), ENAMEL_LIGHT, ENAMEL)
    mottle = noise(PANEL_W // 5 + 2, PANEL_H // 5 + 2, 1).resize((w, h), Image.BICUBIC)
    mottle = mottle.filter(ImageFilter.GaussianBlur(S * 2))
    dark = Image.new("RGB", (w, h), tuple(max(0, c - 7) for c in ENAMEL))
    light = Image.new("RGB", (w, h), tuple(min(255, c + 7) for c in ENAMEL_LIGHT))
    base = Image.composite(light, base, mottle.point(lambda p: max(0, p - 128) * 2 // 3))
    base = Image.composite(dark, base, mottle.point(lambda p: max(0, 127 - p) * 2 // 3))
    return base.convert("RGBA")


def screw(img, cx, cy, angle):
    m = ellipse_mask(img, cx, cy, 4.2)
    shadow(img, m, 0.4, 0.8, 0.8, 0.6)
    paint_image(img, m, vertical_gradient(img.size, (200, 200, 196), (92, 92, 90)))
    paint(img, ellipse_mask(img, cx, cy, 3.4), (150, 150, 146))
    inner = ellipse_mask(img, cx, cy, 3.4)
    paint_image(img, inner, vertical_gradient(img.size, (176, 176, 172), (120, 120, 116)))
    radial_line(img, cx, cy, angle, -3.2, 3.2, 1.1, (60, 60, 58))


def draw_scale(img, cx, cy, labels, minor_count, fnt, colour, r_mark=35.0):
    """Dots and legends round a knob. labels: (position 0..1, text) pairs, each
    with a large dot; minor_count small dots share the sweep evenly."""
    for i in range(minor_count):
        ang = math.radians(pointer_angle(i, minor_count))
        px, py = cx + math.sin(ang) * r_mark, cy - math.cos(ang) * r_mark
        paint(img, ellipse_mask(img, px, py, 0.55), colour)
    for pos, text in labels:
        ang = math.radians(-SWEEP + 2 * SWEEP * pos)
        ux, uy = math.sin(ang), -math.cos(ang)
        paint(img, ellipse_mask(img, cx + ux * r_mark, cy + uy * r_mark, 1.25), colour)
        w, _ = text_size(text, fnt)
        h = fnt[1] * 0.72  # digit height: keeps the legends on a common ring
        support = abs(ux) * w / 2.0 + abs(uy) * h / 2.0
        r = r_mark + 4.0 + support
        draw_text(img, cx + ux * r, cy + uy * r, text, fnt, colour)


def gain_scale(img, name, gains):
    cx, cy = control_centre(name)
    n = len(gains)
    labels = [(i / (n - 1.0), db_legend(g)) for i, g in enumerate(gains)]
    draw_scale(img, cx, cy, labels, 0, (COND, 8), INK)
    draw_text(img, cx, cy + 37.0, "dB", (COND, 7), INK_DIM)


def level_scale(img, name):
    cx, cy = control_centre(name)
    labels = []
    for db in range(-12, 13, 3):
        labels.append(((db + 12) / 24.0, "0" if db == 0 else ("+%d" % db if db > 0 else "\u2212%d" % -db)))
    draw_scale(img, cx, cy, labels, 25, (COND, 8), INK)
    draw_text(img, cx, cy + 37.0, "dB", (COND, 7), INK_DIM)


def selector_geometry(name):
    """Bar and window rectangles of a frequency selector, in panel coordinates."""
    x, y, w, h = control_rect(name)
    gain_name = name.replace("Freq", "Gain")
    _, gy = control_centre(gain_name)
    bar_top = gy + 44.0
    bar = (x + 2.0, bar_top, x + w - 2.0, bar_top + 17.0)
    pad, gap = 2.5, 2.0
    ww = (bar[2] - bar[0] - 2 * pad - 4 * gap) / 5.0
    windows = []
    for i in range(5):
        wx = bar[0] + pad + i * (ww + gap)
        windows.append((wx, bar[1] + pad, wx + ww, bar[3] - pad))
    return bar, windows


def band_block(img, title, subtitle, gain_name, freq_name, gains, legends, caption):
    cx, cy = control_centre(gain_name)
    colour = BAND_COLOURS[title]
    # Title at the knob's left, with the band colour as a small bar.
    tx = 30.0
    draw_text(img, tx, cy - 6.0, title, (SANS_B, 12), INK, spacing=1)
    paint(img, rrect_mask(img, tx - 13, cy + 3.0, tx + 13, cy + 5.2, 1.0), colour)
    draw_text(img, tx, cy + 12.0, subtitle, (COND, 8), INK_DIM, spacing=1)
    gain_scale(img, gain_name, gains)
    bar, windows = selector_geometry(freq_name)
    # The selector strip draws this bar again with one window lit; the panel
    # keeps an unlit copy so it reads right on its own.
    draw_selector_bar(img, bar, windows, legends, -1)
    draw_text(img, (bar[0] + bar[2]) / 2.0, bar[3] + 7.0, caption, (COND, 8), INK_DIM)


def engraved_line(img, x0, y0, x1, y1):
    paint(img, line_mask(img, [(x0, y0), (x1, y1)], 1.0), (24, 29, 34))
    paint(img, line_mask(img, [(x0 + 0.0, y0 + 1.0), (x1 + 0.0, y1 + 1.0)], 1.0), (86, 96, 106))


def nameplate(img, x0, y0, x1, y1):
    m = rrect_mask(img, x0, y0, x1, y1, 3.0)
    shadow(img, m, 0.0, 1.0, 1.2, 0.7)
    w, h = img.size
    # Brushed aluminium: horizontal streaks.
    streak = noise(24, h, 7).resize((w, h), Image.BILINEAR)
    metal = vertical_gradient((w, h), (206, 204, 198), (160, 158, 152))
    dark = Image.new("RGB", (w, h), (140, 138, 132))
    metal = Image.composite(dark, metal, streak.point(lambda p: p // 5))
    paint_image(img, m, metal)
    # Bevel.
    edge = ImageChops.subtract(m, rrect_mask(img, x0 + 0.8, y0 + 0.8, x1 - 0.8, y1 - 0.8, 2.4))
    paint(img, edge, (240, 240, 236), 0.5)
    return m


def engraved_text(img, x, y, text, fnt, anchor="mm", spacing=0.0):
    """Letters cut into metal: dark fill with a light lower lip."""
    paint(img, text_mask(img, x, y + 0.6, text, fnt, anchor, spacing), (250, 250, 246), 0.7)
    paint(img, text_mask(img, x, y, text, fnt, anchor, spacing), (38, 38, 40))


def emblem(img, cx, cy):
    """The maker's mark: a silver ring over three rolling meadow lines."""
    r = 10.0
    ring = ImageChops.subtract(ellipse_mask(img, cx, cy, r), ellipse_mask(img, cx, cy, r - 1.3))
    inside = ellipse_mask(img, cx, cy, r - 2.6)
    hills = new_mask(img)
    d = ImageDraw.Draw(hills)
    for k, (amp, y0) in enumerate(((1.6, -2.2), (1.9, 1.2), (2.2, 4.6))):
        pts = []
        for i in range(41):
            t = i / 40.0
            x = cx - r + 2 * r * t
            y = cy + y0 - amp * math.sin(math.pi * (2 * t + 0.35 * k))
            pts.append((sc(x), sc(y)))
        d.line(pts, fill=255, width=int(sc(1.1)))
    hills = ImageChops.multiply(hills, inside)
    silver = vertical_gradient(img.size, (236, 236, 232), (150, 152, 154))
    paint_image(img, ImageChops.lighter(ring, hills), silver)


def switch_labels(img):
    rows = [("Bypass", "EQ IN", None), ("Link", "LINK", "OUT = \u2212IN"),
            ("Filter", "FILTER", "HP 15 Hz|LP 19.1 kHz")]
    for name, label, note in rows:
        x, y, w, h = control_rect(name)
        cy = y + h / 2.0
        draw_text(img, x - 6.0, cy, label, (SANS_B, 9), INK, anchor="rm", spacing=1)
        if note:
            lines = note.split("|")
            for i, t in enumerate(lines):
                ly = cy + (i - (len(lines) - 1) / 2.0) * 9.0
                draw_text(img, x + w + 5.0, ly, t, (COND, 8), INK_DIM, anchor="lm")


def render_panel(tables):
    img = panel_texture()
    legends = selector_legends(tables)

    # Column and band dividers.
    engraved_line(img, 197.5, 14, 197.5, 512)
    _, hy = control_centre("High Gain")
    _, my = control_centre("Mid Gain")
    _, ly = control_centre("Low Gain")
    engraved_line(img, 12, (hy + my) / 2.0 + 16, 186, (hy + my) / 2.0 + 16)
    engraved_line(img, 12, (my + ly) / 2.0 + 16, 186, (my + ly) / 2.0 + 16)

    band_block(img, "HIGH", "SHELF", "High Gain", "High Freq", HIGH_GAIN_DB, legends["High Freq"],
               "Hz at \u00bd gain, full boost")
    band_block(img, "MID", "PEAK", "Mid Gain", "Mid Freq", MID_GAIN_DB, legends["Mid Freq"],
               "Hz, peak centre")
    band_block(img, "LOW", "SHELF", "Low Gain", "Low Freq", LOW_GAIN_DB, legends["Low Freq"],
               "Hz at \u00bd gain, full boost")

    for name, title, note in (("Input", "INPUT", "DRIVES A SOFT SATURATOR"), ("Output", "OUTPUT", None)):
        level_scale(img, name)
        cx, cy = control_centre(name)
        draw_text(img, cx, cy + 50.0, title, (SANS_B, 11), INK, spacing=1)
        if note:
            draw_text(img, cx, cy + 62.0, note, (COND, 7), INK_DIM, spacing=1)

    # The three switches share an engraved frame.
    x, y, w, h = control_rect("Bypass")
    _, fy, _, fh = control_rect("Filter")
    frame_out = rrect_mask(img, 206, y - 10, 340, fy + fh + 10, 5.0)
    frame_in = rrect_mask(img, 207, y - 9, 339, fy + fh + 9, 4.0)
    ring = ImageChops.subtract(frame_out, frame_in)
    paint(img, ImageChops.offset(ring, 0, S), (255, 255, 255), 0.10)
    paint(img, ring, (18, 22, 26), 0.9)
    switch_labels(img)

    # Maker's mark between the switches and the output section.
    emblem(img, 272.5, 329.0)
    draw_text(img, 272.5, 350.0, "SilverMeadowLab", (SANS_B, 9), INK)

    # Name plate.
    nameplate(img, 10, 528, 336, 558)
    engraved_text(img, 24, 543.5, "TALVOR", (SANS_B, 17.0), anchor="lm", spacing=3.0)
    engraved_text(img, 322, 539.0, "THREE-BAND", (COND_B, 7.5), anchor="rm", spacing=0.8)
    engraved_text(img, 322, 549.0, "STEPPED EQUALISER", (COND_B, 7.5), anchor="rm", spacing=0.8)

    # Folded panel edge: lit along the top and left, shaded along the bottom and right.
    full = new_mask(img)
    ImageDraw.Draw(full).rectangle(box(0, 0, PANEL_W, PANEL_H), fill=255)
    inner = new_mask(img)
    ImageDraw.Draw(inner).rectangle(box(1.5, 1.5, PANEL_W - 1.5, PANEL_H - 1.5), fill=255)
    edge = ImageChops.subtract(full, inner)
    diag = Image.linear_gradient("L").rotate(45, resample=Image.BILINEAR, expand=False)
    diag = diag.resize(img.size, Image.BILINEAR)
    paint(img, ImageChops.multiply(edge, ImageChops.invert(diag)), (255, 255, 255), 0.22)
    paint(img, ImageChops.multiply(edge, diag), (0, 0, 0), 0.45)

    for sx, sy, a in ((10, 10, 30), (336, 10, -20), (10, 512, 70), (336, 512, 10)):
        screw(img, sx, sy, a)

    def grain(small, scale):
        # Fine grain at final size (supersampled grain would average away);
        # the larger set has the same grain, each grain covering scale x scale.
        g = noise(PANEL_W, PANEL_H, 3).point(lambda p: 128 + (p - 128) // 24)
        if scale != 1:
            g = g.resize(small.size, Image.NEAREST)
        out = ImageChops.add(small.convert("RGB"), g.convert("RGB"), 1.0, -128).convert("RGBA")
        out.putalpha(255)
        return out
    return downscale(img, grain)


# ---------------------------------------------------------------------------
# Frequency selectors: a recessed bar of five legend windows, the selected one
# lit from behind.

LAMP_HOT = (255, 214, 128)
LAMP_EDGE = (226, 128, 36)


def draw_selector_bar(img, bar, windows, legends, lit, ox=0.0, oy=0.0):
    x0, y0, x1, y1 = bar[0] - ox, bar[1] - oy, bar[2] - ox, bar[3] - oy
    m = rrect_mask(img, x0, y0, x1, y1, 3.0)
    paint(img, m, (255, 255, 255), 0.10)            # light lip below the recess
    m_in = rrect_mask(img, x0, y0 - 0.8, x1, y1 - 0.8, 3.0)
    paint_image(img, m_in, vertical_gradient(img.size, (14, 15, 17), (30, 32, 35)))
    fnt = (COND_B, 8.0)
    for i, (wx0, wy0, wx1, wy1) in enumerate(windows):
        wx0, wy0, wx1, wy1 = wx0 - ox, wy0 - oy, wx1 - ox, wy1 - oy
        wm = rrect_mask(img, wx0, wy0, wx1, wy1, 1.6)
        tx, ty = (wx0 + wx1) / 2.0, (wy0 + wy1) / 2.0 + 0.1
        if i == lit:
            glow = rrect_mask(img, wx0 - 1.5, wy0 - 1.5, wx1 + 1.5, wy1 + 1.5, 3.0)
            paint(img, glow.filter(ImageFilter.GaussianBlur(sc(1.5))), LAMP_EDGE, 0.8)
            paint(img, wm, LAMP_EDGE)
            core = rrect_mask(img, wx0 + 1.0, wy0 + 0.8, wx1 - 1.0, wy1 - 0.8, 1.2)
            paint(img, core.filter(ImageFilter.GaussianBlur(sc(1.6))), LAMP_HOT)
            draw_text(img, tx, ty, legends[i], fnt, (58, 26, 6))
        else:
            paint_image(img, wm, vertical_gradient(img.size, (44, 40, 36), (30, 28, 26)))
            paint(img, ImageChops.subtract(wm, rrect_mask(img, wx0, wy0 + 0.7, wx1, wy1, 1.6)),
                  (255, 255, 255), 0.12)
            draw_text(img, tx, ty, legends[i], fnt, (178, 166, 140))


def render_selector_frames(name, legends):
    x, y, w, h = control_rect(name)
    bar, windows = selector_geometry(name)
    frames = []
    for lit in range(5):
        img = new_layer(w, h)
        draw_selector_bar(img, bar, windows, legends, lit, x, y)
        frames.append(downscale(img))
    return frames


# ---------------------------------------------------------------------------
# Knobs: a dark knurled skirt carrying a cream index line, under a coloured
# cap. Light comes from the upper left and stays put while the knob turns.

def knob_static_layers(w, h, cap_colour):
    cx, cy = w / 2.0, h / 2.0
    lower = new_layer(w, h)
    skirt = ellipse_mask(lower, cx, cy, KNOB_R)
    shadow(lower, skirt, 1.2, 2.6, 2.6, 0.75)
    paint_image(lower, skirt, vertical_gradient(lower.size, (70, 70, 72), (18, 18, 20)))
    # Sloped skirt face: a ring a little lighter towards the light.
    face = ellipse_mask(lower, cx, cy, KNOB_R - 2.2)
    paint_image(lower, face, vertical_gradient(lower.size, (46, 46, 49), (24, 24, 26)))

    cap = new_layer(w, h)
    cm = ellipse_mask(cap, cx, cy, CAP_R)
    shadow(cap, cm, 0.6, 1.4, 1.4, 0.8)
    # Spun-metal sheen: brightness varies with the angle round the centre.
    size = cap.size[0]
    c = size / 2.0

    def sheen(px, py):
        a = math.atan2(py - c, px - c)
        return 128 + 70 * math.cos(2 * (a + math.pi / 4)) + 30 * math.cos(4 * a + 0.6)
    lum = function_image(size, cap.size[1], sheen)
    base = Image.new("RGB", cap.size, cap_colour)
    lighter = Image.new("RGB", cap.size, tuple(min(255, int(v * 1.35 + 24)) for v in cap_colour))
    darker = Image.new("RGB", cap.size, tuple(int(v * 0.62) for v in cap_colour))
    body = Image.composite(lighter, base, lum.point(lambda p: max(0, p - 128) * 2))
    body = Image.composite(darker, body, lum.point(lambda p: max(0, 128 - p) * 2))
    paint_image(cap, cm, body)
    # Bevel: a bright upper-left rim and a dark lower-right rim.
    rim = ImageChops.subtract(cm, ellipse_mask(cap, cx, cy, CAP_R - 1.3))
    light = vertical_gradient(cap.size, (255, 255, 255), (0, 0, 0)).convert("L")
    paint(cap, ImageChops.multiply(rim, light), (255, 255, 255), 0.55)
    paint(cap, ImageChops.multiply(rim, ImageChops.invert(light)), (0, 0, 0), 0.45)
    return lower, cap


def render_knob_frames(w, h, count, cap_colour, pointer_colour, cap_pointer_colour):
    lower, cap = knob_static_layers(w, h, cap_colour)
    cx, cy = w / 2.0, h / 2.0
    frames = []
    for i in range(count):
        ang = pointer_angle(i, count)
        img = lower.copy()
        # Knurls turn with the knob.
        for k in range(40):
            ka = ang + k * 9.0 + 4.5
            radial_line(img, cx, cy, ka, KNOB_R - 2.0, KNOB_R - 0.2, 1.0, (8, 8, 9))
        radial_line(img, cx, cy, ang, CAP_R - 1.0, KNOB_R - 0.6, 2.4, pointer_colour, round_ends=True)
        img.alpha_composite(cap)
        radial_line(img, cx, cy, ang, 4.0, CAP_R - 2.2, 2.0, cap_pointer_colour, round_ends=True)
        frames.append(downscale(img))
    return frames


# ---------------------------------------------------------------------------
# Switches: a square lamp button in a metal bezel.

def render_switch_frames(w, h, lamp):
    cx, cy = w / 2.0, h / 2.0
    half = 10.5
    frames = []
    for on in (False, True):
        img = new_layer(w, h)
        bezel = rrect_mask(img, cx - half, cy - half, cx + half, cy + half, 3.2)
        shadow(img, bezel, 0.5, 1.2, 1.2, 0.8)
        if on:
            glow = rrect_mask(img, cx - half - 1, cy - half - 1, cx + half + 1, cy + half + 1, 4.0)
            paint(img, glow.filter(ImageFilter.GaussianBlur(sc(1.6))), lamp, 0.55)
        paint_image(img, bezel, vertical_gradient(img.size, (196, 196, 192), (84, 84, 82)))
        inner = rrect_mask(img, cx - half + 1.6, cy - half + 1.6, cx + half - 1.6, cy + half - 1.6, 2.2)
        paint_image(img, inner, vertical_gradient(img.size, (60, 60, 60), (140, 140, 138)))
        lens = rrect_mask(img, cx - half + 2.6, cy - half + 2.6, cx + half - 2.6, cy + half - 2.6, 1.8)
        if on:
            hot = tuple(min(255, int(v * 0.35 + 190)) for v in lamp)
            paint(img, lens, lamp)
            core = ellipse_mask(img, cx, cy, 5.0).filter(ImageFilter.GaussianBlur(sc(2.2)))
            paint(img, ImageChops.multiply(core, lens), hot)
        else:
            dim = tuple(int(v * 0.22) + 10 for v in lamp)
            paint_image(img, lens, vertical_gradient(img.size, tuple(int(v * 0.35) + 14 for v in lamp), dim))
        # Glassy reflection across the upper half of the lens.
        gloss = rrect_mask(img, cx - half + 3.4, cy - half + 3.2, cx + half - 3.4, cy - 1.0, 1.4)
        paint(img, gloss, (255, 255, 255), 0.22 if on else 0.12)
        frames.append(downscale(img))
    return frames


# ---------------------------------------------------------------------------
# Output.

def stack(frames):
    """Frames as (final size, larger) pairs, stacked into one pair of strips."""
    pair = []
    for k in range(2):
        w, h = frames[0][k].size
        out = Image.new("RGBA", (w, h * len(frames)), (0, 0, 0, 0))
        for i, f in enumerate(frames):
            out.paste(f[k], (0, i * h))
        pair.append(out)
    return tuple(pair)


def save_png(img, path):
    assert img.mode == "RGBA"
    img.save(path, format="PNG", optimize=True)


def read_ihdr(path):
    with open(path, "rb") as f:
        head = f.read(33)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    w, h, depth, ctype = struct.unpack(">IIBB", head[16:26])
    if zlib.crc32(head[12:29]) != struct.unpack(">I", head[29:33])[0]:
        return None
    return w, h, depth, ctype


def image_sets(outdir):
    """(folder, size factor) of both sets."""
    return ((outdir, 1), (os.path.join(outdir, HI_DIR), HI))


def check(outdir):
    ok = True
    for (folder, scale), (rid, fname, frames, w, h) in (
            (fs, row) for fs in image_sets(outdir) for row in IMAGES):
        w, h = w * scale, h * scale
        path = os.path.join(folder, fname)
        if not os.path.exists(path):
            print("missing: %s" % path)
            ok = False
            continue
        ihdr = read_ihdr(path)
        if ihdr != (w, h, 8, 6):
            print("wrong header: %s %r, want %dx%d 8-bit RGBA" % (path, ihdr, w, h))
            ok = False
        if h % frames:
            print("height of %s does not divide into %d frames" % (path, frames))
            ok = False
    return ok


def build_all(tables):
    images = {"BG.png": render_panel(tables)}
    legends = selector_legends(tables)
    for name, fname in (("Low Freq", "LF.png"), ("Mid Freq", "MF.png"), ("High Freq", "HF.png")):
        images[fname] = stack(render_selector_frames(name, legends[name]))

    cream = (238, 230, 206)
    for name, fname, colour in (("Low Gain", "LG.png", BAND_COLOURS["LOW"]),
                                ("Mid Gain", "MG.png", BAND_COLOURS["MID"]),
                                ("High Gain", "HG.png", BAND_COLOURS["HIGH"])):
        _, frames, w, h = image_entry(fname)
        images[fname] = stack(render_knob_frames(w, h // frames, frames, colour, cream, cream))
    for fname in ("IN.png", "OUT.png"):
        _, frames, w, h = image_entry(fname)
        images[fname] = stack(render_knob_frames(w, h // frames, frames, (176, 176, 172),
                                                 cream, (40, 40, 42)))

    for fname, lamp in (("BY.png", (236, 76, 44)), ("FL.png", (255, 170, 40)),
                        ("LINK.png", (255, 170, 40))):
        _, frames, w, h = image_entry(fname)
        images[fname] = stack(render_switch_frames(w, h // frames, lamp))
    return images


def preview_positions(text):
    """Parse 'Name=value,...' (normalised 0..1) into a dict; defaults show a typical setting."""
    pos = {"Low Freq": 0.5, "Low Gain": 0.8, "Mid Freq": 0.25, "Mid Gain": 0.3,
           "High Freq": 1.0, "High Gain": 0.6, "Input": 0.5, "Output": 0.65,
           "Bypass": 1.0, "Filter": 0.0, "Link": 1.0}
    if text:
        for item in text.split(","):
            k, v = item.split("=")
            pos[k.strip()] = float(v)
    return pos


def compose_preview(images, positions):
    images = {k: v[0] for k, v in images.items()}
    out = images["BG.png"].copy()
    for name, fname, x, y in CONTROLS:
        _, frames, w, h = image_entry(fname)
        fh = h // frames
        v = min(1.0, max(0.0, positions.get(name, 0.0)))
        i = int((frames - 1) * v + 0.5) + 1 if frames > 1 else 1
        sy = int(h * (i - 1) / frames + 0.5)
        frame = images[fname].crop((0, sy, w, sy + fh))
        out.alpha_composite(frame, (x, y))
    return out


def print_table(tables):
    low_boost, low_hz, high_boost, high_hz = tables
    print("Shelf half-gain frequencies at %d Hz, full boost" % MEASURE_RATE)
    print("(the frequency where the shelf's gain is half its boost in dB)")
    print()
    print("| Band | Position | Corner (Hz) | Boost (dB) | Half-gain (Hz) | Legend |")
    print("|---|---|---|---|---|---|")
    for i, (fc, f) in enumerate(zip(LOW_CORNER_HZ, low_hz)):
        print("| low | %d | %.4f | %.2f | %.1f | %s |" % (i, fc, low_boost, f, hz_legend(f)))
    for i, (fc, f) in enumerate(zip(HIGH_CORNER_HZ, high_hz)):
        print("| high | %d | %.0f | %.2f | %.1f | %s |" % (i, fc, high_boost, f, hz_legend(f)))
    print()
    print("Mid peak centres: " + ", ".join("%d Hz (%s)" % (f, hz_legend(f)) for f in MID_CENTRE_HZ))


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description="Draw the TALVOR editor images.")
    ap.add_argument("--out", default=os.path.normpath(os.path.join(here, "..", "..", "resources", "img")))
    ap.add_argument("--preview", help="write a mock-up of the whole editor to this file")
    ap.add_argument("--positions", help="mock-up control values, e.g. 'Low Gain=1,Bypass=0'")
    ap.add_argument("--check", action="store_true", help="only verify the existing images")
    args = ap.parse_args(argv)

    if args.check:
        return 0 if check(args.out) else 1

    tables = shelf_table()
    print_table(tables)
    images = build_all(tables)
    for k, (folder, scale) in enumerate(image_sets(args.out)):
        os.makedirs(folder, exist_ok=True)
        for rid, fname, frames, w, h in IMAGES:
            img = images[fname][k]
            if img.size != (w * scale, h * scale):
                raise SystemExit("internal error: %s at %dx is %dx%d, want %dx%d"
                                 % (fname, scale, img.size[0], img.size[1], w * scale, h * scale))
            save_png(img, os.path.join(folder, fname))
    if args.preview:
        save_png(compose_preview(images, preview_positions(args.positions)), args.preview)
    return 0 if check(args.out) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
