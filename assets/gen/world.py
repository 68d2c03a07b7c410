#!/usr/bin/env python3
"""Builds the meshes of Plinthar and its scene file.

The world: a floating stepped dais with a hanging spire, a chrome orb above it that mirrors the video, a ring
of eight plinths carrying gold crystals, four video monoliths further out, two gyroscope rings, ruins (a far
colonnade and drifting blocks), then the see-through layers: the aura shell around the orb (scene object 27,
whose diffuse alpha the production pulses), a video halo, glass panes, light beams and a grid plane below.
Opaque objects come first, blended ones last, because the scene draws in file order.

usage: world.py OUTDIR
"""
import math
import os
import sys

from meshkit import (
    Mesh,
    annulus,
    box,
    octahedron,
    prism,
    quat_axis,
    quat_matrix,
    quat_mul,
    rotate,
    sphere,
    torus,
    tube,
)
from textures import Rng

PLINTH_RING = 38.0
MONOLITH_RING = 54.0
AURA_RADIUS = 24.0
ORB_Y = 4.0


def dais():
    m = Mesh()
    prism(m, "stone.mat", 8, 20, 20, -14, -10, phase=math.pi / 8)
    prism(m, "gold.mat", 8, 18, 18, -10, -9.4, phase=math.pi / 8)
    prism(m, "stone.mat", 8, 17, 17, -9.4, -7, phase=math.pi / 8)
    prism(m, "stone.mat", 8, 13.5, 13, -7, -4.8, phase=math.pi / 8)
    return m


def spire():
    m = Mesh()
    prism(m, "darkstone.mat", 8, 20, 10, -14, -20, phase=math.pi / 8, caps=(False, False))
    prism(m, "darkstone.mat", 8, 10, 0, -20, -42, phase=math.pi / 8, caps=(False, False))
    m.place((0.0, -45.5, 0.0))
    octahedron(m, "gold.mat", 2.2, 3.5)
    return m


def orb():
    m = Mesh()
    sphere(m, "chrome.mat", 8.0, 40, 24)
    return m


def orb_rim():
    m = Mesh()
    sphere(m, "rim.mat", 8.5, 40, 24)
    return m


def plinth():
    """Origin at the centre of its foot; 20.5 units tall. Two materials: stone body, gold collar."""
    m = Mesh()
    box(m, "stone.mat", (-5, 0, -5), (5, 2, 5))
    box(m, "stone.mat", (-4, 2, -4), (4, 3.2, 4), faces="xXYzZ")
    prism(m, "stone.mat", 12, 3.0, 2.6, 3.2, 16.8, caps=(False, False))
    prism(m, "gold.mat", 12, 3.3, 3.3, 16.8, 17.8)
    box(m, "stone.mat", (-4.5, 17.8, -4.5), (4.5, 19.3, 4.5), faces="xXyYzZ")
    box(m, "gold.mat", (-3.5, 19.3, -3.5), (3.5, 20.5, 3.5), faces="xXYzZ")
    return m


def crystal():
    m = Mesh()
    octahedron(m, "gold.mat", 2.4, 4.2)
    return m


def monolith():
    """A slab 12 wide and 28 tall; its two broad faces show the video (v = 0 at the top, u left to right as
    seen from either side), its edges are dark stone."""
    m = Mesh()
    w, h, d = 6.0, 14.0, 1.2
    m.quad("screen.mat", [(-w, h, -d), (w, h, -d), (w, -h, -d), (-w, -h, -d)], (0, 0, -1),
           [(0, 0), (1, 0), (1, 1), (0, 1)])
    m.quad("screen.mat", [(w, h, d), (-w, h, d), (-w, -h, d), (w, -h, d)], (0, 0, 1),
           [(0, 0), (1, 0), (1, 1), (0, 1)])
    box(m, "darkstone.mat", (-w, -h, -d), (w, h, d), faces="xXyY")
    box(m, "gold.mat", (-w - 0.6, -h - 1.5, -d - 0.6), (w + 0.6, -h, d + 0.6))
    box(m, "gold.mat", (-w - 0.6, h, -d - 0.6), (w + 0.6, h + 1.0, d + 0.6))
    return m


def ring(big, small):
    m = Mesh()
    torus(m, "steel.mat", big, small, 96, 10)
    return m


def ruins():
    """The far colonnade (faded by the fog) and blocks drifting between the plinths."""
    m = Mesh()
    rng = Rng(1234)
    count = 28
    for i in range(count):
        a = 2 * math.pi * (i + 0.3 * rng.next()) / count
        r = 200 + 50 * rng.next()
        h = 70 + 90 * rng.next()
        base = -70 - 20 * rng.next()
        m.place((r * math.sin(a), base, r * math.cos(a)), quat_axis((0, 1, 0), a))
        box(m, "darkstone.mat", (-9, 0, -9), (9, 6, 9), tile=16)
        box(m, "darkstone.mat", (-6, 6, -6), (6, h, 6), faces="xXzZ", tile=16)
        if rng.next() < 0.7:
            box(m, "darkstone.mat", (-9, h, -9), (9, h + 5, 9), tile=16)
    for i in range(22):
        a = 2 * math.pi * rng.next()
        r = 26 + 30 * rng.next()
        y = -28 + 56 * rng.next()
        if abs(y) < 10 and r < 40:
            y += 20 if y >= 0 else -20
        s = 0.7 + 1.6 * rng.next()
        q = quat_mul(quat_axis((1, 0, 0), 6.28 * rng.next()), quat_axis((0, 1, 0), 6.28 * rng.next()))
        m.place((r * math.sin(a), y, r * math.cos(a)), q)
        box(m, "gold.mat" if i % 5 == 0 else "stone.mat", (-s, -s, -s), (s, s, s), tile=4)
    return m


def aura():
    m = Mesh()
    sphere(m, "aura.mat", AURA_RADIUS, 48, 24, u_rep=6.0, v_rep=3.0)
    return m


def halo():
    m = Mesh()
    annulus(m, "halo.mat", 11.0, 15.5, 64, u_rep=4.0)
    return m


def panes():
    m = Mesh()
    rng = Rng(99)
    for i in range(6):
        a = 2 * math.pi * (i + 0.5) / 6 + 0.2 * rng.next()
        r = 40 + 6 * rng.next()
        y = (18 if i % 2 else -16) + 6 * rng.next()
        q = quat_mul(quat_axis((1, 0, 0), 0.5 * (rng.next() - 0.5)), quat_axis((0, 1, 0), a + 0.4))
        m.place((r * math.sin(a), y, r * math.cos(a)), q)
        w, h = 5 + 2 * rng.next(), 8 + 3 * rng.next()
        m.quad("glass.mat", [(-w, h, 0), (w, h, 0), (w, -h, 0), (-w, -h, 0)], (0, 0, -1),
               [(0, 0), (1, 0), (1, 1), (0, 1)])
    return m


def beams(tops):
    m = Mesh()
    for (x, y, z) in tops:
        m.place((x, y, z))
        tube(m, "beam.mat", 1.2, 3.2, 0.0, 32.0, 16)
    return m


def floor_grid():
    m = Mesh()
    s = 260.0
    m.quad("grid.mat", [(-s, 0, s), (s, 0, s), (s, 0, -s), (-s, 0, -s)], (0, 1, 0),
           [(-s / 16, -s / 16), (s / 16, -s / 16), (s / 16, s / 16), (-s / 16, s / 16)])
    return m


def fmt(v):
    s = "%.5f" % v
    s = s.rstrip("0").rstrip(".")
    return "0" if s in ("-0", "") else s


def xml_object(mesh, pos=None, rot=None, indent="  "):
    body = []
    if pos:
        body.append('%s  <position x="%s" y="%s" z="%s"/>' % (indent, fmt(pos[0]), fmt(pos[1]), fmt(pos[2])))
    if rot:
        body.append('%s  <rotation x="%s" y="%s" z="%s" w="%s"/>' % (indent, *(fmt(c) for c in rot)))
    if not body:
        return '%s<object mesh="%s"/>' % (indent, mesh)
    return "\n".join(['%s<object mesh="%s">' % (indent, mesh)] + body + ["%s</object>" % indent])


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    meshes = {
        "dais.mesh": dais(),
        "spire.mesh": spire(),
        "orb.mesh": orb(),
        "orbrim.mesh": orb_rim(),
        "plinth.mesh": plinth(),
        "crystal.mesh": crystal(),
        "monolith.mesh": monolith(),
        "ring1.mesh": ring(25.0, 0.8),
        "ring2.mesh": ring(29.0, 0.6),
        "ruins.mesh": ruins(),
        "aura.mesh": aura(),
        "halo.mesh": halo(),
        "panes.mesh": panes(),
        "grid.mesh": floor_grid(),
    }

    objects = []  # (mesh, position, rotation, note)
    objects.append(("dais.mesh", None, None))
    objects.append(("spire.mesh", None, None))
    objects.append(("orb.mesh", (0, ORB_Y, 0), None))
    objects.append(("orbrim.mesh", (0, ORB_Y, 0), None))
    tops = []
    for i in range(8):
        a = 2 * math.pi * i / 8
        y = -14.0 if i % 2 == 0 else -21.0
        objects.append(("plinth.mesh", (PLINTH_RING * math.sin(a), y, PLINTH_RING * math.cos(a)),
                        quat_axis((0, 1, 0), a + math.pi / 4)))
        tops.append((PLINTH_RING * math.sin(a), y + 20.5, PLINTH_RING * math.cos(a)))
    for i, (x, y, z) in enumerate(tops):
        objects.append(("crystal.mesh", (x, y + 6.0, z), quat_axis((0, 1, 0), 0.4 * i)))
    for i in range(4):
        a = 2 * math.pi * (i + 0.5) / 4
        # a quarter-turn pattern of heights so the orbits meet them at different levels
        y = (4.0, -6.0, 8.0, -2.0)[i]
        objects.append(("monolith.mesh", (MONOLITH_RING * math.sin(a), y, MONOLITH_RING * math.cos(a)),
                        quat_axis((0, 1, 0), a)))
    objects.append(("ring1.mesh", (0, ORB_Y, 0), quat_axis((1, 0, 0.3), 0.42)))
    objects.append(("ring2.mesh", (0, ORB_Y, 0), quat_axis((0.2, 0, 1), -0.5)))
    objects.append(("ruins.mesh", None, None))
    assert len(objects) == 27
    objects.append(("aura.mesh", (0, ORB_Y, 0), None))  # object 27: the pulsed one
    objects.append(("halo.mesh", (0, ORB_Y, 0), quat_axis((1, 0, 0), 0.25)))
    objects.append(("panes.mesh", None, None))
    meshes["beams.mesh"] = beams(tops)
    objects.append(("beams.mesh", None, None))
    objects.append(("grid.mesh", (0, -52, 0), None))

    for name, mesh in meshes.items():
        v, t = mesh.write(os.path.join(out, name))
        print("world: %-14s %5d vertices %5d triangles, groups: %s" % (
            name, v, t, ", ".join(g[0] for g in mesh.groups if g[1])))

    lines = ['<?xml version="1.0"?>', "<!-- Plinthar: a floating sanctuary of plinths around a mirrored orb -->",
             "<scene>", '  <ambient r="0.16" g="0.11" b="0.11" a="1"/>',
             "  <!-- warm key light high above, cool light from below, ember glow at the orb -->",
             "  <light>",
             '    <diffuse r="0.75" g="0.55" b="0.38" a="1"/>',
             '    <ambient r="0.06" g="0.04" b="0.03" a="1"/>',
             '    <position x="40" y="95" z="-30"/>',
             "  </light>",
             "  <light>",
             '    <diffuse r="0.22" g="0.34" b="0.72" a="1"/>',
             '    <ambient r="0" g="0" b="0" a="1"/>',
             '    <position x="-60" y="-80" z="50"/>',
             "  </light>",
             "  <light>",
             '    <diffuse r="0.85" g="0.32" b="0.12" a="1"/>',
             '    <ambient r="0" g="0" b="0" a="1"/>',
             '    <position x="0" y="%s" z="0"/>' % fmt(ORB_Y),
             "  </light>"]
    for i, (mesh, pos, rot) in enumerate(objects):
        lines.append("  <!-- %d -->" % i)
        lines.append(xml_object(mesh, pos, rot))
    lines.append("</scene>")
    with open(os.path.join(out, "plinthar.scene"), "w") as f:
        f.write("\n".join(lines) + "\n")
    print("world: plinthar.scene with %d objects (object 27: %s)" % (len(objects), objects[27][0]))


if __name__ == "__main__":
    main()
