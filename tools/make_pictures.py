#!/usr/bin/env -S /usr/bin/python3
"""Draws the ten pictures of Movra first demo and writes them to data/pic/.

Usage:  /usr/bin/python3 tools/make_pictures.py [--out DIR] [--only NAME ...]

Everything is drawn procedurally with numpy and PIL from fixed seeds, so each
run writes the same files.  Full-screen pictures are painted at 1280 x 960
(twice the 640 x 480 screen) and stored anamorphic at 512 x 512; the demo
stretches them back to 4:3.  That is the largest power-of-two size whose
level 0 the picture scene samples at 640 x 480 (at 1024 x 512 the GL would
sample mip level 1: half the detail).  The ship and lightning sprites and the
cube face are painted at 1024 x 1024 and stored at 512 x 512 upside down,
because the demo puts their first row at the bottom of the quad; the arm is
512 x 512 and upright.  After writing, every file is checked (baseline JPEG,
3 components, power-of-two size, full-screen pictures at their stored size,
black sprite borders) and the total is held under 2 MiB.
"""

import argparse
import functools
import io
import math
import os
import sys

import numpy as np
from PIL import Image, ImageDraw, ImageFont

FONT_DIR = "/usr/share/fonts/truetype/dejavu/"
MASK_SS = 3              # supersampling of every shape mask
JPEG_QUALITY = 90
BUDGET = 2 * 1024 * 1024  # all ten files together must stay below this

FULL = (1280, 960)       # painting size of the 4:3 full-screen pictures
FULL_STORED = (512, 512)  # level 0 is what the scene samples at 640 x 480
SPRITE = (1024, 1024)
SPRITE_STORED = (512, 512)


# --------------------------------------------------------------------------
# basic image maths
# --------------------------------------------------------------------------

def rgb(*c):
    """Colour from 0..255 components as a float array."""
    return np.array(c, np.float32) / 255.0


@functools.lru_cache(maxsize=8)
def _grid(h, w):
    y, x = np.mgrid[0:h, 0:w].astype(np.float32)
    return x + 0.5, y + 0.5


def grid(img):
    """Pixel-centre coordinate arrays (x, y) for an image."""
    return _grid(img.shape[0], img.shape[1])


def smooth(e0, e1, x):
    t = np.clip((x - e0) / (e1 - e0), 0.0, 1.0)
    return t * t * (3.0 - 2.0 * t)


def mix(a, b, t):
    t = np.asarray(t, np.float32)
    if t.ndim == 2:
        t = t[..., None]
    return a + (b - a) * t


def over(img, color, alpha):
    """Paints colour over img with coverage alpha (2-D)."""
    a = np.clip(alpha, 0.0, 1.0)[..., None]
    img *= 1.0 - a
    img += np.asarray(color, np.float32) * a


def add(img, color, amount):
    """Adds light of a colour to img."""
    img += np.asarray(color, np.float32) * np.asarray(amount, np.float32)[..., None]


def _box(a, r, axis):
    pad = [(0, 0)] * a.ndim
    pad[axis] = (r + 1, r)
    c = np.cumsum(np.pad(a, pad, mode="edge"), axis=axis, dtype=np.float64)
    n = a.shape[axis]
    hi = np.take(c, np.arange(2 * r + 1, 2 * r + 1 + n), axis=axis)
    lo = np.take(c, np.arange(0, n), axis=axis)
    return ((hi - lo) / (2 * r + 1)).astype(np.float32)


def blur(a, sigma):
    """Gaussian-like blur (three box passes per axis)."""
    if sigma < 0.5:
        return a.astype(np.float32)
    # Large radii are blurred at a reduced size, which is much faster.
    f = 1
    while sigma / f > 24 and min(a.shape[0], a.shape[1]) // (f * 2) > 16:
        f *= 2
    src = a.astype(np.float32)
    if f > 1:
        h, w = a.shape[:2]
        src = resize(src, (w // f, h // f))
    s = sigma / f
    r = max(1, int(round((math.sqrt(4.0 * s * s + 1.0) - 1.0) / 2.0)))
    for _ in range(3):
        src = _box(src, r, 0)
        src = _box(src, r, 1)
    if f > 1:
        src = resize(src, (a.shape[1], a.shape[0]))
    return src


def resize(a, size, method=Image.BICUBIC):
    """Resizes a float image (2-D or H x W x 3) to size = (w, h)."""
    if a.ndim == 2:
        return np.asarray(Image.fromarray(a.astype(np.float32), "F").resize(size, method))
    return np.stack([resize(a[..., i], size, method) for i in range(a.shape[2])], axis=-1)


def noise(h, w, cells, seed):
    """Smooth value noise in 0..1 with about `cells` blobs across the width."""
    rng = np.random.default_rng(seed)
    cw = max(2, int(cells))
    ch = max(2, int(round(cells * h / w)))
    g = rng.random((ch + 3, cw + 3)).astype(np.float32)
    big = resize(g, (int(w * (cw + 3) / cw), int(h * (ch + 3) / ch)), Image.BICUBIC)
    ox = int(w * 1.5 / cw)
    oy = int(h * 1.5 / ch)
    return big[oy:oy + h, ox:ox + w]


def fbm(h, w, cells, seed, octaves=5, gain=0.5):
    """Fractal noise roughly in 0..1."""
    total = np.zeros((h, w), np.float32)
    amp, norm = 1.0, 0.0
    for o in range(octaves):
        total += amp * noise(h, w, cells * 2 ** o, seed * 97 + o)
        norm += amp
        amp *= gain
    total /= norm
    return np.clip((total - 0.5) * 1.8 + 0.5, 0.0, 1.0)


# --------------------------------------------------------------------------
# shape masks
# --------------------------------------------------------------------------

class Pen:
    """Draws shapes into a supersampled mask; coordinates are image pixels."""

    def __init__(self, draw, s):
        self.d = draw
        self.s = s

    def _p(self, pts):
        s = self.s
        return [(float(x) * s, float(y) * s) for x, y in pts]

    def poly(self, pts, fill=255):
        self.d.polygon(self._p(pts), fill=fill)

    def ellipse(self, cx, cy, rx, ry, fill=255):
        s = self.s
        self.d.ellipse([(cx - rx) * s, (cy - ry) * s, (cx + rx) * s, (cy + ry) * s], fill=fill)

    def circle(self, cx, cy, r, fill=255):
        self.ellipse(cx, cy, r, r, fill)

    def line(self, pts, width, fill=255, caps=True):
        pts = list(pts)
        w = max(1, int(round(width * self.s)))
        self.d.line(self._p(pts), fill=fill, width=w, joint="curve")
        if caps and width * self.s > 2:
            for x, y in (pts[0], pts[-1]):
                self.circle(x, y, width / 2.0, fill)

    def rect(self, x0, y0, x1, y1, fill=255, radius=0):
        s = self.s
        if radius > 0:
            self.d.rounded_rectangle([x0 * s, y0 * s, x1 * s, y1 * s], radius=radius * s, fill=fill)
        else:
            self.d.rectangle([x0 * s, y0 * s, x1 * s, y1 * s], fill=fill)

    def text(self, x, y, txt, font_file, size, fill=255, anchor="mm", spacing=0):
        f = font(font_file, int(round(size * self.s)))
        if spacing:
            # letter spacing: place glyph by glyph
            widths = [f.getlength(ch) for ch in txt]
            total = sum(widths) + spacing * self.s * (len(txt) - 1)
            cx = x * self.s - total / 2.0
            for ch, wd in zip(txt, widths):
                self.d.text((cx, y * self.s), ch, font=f, fill=fill, anchor="l" + anchor[1])
                cx += wd + spacing * self.s
        else:
            self.d.text((x * self.s, y * self.s), txt, font=f, fill=fill, anchor=anchor)


@functools.lru_cache(maxsize=64)
def font(name, size):
    return ImageFont.truetype(FONT_DIR + name, size)


def mask(shape, fn, ss=MASK_SS):
    """Coverage mask (0..1) of whatever fn(pen) draws, anti-aliased."""
    h, w = shape[0], shape[1]
    im = Image.new("L", (w * ss, h * ss), 0)
    fn(Pen(ImageDraw.Draw(im), ss))
    if ss > 1:
        im = im.reduce(ss)
    return np.asarray(im, np.float32) / 255.0


def color_layer(img, fn, ss=MASK_SS, clip=None):
    """Paints whatever fn(pen) draws with RGBA fills over img, anti-aliased;
    clip (a mask) limits where it lands."""
    h, w = img.shape[:2]
    im = Image.new("RGBA", (w * ss, h * ss), (0, 0, 0, 0))
    fn(Pen(ImageDraw.Draw(im), ss))
    im = im.convert("RGBa")
    if ss > 1:
        im = im.reduce(ss)
    a = np.asarray(im, np.float32) / 255.0
    if clip is not None:
        a = a * clip[..., None]
    img *= 1.0 - a[..., 3:4]
    img += a[..., :3]


def text_width(txt, font_file, size):
    return font(font_file, int(size)).getlength(txt)


def bezier(p0, p1, p2, p3, n=24):
    t = np.linspace(0.0, 1.0, n)[:, None]
    p0, p1, p2, p3 = (np.array(p, np.float64) for p in (p0, p1, p2, p3))
    pts = ((1 - t) ** 3) * p0 + 3 * ((1 - t) ** 2) * t * p1 + 3 * (1 - t) * t * t * p2 + t ** 3 * p3
    return [tuple(p) for p in pts]


def quad(p0, p1, p2, n=20):
    t = np.linspace(0.0, 1.0, n)[:, None]
    p0, p1, p2 = (np.array(p, np.float64) for p in (p0, p1, p2))
    pts = ((1 - t) ** 2) * p0 + 2 * (1 - t) * t * p1 + t * t * p2
    return [tuple(p) for p in pts]


class Box:
    """Maps unit coordinates (0..1, y down) into a pixel rectangle."""

    def __init__(self, x0, y0, w, h, flip=False):
        self.x0, self.y0, self.w, self.h, self.flip = x0, y0, w, h, flip

    def __call__(self, x, y):
        if self.flip:
            x = 1.0 - x
        return (self.x0 + x * self.w, self.y0 + y * self.h)

    def pts(self, seq):
        return [self(x, y) for x, y in seq]

    def len(self, d):
        return d * self.w


# --------------------------------------------------------------------------
# shared painting pieces
# --------------------------------------------------------------------------

def vgradient(img, stops):
    """Vertical gradient through (position 0..1, colour) stops."""
    h = img.shape[0]
    t = (np.arange(h, dtype=np.float32) + 0.5) / h
    pos = np.array([s[0] for s in stops], np.float32)
    cols = np.array([s[1] for s in stops], np.float32)
    col = np.stack([np.interp(t, pos, cols[:, i]) for i in range(3)], axis=-1)
    img[:] = col[:, None, :]


def glow(img, cx, cy, radius, color, strength=1.0, power=2.0):
    """Adds a round soft light centred at (cx, cy)."""
    x, y = grid(img)
    d = np.sqrt((x - cx) ** 2 + (y - cy) ** 2) / radius
    add(img, color, strength / (1.0 + d ** power))


def spot(img, cx, cy, radius, color, strength=1.0):
    """Adds a Gaussian light spot."""
    r = int(radius * 4) + 2
    h, w = img.shape[:2]
    x0, x1 = max(0, int(cx) - r), min(w, int(cx) + r + 1)
    y0, y1 = max(0, int(cy) - r), min(h, int(cy) + r + 1)
    if x0 >= x1 or y0 >= y1:
        return
    x, y = grid(img)
    xs, ys = x[y0:y1, x0:x1], y[y0:y1, x0:x1]
    g = np.exp(-((xs - cx) ** 2 + (ys - cy) ** 2) / (2.0 * radius * radius))
    img[y0:y1, x0:x1] += np.asarray(color, np.float32) * (strength * g)[..., None]


def stars(img, count, seed, region, max_size=1.6, color=(1.0, 1.0, 1.0), fade=None):
    """Scatters stars over region = (x0, y0, x1, y1); fade(x, y) scales them."""
    rng = np.random.default_rng(seed)
    x0, y0, x1, y1 = region
    layer = np.zeros(img.shape[:2], np.float32)
    tint = np.zeros(img.shape, np.float32)
    h, w = layer.shape
    for _ in range(count):
        x = rng.uniform(x0, x1)
        y = rng.uniform(y0, y1)
        b = rng.random() ** 3
        k = 1.0 if fade is None else fade(x, y)
        if k <= 0.01:
            continue
        size = 0.6 + b * max_size
        warm = rng.uniform(-1, 1)
        c = np.array([1.0 + 0.12 * warm, 1.0, 1.0 - 0.15 * warm], np.float32) * np.asarray(color)
        spot(tint, x, y, size, c, (0.25 + 1.2 * b) * k)
        if b > 0.75:
            # the brightest get small cross glints
            star_glint(tint, x, y, 4 + 12 * b, c * (0.35 * b * k))
    img += tint


def star_glint(img, cx, cy, length, color):
    """Four-armed sparkle."""
    h, w = img.shape[:2]
    r = int(length) + 2
    x0, x1 = max(0, int(cx) - r), min(w, int(cx) + r + 1)
    y0, y1 = max(0, int(cy) - r), min(h, int(cy) + r + 1)
    if x0 >= x1 or y0 >= y1:
        return
    x, y = grid(img)
    dx = x[y0:y1, x0:x1] - cx
    dy = y[y0:y1, x0:x1] - cy
    arm_h = np.exp(-(dy / 0.9) ** 2) * np.clip(1 - np.abs(dx) / length, 0, 1) ** 2
    arm_v = np.exp(-(dx / 0.9) ** 2) * np.clip(1 - np.abs(dy) / length, 0, 1) ** 2
    core = np.exp(-(dx * dx + dy * dy) / 4.0)
    img[y0:y1, x0:x1] += np.asarray(color, np.float32) * (arm_h + arm_v + core)[..., None]


def vignette(img, strength=0.5, power=2.2):
    h, w = img.shape[:2]
    x, y = grid(img)
    d = np.sqrt(((x - w / 2) / (w / 2)) ** 2 + ((y - h / 2) / (h / 2)) ** 2) / math.sqrt(2)
    img *= (1.0 - strength * d ** power)[..., None]


def shaded_ellipse(img, cx, cy, rx, ry, base, light=(-0.5, -0.6), shine=0.5, rim=0.35,
                   angle=0.0, hi_color=(1, 1, 1), alpha=1.0):
    """Paints a ball-like shaded ellipse (analytic edge, so it is smooth)."""
    h, w = img.shape[:2]
    r = max(rx, ry) + 2
    x0, x1 = max(0, int(cx - r)), min(w, int(cx + r) + 2)
    y0, y1 = max(0, int(cy - r)), min(h, int(cy + r) + 2)
    if x0 >= x1 or y0 >= y1:
        return
    x, y = grid(img)
    dx = x[y0:y1, x0:x1] - cx
    dy = y[y0:y1, x0:x1] - cy
    ca, sa = math.cos(angle), math.sin(angle)
    u = (dx * ca + dy * sa) / rx
    v = (-dx * sa + dy * ca) / ry
    d = np.sqrt(u * u + v * v)
    edge = np.clip((1.0 - d) * min(rx, ry) + 0.5, 0.0, 1.0) * alpha
    nz = np.sqrt(np.clip(1.0 - d * d, 0.0, 1.0))
    lx, ly = light
    lz = math.sqrt(max(0.0, 1.0 - lx * lx - ly * ly))
    diff = np.clip(u * lx + v * ly + nz * lz, 0.0, 1.0)
    col = np.asarray(base, np.float32) * (0.35 + 0.75 * diff)[..., None]
    col = col * (1.0 - rim * d ** 4)[..., None]
    specular = np.clip(u * lx + v * ly + nz * lz, 0, 1) ** 24 * shine
    col = col + np.asarray(hi_color, np.float32) * specular[..., None]
    sub = img[y0:y1, x0:x1]
    a = edge[..., None]
    sub *= 1.0 - a
    sub += col * a


# --------------------------------------------------------------------------
# the ship
# --------------------------------------------------------------------------

SAIL = rgb(246, 236, 212)
SAIL_SHADE = rgb(196, 170, 132)


def ship_parts(b):
    """Geometry of the ship inside Box b: returns a dict of point lists."""
    hull = []
    hull += [b(0.06, 0.55), b(0.29, 0.565)]
    hull += [b(0.31, 0.605)]
    hull += b.pts(quad((0.31, 0.605), (0.52, 0.625), (0.73, 0.605), 12))
    hull += [b(0.75, 0.585), b(0.90, 0.572)]
    hull += b.pts(bezier((0.90, 0.572), (0.935, 0.66), (0.88, 0.755), (0.75, 0.79), 20))
    hull += [b(0.26, 0.79)]
    hull += b.pts(bezier((0.26, 0.79), (0.15, 0.785), (0.09, 0.66), (0.06, 0.55), 20))
    return {"hull": hull}


def paint_ship(img, b, style="lit", seed=7, light_dir=-1.0, water=True):
    """Paints a three-masted sailing ship (bow to the right) into Box b.

    style "lit": moonlit colours with warm lanterns, for use over black.
    style "silhouette": a black shape against a bright sky."""
    shape = img.shape
    rng = np.random.default_rng(seed)
    lw = b.len(1.0)  # unit length in pixels
    x, y = grid(img)
    sil = style == "silhouette"
    dark = rgb(8, 5, 10)

    masts = [  # (x, foot y, top y)
        (0.22, 0.57, 0.17),
        (0.47, 0.615, 0.03),
        (0.70, 0.60, 0.09),
    ]
    # square sails per mast: (top y, bottom y, half width top, half width bottom)
    sails = {
        1: [(0.085, 0.215, 0.085, 0.105), (0.235, 0.385, 0.115, 0.14), (0.405, 0.565, 0.145, 0.165)],
        2: [(0.135, 0.245, 0.07, 0.09), (0.265, 0.40, 0.10, 0.122), (0.42, 0.555, 0.125, 0.14)],
    }

    rig_col = rgb(120, 104, 88) if not sil else dark
    rigging = []
    # shrouds and stays
    for mi, (mx, foot, top) in enumerate(masts):
        for k in range(3):
            off = 0.035 + 0.03 * k
            rigging.append(((mx, top + 0.04), (mx - off, foot + 0.0)))
            rigging.append(((mx, top + 0.04), (mx + off, foot - 0.005)))
    rigging += [
        ((0.70, 0.10), (0.985, 0.47)),   # fore topmast stay to the jib boom
        ((0.47, 0.04), (0.70, 0.10)),    # main topmast stay
        ((0.47, 0.20), (0.70, 0.30)),
        ((0.22, 0.18), (0.47, 0.10)),    # mizzen stay
        ((0.22, 0.18), (0.06, 0.52)),    # backstay
        ((0.47, 0.04), (0.08, 0.55)),
    ]

    def rig_mask(p):
        for a, c in rigging:
            p.line([b(*a), b(*c)], max(1.2, lw * 0.0028), caps=False)
    over(img, rig_col, mask(shape, rig_mask) * (0.9 if not sil else 1.0))

    # jibs in front of the foremast
    jibs = [
        [(0.715, 0.125), (0.975, 0.465), (0.765, 0.52)],
        [(0.715, 0.26), (0.90, 0.53), (0.745, 0.565)],
    ]
    for j, tri in enumerate(jibs):
        a, c, d = tri
        pts = b.pts(quad(a, ((a[0] + c[0]) / 2 + 0.012, (a[1] + c[1]) / 2 - 0.012), c, 10))
        pts += b.pts(quad(c, ((c[0] + d[0]) / 2 + 0.01, (c[1] + d[1]) / 2 + 0.03), d, 10))
        pts += b.pts(quad(d, ((d[0] + a[0]) / 2 + 0.03, (d[1] + a[1]) / 2), a, 10))
        m = mask(shape, lambda p: p.poly(pts))
        if sil:
            over(img, dark, m * 0.97)
        else:
            # light falls on the belly of the sail
            cx, cy = b((a[0] + c[0] + d[0]) / 3, (a[1] + c[1] + d[1]) / 3)
            dd = np.sqrt((x - cx) ** 2 + (y - cy) ** 2) / (lw * 0.12)
            t = np.clip(1.0 - dd, 0.0, 1.0)
            col = mix(SAIL_SHADE * 0.8, SAIL, 0.35 + 0.65 * t)
            over(img, col, m)

    # spanker (the fore-and-aft sail on the mizzen)
    sp = b.pts(quad((0.215, 0.22), (0.13, 0.25), (0.075, 0.29), 10))
    sp += b.pts(quad((0.075, 0.29), (0.06, 0.42), (0.05, 0.515), 10))
    sp += b.pts(quad((0.05, 0.515), (0.14, 0.535), (0.215, 0.535), 10))
    m = mask(shape, lambda p: p.poly(sp))
    if sil:
        over(img, dark, m * 0.97)
    else:
        u = np.clip((x - b(0.05, 0)[0]) / (lw * 0.17), 0, 1)
        col = mix(SAIL_SHADE * 0.75, SAIL, 0.3 + 0.7 * np.clip(np.sin(u * math.pi), 0, 1) ** 0.7)
        over(img, col, m)

    # masts and yards
    def mast_mask(p):
        for mx, foot, top in masts:
            p.line([b(mx, foot), b(mx, top)], lw * 0.012, caps=False)
        p.line([b(0.875, 0.58), b(1.0, 0.465)], lw * 0.011, caps=False)   # bowsprit
        p.line([b(0.22, 0.225), b(0.07, 0.285)], lw * 0.007)              # spanker gaff
        p.line([b(0.22, 0.535), b(0.035, 0.52)], lw * 0.007)              # boom
    mast_col = rgb(92, 60, 34) if not sil else dark
    over(img, mast_col, mask(shape, mast_mask))

    # square sails
    for mi, mast_sails in sails.items():
        mx = masts[mi][0]
        for si, (t, btm, hwt, hwb) in enumerate(mast_sails):
            tl, tr = (mx - hwt, t), (mx + hwt, t)
            bl, br = (mx - hwb, btm), (mx + hwb, btm)
            bulge = 0.022 + 0.004 * si
            pts = b.pts(quad(tl, (mx, t - 0.006), tr, 12))
            pts += b.pts(quad(tr, ((tr[0] + br[0]) / 2 + 0.012, (t + btm) / 2), br, 12))
            pts += b.pts(quad(br, (mx, btm + bulge * 2), bl, 16))
            pts += b.pts(quad(bl, ((tl[0] + bl[0]) / 2 - 0.012, (t + btm) / 2), tl, 12))
            m = mask(shape, lambda p: p.poly(pts))
            if sil:
                over(img, dark, m * 0.97)
            else:
                cx = b(mx, 0)[0]
                ty = b(0, t)[1]
                by = b(0, btm + bulge)[1]
                hw = lw * (hwt + hwb) / 2
                u = (x - cx) / hw
                v = np.clip((y - ty) / (by - ty), 0, 1)
                belly = np.sqrt(np.clip(1 - (u * 0.92) ** 2, 0, 1))
                shade = 0.42 + 0.5 * belly * (0.55 + 0.45 * np.sin(v * math.pi * 0.9 + 0.25))
                shade += 0.12 * np.clip(-u * light_dir, 0, 1)  # side towards the light
                shade -= 0.16 * np.exp(-((v - 0.06) / 0.06) ** 2)  # shadow under the yard
                # vertical cloth seams
                seams = np.cos(u * math.pi * 3.5) ** 40
                shade -= 0.06 * seams
                col = mix(SAIL_SHADE * 0.7, SAIL, np.clip(shade, 0, 1.15))
                over(img, col, m)
            # yard above the sail
            ypts = [b(mx - hwt - 0.012, t), b(mx + hwt + 0.012, t)]
            ym = mask(shape, lambda p: p.line(ypts, lw * 0.008))
            over(img, mast_col, ym)

    # flags
    for (mx, _, top), col, ln in zip(masts, (rgb(200, 40, 40), rgb(220, 48, 40), rgb(200, 40, 40)),
                                     (0.07, 0.1, 0.08)):
        fl = b.pts(quad((mx, top - 0.005), (mx + ln * 0.5, top + 0.005), (mx + ln, top + 0.008), 8))
        fl += b.pts(quad((mx + ln, top + 0.008), (mx + ln * 0.5, top + 0.03), (mx, top + 0.03), 8))
        m = mask(shape, lambda p: p.poly(fl))
        over(img, col if not sil else dark, m)
        if not sil:
            over(img, col * 0.55, m * np.clip((y - b(0, top)[1]) / (lw * 0.03), 0, 1) * 0.5)

    # hull
    parts = ship_parts(b)
    hm = mask(shape, lambda p: p.poly(parts["hull"]))
    if sil:
        over(img, dark, hm)
        return
    top_y, bot_y = b(0, 0.56)[1], b(0, 0.79)[1]
    v = np.clip((y - top_y) / (bot_y - top_y), 0, 1)
    wood = mix(rgb(150, 92, 48), rgb(62, 32, 16), v ** 0.8)
    grain = fbm(shape[0], shape[1], 40, seed + 3, octaves=3)
    grain = resize(resize(grain, (shape[1] // 16, shape[0])), (shape[1], shape[0]))
    wood = wood * (0.85 + 0.3 * grain)[..., None]
    # planks
    pitch = lw * 0.018
    plank = np.abs(((y - top_y) / pitch) % 1.0 - 0.5) * 2
    wood = wood * (0.78 + 0.22 * smooth(0.0, 0.25, plank))[..., None]
    # roundness: lighter upper side of the hull
    wood = wood * (1.0 + 0.35 * np.exp(-((v - 0.28) / 0.16) ** 2))[..., None]
    # and darker towards bow and stern, where the planks turn away
    hx = np.clip(np.abs((x - b(0.49, 0)[0]) / (lw * 0.43)), 0, 1)
    wood = wood * (1.0 - 0.45 * hx ** 3)[..., None]
    over(img, wood, hm)

    # gilded wale and the rail
    def wale(p):
        p.line(b.pts(quad((0.075, 0.605), (0.5, 0.68), (0.905, 0.615), 30)), lw * 0.009, caps=False)
        p.line(b.pts(quad((0.10, 0.70), (0.5, 0.765), (0.88, 0.715), 30)), lw * 0.005, caps=False)
    over(img, rgb(236, 186, 84), mask(shape, wale) * hm)

    def rail(p):
        p.line(parts["hull"][:40], lw * 0.008, caps=False)
    over(img, rgb(184, 128, 70), mask(shape, rail))

    # gun ports along the side
    ports = []
    for i in range(8):
        px = 0.30 + i * 0.058
        py = 0.5 * (0.605 + 0.68) - 0.003 + 0.055 * (1 - ((px - 0.5) / 0.42) ** 2) * 0.55 + 0.005
        ports.append((px, py))
    pm = mask(shape, lambda p: [p.rect(*b(px - 0.011, py - 0.008), *b(px + 0.011, py + 0.01))
                                for px, py in ports])
    over(img, rgb(28, 10, 6), pm)
    lids = mask(shape, lambda p: [p.rect(*b(px - 0.013, py - 0.018), *b(px + 0.013, py - 0.009))
                                  for px, py in ports])
    over(img, rgb(170, 48, 34), lids)

    # warm stern windows and lanterns
    windows = [(0.085, 0.585), (0.115, 0.585), (0.145, 0.587), (0.095, 0.625), (0.128, 0.627)]
    wm = mask(shape, lambda p: [p.rect(*b(wx - 0.01, wy - 0.011), *b(wx + 0.01, wy + 0.011), radius=2)
                                for wx, wy in windows])
    over(img, rgb(255, 214, 120), wm)
    for wx, wy in windows:
        spot(img, *b(wx, wy), lw * 0.018, rgb(255, 170, 60), 0.35)
    for lx, ly, r in ((0.045, 0.50, 0.011), (0.905, 0.545, 0.008), (0.47, 0.39, 0.0)):
        if r <= 0:
            continue
        pole = mask(shape, lambda p: p.line([b(lx, ly), b(lx + 0.02, ly + 0.05)], lw * 0.005))
        over(img, mast_col, pole)
        shaded_ellipse(img, *b(lx, ly), lw * r, lw * r * 1.3, rgb(255, 220, 130), shine=0.8)
        spot(img, *b(lx, ly), lw * 0.03, rgb(255, 170, 70), 0.55)
        spot(img, *b(lx, ly), lw * 0.008, rgb(255, 250, 220), 0.8)

    # figurehead-ish gilded bow scroll and stern trim
    def trim(p):
        p.line(b.pts(quad((0.88, 0.585), (0.925, 0.62), (0.905, 0.67), 12)), lw * 0.006)
        p.line(b.pts(quad((0.07, 0.56), (0.06, 0.61), (0.09, 0.66), 12)), lw * 0.006)
    over(img, rgb(240, 196, 96), mask(shape, trim))

    # the sea the ship sits in: a dark swell with a foaming crest over the keel
    xs = np.linspace(0.0, 1.0, 160)
    crest = 0.765 + 0.010 * np.sin(xs * 31.0 + 1.0) + 0.006 * np.sin(xs * 67.0)
    crest -= 0.02 * np.exp(-((xs - 0.89) / 0.05) ** 2)       # bow wave
    swell = [b(xx, yy) for xx, yy in zip(xs, crest)] + [b(1.0, 0.86), b(0.0, 0.86)]
    wm = mask(shape, lambda p: p.poly(swell))
    edge = smooth(0.0, 0.12, np.clip(1.0 - np.abs((x - b(0.5, 0)[0]) / (lw * 0.5)), 0, 1))
    depth = np.clip((y - b(0, 0.765)[1]) / (lw * 0.08), 0, 1)
    if water:
        over(img, mix(rgb(20, 44, 62), rgb(0, 0, 0), depth ** 0.6), wm * edge)
    else:
        # only hide the keel; the sea around is the picture's own
        over(img, mix(rgb(22, 34, 70), rgb(12, 20, 44), depth), wm * hm)

    crest_line = [b(xx, yy) for xx, yy in zip(xs, crest)]
    cm = mask(shape, lambda p: p.line(crest_line, lw * 0.006, caps=False))
    foam = [(rng.uniform(0.12, 0.93), rng.uniform(-0.004, 0.02), rng.uniform(0.004, 0.012),
             int(rng.uniform(60, 200))) for _ in range(90)]

    def foam_mask(p):
        for fx, dy, r, f in foam:
            fy = float(np.interp(fx, xs, crest)) + dy
            p.ellipse(*b(fx, fy), lw * r * 2.0, lw * r * 0.45, fill=f)
    fm = np.clip(blur(mask(shape, foam_mask), lw * 0.002) + cm * 0.9, 0, 1)
    add(img, rgb(190, 214, 232), fm * edge * 0.9)
    add(img, rgb(80, 110, 140), blur(fm * edge, lw * 0.012) * 0.5)


# --------------------------------------------------------------------------
# output
# --------------------------------------------------------------------------

def finish_image(img, stored, flip=False, black_floor=None, seed=1):
    """Downsamples the painting to the stored size and quantises it."""
    if not np.isfinite(img).all():
        raise ValueError("painting has non-finite pixels")
    a = np.clip(img, 0.0, 1.0)
    a = np.clip(resize(a, stored, Image.LANCZOS), 0.0, 1.0)
    if black_floor is not None:
        # sprites: anything this dark becomes exact black
        lum = a.max(axis=2)
        a = a * smooth(black_floor, black_floor * 2.5, lum)[..., None]
    rng = np.random.default_rng(seed)
    dither = (rng.random(a.shape[:2], np.float32) + rng.random(a.shape[:2], np.float32) - 1.0)[..., None]
    if black_floor is not None:
        dither = dither * (a.max(axis=2, keepdims=True) > 0)
    out = np.clip(np.round(a * 255.0 + dither * 0.5), 0, 255).astype(np.uint8)
    im = Image.fromarray(out, "RGB")
    if flip:
        im = im.transpose(Image.FLIP_TOP_BOTTOM)
    return im


def save_jpeg(im, path):
    buf = io.BytesIO()
    im.save(buf, "JPEG", quality=JPEG_QUALITY, optimize=True, progressive=False)
    data = buf.getvalue()
    with open(path, "wb") as f:
        f.write(data)
    return len(data)


# --------------------------------------------------------------------------
# the pictures
# --------------------------------------------------------------------------

def pic_skuta():
    """The ship sprite: lit ship on pure black."""
    img = np.zeros((SPRITE[1], SPRITE[0], 3), np.float32)
    paint_ship(img, Box(70, 90, 884, 884), "lit", seed=11)
    return finish_image(img, SPRITE_STORED, flip=True, black_floor=6 / 255.0)


def bolt_path(p0, p1, rough, depth, rng):
    """Jagged path between two points by midpoint displacement."""
    pts = [np.array(p0, np.float64), np.array(p1, np.float64)]
    for _ in range(depth):
        out = [pts[0]]
        for a, c in zip(pts[:-1], pts[1:]):
            d = c - a
            n = np.array([-d[1], d[0]])
            m = (a + c) / 2 + n * rng.normal(0.0, rough)
            out += [m, c]
        pts = out
    return [tuple(p) for p in pts]


def pic_lyn():
    """The lightning sprite: a white-hot forked bolt on pure black."""
    w, h = SPRITE
    img = np.zeros((h, w, 3), np.float32)
    rng = np.random.default_rng(1234)
    strokes = []  # (points, start width, end width, brightness)
    main = bolt_path((600, 80), (400, 950), 0.13, 7, rng)
    strokes.append((main, 13.0, 4.0, 1.0))
    n = len(main)
    for k, (i, side, ln) in enumerate(((18, -1, 300), (38, 1, 260), (57, -1, 230), (76, 1, 170),
                                       (92, -1, 150), (28, 1, 120), (66, -1, 110))):
        a = np.array(main[i])
        ang = math.radians(90 + side * rng.uniform(35, 55))
        c = a + ln * np.array([math.cos(ang), math.sin(ang)])
        br = bolt_path(a, c, 0.18, 5, rng)
        wid = 13.0 + (4.0 - 13.0) * i / n
        strokes.append((br, wid * 0.6, 1.5, 0.85))
        if ln > 200:
            j = len(br) // 2
            a2 = np.array(br[j])
            ang2 = ang + side * rng.uniform(0.3, 0.7)
            c2 = a2 + ln * 0.4 * np.array([math.cos(ang2), math.sin(ang2)])
            strokes.append((bolt_path(a2, c2, 0.2, 4, rng), wid * 0.35, 1.2, 0.7))

    def draw_strokes(p, scale=1.0, bright=False):
        for pts, w0, w1, b in strokes:
            m = len(pts) - 1
            for i in range(m):
                wd = (w0 + (w1 - w0) * i / m) * scale
                p.line([pts[i], pts[i + 1]], wd, fill=int(255 * (b if bright else 1.0)))

    core = mask(img.shape, lambda p: draw_strokes(p, 1.0, True))
    hot = mask(img.shape, lambda p: draw_strokes(p, 0.45, True))
    # border window so the glow has died away well before the edges
    x, y = grid(img)
    win = smooth(0.0, 0.16, np.minimum(np.minimum(x, w - x), np.minimum(y, h - y)) / w)
    add(img, rgb(170, 165, 255), blur(core, 90) * 2.0 * win)
    add(img, rgb(200, 205, 255), blur(core, 28) * 2.4 * win)
    add(img, rgb(235, 238, 255), blur(core, 7) * 1.6 * win)
    add(img, rgb(235, 240, 255), core)
    add(img, rgb(255, 255, 255), hot * 1.5)
    glow(img, 600, 80, 120, rgb(200, 200, 255), 0.25, 2.5)
    img *= win[..., None]
    return finish_image(img, SPRITE_STORED, flip=True, black_floor=6 / 255.0)


def cloud_layer(h, w, seed, cells, stretch, lo, hi):
    """Cloud density 0..1: stretched fractal noise through a soft threshold."""
    n = fbm(h, max(8, w // stretch), cells, seed, octaves=6, gain=0.55)
    n = resize(n, (w, h))
    return smooth(lo, hi, n)


def paint_moon(img, cx, cy, r, seed):
    """A full moon with maria, limb darkening and a wide halo."""
    glow(img, cx, cy, r * 1.6, rgb(120, 130, 170), 0.55, 2.0)
    glow(img, cx, cy, r * 5.0, rgb(60, 70, 120), 0.35, 1.6)
    h, w = img.shape[:2]
    x, y = grid(img)
    d = np.sqrt((x - cx) ** 2 + (y - cy) ** 2) / r
    disk = np.clip((1.0 - d) * r + 0.5, 0, 1)
    maria = fbm(h, w, w / (r * 0.45), seed, octaves=4)
    tone = 1.0 - 0.3 * smooth(0.4, 0.75, maria) - 0.18 * np.clip(d, 0, 1) ** 3
    col = mix(rgb(190, 186, 170), rgb(255, 250, 232), np.clip(tone, 0, 1))
    over(img, col, disk)


def pic_bakgrunn():
    """The sea at night: moonlit sky over a calm swell, storm clouds to the west."""
    w, h = FULL
    img = np.zeros((h, w, 3), np.float32)
    hy = int(h * 0.53)  # horizon
    x, y = grid(img)
    vgradient(img, [(0.0, rgb(3, 5, 18)), (0.25, rgb(9, 14, 40)), (0.42, rgb(26, 26, 66)),
                    (0.50, rgb(74, 44, 86)), (0.53, rgb(150, 78, 70)), (0.535, rgb(40, 38, 70)),
                    (0.60, rgb(16, 24, 50)), (1.0, rgb(2, 5, 14))])
    sky = (y < hy).astype(np.float32)
    # afterglow low in the west-north-west, warmer to the right
    warm = np.exp(-((y - hy) / 60.0) ** 2) * (0.35 + 0.65 * smooth(200, 1200, x)) * sky
    add(img, rgb(190, 90, 60), warm * 0.55)
    stars(img, 650, 42, (0, 0, w, hy - 10), 1.4,
          fade=lambda sx, sy: float(smooth(hy - 10, hy * 0.45, sy)))

    paint_moon(img, 1010, 205, 58, 5)

    # clouds: a dark bank in the upper left and thin streaks across the sky
    bank = cloud_layer(h, w, 21, 4, 4, 0.4, 0.72)
    bank *= smooth(0.8 * w, 0.4 * w, x) * smooth(hy * 0.95, hy * 0.6, y)
    streak = cloud_layer(h, w, 33, 7, 8, 0.55, 0.8)
    streak *= np.exp(-((y - hy * 0.72) / (hy * 0.14)) ** 2)
    dens = np.clip(bank + streak * 0.7, 0, 1) * sky
    # light from the moon (up and to the right): edges facing it get a silver rim
    thick = blur(dens, 14)
    sh = 10
    toward = np.pad(thick, ((0, sh), (sh, 0)), mode="edge")[sh:, :-sh]  # density nearer the moon
    rim = np.clip(thick - toward, 0, 1) * dens
    moon_dist = np.sqrt((x - 1010) ** 2 + (y - 205) ** 2)
    moonlit = 0.5 + 1.5 * np.exp(-moon_dist / 450)
    cloud_col = mix(rgb(78, 76, 112), rgb(26, 26, 50), smooth(0.2, 0.9, thick))
    over(img, cloud_col, dens * 0.95)
    add(img, rgb(160, 160, 200), rim * moonlit * 3.0)
    add(img, rgb(120, 60, 70), dens * np.exp(-((y - hy) / 90.0) ** 2) * 0.4)

    # a far headland on the left with a lighthouse
    land = [(0, hy + 1)]
    rng = np.random.default_rng(8)
    prof = np.cumsum(rng.normal(0, 1.4, 120))
    prof = (prof - prof.min()) / (np.ptp(prof) + 1e-6)
    for i, t in enumerate(np.linspace(0, 1, 120)):
        xx = t * 420
        top = 26 + 24 * prof[i] + 10 * math.sin(t * 5.0)
        top *= smooth(440, 250, xx) * 1.0
        land.append((xx, hy - top * (1.0 if xx < 380 else (420 - xx) / 40)))
    land.append((420, hy + 1))
    lm = mask(img.shape, lambda p: p.poly(land))
    over(img, rgb(8, 8, 20), lm)
    lh = mask(img.shape, lambda p: p.poly([(328, hy - 30), (336, hy - 30), (338, hy - 8), (326, hy - 8)]))
    over(img, rgb(16, 14, 26), lh)
    spot(img, 332, hy - 32, 3, rgb(255, 220, 150), 1.2)
    glow(img, 332, hy - 32, 14, rgb(255, 180, 90), 0.25, 2.0)
    beam = np.exp(-((y - (hy - 32) - (x - 332) * 0.03) / 6.0) ** 2) * smooth(640, 340, x) * smooth(300, 340, x)
    add(img, rgb(255, 200, 120), beam * 0.12 * sky)

    # the sea
    sea = 1.0 - sky
    d = np.clip((y - hy) / (h - hy), 0, 1)
    col_x = 1010.0
    column = np.exp(-((x - col_x) / (40 + 260 * d)) ** 2) * sea
    add(img, rgb(90, 90, 110), column * (0.25 + 0.2 * (1 - d)))
    add(img, rgb(150, 80, 70), np.exp(-((y - hy) / 25.0) ** 2) * sea * 0.35 * smooth(100, 1200, x))
    # swell: long soft bands of light and shade
    swell = fbm(h, w // 6, 3, 77, octaves=4)
    swell = resize(swell, (w, h))
    img *= (0.8 + 0.4 * swell * sea + (1 - sea) * 0.2)[..., None]

    # wave crests and glints as short horizontal dashes, smaller towards the horizon
    rng = np.random.default_rng(99)
    glints, crests, troughs = [], [], []
    for _ in range(5200):
        dd = rng.random() ** 1.5
        yy = hy + 2 + dd * (h - hy - 2)
        xx = rng.uniform(-40, w + 40)
        ln = (3 + 70 * dd) * (0.4 + rng.random())
        th = 0.5 + 3.0 * dd
        near = math.exp(-((xx - col_x) / (40 + 260 * dd)) ** 2)
        if rng.random() < near * 0.95:
            glints.append((xx, yy, ln * 0.8, th * 0.8, int(140 + 115 * rng.random())))
        elif rng.random() < 0.5:
            crests.append((xx, yy, ln, th, int(40 + 100 * rng.random())))
        else:
            troughs.append((xx, yy, ln * 1.3, th * 1.2, int(60 + 100 * rng.random())))

    def dashes(lst):
        return lambda p: [p.ellipse(xx, yy, ln, th, fill=f) for xx, yy, ln, th, f in lst]
    over(img, rgb(2, 5, 14), mask(img.shape, dashes(troughs)) * 0.6)
    cm = mask(img.shape, dashes(crests))
    add(img, rgb(60, 80, 120), cm * (0.25 + 0.5 * (1 - d)))
    gm = mask(img.shape, dashes(glints))
    add(img, rgb(255, 240, 200), gm * 0.9)
    add(img, rgb(170, 160, 140), blur(gm, 4) * 0.6)
    # the horizon line catches a little light
    add(img, rgb(200, 150, 140), np.exp(-((y - hy) / 1.5) ** 2) * 0.35)
    vignette(img, 0.45)
    return finish_image(img, FULL_STORED)


def rope_ring(img, cx, cy, radius, thick, color, twists=None):
    """A round rope: a shaded tube with twisted strands."""
    x, y = grid(img)
    dx, dy = x - cx, y - cy
    r = np.sqrt(dx * dx + dy * dy)
    ang = np.arctan2(dy, dx)
    t = (r - radius) / (thick / 2)           # -1..1 across the rope
    cover = np.clip((1.0 - np.abs(t)) * thick / 2 + 0.5, 0, 1) * (np.abs(t) < 1.2)
    n = twists or int(2 * math.pi * radius / (thick * 0.9))
    phase = ang * n + t * 1.9
    strand = 0.5 + 0.5 * np.cos(phase)
    tube = np.sqrt(np.clip(1 - t * t, 0, 1))
    lightness = tube * (0.55 + 0.45 * strand ** 0.6) * (0.9 - 0.25 * t)
    col = np.asarray(color, np.float32) * lightness[..., None]
    col += rgb(255, 240, 200) * (np.clip(strand - 0.75, 0, 1) * tube * (t < 0.2) * 0.8)[..., None]
    over(img, col, cover)


def pic_skuta2():
    """The cube face: the ship in a round night-sky medallion inside a rope frame."""
    w, h = SPRITE
    img = np.zeros((h, w, 3), np.float32)
    x, y = grid(img)
    cx, cy = w / 2, h / 2
    r = np.sqrt((x - cx) ** 2 + (y - cy) ** 2)
    # faint square panel and a gilded double border that outlines the cube edges
    panel = mask(img.shape, lambda p: p.rect(14, 14, w - 14, h - 14, radius=30))
    over(img, rgb(6, 10, 26), panel)
    border = mask(img.shape, lambda p: (p.rect(18, 18, w - 18, h - 18, radius=28),
                                        p.rect(34, 34, w - 34, h - 34, fill=0, radius=18)))
    over(img, rgb(212, 160, 70), border)
    inner = mask(img.shape, lambda p: (p.rect(46, 46, w - 46, h - 46, radius=12),
                                       p.rect(52, 52, w - 52, h - 52, fill=0, radius=8)))
    over(img, rgb(150, 104, 48), inner)
    # medallion: moonlit sky over a dark sea
    disc = np.clip((420 - r) + 0.5, 0, 1)
    sky = np.zeros_like(img)
    vgradient(sky, [(0.0, rgb(4, 8, 30)), (0.45, rgb(20, 30, 80)), (0.60, rgb(70, 56, 104)),
                    (0.61, rgb(18, 30, 66)), (1.0, rgb(2, 6, 18))])
    stars(sky, 160, 5, (100, 90, 924, 610), 1.2, fade=lambda sx, sy: float(smooth(620, 350, sy)))
    # moonlight on the water: glints in a column, dim crests elsewhere
    rng = np.random.default_rng(31)
    hy = 0.61 * h
    glints, crests = [], []
    for _ in range(700):
        dd = rng.random() ** 1.3
        yy = hy + 3 + dd * (h - hy)
        xx = rng.uniform(80, 944)
        ln, th = (4 + 40 * dd) * (0.5 + rng.random()), 1 + 3 * dd
        near = math.exp(-((xx - 760) / (30 + 160 * dd)) ** 2)
        (glints if rng.random() < near else crests).append((xx, yy, ln, th, int(rng.uniform(90, 255))))
    add(sky, rgb(255, 240, 205), mask(img.shape, lambda p: [p.ellipse(*g[:4], fill=g[4]) for g in glints]))
    add(sky, rgb(60, 80, 130), mask(img.shape, lambda p: [p.ellipse(*g[:4], fill=g[4]) for g in crests]) * 0.5)
    spot(sky, 760, 250, 46, rgb(255, 250, 225), 1.0)
    glow(sky, 760, 250, 80, rgb(120, 130, 190), 0.5, 2.0)
    over(img, sky, disc)
    paint_ship(img, Box(cx - 330, cy - 395, 660, 660), "lit", seed=23, water=False)
    # vignette inside the medallion and the rope around it
    edge = smooth(300, 420, r) * disc
    img *= (1.0 - 0.55 * edge)[..., None]
    rope_ring(img, cx, cy, 432, 34, rgb(232, 184, 96))
    # compass points in the corners
    for qx, qy in ((110, 110), (w - 110, 110), (110, h - 110), (w - 110, h - 110)):
        star_glint(img, qx, qy, 38, rgb(255, 210, 120) * 0.8)
        spot(img, qx, qy, 6, rgb(255, 230, 170), 1.0)
    return finish_image(img, SPRITE_STORED, flip=True, black_floor=4 / 255.0)


GOLD_STOPS = [(0.0, rgb(255, 248, 200)), (0.42, rgb(246, 196, 84)), (0.5, rgb(168, 98, 28)),
              (0.62, rgb(214, 150, 56)), (1.0, rgb(255, 226, 140))]


def text_mask(shape, x, y, txt, font_file, size, spacing=0):
    return mask(shape, lambda p: p.text(x, y, txt, font_file, size, spacing=spacing))


def fancy_text(img, m, stops=GOLD_STOPS, outline=rgb(40, 18, 6), outline_px=0.0,
               shadow=0.0, shadow_off=(0, 0), glow_col=None, glow_px=0.0, bevel=0.0):
    """Paints the text mask m with a vertical metal gradient, bevel light,
    outline, drop shadow and outer glow."""
    x, y = grid(img)
    rows = np.where(m.max(axis=1) > 0.05)[0]
    top, bot = (rows[0], rows[-1]) if len(rows) else (0, img.shape[0])
    t = np.clip((y - top) / max(1, bot - top), 0, 1)[:, 0]
    pos = np.array([s[0] for s in stops], np.float32)
    cols = np.array([s[1] for s in stops], np.float32)
    band = np.stack([np.interp(t, pos, cols[:, i]) for i in range(3)], axis=-1)
    fill = np.broadcast_to(band[:, None, :], img.shape).copy()
    if glow_col is not None:
        add(img, glow_col, blur(m, glow_px))
    if shadow > 0:
        sx, sy = shadow_off
        sh = np.roll(np.roll(blur(m, max(1.0, outline_px)), int(sy), axis=0), int(sx), axis=1)
        over(img, rgb(0, 0, 0), np.clip(sh * 1.6, 0, 1) * shadow)
    if outline_px > 0:
        ol = np.clip(blur(m, outline_px) * 3.0, 0, 1)
        over(img, outline, ol)
    if bevel > 0:
        hgt = blur(m, bevel)
        gy, gx = np.gradient(hgt)
        k = 1.0 / (np.abs(gx).max() + np.abs(gy).max() + 1e-6)
        lit = (-gx - gy) * k * 2.5           # light from the upper left
        fill *= (1.0 + 0.6 * np.clip(lit, -1, 1))[..., None]
        fill += rgb(255, 255, 235) * (np.clip(lit - 0.4, 0, 1) * 0.8)[..., None]
    over(img, fill, m)


def wood_planks(img, seed, base=rgb(92, 54, 28), plank_h=120, vertical=False):
    """Fills img with weathered wooden planks."""
    h, w = img.shape[:2]
    x, y = grid(img)
    along, across = (y, x) if vertical else (x, y)
    n_across = (w if vertical else h) // plank_h + 2
    rng = np.random.default_rng(seed)
    idx = np.floor(across / plank_h).astype(int)
    tint = rng.uniform(0.7, 1.15, n_across + 2).astype(np.float32)[np.clip(idx, 0, n_across + 1)]
    gs = (w // 10, h) if not vertical else (w, h // 10)
    grain = resize(fbm(gs[1], gs[0], 30, seed + 1, octaves=4), (w, h))
    ripple = 0.5 + 0.5 * np.sin(across * 0.35 + grain * 18.0)
    col = base * (tint * (0.75 + 0.2 * grain + 0.15 * ripple))[..., None]
    f = (across / plank_h) % 1.0
    seam = np.clip(1 - np.minimum(f, 1 - f) * plank_h / 3.0, 0, 1)
    col *= (1.0 - 0.75 * seam)[..., None]
    img[:] = col
    # nail heads
    for j in range(n_across):
        for i in range(0, (h if vertical else w) + 300, 300):
            off = i + (j % 2) * 150 + 40
            for dx in (-plank_h * 0.25, plank_h * 0.25):
                cx, cy = (j * plank_h + plank_h / 2 + dx, off) if vertical else (off, j * plank_h + plank_h / 2 + dx)
                shaded_ellipse(img, cx, cy, 5, 5, rgb(70, 60, 55), shine=0.3)


def pic_hilsen():
    """The greetings: a parchment scroll on the captain's table."""
    w, h = FULL
    img = np.zeros((h, w, 3), np.float32)
    wood_planks(img, 61, rgb(84, 48, 24), 140)
    x, y = grid(img)
    # the scroll's sheet with ragged edges
    sx0, sx1, sy0, sy1 = 150, 1130, 110, 860
    edge_n = fbm(h, w, 40, 62, octaves=4)
    dx = np.minimum(x - sx0, sx1 - x)
    dy = np.minimum(y - sy0, sy1 - y)
    dist = np.minimum(dx, dy * 3.0) + (edge_n - 0.5) * 22
    sheet = np.clip(dist / 2.0 + 0.5, 0, 1) * (y > sy0 - 10) * (y < sy1 + 10)
    shadow = blur(sheet, 18)
    img *= (1.0 - 0.65 * np.roll(np.roll(shadow, 14, axis=0), 10, axis=1))[..., None]
    stain = fbm(h, w, 6, 63, octaves=6)
    paper = mix(rgb(246, 228, 184), rgb(206, 168, 112), smooth(0.35, 0.9, stain))
    burn = smooth(60, 0, dist)
    paper = mix(paper, rgb(120, 70, 30), burn * 0.85)
    fibre = resize(fbm(h, w // 8, 60, 64, octaves=3), (w, h))
    paper = paper * (0.94 + 0.08 * fibre)[..., None]
    over(img, paper, sheet)
    # rolls at top and bottom
    for ry in (sy0, sy1):
        roll = mask(img.shape, lambda p: p.rect(sx0 - 30, ry - 34, sx1 + 30, ry + 34, radius=30))
        v = np.clip((y - (ry - 34)) / 68.0, 0, 1)
        tube = np.clip(np.sin(v * math.pi), 0, 1)
        col = mix(rgb(120, 80, 40), rgb(250, 232, 190), tube ** 0.7)
        col += rgb(255, 250, 230) * (np.exp(-((v - 0.32) / 0.08) ** 2) * 0.3)[..., None]
        over(img, rgb(0, 0, 0), np.roll(blur(roll, 10), 14, axis=0) * 0.5)
        over(img, col, roll)
        for ex in (sx0 - 30, sx1 + 30):   # wooden knobs at the ends
            shaded_ellipse(img, ex, ry, 26, 40, rgb(120, 64, 30), shine=0.4)

    ink = rgb(70, 30, 14)
    red = rgb(150, 28, 20)
    # title
    tm = text_mask(img.shape, w / 2, 218, "GREETINGS", "DejaVuSerif-Bold.ttf", 112, spacing=10)
    fancy_text(img, tm, stops=[(0.0, rgb(170, 40, 26)), (1.0, rgb(100, 16, 10))],
               outline=rgb(60, 20, 8), outline_px=1.5, shadow=0.35, shadow_off=(4, 5), bevel=3)
    # flourish under the title
    def flourish(p):
        p.line(quad((330, 300), (640, 322), (950, 300), 40), 4)
        p.line(quad((420, 316), (640, 330), (860, 316), 30), 2)
    over(img, red, mask(img.shape, flourish) * 0.85)
    shaded_ellipse(img, 640, 324, 9, 9, rgb(190, 40, 30), shine=0.6)

    names = ["Captain Krillbeard", "The Barnacle Brigade", "Crew of the Herring Queen",
             "Kraken Knitting Club", "Rusty Anchor Choir", "Mermaid Mathematicians",
             "Old Tom of Tangle Reef", "and all hands on deck!"]

    def name_lines(p):
        for i, nm in enumerate(names):
            p.text(w / 2, 392 + i * 56, nm, "DejaVuSerif-BoldItalic.ttf", 38)
    nm = mask(img.shape, name_lines)
    over(img, rgb(0, 0, 0), np.roll(np.roll(blur(nm, 1.5), 2, 0), 2, 1) * 0.15)
    over(img, ink, nm)
    # anchors either side of the list
    for ax in (300, w - 300):
        am = text_mask(img.shape, ax, 590, "\u2693", "DejaVuSans.ttf", 120)
        over(img, red, am * 0.75)
    # wax seal in the lower right corner of the sheet
    cx, cy = 1050, 790
    shaded_ellipse(img, cx, cy, 62, 58, rgb(170, 22, 18), shine=0.5, rim=0.5)
    seal = text_mask(img.shape, cx, cy + 2, "M", "DejaVuSerif-Bold.ttf", 64)
    over(img, rgb(110, 10, 8), seal * 0.9)
    add(img, rgb(255, 120, 100), np.clip(seal - np.roll(np.roll(seal, 2, 0), 2, 1), 0, 1) * 0.5)
    vignette(img, 0.55)
    return finish_image(img, FULL_STORED)


def pic_finish():
    """Thanks for watching: the ship sails into a red sunset."""
    w, h = FULL
    img = np.zeros((h, w, 3), np.float32)
    x, y = grid(img)
    hy = int(h * 0.64)
    sun_x, sun_y, sun_r = 640, hy - 40, 150
    vgradient(img, [(0.0, rgb(34, 16, 58)), (0.22, rgb(96, 34, 80)), (0.42, rgb(206, 72, 62)),
                    (0.56, rgb(250, 146, 64)), (0.64, rgb(255, 206, 110)), (0.641, rgb(150, 70, 60)),
                    (0.75, rgb(80, 34, 52)), (1.0, rgb(18, 8, 26))])
    sky = (y < hy).astype(np.float32)
    glow(img, sun_x, sun_y, 260, rgb(255, 150, 60), 0.5, 2.0)
    glow(img, sun_x, sun_y, 700, rgb(200, 80, 60), 0.25, 1.5)
    # the sun with thin cloud bands across it
    d = np.sqrt((x - sun_x) ** 2 + (y - sun_y) ** 2)
    disk = np.clip(sun_r - d + 0.5, 0, 1) * sky
    sun_col = mix(rgb(255, 250, 200), rgb(255, 160, 70), smooth(sun_y - sun_r, sun_y + sun_r, y))
    over(img, sun_col, disk)
    bands = cloud_layer(h, w, 71, 3, 10, 0.5, 0.72)
    bands *= np.exp(-((y - hy * 0.62) / (hy * 0.2)) ** 2) * sky
    band_col = mix(rgb(110, 40, 70), rgb(255, 150, 90), np.exp(-d / 320))
    over(img, band_col, bands * 0.85)
    add(img, rgb(255, 200, 120), np.clip(bands - np.roll(bands, 5, axis=0), 0, 1) * np.exp(-d / 400) * 1.2)
    stars(img, 120, 73, (0, 0, w, hy * 0.35), 1.0, fade=lambda sx, sy: float(smooth(hy * 0.4, 0, sy)))
    # the sea: a golden path under the sun
    sea = 1.0 - sky
    dd = np.clip((y - hy) / (h - hy), 0, 1)
    path = np.exp(-((x - sun_x) / (60 + 380 * dd)) ** 2) * sea
    add(img, rgb(255, 150, 60), path * 0.35)
    rng = np.random.default_rng(74)
    glints, crests = [], []
    for _ in range(2600):
        q = rng.random() ** 1.4
        yy = hy + 2 + q * (h - hy)
        xx = rng.uniform(-40, w + 40)
        ln, th = (4 + 60 * q) * (0.4 + rng.random()), 0.6 + 3 * q
        near = math.exp(-((xx - sun_x) / (60 + 380 * q)) ** 2)
        (glints if rng.random() < near else crests).append((xx, yy, ln, th, int(rng.uniform(80, 255))))
    add(img, rgb(255, 214, 130), mask(img.shape, lambda p: [p.ellipse(*g[:4], fill=g[4]) for g in glints]))
    over(img, rgb(40, 14, 34), mask(img.shape, lambda p: [p.ellipse(*g[:4], fill=g[4]) for g in crests]) * 0.5)
    add(img, rgb(255, 230, 170), np.exp(-((y - hy) / 1.5) ** 2) * 0.5)
    # the ship, black against the light, a little to the right of the sun
    paint_ship(img, Box(700, hy - 330, 420, 420), "silhouette")
    # its dark reflection, broken up by the ripples
    refl = np.exp(-((x - 905) / 150.0) ** 4) * np.exp(-(y - hy) / 40.0) * sea
    ripple = 0.5 + 0.5 * np.sin(y * 1.3 + 4 * np.sin(x * 0.02))
    over(img, rgb(30, 10, 24), refl * ripple * 0.8)
    # gulls
    for gx, gy, gs in ((300, 300, 26), (360, 270, 18), (420, 330, 14), (250, 350, 12)):
        gm = mask(img.shape, lambda p: (p.line(quad((gx - gs, gy - gs * 0.2), (gx - gs * 0.5, gy - gs * 0.6), (gx, gy), 10), gs * 0.14),
                                        p.line(quad((gx, gy), (gx + gs * 0.5, gy - gs * 0.6), (gx + gs, gy - gs * 0.2), 10), gs * 0.14)))
        over(img, rgb(30, 10, 24), gm)
    vignette(img, 0.4)
    img *= (1.0 - 0.55 * smooth(h - 220, h - 40, y))[..., None]   # darker foot for the credit line
    # words
    tm = text_mask(img.shape, w / 2, 118, "THANKS FOR WATCHING", "DejaVuSerif-Bold.ttf", 72, spacing=3)
    fancy_text(img, tm, outline=rgb(50, 14, 20), outline_px=2.5, shadow=0.6, shadow_off=(5, 6),
               glow_col=rgb(255, 160, 80) * 0.5, glow_px=22, bevel=3)
    sub = text_mask(img.shape, w / 2, 208, "Fair winds and following seas!", "DejaVuSerif-Italic.ttf", 44)
    over(img, rgb(60, 16, 30), np.clip(blur(sub, 3) * 3, 0, 1) * 0.6)
    over(img, rgb(255, 236, 200), sub)
    cred = text_mask(img.shape, w / 2, h - 62, "a Movra crew production", "DejaVuSerif-Bold.ttf", 38, spacing=3)
    over(img, rgb(20, 6, 14), np.clip(blur(cred, 3) * 4, 0, 1) * 0.85)
    over(img, rgb(255, 200, 140), cred)
    return finish_image(img, FULL_STORED)


def pic_finish2():
    """The end: golden letters over a calm starlit sea, anchor and compass."""
    w, h = FULL
    img = np.zeros((h, w, 3), np.float32)
    x, y = grid(img)
    hy = int(h * 0.70)
    vgradient(img, [(0.0, rgb(2, 3, 12)), (0.45, rgb(8, 12, 36)), (0.68, rgb(30, 30, 70)),
                    (0.70, rgb(64, 48, 90)), (0.701, rgb(14, 20, 44)), (1.0, rgb(2, 3, 10))])
    sky = (y < hy).astype(np.float32)
    stars(img, 700, 91, (0, 0, w, hy - 6), 1.3, fade=lambda sx, sy: float(smooth(hy, hy * 0.5, sy)))
    # a faint milky band across the sky
    band = np.exp(-((y - (0.15 * h + 0.25 * x)) / 120.0) ** 2) * fbm(h, w, 8, 92, octaves=5) * sky
    add(img, rgb(70, 70, 120), band * 0.4)
    # compass rose watermark behind the letters
    cx, cy = w / 2, 330
    def rose(p):
        for k in range(16):
            a = k * math.pi / 8
            ln = 300 if k % 4 == 0 else (200 if k % 2 == 0 else 130)
            wd = 26 if k % 4 == 0 else 16
            tip = (cx + ln * math.cos(a), cy + ln * math.sin(a))
            l = (cx + wd * math.cos(a + math.pi / 2), cy + wd * math.sin(a + math.pi / 2))
            r = (cx + wd * math.cos(a - math.pi / 2), cy + wd * math.sin(a - math.pi / 2))
            p.poly([tip, l, (cx, cy), r])
    rm = mask(img.shape, rose)
    ring = mask(img.shape, lambda p: (p.circle(cx, cy, 232), p.circle(cx, cy, 226, fill=0),
                                      p.circle(cx, cy, 170), p.circle(cx, cy, 166, fill=0)))
    add(img, rgb(90, 90, 150), np.clip(rm + ring, 0, 1) * 0.22)
    # sea with a silver path under a low moon off to the side
    sea = 1.0 - sky
    dd = np.clip((y - hy) / (h - hy), 0, 1)
    col_x = 640
    path = np.exp(-((x - col_x) / (50 + 300 * dd)) ** 2) * sea
    add(img, rgb(80, 90, 130), path * 0.4)
    rng = np.random.default_rng(93)
    glints = []
    for _ in range(1400):
        q = rng.random() ** 1.4
        yy = hy + 2 + q * (h - hy)
        xx = rng.uniform(-40, w + 40)
        near = math.exp(-((xx - col_x) / (50 + 300 * q)) ** 2)
        if rng.random() < 0.15 + near:
            glints.append((xx, yy, (4 + 50 * q) * (0.4 + rng.random()), 0.6 + 2.5 * q,
                           int(rng.uniform(60, 255) * (0.3 + 0.7 * near))))
    add(img, rgb(210, 215, 255), mask(img.shape, lambda p: [p.ellipse(*g[:4], fill=g[4]) for g in glints]) * 0.8)
    add(img, rgb(180, 160, 200), np.exp(-((y - hy) / 1.5) ** 2) * 0.4)
    # a small ship far away on the horizon
    paint_ship(img, Box(930, hy - 92, 100, 100), "silhouette")
    spot(img, 930 + 0.045 * 100, hy - 92 + 0.5 * 100, 2.0, rgb(255, 210, 140), 1.5)
    vignette(img, 0.5)
    # the words
    tm = text_mask(img.shape, w / 2, 330, "THE END", "DejaVuSerif-Bold.ttf", 200, spacing=18)
    fancy_text(img, tm, outline=rgb(36, 16, 4), outline_px=3.5, shadow=0.7, shadow_off=(8, 10),
               glow_col=rgb(255, 170, 60) * 0.55, glow_px=40, bevel=5)
    # anchor emblem and a rope line under the words
    def rope_line(p):
        p.line([(300, 520), (560, 520)], 5)
        p.line([(720, 520), (980, 520)], 5)
    rl = mask(img.shape, rope_line)
    over(img, rgb(200, 150, 70), rl)
    am = text_mask(img.shape, w / 2, 520, "\u2693", "DejaVuSans.ttf", 120)
    fancy_text(img, am, outline_px=1.5, bevel=2)
    sub = text_mask(img.shape, w / 2, 610, "Movra  \u2022  first demo", "DejaVuSerif-Italic.ttf", 40)
    over(img, rgb(225, 210, 180), sub)
    return finish_image(img, FULL_STORED)


GOLD = rgb(255, 196, 70)


def metal_field(img, y0, y1, stops=None):
    """A horizontal-band metal colour field between rows y0 and y1."""
    stops = stops or [(0.0, rgb(255, 236, 150)), (0.35, rgb(236, 170, 52)), (0.55, rgb(150, 86, 20)),
                      (0.8, rgb(230, 160, 50)), (1.0, rgb(120, 66, 16))]
    h = img.shape[0]
    t = np.clip((np.arange(h, dtype=np.float32) + 0.5 - y0) / max(1.0, y1 - y0), 0, 1)
    pos = np.array([s[0] for s in stops], np.float32)
    cols = np.array([s[1] for s in stops], np.float32)
    band = np.stack([np.interp(t, pos, cols[:, i]) for i in range(3)], axis=-1)
    return np.broadcast_to(band[:, None, :], img.shape)


def cylinder_field(img, x0, x1, base, lo=0.35, hi=1.25, light=0.35):
    """Colour of an upright cylinder spanning columns x0..x1."""
    w = img.shape[1]
    u = np.clip((np.arange(w, dtype=np.float32) + 0.5 - x0) / max(1.0, x1 - x0), 0, 1) * 2 - 1
    nz = np.sqrt(np.clip(1 - u * u, 0, 1))
    k = lo + (hi - lo) * np.clip(nz * 0.8 - u * light, 0, 1)
    specular = np.exp(-((u + 0.35) / 0.12) ** 2) * 0.6
    col = np.asarray(base, np.float32)[None, :] * k[:, None] + specular[:, None]
    return np.broadcast_to(col[None, :, :], img.shape)


def coin(img, cx, cy, r, squash, rng):
    """A gold coin lying at an angle: rim, face with raised ring, shine."""
    h, w = img.shape[:2]
    x0, x1 = max(0, int(cx - r - 3)), min(w, int(cx + r + 4))
    y0, y1 = max(0, int(cy - r * squash - 3)), min(h, int(cy + r * squash + r * 0.25 + 4))
    if x0 >= x1 or y0 >= y1:
        return
    x, y = grid(img)
    ang = rng.uniform(-0.35, 0.35)
    ca, sa = math.cos(ang), math.sin(ang)
    sub = img[y0:y1, x0:x1]
    thick = r * 0.16
    for layer in (0, 1):
        dy0 = thick if layer == 0 else 0.0
        dx = x[y0:y1, x0:x1] - cx
        dy = y[y0:y1, x0:x1] - cy - dy0
        u = (dx * ca + dy * sa) / r
        v = (-dx * sa + dy * ca) / (r * squash)
        d = np.sqrt(u * u + v * v)
        cover = np.clip((1 - d) * r * squash + 0.5, 0, 1)
        if layer == 0:
            col = np.broadcast_to(rgb(120, 64, 12), sub.shape)
        else:
            tone = 0.75 + 0.35 * (-u * 0.5 - v * 0.6)
            ring = np.exp(-((d - 0.8) / 0.06) ** 2)
            tone = tone - 0.25 * ring * (v > 0) + 0.25 * ring * (v <= 0)
            tone -= 0.2 * smooth(0.85, 1.0, d)
            col = np.asarray(GOLD, np.float32) * np.clip(tone, 0.2, 1.4)[..., None]
            col = col + rgb(255, 250, 210) * (np.exp(-((u + 0.3) ** 2 + (v + 0.35) ** 2) / 0.05) * 0.55)[..., None]
        a = cover[..., None]
        sub *= 1 - a
        sub += col * a


def gem(pen, cx, cy, r, color, rng, sides=8):
    """A cut gem seen from above: table and light/dark facets (colour layer)."""
    rot = rng.uniform(0, math.pi)
    outer = [(cx + r * math.cos(rot + k * 2 * math.pi / sides), cy + r * 0.8 * math.sin(rot + k * 2 * math.pi / sides))
             for k in range(sides)]
    inner = [(cx + 0.55 * r * math.cos(rot + k * 2 * math.pi / sides), cy + 0.55 * r * 0.8 * math.sin(rot + k * 2 * math.pi / sides))
             for k in range(sides)]
    c = np.asarray(color)
    pen.poly(outer, fill=tuple(int(v) for v in np.clip(c * 0.45, 0, 1) * 255) + (255,))
    for k in range(sides):
        a, b = outer[k], outer[(k + 1) % sides]
        ia, ib = inner[k], inner[(k + 1) % sides]
        mid_ang = rot + (k + 0.5) * 2 * math.pi / sides
        lit = 0.6 + 0.6 * math.cos(mid_ang - math.radians(225))
        f = tuple(int(v) for v in np.clip(c * lit, 0, 1) * 255) + (255,)
        pen.poly([a, b, ib, ia], fill=f)
    pen.poly(inner, fill=tuple(int(v) for v in np.clip(c * 1.1 + 0.15, 0, 1) * 255) + (255,))
    hx, hy = cx - r * 0.25, cy - r * 0.22
    pen.poly([(hx - r * 0.18, hy), (hx, hy - r * 0.12), (hx + r * 0.12, hy), (hx, hy + r * 0.1)],
             fill=(255, 255, 255, 220))


def pic_skatt():
    """The treasure: an open chest brimming with gold, jewels and pearls."""
    w, h = FULL
    img = np.zeros((h, w, 3), np.float32)
    x, y = grid(img)
    rng = np.random.default_rng(2024)
    floor_y = 650
    # cave wall and sandy floor
    rock = fbm(h, w, 7, 201, octaves=6)
    wall = mix(rgb(20, 12, 10), rgb(64, 40, 26), rock)
    img[:] = wall
    sand = fbm(h, w, 30, 202, octaves=5)
    ground = mix(rgb(88, 60, 34), rgb(150, 110, 66), sand)
    ground = ground * smooth(floor_y - 30, floor_y + 80, y)[..., None] + wall * (1 - smooth(floor_y - 30, floor_y + 80, y))[..., None]
    img[:] = ground
    # the gold lights the cave
    d = np.sqrt(((x - 640) / 1.3) ** 2 + (y - 430) ** 2)
    img *= (0.25 + 1.3 * np.exp(-d / 330))[..., None]
    add(img, rgb(255, 170, 60), 0.35 * np.exp(-d / 260))

    bx0, bx1, top, bot = 395, 885, 470, 725
    # lid, open and leaning back: we see its lined inside
    lid = [(bx0 + 10, top)] + quad((bx0 + 30, 230), (640, 150), (bx1 - 30, 230), 30) + [(bx1 - 10, top)]
    lm = mask(img.shape, lambda p: p.poly(lid))
    over(img, rgb(0, 0, 0), blur(lm, 20) * 0.5)
    lid_wood = np.zeros_like(img)
    wood_planks(lid_wood, 203, rgb(90, 50, 24), 52, vertical=True)
    over(img, lid_wood, lm)
    lining = [(bx0 + 44, top)] + quad((bx0 + 60, 262), (640, 192), (bx1 - 60, 262), 30) + [(bx1 - 44, top)]
    lin = mask(img.shape, lambda p: p.poly(lining))
    velvet = mix(rgb(90, 8, 20), rgb(170, 26, 40), np.clip(1 - np.abs(x - 640) / 260, 0, 1) ** 0.8)
    velvet = velvet * (0.8 + 0.3 * fbm(h, w, 40, 204, octaves=3))[..., None]
    over(img, velvet, lin)
    edge = mask(img.shape, lambda p: p.line(lid, 14, caps=False))
    over(img, metal_field(img, 140, 480), edge)

    # the heap of treasure rising above the rim
    def mound(xx):
        t = np.clip((xx - 640) / 265, -1, 1)
        return top + 12 - 150 * (1 - t * t) ** 1.2 - 20 * np.exp(-((xx - 560) / 50) ** 2)
    heap = [(bx0 + 5, top + 20)] + [(xx, float(mound(xx))) for xx in np.linspace(bx0 + 5, bx1 - 5, 60)] + [(bx1 - 5, top + 20)]
    hm = mask(img.shape, lambda p: p.poly(heap))
    over(img, mix(rgb(120, 70, 10), rgb(200, 140, 40), rng.random(img.shape[:2]) * 0.3), hm)
    coins = []
    for _ in range(900):
        cx = rng.uniform(bx0 + 10, bx1 - 10)
        cy = rng.uniform(mound(cx) + 6, top + 30)
        coins.append((cy, cx, rng.uniform(15, 24), rng.uniform(0.35, 0.75)))
    coins.sort()
    for cy, cx, r, sq in coins:
        coin(img, cx, cy, r, sq, rng)
    # a crown and a goblet on the heap
    crown_x, crown_y = 700, 300
    cpts = [(crown_x - 80, crown_y + 40), (crown_x - 88, crown_y - 30), (crown_x - 50, crown_y + 5),
            (crown_x - 26, crown_y - 55), (crown_x, crown_y - 2), (crown_x + 26, crown_y - 55),
            (crown_x + 50, crown_y + 5), (crown_x + 88, crown_y - 30), (crown_x + 80, crown_y + 40)]
    cm = mask(img.shape, lambda p: p.poly(cpts))
    over(img, rgb(0, 0, 0), np.roll(blur(cm, 6), 8, axis=0) * 0.5)
    over(img, cylinder_field(img, crown_x - 88, crown_x + 88, GOLD, 0.45, 1.2), cm)
    bandm = mask(img.shape, lambda p: p.rect(crown_x - 82, crown_y + 18, crown_x + 82, crown_y + 44, radius=6))
    over(img, cylinder_field(img, crown_x - 82, crown_x + 82, rgb(240, 170, 50), 0.5, 1.3), bandm)
    for tx, ty in ((crown_x - 88, crown_y - 34), (crown_x - 26, crown_y - 59), (crown_x + 26, crown_y - 59), (crown_x + 88, crown_y - 34)):
        shaded_ellipse(img, tx, ty, 9, 9, rgb(255, 240, 220), shine=0.9)
    gx, gtop = 520, 268   # goblet
    gob = quad((gx - 50, gtop), (gx - 48, gtop + 80), (gx - 8, gtop + 95), 16) + [(gx - 8, gtop + 140), (gx - 40, gtop + 162),
          (gx + 40, gtop + 162), (gx + 8, gtop + 140)] + quad((gx + 8, gtop + 95), (gx + 48, gtop + 80), (gx + 50, gtop), 16)
    gm = mask(img.shape, lambda p: p.poly(gob))
    over(img, rgb(0, 0, 0), np.roll(np.roll(blur(gm, 8), 10, 0), 8, 1) * 0.5)
    over(img, cylinder_field(img, gx - 50, gx + 50, rgb(230, 180, 90), 0.35, 1.25), gm)
    rimm = mask(img.shape, lambda p: (p.ellipse(gx, gtop, 50, 10), p.ellipse(gx, gtop + 2, 44, 7, fill=0)))
    over(img, rgb(255, 230, 150), rimm)
    over(img, rgb(90, 20, 30), mask(img.shape, lambda p: p.ellipse(gx, gtop + 2, 44, 7)))
    # jewels strewn over the gold
    colors = [rgb(230, 30, 50), rgb(30, 200, 90), rgb(40, 90, 255), rgb(170, 70, 230), rgb(240, 60, 40)]
    jewels = [(rng.uniform(bx0 + 40, bx1 - 40), 0, rng.uniform(16, 30), colors[k % len(colors)]) for k in range(14)]
    jewels = [(jx, rng.uniform(mound(jx) + 20, top + 10), jr, jc) for jx, _, jr, jc in jewels]
    gems_on_band = [(crown_x, crown_y + 31, 13, colors[0]), (crown_x - 48, crown_y + 31, 10, colors[2]),
                    (crown_x + 48, crown_y + 31, 10, colors[1]), (gx, gtop + 48, 14, colors[0])]
    color_layer(img, lambda p: [gem(p, jx, jy, jr, jc, rng) for jx, jy, jr, jc in sorted(jewels, key=lambda j: j[1]) + gems_on_band])

    # the chest's front
    body = mask(img.shape, lambda p: p.rect(bx0, top, bx1, bot, radius=6))
    over(img, rgb(0, 0, 0), np.roll(blur(body, 24), 18, axis=0) * 0.7)   # shadow on the sand
    planks = np.zeros_like(img)
    wood_planks(planks, 205, rgb(120, 68, 30), 64)
    planks *= (0.7 + 0.45 * np.exp(-((x - 640) / 330) ** 2))[..., None]
    planks *= (1.15 - 0.45 * smooth(top, bot, y))[..., None]
    over(img, planks, body)
    # brass bands, rim and corner plates
    def bands(p):
        for bx in (bx0 + 60, bx1 - 60):
            p.rect(bx - 22, top, bx + 22, bot)
    bm = mask(img.shape, bands)
    over(img, metal_field(img, top, bot, [(0, rgb(255, 220, 120)), (0.5, rgb(200, 130, 40)), (1, rgb(110, 60, 14))]), bm)
    rim = mask(img.shape, lambda p: p.rect(bx0 - 8, top - 14, bx1 + 8, top + 20, radius=6))
    over(img, metal_field(img, top - 14, top + 20), rim)
    foot = mask(img.shape, lambda p: p.rect(bx0 - 6, bot - 22, bx1 + 6, bot + 6, radius=5))
    over(img, metal_field(img, bot - 22, bot + 6), foot)
    for bx in (bx0 + 60, bx1 - 60):
        for ry in np.arange(top + 50, bot - 30, 55):
            shaded_ellipse(img, bx, ry, 7, 7, rgb(255, 210, 110), shine=0.8)
    # lock plate and keyhole
    lock = mask(img.shape, lambda p: p.rect(600, top + 6, 680, top + 110, radius=14))
    over(img, rgb(0, 0, 0), np.roll(blur(lock, 5), 5, axis=0) * 0.6)
    over(img, metal_field(img, top + 6, top + 110), lock)
    key = mask(img.shape, lambda p: (p.circle(640, top + 50, 12), p.poly([(632, top + 52), (648, top + 52), (654, top + 88), (626, top + 88)])))
    over(img, rgb(20, 8, 2), key)

    # pearls draped over the rim
    string = np.array(quad((445, top + 2), (545, top + 120), (655, top + 2), 400))
    seg = np.r_[0, np.cumsum(np.hypot(*np.diff(string, axis=0).T))]
    pearls = [(float(np.interp(t, seg, string[:, 0])), float(np.interp(t, seg, string[:, 1])))
              for t in np.arange(0, seg[-1], 19.0)]
    for px, py in pearls:
        shaded_ellipse(img, px, py, 9.5, 9.5, rgb(245, 238, 226), shine=1.0, rim=0.2)

    # spilled coins and gems on the sand
    spill = []
    for _ in range(60):
        sx = rng.normal(640, 260)
        sy = rng.uniform(bot + 5, bot + 170) if abs(sx - 640) < 260 else rng.uniform(floor_y + 20, bot + 170)
        spill.append((sy, sx, rng.uniform(14, 22), rng.uniform(0.3, 0.5)))
    for sy, sx, r, sq in sorted(spill):
        over(img, rgb(0, 0, 0), np.exp(-(((x - sx - 4) / (r * 1.2)) ** 2 + ((y - sy - 8) / (r * 0.5)) ** 2)) * 0.5)
        coin(img, sx, sy, r, sq, rng)
    color_layer(img, lambda p: [gem(p, gx2, gy2, gr, colors[k], rng) for k, (gx2, gy2, gr) in
                                enumerate([(300, 820, 22), (980, 790, 18), (900, 880, 26), (380, 900, 20)])])
    # sparkles
    for _ in range(22):
        sx = rng.uniform(bx0, bx1)
        sy = rng.uniform(mound(sx) + 5, top + 20)
        star_glint(img, sx, sy, rng.uniform(14, 40), rgb(255, 245, 200) * rng.uniform(0.3, 0.8))
    glow(img, 640, 380, 200, rgb(255, 190, 80), 0.12, 2.0)
    vignette(img, 0.6)
    return finish_image(img, FULL_STORED)


def hair_strokes(pen, rng, region_pts, count, length, width, palette, flow, curl=0.3):
    """Short curved strokes inside a polygon's bounding box (clip afterwards)."""
    xs = [p[0] for p in region_pts]
    ys = [p[1] for p in region_pts]
    for _ in range(count):
        sx = rng.uniform(min(xs), max(xs))
        sy = rng.uniform(min(ys), max(ys))
        ang = flow(sx, sy) + rng.normal(0, 0.25)
        ln = length * rng.uniform(0.6, 1.3)
        bend = rng.normal(0, curl)
        ex, ey = sx + ln * math.cos(ang), sy + ln * math.sin(ang)
        mx = (sx + ex) / 2 - bend * ln * math.sin(ang)
        my = (sy + ey) / 2 + bend * ln * math.cos(ang)
        c = palette[rng.integers(len(palette))]
        a = int(rng.uniform(150, 255))
        pen.line(quad((sx, sy), (mx, my), (ex, ey), 8), width * rng.uniform(0.7, 1.3),
                 fill=tuple(int(v * 255) for v in c) + (a,), caps=False)


def pic_pirat():
    """The pirate captain: tricorn hat, eye patch, wild beard, gold earring."""
    w, h = FULL
    img = np.zeros((h, w, 3), np.float32)
    x, y = grid(img)
    rng = np.random.default_rng(77)
    # background: a cabin wall lit by a lantern behind the captain
    wood_planks(img, 301, rgb(70, 40, 22), 150, vertical=True)
    d = np.sqrt((x - 640) ** 2 + (y - 420) ** 2)
    img *= (0.25 + 1.1 * np.exp(-d / 420))[..., None]
    add(img, rgb(255, 150, 60), 0.35 * np.exp(-d / 380))

    fx, fy, frx, fry = 640, 480, 172, 212   # the face ellipse
    # coat
    coat = [(150, h + 10), (200, 800), (330, 730), (520, 690), (760, 690), (950, 730),
            (1080, 800), (1130, h + 10)]
    cm = mask(img.shape, lambda p: p.poly(coat))
    coat_col = mix(rgb(150, 26, 30), rgb(50, 8, 12), np.clip(np.abs(x - 640) / 500, 0, 1) ** 1.5)
    coat_col = coat_col * (1.0 - 0.35 * smooth(760, 960, y))[..., None]
    over(img, coat_col, cm)
    shirt = [(540, 700), (740, 700), (690, h + 10), (590, h + 10)]
    over(img, mix(rgb(250, 240, 220), rgb(170, 150, 130), smooth(700, 960, y)), mask(img.shape, lambda p: p.poly(shirt)))
    # ruffles
    ruff = mask(img.shape, lambda p: [p.line(quad((580 + k * 4, 720 + k * 45), (640, 740 + k * 45), (700 - k * 4, 720 + k * 45), 12), 5)
                                      for k in range(5)])
    over(img, rgb(180, 160, 140), ruff * 0.8)
    lapels = [[(540, 700), (470, 720), (600, h + 10), (630, h + 10)],
              [(740, 700), (810, 720), (680, h + 10), (650, h + 10)]]
    for lp in lapels:
        lm2 = mask(img.shape, lambda p: p.poly(lp))
        over(img, rgb(90, 12, 18), lm2)
        tm2 = mask(img.shape, lambda p: p.line(lp + [lp[0]], 12, caps=False)) * lm2
        over(img, metal_field(img, 700, 960), np.clip(tm2 * 2, 0, 1))
    for by in (790, 870, 950):
        shaded_ellipse(img, 560 - (by - 790) * 0.05, by, 16, 16, GOLD, shine=0.9)
        shaded_ellipse(img, 720 + (by - 790) * 0.05, by, 16, 16, GOLD, shine=0.9)
    # epaulettes
    for ex in (300, 980):
        shaded_ellipse(img, ex, 760, 110, 40, rgb(230, 170, 60), shine=0.5, angle=(0.25 if ex < 640 else -0.25))
        fringe = mask(img.shape, lambda p: [p.line([(ex - 95 + k * 10, 780 - abs(k - 9.5) * 1.5), (ex - 95 + k * 10 + (k - 9.5) * 1.2, 840 - abs(k - 9.5) * 2.5)], 6)
                                            for k in range(20)])
        over(img, rgb(220, 160, 50), fringe)
    # neck
    neck = [(560, 600), (720, 600), (735, 720), (545, 720)]
    nm = mask(img.shape, lambda p: p.poly(neck))
    over(img, rgb(150, 92, 62) * (0.8 + 0.2 * smooth(720, 600, y))[..., None] * np.ones_like(img), nm)

    skin = rgb(222, 156, 112)
    # ears
    for ex, side in ((fx - frx + 6, -1), (fx + frx - 6, 1)):
        shaded_ellipse(img, ex, 500, 32, 56, skin * 0.92, light=(-0.5, -0.4), shine=0.1, rim=0.5)
        over(img, skin * 0.55, mask(img.shape, lambda p: p.ellipse(ex + side * 4, 500, 14, 34)) * 0.7)
    # face
    u = (x - fx) / frx
    v = (y - fy) / fry
    dd = np.sqrt(u * u + v * v)
    face = np.clip((1 - dd) * fry + 0.5, 0, 1)
    nz = np.sqrt(np.clip(1 - dd * dd, 0, 1))
    diff = np.clip(-0.45 * u - 0.35 * v + 0.82 * nz, 0, 1)
    skin_tex = fbm(h, w, 60, 302, octaves=3)
    face_col = skin * (0.45 + 0.7 * diff)[..., None] * (0.95 + 0.1 * skin_tex)[..., None]
    face_col = mix(face_col, rgb(190, 80, 60), smooth(0.6, 1.0, dd) * 0.35)          # ruddy edges
    for cx2 in (fx - 95, fx + 95):                                                      # cheeks
        face_col = mix(face_col, rgb(230, 110, 90), 0.35 * np.exp(-((x - cx2) ** 2 + (y - 530) ** 2) / (2 * 45 ** 2)))
    over(img, face_col, face)
    # wrinkles on the forehead
    wr = mask(img.shape, lambda p: [p.line(quad((570 + k * 6, 372 + k * 14), (640, 362 + k * 14), (710 - k * 6, 372 + k * 14), 16), 3)
                                    for k in range(2)])
    over(img, rgb(150, 80, 55), wr * 0.5)

    # eye (his left, on our right)
    ex, ey = 712, 448
    eye = quad((ex - 40, ey), (ex, ey - 30), (ex + 40, ey - 2), 20) + quad((ex + 40, ey - 2), (ex, ey + 20), (ex - 40, ey), 20)
    em = mask(img.shape, lambda p: p.poly(eye))
    over(img, rgb(236, 226, 214), em)
    shaded_ellipse(img, ex - 2, ey - 4, 17, 17, rgb(70, 120, 90), shine=0.0, rim=0.6)
    iris = mask(img.shape, lambda p: p.circle(ex - 2, ey - 4, 17))
    img_e = img.copy()
    over(img_e, rgb(10, 8, 6), mask(img.shape, lambda p: p.circle(ex - 2, ey - 4, 7)))
    img[:] = mix(img, img_e, em)
    over(img, rgb(0, 0, 0), iris * em * np.clip((ey - 12 - y) / 8, 0, 1) * 0.5)   # lid shadow
    spot(img, ex - 8, ey - 10, 3.0, rgb(255, 255, 255), 1.2)
    lids = mask(img.shape, lambda p: (p.line(quad((ex - 44, ey + 2), (ex, ey - 34), (ex + 44, ey - 2), 20), 7),
                                       p.line(quad((ex - 34, ey + 6), (ex, ey + 24), (ex + 36, ey + 2), 20), 3)))
    over(img, rgb(60, 28, 18), lids)
    crows = mask(img.shape, lambda p: [p.line([(ex + 48, ey - 4 + k * 10), (ex + 74, ey - 12 + k * 16)], 2.5) for k in range(3)])
    over(img, rgb(150, 80, 55), crows * 0.6)
    # eye patch and strap
    px, py = 566, 448
    strap = mask(img.shape, lambda p: (p.line([(fx - frx + 4, 420), (px, py - 10)], 11),
                                        p.line([(px, py - 10), (fx + frx - 30, 300)], 11)))
    over(img, rgb(0, 0, 0), np.roll(blur(strap, 3), 4, axis=0) * 0.4)
    over(img, rgb(22, 16, 14), strap)
    patch = [(px - 56, py - 30), (px + 48, py - 40), (px + 52, py + 10), (px + 10, py + 44), (px - 44, py + 26)]
    pm = mask(img.shape, lambda p: p.poly(quad(patch[0], (px, py - 48), patch[1], 12) + quad(patch[1], (px + 62, py - 10), patch[2], 8) +
                                          quad(patch[2], (px + 40, py + 40), patch[3], 8) + quad(patch[3], (px - 30, py + 44), patch[4], 8) +
                                          quad(patch[4], (px - 62, py + 2), patch[0], 8)))
    over(img, rgb(0, 0, 0), np.roll(np.roll(blur(pm, 6), 8, axis=0), 6, axis=1) * 0.5)
    pcol = mix(rgb(50, 44, 44), rgb(10, 8, 8), smooth(py - 40, py + 40, y))
    over(img, pcol, pm)
    add(img, rgb(120, 110, 110), pm * np.exp(-((x - px + 20) ** 2 + (y - py + 20) ** 2) / (2 * 16 ** 2)) * 0.5)
    # eyebrows
    brows = [quad((500, 398), (560, 372), (612, 392), 16), quad((668, 390), (720, 360), (770, 384), 16)]
    color_layer(img, lambda p: [hair_strokes(p, rng, b2, 260, 28, 6, [rgb(40, 24, 16), rgb(70, 44, 28), rgb(20, 12, 8)],
                                             lambda sx, sy: -0.15 if sx > 640 else 0.15, 0.2) for b2 in brows],
                clip=np.clip(blur(mask(img.shape, lambda p: [p.line(b2, 28) for b2 in brows]), 2) * 1.5, 0, 1))
    # scar across the cheek
    sc = mask(img.shape, lambda p: p.line([(745, 490), (792, 566)], 6))
    over(img, rgb(235, 140, 130), sc * 0.8)
    st = mask(img.shape, lambda p: [p.line([(748 + k * 11 - 9, 500 + k * 17 + 4), (748 + k * 11 + 9, 500 + k * 17 - 4)], 3) for k in range(4)])
    over(img, rgb(120, 60, 50), st * 0.8)

    # nose
    nose_shadow = mask(img.shape, lambda p: p.poly(quad((650, 430), (672, 500), (678, 545), 12) + [(650, 550)]))
    over(img, rgb(150, 80, 56), blur(nose_shadow, 8) * 0.55)
    shaded_ellipse(img, 640, 528, 44, 32, rgb(226, 140, 104), light=(-0.55, -0.55), shine=0.35, rim=0.15)
    for nx in (620, 662):
        over(img, rgb(70, 30, 22), mask(img.shape, lambda p: p.ellipse(nx, 552, 10, 6)) * 0.85)
    over(img, rgb(140, 70, 50), blur(mask(img.shape, lambda p: p.line([(610, 440), (616, 500)], 4)), 3) * 0.5)

    # beard
    beard = [(fx - frx + 22, 470)] + bezier((fx - frx + 22, 470), (fx - frx - 20, 650), (540, 790), (640, 820), 30) + \
            bezier((640, 820), (740, 790), (fx + frx + 20, 650), (fx + frx - 22, 470), 30) + \
            [(fx + frx - 46, 520), (700, 580), (580, 580), (fx - frx + 46, 520)]
    bm = mask(img.shape, lambda p: p.poly(beard))
    bshade = mix(rgb(84, 50, 30), rgb(26, 14, 8), smooth(540, 830, y))
    bshade = bshade * (0.75 + 0.45 * np.exp(-((x - 590) ** 2 + (y - 640) ** 2) / (2 * 110 ** 2)))[..., None]
    over(img, bshade, bm)
    color_layer(img, lambda p: hair_strokes(p, rng, beard, 3200, 48, 3.5, [rgb(96, 58, 32), rgb(66, 38, 22), rgb(44, 26, 16),
                                                                          rgb(120, 78, 46)],
                                             lambda sx, sy: math.pi / 2 + (sx - 640) / 330, 0.25), clip=bm * 0.55)
    # curls of shadow and light give the beard volume
    over(img, rgb(10, 5, 3), bm * smooth(0.5, 1.0, np.abs(x - 640) / 200) * 0.35)
    # beard braid with a bead
    shaded_ellipse(img, 640, 840, 26, 34, rgb(60, 34, 20), shine=0.2)
    shaded_ellipse(img, 640, 880, 18, 20, rgb(230, 180, 60), shine=0.9)
    # mouth: a grin with a gold tooth
    mouth = quad((575, 608), (640, 596), (705, 606), 16) + quad((705, 606), (642, 660), (575, 608), 16)
    mm = mask(img.shape, lambda p: p.poly(mouth))
    over(img, rgb(70, 16, 16), mm)
    teeth = mask(img.shape, lambda p: p.poly(quad((585, 610), (640, 600), (698, 608), 16) + [(692, 622), (588, 622)]))
    tcol = np.broadcast_to(rgb(236, 222, 190), img.shape).copy()
    tcol[:, 648:672] = rgb(255, 200, 70)
    over(img, tcol, teeth * mm)
    over(img, rgb(120, 100, 80), mask(img.shape, lambda p: [p.line([(tx, 600), (tx, 624)], 2) for tx in range(602, 700, 16)]) * teeth * mm * 0.8)
    # moustache
    mus = bezier((640, 562), (596, 552), (550, 566), (520, 598), 14) + bezier((520, 598), (496, 630), (456, 626), (452, 590), 10) + \
          bezier((452, 590), (478, 612), (506, 614), (540, 604), 8) + bezier((540, 604), (580, 612), (612, 606), (640, 596), 10)
    mus += [(1280 - px2, py2) for px2, py2 in reversed(mus)]
    mum = mask(img.shape, lambda p: p.poly(mus))
    over(img, rgb(0, 0, 0), np.roll(blur(mum, 5), 6, axis=0) * 0.5)
    over(img, mix(rgb(128, 82, 46), rgb(64, 38, 20), smooth(565, 625, y)), mum)
    color_layer(img, lambda p: hair_strokes(p, rng, mus, 900, 30, 3, [rgb(150, 100, 58), rgb(80, 48, 26), rgb(170, 118, 70)],
                                             lambda sx, sy: math.pi if sx < 640 else 0.0, 0.4), clip=mum * 0.7)

    # bandana under the hat, its knot and tails on the left
    tails = [(470, 330), (430, 420), (400, 520), (440, 530), (460, 430), (490, 360)]
    tails2 = [(480, 340), (390, 400), (360, 470), (400, 480), (430, 410), (500, 360)]
    for tpts in (tails2, tails):
        tm3 = mask(img.shape, lambda p: p.poly(tpts))
        over(img, mix(rgb(200, 30, 36), rgb(110, 12, 18), smooth(330, 530, y)), tm3)
    band = bezier((fx - frx + 2, 360), (560, 300), (720, 300), (fx + frx - 2, 360), 30) + \
           bezier((fx + frx - 2, 360), (730, 338), (550, 338), (fx - frx + 2, 360), 30)
    bdm = mask(img.shape, lambda p: p.poly(band))
    over(img, mix(rgb(220, 40, 44), rgb(120, 14, 20), smooth(290, 370, y)), bdm)
    spots = mask(img.shape, lambda p: [p.circle(sx, sy, 6) for sx in range(470, 820, 34) for sy in range(300, 380, 26)])
    over(img, rgb(250, 236, 220), spots * bdm * 0.9)
    shaded_ellipse(img, 478, 345, 34, 28, rgb(200, 32, 36), shine=0.2)

    # tricorn hat
    o = -24   # how far the hat sits above its first drawn place
    crown = mask(img.shape, lambda p: p.ellipse(640, 200 + o, 190, 120))
    over(img, mix(rgb(60, 56, 66), rgb(16, 14, 20), np.clip(np.sqrt(((x - 580) / 200) ** 2 + ((y - 140 - o) / 140) ** 2), 0, 1)), crown)
    brim = quad((300, 250), (470, 380), (640, 372), 24) + quad((640, 372), (810, 380), (980, 250), 24) + \
           quad((980, 250), (930, 160), (840, 118), 16) + quad((840, 118), (740, 200), (640, 196), 16) + \
           quad((640, 196), (540, 200), (440, 118), 16) + quad((440, 118), (350, 160), (300, 250), 16)
    brim = [(bx, by + o) for bx, by in brim]
    hb = mask(img.shape, lambda p: p.poly(brim))
    over(img, rgb(0, 0, 0), np.roll(blur(hb, 14), 16, axis=0) * 0.55 * face)
    hat_col = mix(rgb(66, 60, 72), rgb(14, 12, 18), np.clip(np.sqrt(((x - 520) / 420) ** 2 + ((y - 190 - o) / 220) ** 2), 0, 1))
    felt = fbm(h, w, 80, 304, octaves=2)
    over(img, hat_col * (0.9 + 0.2 * felt)[..., None], hb)
    trim = mask(img.shape, lambda p: p.line(brim + [brim[0]], 14, caps=False)) * np.clip(blur(hb, 1) * 2, 0, 1)
    over(img, metal_field(img, 110 + o, 390 + o), trim)
    # a white plume tucked in on the right
    quill = np.array(bezier((880, 150 + o), (960, 60 + o), (1050, 60 + o), (1110, 150 + o), 60))
    tang = np.gradient(quill, axis=0)
    tang /= np.linalg.norm(tang, axis=1, keepdims=True)
    nrm = np.stack([tang[:, 1], -tang[:, 0]], axis=1)
    t = np.linspace(0, 1, len(quill))[:, None]
    width = 34 * np.sin(np.pi * np.clip(t * 1.05, 0, 1)) ** 0.6 + 2
    upper = quill + nrm * width
    lower = quill - nrm * width * 0.7
    outline = [tuple(p2) for p2 in upper] + [tuple(p2) for p2 in lower[::-1]]
    pl = mask(img.shape, lambda p: p.poly(outline))
    over(img, rgb(0, 0, 0), np.roll(blur(pl, 8), 12, axis=0) * 0.4)
    over(img, mix(rgb(255, 252, 244), rgb(190, 182, 172), smooth(40 + o, 200 + o, y)), pl)
    barbs = mask(img.shape, lambda p: [p.line([tuple(q), tuple(q + (nrm[i] * 0.8 + tang[i] * 0.6) * width[i])], 2, caps=False)
                                       for i, q in enumerate(quill) if i % 2 == 0] +
                                      [p.line([tuple(q), tuple(q - (nrm[i] * 0.8 - tang[i] * 0.6) * width[i] * 0.7)], 2, caps=False)
                                       for i, q in enumerate(quill) if i % 2 == 1])
    over(img, rgb(150, 140, 130), barbs * pl * 0.45)
    over(img, rgb(170, 160, 150), mask(img.shape, lambda p: p.line([tuple(q) for q in quill], 4)))
    # skull and crossbones on the front
    sx, sy = 640, 262 + o
    bones = mask(img.shape, lambda p: (p.line([(sx - 62, sy - 8), (sx + 62, sy + 58)], 14), p.line([(sx + 62, sy - 8), (sx - 62, sy + 58)], 14),
                                        [p.circle(bx, by, 10) for bx, by in ((sx - 66, sy - 16), (sx - 70, sy - 2), (sx + 66, sy - 16), (sx + 70, sy - 2),
                                                                              (sx - 66, sy + 66), (sx - 70, sy + 52), (sx + 66, sy + 66), (sx + 70, sy + 52))]))
    over(img, rgb(236, 230, 214), bones)
    skull = mask(img.shape, lambda p: (p.ellipse(sx, sy + 8, 40, 38), p.rect(sx - 24, sy + 28, sx + 24, sy + 56, radius=8)))
    over(img, rgb(0, 0, 0), np.roll(blur(skull, 3), 3, axis=0) * 0.6)
    over(img, mix(rgb(250, 246, 234), rgb(170, 160, 140), smooth(sy - 30, sy + 56, y)), skull)
    holes = mask(img.shape, lambda p: (p.ellipse(sx - 15, sy + 12, 11, 12), p.ellipse(sx + 15, sy + 12, 11, 12),
                                        p.poly([(sx, sy + 26), (sx - 6, sy + 36), (sx + 6, sy + 36)]),
                                        [p.line([(tx, sy + 44), (tx, sy + 56)], 3) for tx in (sx - 12, sx, sx + 12)]))
    over(img, rgb(20, 16, 16), holes)

    # gold hoop in his left ear
    ring = mask(img.shape, lambda p: (p.circle(fx + frx - 4, 574, 24), p.circle(fx + frx - 4, 574, 17, fill=0)))
    over(img, rgb(0, 0, 0), np.roll(blur(ring, 3), 4, axis=0) * 0.5)
    over(img, metal_field(img, 550, 598), ring)
    vignette(img, 0.55)
    return finish_image(img, FULL_STORED)


def limb(img, a, b, hw_a, hw_b, base, bulge=0.0, bulge_at=0.3):
    """A shaded, tapering cylinder from point a to point b; returns its mask
    and the across-coordinate (-1..1) for later use."""
    x, y = grid(img)
    ax, ay = a
    bx, by = b
    L = math.hypot(bx - ax, by - ay)
    tx, ty = (bx - ax) / L, (by - ay) / L
    s = ((x - ax) * tx + (y - ay) * ty) / L
    lat = (x - ax) * -ty + (y - ay) * tx
    sc = np.clip(s, 0, 1)
    hw = hw_a + (hw_b - hw_a) * sc + bulge * np.exp(-((sc - bulge_at) / 0.22) ** 2)
    t = lat / hw
    cover = np.clip((1 - np.abs(t)) * hw + 0.5, 0, 1) * (s > -0.02) * (s < 1.02)
    nz = np.sqrt(np.clip(1 - t * t, 0, 1))
    diff = np.clip(-0.55 * t + 0.8 * nz, 0, 1)
    col = np.asarray(base, np.float32) * (0.4 + 0.75 * diff)[..., None]
    col = col + rgb(255, 230, 200) * (np.exp(-((t + 0.45) / 0.15) ** 2) * 0.12)[..., None]
    col = mix(col, rgb(150, 60, 40), smooth(0.75, 1.0, np.abs(t)) * 0.3)
    over(img, col, cover)
    return cover, t


def pic_arm():
    """A sailor's tattooed forearm and fist."""
    w, h = SPRITE
    img = np.zeros((h, w, 3), np.float32)
    x, y = grid(img)
    rng = np.random.default_rng(404)
    # a navy canvas with a rope knot pattern in the corners
    vgradient(img, [(0, rgb(18, 30, 60)), (1, rgb(6, 10, 24))])
    d = np.sqrt((x - 560) ** 2 + (y - 420) ** 2)
    add(img, rgb(60, 90, 140), np.exp(-d / 380) * 0.6)
    rope_ring(img, 512, 512, 470, 26, rgb(220, 180, 110))
    skin = rgb(226, 160, 118)
    # forearm
    arm_a, arm_b = (470, 1080), (560, 400)
    am, at = limb(img, arm_a, arm_b, 170, 108, skin, bulge=34, bulge_at=0.22)
    # hair and freckles on the arm
    color_layer(img, lambda p: [p.line([(hx, hy2), (hx + rng.uniform(-3, 6), hy2 - rng.uniform(8, 16))], 1.6,
                                       fill=(90, 50, 30, int(rng.uniform(60, 140))), caps=False)
                                for hx, hy2 in zip(rng.uniform(360, 700, 260), rng.uniform(440, 980, 260))], clip=am * 0.7)
    # tattoo: an anchor with a rope, a heart and a banner
    def anchor(p):
        cx, cy = 530, 790
        p.circle(cx, cy - 150, 22)
        p.circle(cx, cy - 150, 12, fill=0)
        p.line([(cx, cy - 128), (cx, cy + 100)], 18)
        p.line([(cx - 58, cy - 96), (cx + 58, cy - 96)], 16)
        p.line(quad((cx - 92, cy + 30), (cx - 74, cy + 132), (cx, cy + 108), 24), 16)
        p.line(quad((cx + 92, cy + 30), (cx + 74, cy + 132), (cx, cy + 108), 24), 16)
        p.poly([(cx - 112, cy + 20), (cx - 76, cy + 12), (cx - 96, cy + 56)])
        p.poly([(cx + 112, cy + 20), (cx + 76, cy + 12), (cx + 96, cy + 56)])
    ink_m = mask(img.shape, anchor)
    rope = mask(img.shape, lambda p: p.line(bezier((506, 648), (400, 700), (660, 780), (530, 850), 30) +
                                            bezier((530, 850), (440, 880), (570, 930), (600, 890), 20), 7))
    hx0, hy0 = 540, 520
    heart_m = mask(img.shape, lambda p: (p.circle(hx0 - 36, hy0 - 14, 42), p.circle(hx0 + 36, hy0 - 14, 42),
                                          p.poly([(hx0 - 76, hy0 + 2), (hx0 + 76, hy0 + 2), (hx0, hy0 + 92)])))
    heart_fill = mask(img.shape, lambda p: (p.circle(hx0 - 36, hy0 - 14, 34), p.circle(hx0 + 36, hy0 - 14, 34),
                                             p.poly([(hx0 - 66, hy0 - 2), (hx0 + 66, hy0 - 2), (hx0, hy0 + 80)])))
    ban = [(hx0 - 110, hy0 + 4), (hx0 + 110, hy0 + 4), (hx0 + 94, hy0 + 32), (hx0 + 110, hy0 + 60),
           (hx0 - 110, hy0 + 60), (hx0 - 94, hy0 + 32)]
    ban_m = mask(img.shape, lambda p: p.poly(ban))
    ban_in = mask(img.shape, lambda p: p.poly([(hx0 - 98, hy0 + 10), (hx0 + 98, hy0 + 10), (hx0 + 84, hy0 + 32),
                                               (hx0 + 98, hy0 + 54), (hx0 - 98, hy0 + 54), (hx0 - 84, hy0 + 32)]))
    txt = text_mask(img.shape, hx0, hy0 + 33, "MOR", "DejaVuSerif-Bold.ttf", 38, spacing=6)

    # the tattoo is a layer of ink colours multiplied into the skin
    tat = np.ones_like(img)
    for col, m in ((rgb(50, 90, 120), ink_m), (rgb(80, 110, 130), rope), (rgb(50, 80, 110), heart_m),
                   (rgb(225, 50, 50), heart_fill), (rgb(50, 80, 110), ban_m), (rgb(255, 240, 190), ban_in),
                   (rgb(40, 70, 100), txt)):
        over(tat, col, blur(m, 1.2))
    img[:] = img * mix(np.ones_like(img), tat, am * 0.85)

    # the fist: four curled fingers, the back of the hand and the thumb
    palm_m = mask(img.shape, lambda p: p.rect(440, 250, 680, 440, radius=60))
    over(img, skin * 0.78, palm_m)
    over(img, skin, palm_m * np.exp(-((x - 520) / 120) ** 2) * 0.6)
    for i in range(4):
        fx0 = 444 + i * 58
        fm = mask(img.shape, lambda p: p.rect(fx0, 170 + abs(i - 1.3) * 10, fx0 + 60, 320, radius=28))
        over(img, rgb(0, 0, 0), np.roll(blur(fm, 4), 5, axis=1) * 0.3)
        over(img, cylinder_field(img, fx0, fx0 + 60, skin, 0.5, 1.15), fm)
        crease = mask(img.shape, lambda p: p.line(quad((fx0 + 10, 252), (fx0 + 30, 260), (fx0 + 50, 252), 8), 3))
        over(img, rgb(150, 80, 55), crease * 0.7)
        spot(img, fx0 + 24, 196 + abs(i - 1.3) * 10, 8, rgb(255, 220, 190), 0.35)   # knuckle shine
    thumb = mask(img.shape, lambda p: p.rect(446, 318, 640, 382, radius=32))
    over(img, rgb(0, 0, 0), np.roll(blur(thumb, 6), 6, axis=0) * 0.45)
    th_col = metal_field(img, 318, 382, [(0, skin * 1.12), (0.5, skin * 0.95), (1, skin * 0.6)])
    over(img, th_col, thumb)
    nail = mask(img.shape, lambda p: p.rect(584, 328, 630, 366, radius=14))
    over(img, rgb(240, 190, 170), nail * 0.9)
    # rolled-up sleeve of a striped shirt
    sleeve = bezier((300, 1030), (330, 900), (700, 880), (720, 1030), 30)
    sm = mask(img.shape, lambda p: p.poly(sleeve + [(740, 1040), (280, 1040)]))
    stripes = (np.sin((y - 0.25 * x) * 0.22) > 0.2).astype(np.float32)
    stripes = blur(stripes, 1.0)
    shirt = mix(rgb(245, 244, 240), rgb(30, 50, 120), stripes)
    fold = 0.7 + 0.4 * np.sin((x - 300) / 420 * math.pi)
    over(img, rgb(0, 0, 0), np.roll(blur(sm, 14), -14, axis=0) * 0.6 * am)
    over(img, shirt * np.clip(fold, 0, 1.1)[..., None], sm)
    vignette(img, 0.5)
    return finish_image(img, SPRITE_STORED)


PICTURES = [
    ("bakgrunn.jpg", pic_bakgrunn),
    ("skuta.jpg", pic_skuta),
    ("lyn.jpg", pic_lyn),
    ("skuta2.jpg", pic_skuta2),
    ("hilsen.jpg", pic_hilsen),
    ("skatt.jpg", pic_skatt),
    ("pirat.jpg", pic_pirat),
    ("arm.jpg", pic_arm),
    ("finish.jpg", pic_finish),
    ("finish2.jpg", pic_finish2),
]


# sprites drawn additively by the demo: their surroundings must be black
BLACK_EDGED = ("skuta.jpg", "lyn.jpg")

# pictures the demo stretches over the whole screen
FULL_SCREEN = ("bakgrunn.jpg", "hilsen.jpg", "skatt.jpg", "pirat.jpg", "finish.jpg", "finish2.jpg")


def jpeg_frame(data):
    """Reads the frame header of a JPEG: (SOF marker, width, height, components)."""
    if data[:2] != b"\xff\xd8":
        raise ValueError("not a JPEG file")
    pos = 2
    while pos + 4 <= len(data):
        if data[pos] != 0xFF:
            raise ValueError("broken marker at %d" % pos)
        marker = data[pos + 1]
        if marker == 0xFF:
            pos += 1
            continue
        length = int.from_bytes(data[pos + 2:pos + 4], "big")
        if 0xC0 <= marker <= 0xCF and marker not in (0xC4, 0xC8, 0xCC):
            seg = data[pos + 4:pos + 2 + length]
            height = int.from_bytes(seg[1:3], "big")
            width = int.from_bytes(seg[3:5], "big")
            return marker, width, height, seg[5]
        if marker == 0xDA:
            break
        pos += 2 + length
    raise ValueError("no frame header")


def check_file(name, path):
    """Checks one written picture; returns a list of problems (empty when fine)."""
    problems = []
    with open(path, "rb") as f:
        data = f.read()
    marker, width, height, comps = jpeg_frame(data)
    if marker != 0xC0:
        problems.append("not baseline (SOF marker 0x%02X)" % marker)
    if comps != 3:
        problems.append("%d components instead of 3" % comps)
    if width not in (512, 1024) or height not in (512, 1024):
        problems.append("size %d x %d is not 512/1024 per side" % (width, height))
    if name in FULL_SCREEN and (width, height) != FULL_STORED:
        problems.append("full-screen picture not at %d x %d" % FULL_STORED)
    im = Image.open(io.BytesIO(data))
    if im.mode != "RGB":
        problems.append("decodes as %s, not RGB" % im.mode)
    if name in BLACK_EDGED:
        a = np.asarray(im.convert("RGB"), np.int32)
        border = np.concatenate([a[:16].reshape(-1, 3), a[-16:].reshape(-1, 3),
                                 a[:, :16].reshape(-1, 3), a[:, -16:].reshape(-1, 3)])
        if border.max() > 10:
            problems.append("border is not black (max %d)" % border.max())
    return problems, (width, height, comps, len(data))


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    here = os.path.dirname(os.path.abspath(__file__))
    ap.add_argument("--out", default=os.path.join(here, "..", "data", "pic"))
    ap.add_argument("--only", nargs="*", help="file names to make (default: all)")
    args = ap.parse_args()
    os.makedirs(args.out, exist_ok=True)
    for name, fn in PICTURES:
        if args.only and name not in args.only:
            continue
        save_jpeg(fn(), os.path.join(args.out, name))
    total, failed = 0, False
    for name, _ in PICTURES:
        path = os.path.join(args.out, name)
        if not os.path.exists(path):
            print(f"{name:14s} missing")
            failed = True
            continue
        problems, (width, height, comps, size) = check_file(name, path)
        total += size
        print(f"{name:14s} {width:5d} x {height:<5d} {comps} components {size:8d} bytes"
              + ("" if not problems else "   PROBLEM: " + "; ".join(problems)))
        failed = failed or bool(problems)
    print(f"{'total':14s} {total:8d} bytes of {BUDGET} allowed")
    if total >= BUDGET:
        print("error: the pictures are over the size budget", file=sys.stderr)
        failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
