#!/usr/bin/env python3
"""Checks a built data set for consistency before it is packed.

Parses every mesh (MESH1 layout, index ranges), follows the scene's meshes to their materials and the
materials to their pictures, and checks the production's needs: at least 28 objects, object 27 a mesh with a
group whose material is blended, the fixed file names present, and the names the video stands in for absent.

usage: check.py DATADIR
"""
import os
import struct
import sys
import xml.etree.ElementTree as ET

VIDEO_NAMES = {"bg.jpg", "cubetex.png", "white.png"}
REQUIRED = ["load.png", "black.png", "text0.png", "ferrowake.mp3", "test.vpg", "plinthar.scene"]


def fail(msg):
    print("check: " + msg, file=sys.stderr)
    sys.exit(1)


def read_mesh(path):
    data = open(path, "rb").read()
    if data[:5] != b"MESH1":
        fail("%s: not a MESH1 file" % path)
    p = 5
    (nv,) = struct.unpack_from("<I", data, p)
    p += 4 + 36 * nv
    (ng,) = struct.unpack_from("<I", data, p)
    p += 4
    groups = []
    for _ in range(ng):
        end = data.index(b"\0", p)
        name = data[p:end].decode("ascii")
        p = end + 1
        (nt,) = struct.unpack_from("<I", data, p)
        p += 4
        idx = struct.unpack_from("<%dH" % (3 * nt), data, p)
        p += 6 * nt
        if idx and max(idx) >= nv:
            fail("%s: group %s indexes past the %d vertices" % (path, name, nv))
        groups.append((name, nt))
    if p != len(data):
        fail("%s: %d trailing bytes" % (path, len(data) - p))
    return nv, groups


def main():
    d = sys.argv[1]
    files = set(os.listdir(d))
    for name in REQUIRED:
        if name not in files:
            fail("missing " + name)
    for name in VIDEO_NAMES & files:
        fail("%s must not be shipped: the video stands in for it" % name)

    root = ET.parse(os.path.join(d, "plinthar.scene")).getroot()
    objects = [e for e in root.iter("object")]  # document pre-order, as the loader appends them
    if len(objects) < 28:
        fail("only %d objects" % len(objects))
    materials = {}
    meshes = {}
    for e in objects:
        m = e.get("mesh", "")
        if m and m not in meshes:
            if m not in files:
                fail("scene names missing mesh " + m)
            meshes[m] = read_mesh(os.path.join(d, m))
    pulsed = objects[27].get("mesh", "")
    if not pulsed or not meshes[pulsed][1]:
        fail("object 27 must be a mesh with at least one group")
    for m, (nv, groups) in meshes.items():
        for g, nt in groups:
            if g not in files:
                fail("%s names missing material %s" % (m, g))
            materials[g] = ET.parse(os.path.join(d, g)).getroot()
    for name, mat in materials.items():
        for tag in ("texture", "envmap"):
            for e in mat.findall(tag):
                f = e.get("file")
                if f not in files and f not in VIDEO_NAMES:
                    fail("%s names missing picture %s" % (name, f))
    first = materials[meshes[pulsed][1][0][0]]
    blend = first.find("blend")
    if blend is None or (blend.get("srcblend", "one"), blend.get("dstblend", "zero")) == ("one", "zero"):
        fail("object 27's first material must blend")
    if blend.get("srcblend") not in ("srcalpha", "invsrcalpha"):
        fail("object 27's first material must use the diffuse alpha as blend factor")
    uses_video = any(e.get("file") in VIDEO_NAMES for m in materials.values() for e in m if e.tag in ("texture", "envmap"))
    if not uses_video:
        fail("no material shows the video")
    print("check: %d objects, %d meshes, %d materials; object 27 is %s (%s)" % (
        len(objects), len(meshes), len(materials), pulsed, meshes[pulsed][1][0][0]))


if __name__ == "__main__":
    main()
