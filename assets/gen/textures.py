#!/usr/bin/env python3
"""Makes every picture of the data set (except the three names the video stands in for).

usage: textures.py OUTDIR
"""
import math
import os
import sys

from pngout import Canvas, text_mask


class Rng:
    """Small deterministic generator (LCG), independent of Python's random module."""

    def __init__(self, seed):
        self.s = seed & 0xFFFFFFFF

    def next(self):
        self.s = (self.s * 1664525 + 1013904223) & 0xFFFFFFFF
        return self.s / 4294967296.0


def periodic_noise(size, periods, seed):
    """Tileable fractal value noise on a size x size grid, values about 0..1."""
    rng = Rng(seed)
    out = [0.0] * (size * size)
    total = 0.0
    amp = 1.0
    for p in periods:
        lattice = [rng.next() for _ in range(p * p)]
        # Per row or column: the lattice cell it lies in, the next one (wrapping) and the smoothed weight.
        cells = []
        for i in range(size):
            f = i * p / size
            i0 = int(f)
            t = f - i0
            cells.append((i0, (i0 + 1) % p, t * t * (3 - 2 * t)))
        for y in range(size):
            y0, y1, ty = cells[y]
            for x in range(size):
                x0, x1, tx = cells[x]
                a = lattice[y0 * p + x0] + (lattice[y0 * p + x1] - lattice[y0 * p + x0]) * tx
                b = lattice[y1 * p + x0] + (lattice[y1 * p + x1] - lattice[y1 * p + x0]) * tx
                out[y * size + x] += amp * (a + (b - a) * ty)
        total += amp
        amp *= 0.5
    return [v / total for v in out]


def stone(path):
    n = 256
    noise = periodic_noise(n, [4, 8, 16, 32, 64], 7)
    c = Canvas(n, n)
    for y in range(n):
        for x in range(n):
            v = noise[y * n + x]
            # marble veins: a periodic stripe bent by the noise
            vein = abs(math.sin(2 * math.pi * (2 * x / n + y / n) + 9.0 * v))
            vein = vein ** 0.25
            base = 0.55 + 0.35 * v
            k = base * (0.55 + 0.45 * vein)
            c.set(x, y, (k * 0.92, k * 0.84, k * 0.76, 1.0))
    c.save(path, alpha=False)


def envmap(path, warm):
    """Reflection map sampled by the reflection vector's x and y: soft horizon bands and hot spots."""
    n = 256
    noise = periodic_noise(n, [2, 4, 8], 11 if warm else 13)
    c = Canvas(n, n)
    spots = [(0.25, 0.2, 0.06), (0.7, 0.65, 0.09), (0.55, 0.15, 0.04), (0.1, 0.75, 0.05)]
    for y in range(n):
        v = y / n
        for x in range(n):
            u = x / n
            horizon = 0.5 + 0.5 * math.cos(2 * math.pi * v)
            band = math.exp(-((math.sin(math.pi * (v - 0.5)) / 0.08) ** 2))
            k = 0.08 + 0.25 * horizon * noise[y * n + x] + 0.55 * band
            for sx, sy, r in spots:
                dx = min(abs(u - sx), 1 - abs(u - sx))
                dy = min(abs(v - sy), 1 - abs(v - sy))
                k += 0.9 * math.exp(-(dx * dx + dy * dy) / (r * r))
            if warm:
                col = (k * 1.0, k * 0.72, k * 0.38)
            else:
                col = (k * 0.75, k * 0.82, k * 0.95)
            c.set(x, y, (col[0], col[1], col[2], 1.0))
    c.save(path, alpha=False)


def lattice(path):
    """Triangular lattice of glowing lines with alpha, tiling; drawn additively on the aura."""
    n = 256
    c = Canvas(n, n, (0, 0, 0, 0))
    for y in range(n):
        b = (y + 0.5) / n
        for x in range(n):
            a = (x + 0.5) / n
            g = 0.0
            for t in (4 * b, 4 * a + 2 * b, 4 * a - 2 * b):
                f = t - math.floor(t)
                d = min(f, 1 - f) * 24.0
                g += math.exp(-d * d * 2.0)
            g = min(1.0, g)
            al = 0.55 + 0.45 * g
            c.set(x, y, (0.9 + 0.1 * g, 0.6 + 0.4 * g * g, 0.35 + 0.65 * g ** 3, al))
    c.save(path, alpha=True)


def grid(path):
    n = 256
    c = Canvas(n, n, (0, 0, 0, 0))
    for y in range(n):
        for x in range(n):
            dx = min(x % 32, 32 - x % 32)
            dy = min(y % 32, 32 - y % 32)
            line = math.exp(-(dx * dx) / 3.0) + math.exp(-(dy * dy) / 3.0)
            major = 0.0
            if x % 128 < 2 or x % 128 > 125 or y % 128 < 2 or y % 128 > 125:
                major = 0.6
            g = min(1.0, 0.7 * line + major)
            c.set(x, y, (g, 0.5 * g, 0.25 * g, g))
    c.save(path, alpha=True)


def beam(path):
    w, h = 64, 256
    c = Canvas(w, h, (0, 0, 0, 0))
    for y in range(h):
        fall = (1.0 - y / (h - 1)) ** 2  # row 0 (v = 0) is the bright base
        for x in range(w):
            across = math.sin(math.pi * (x + 0.5) / w) ** 2
            a = fall * (0.35 + 0.65 * across)
            c.set(x, y, (1.0, 0.75, 0.5, a))
    c.save(path, alpha=True)


def black(path):
    Canvas(16, 16, (0, 0, 0, 1)).save(path, alpha=True)


def text_plate(path):
    w, h = 256, 64
    c = Canvas(w, h, (0, 0, 0, 0))
    for line, y0, s in (("QUORVANE", 6, 4), ("FERROWAKE - PLINTHAR", 44, 2)):
        tw, th, cells = text_mask(line, s, s)
        x0 = (w - tw) // 2
        for (x, y) in cells:
            c.set(x0 + x, y0 + y, (1.0, 0.8, 0.6, 1.0))
    c.save(path, alpha=True)


def loading(path):
    """The loading picture: the production's name over a plinth emblem on a deep red field."""
    w, h = 640, 480
    c = Canvas(w, h)
    cx, cy = w / 2, h * 0.42
    for y in range(h):
        for x in range(w):
            dx, dy = (x - cx) / w, (y - cy) / h
            r = math.sqrt(dx * dx + dy * dy)
            k = math.exp(-r * r * 9.0)
            stripe = 0.03 * (1 + math.cos(y * 0.9)) * 0.5
            c.set(x, y, (0.03 + 0.22 * k + stripe * 0.3, 0.01 + 0.05 * k, 0.01 + 0.03 * k, 1.0))
    # emblem: three stepped plinths with a sphere above, as lit blocks
    def block(x0, y0, x1, y1, shade):
        for y in range(int(y0), int(y1)):
            for x in range(int(x0), int(x1)):
                t = (x - x0) / max(1.0, x1 - x0)
                lit = 0.55 + 0.45 * math.cos(t * math.pi * 0.9)
                c.set(x, y, (shade * lit * 0.95, shade * lit * 0.62, shade * lit * 0.42, 1.0))
    base_y = 300
    block(220, base_y - 16, 420, base_y, 0.5)
    block(245, base_y - 34, 395, base_y - 16, 0.62)
    block(270, base_y - 50, 370, base_y - 34, 0.75)
    for px in (236, 392):
        block(px - 9, base_y - 120, px + 9, base_y - 16, 0.58)
        block(px - 13, base_y - 128, px + 13, base_y - 120, 0.8)
    orb_x, orb_y, orb_r = 320, base_y - 92, 30
    for y in range(orb_y - 3 * orb_r, orb_y + 3 * orb_r):
        for x in range(orb_x - 3 * orb_r, orb_x + 3 * orb_r):
            d = math.hypot(x - orb_x, y - orb_y)
            if d < orb_r:
                nz = math.sqrt(1 - (d / orb_r) ** 2)
                lx = (-(x - orb_x) - (y - orb_y)) / orb_r
                k = 0.25 + 0.75 * max(0.0, 0.5 * nz + 0.5 * lx)
                c.set(x, y, (k, 0.75 * k, 0.5 * k, 1.0))
            else:
                g = math.exp(-((d - orb_r) / 14.0) ** 2) * 0.5
                c.add(x, y, (1.0, 0.45, 0.2), g)
    # the name, large, with a soft glow behind it
    tw, th, cells = text_mask("QUORVANE", 8, 9)
    x0, y0 = (w - tw) // 2, 335
    glow = {}
    for (x, y) in cells:
        for oy in range(-4, 5, 2):
            for ox in range(-4, 5, 2):
                key = (x + ox, y + oy)
                glow[key] = glow.get(key, 0.0) + 1.0
    for (x, y), v in glow.items():
        c.add(x0 + x, y0 + y, (0.9, 0.3, 0.1), min(1.0, v / 25.0) * 0.6)
    for (x, y) in cells:
        t = y / th
        c.set(x0 + x, y0 + y, (1.0, 0.85 - 0.35 * t, 0.6 - 0.4 * t, 1.0))
    sw, sh, small = text_mask("LOADING", 2, 2, spacing=2)
    sx0, sy0 = (w - sw) // 2, 420
    for (x, y) in small:
        c.set(sx0 + x, sy0 + y, (0.75, 0.55, 0.45, 1.0))
    c.save(path, alpha=False)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    jobs = [
        ("load.png", loading),
        ("black.png", black),
        ("text0.png", text_plate),
        ("stone.png", stone),
        ("env.png", lambda p: envmap(p, False)),
        ("envwarm.png", lambda p: envmap(p, True)),
        ("lattice.png", lattice),
        ("grid.png", grid),
        ("beam.png", beam),
    ]
    only = set(sys.argv[2:])
    for name, fn in jobs:
        if only and name not in only:
            continue
        fn(os.path.join(out, name))
        print("textures: wrote", name)


if __name__ == "__main__":
    main()
