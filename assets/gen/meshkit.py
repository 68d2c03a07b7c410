"""Mesh building blocks and the MESH1 writer.

Coordinates are left-handed with y up. A triangle faces the viewer when its corners run clockwise on screen,
which with the usual cross product means (b - a) x (c - a) points towards the viewer; every add_tri is given
the direction its face should look and fixes the winding to match, so culling keeps the outside.
"""
import math
import struct


def v_add(a, b):
    return (a[0] + b[0], a[1] + b[1], a[2] + b[2])


def v_sub(a, b):
    return (a[0] - b[0], a[1] - b[1], a[2] - b[2])


def v_scale(a, k):
    return (a[0] * k, a[1] * k, a[2] * k)


def v_dot(a, b):
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]


def v_cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def v_norm(a):
    length = math.sqrt(v_dot(a, a))
    return (a[0] / length, a[1] / length, a[2] / length) if length > 0 else (0.0, 1.0, 0.0)


def quat_axis(axis, angle):
    ax = v_norm(axis)
    s = math.sin(angle / 2)
    return (ax[0] * s, ax[1] * s, ax[2] * s, math.cos(angle / 2))


def quat_mul(a, b):
    """Rotation a followed by rotation b (row-vector convention: matrix(a) . matrix(b))."""
    ax, ay, az, aw = b
    bx, by, bz, bw = a
    return (
        aw * bx + ax * bw + ay * bz - az * by,
        aw * by - ax * bz + ay * bw + az * bx,
        aw * bz + ax * by - ay * bx + az * bw,
        aw * bw - ax * bx - ay * by - az * bz,
    )


def quat_matrix(q):
    """Rows of the 3x3 rotation for row vectors, as the engine builds it from a quaternion."""
    x, y, z, w = q
    return (
        (1 - 2 * y * y - 2 * z * z, 2 * x * y + 2 * z * w, 2 * x * z - 2 * y * w),
        (2 * x * y - 2 * z * w, 1 - 2 * x * x - 2 * z * z, 2 * y * z + 2 * x * w),
        (2 * x * z + 2 * y * w, 2 * y * z - 2 * x * w, 1 - 2 * x * x - 2 * y * y),
    )


def rotate(p, m):
    return (
        p[0] * m[0][0] + p[1] * m[1][0] + p[2] * m[2][0],
        p[0] * m[0][1] + p[1] * m[1][1] + p[2] * m[2][1],
        p[0] * m[0][2] + p[1] * m[1][2] + p[2] * m[2][2],
    )


IDENTITY_Q = (0.0, 0.0, 0.0, 1.0)


class Mesh:
    def __init__(self):
        self.verts = []  # (pos, normal, uv)
        self.groups = []  # [material, [index triples]]
        self.q = IDENTITY_Q
        self.m = quat_matrix(IDENTITY_Q)
        self.t = (0.0, 0.0, 0.0)

    # placement of the parts that follow (rotation, then translation)
    def place(self, t=(0.0, 0.0, 0.0), q=IDENTITY_Q):
        self.q, self.m, self.t = q, quat_matrix(q), t

    def group(self, material):
        for i, g in enumerate(self.groups):
            if g[0] == material:
                return i
        self.groups.append([material, []])
        return len(self.groups) - 1

    def vert(self, p, n, uv):
        p = v_add(rotate(p, self.m), self.t)
        n = v_norm(rotate(n, self.m))
        self.verts.append((p, n, uv))
        assert len(self.verts) <= 65536, "too many vertices for 16-bit indices"
        return len(self.verts) - 1

    def tri(self, g, a, b, c, facing=None):
        """Indices of existing vertices; facing is the world direction the face shows to (defaults to the
        mean vertex normal)."""
        pa, pb, pc = self.verts[a][0], self.verts[b][0], self.verts[c][0]
        if facing is None:
            facing = v_add(v_add(self.verts[a][1], self.verts[b][1]), self.verts[c][1])
        if v_dot(v_cross(v_sub(pb, pa), v_sub(pc, pa)), facing) < 0:
            b, c = c, b
        self.groups[g][1].append((a, b, c))

    def quad(self, material, p, n, uv):
        """Flat quad p[0..3] (in order around the edge) with normal n (local frame) and corner uvs."""
        g = self.group(material)
        idx = [self.vert(p[i], n, uv[i]) for i in range(4)]
        facing = v_norm(rotate(n, self.m))
        self.tri(g, idx[0], idx[1], idx[2], facing)
        self.tri(g, idx[0], idx[2], idx[3], facing)

    def write(self, path):
        out = bytearray(b"MESH1")
        out += struct.pack("<I", len(self.verts))
        for p, n, uv in self.verts:
            out += struct.pack("<3f3fI2f", p[0], p[1], p[2], n[0], n[1], n[2], 0xFFFFFFFF, uv[0], uv[1])
        groups = [g for g in self.groups if g[1]]
        out += struct.pack("<I", len(groups))
        for material, tris in groups:
            out += material.encode("ascii") + b"\0"
            out += struct.pack("<I", len(tris))
            for t in tris:
                out += struct.pack("<3H", *t)
        with open(path, "wb") as f:
            f.write(out)
        return len(self.verts), sum(len(g[1]) for g in groups)

    def centre(self):
        n = len(self.verts)
        s = (0.0, 0.0, 0.0)
        for p, _, _ in self.verts:
            s = v_add(s, p)
        return v_scale(s, 1.0 / n) if n else s


# ---- primitives (in the mesh's current placement) ----


def box(mesh, material, lo, hi, tile=8.0, faces="xXyYzZ", side_material=None):
    """Axis-aligned box from lo to hi; texture coordinates in world units / tile.
    faces: which of -x, +x, -y, +y, -z, +z to emit (lower = negative side)."""
    x0, y0, z0 = lo
    x1, y1, z1 = hi
    face_table = {
        "x": ((-1, 0, 0), [(x0, y1, z1), (x0, y1, z0), (x0, y0, z0), (x0, y0, z1)], (2, 1)),
        "X": ((1, 0, 0), [(x1, y1, z0), (x1, y1, z1), (x1, y0, z1), (x1, y0, z0)], (2, 1)),
        "y": ((0, -1, 0), [(x0, y0, z0), (x1, y0, z0), (x1, y0, z1), (x0, y0, z1)], (0, 2)),
        "Y": ((0, 1, 0), [(x0, y1, z1), (x1, y1, z1), (x1, y1, z0), (x0, y1, z0)], (0, 2)),
        "z": ((0, 0, -1), [(x0, y1, z0), (x1, y1, z0), (x1, y0, z0), (x0, y0, z0)], (0, 1)),
        "Z": ((0, 0, 1), [(x1, y1, z1), (x0, y1, z1), (x0, y0, z1), (x1, y0, z1)], (0, 1)),
    }
    for f in faces:
        n, pts, (ua, va) = face_table[f]
        mat = material
        if side_material and f in "xXzZ":
            mat = side_material
        uv = [(p[ua] / tile, -p[va] / tile) for p in pts]
        mesh.quad(mat, pts, n, uv)


def prism(mesh, material, sides, r0, r1, y0, y1, phase=0.0, tile=8.0, caps=(True, True)):
    """Flat-shaded frustum of a regular polygon: radius r0 at y0, r1 at y1."""
    g = mesh.group(material)
    ring0 = []
    ring1 = []
    for i in range(sides + 1):
        a = phase + 2 * math.pi * i / sides
        ring0.append((r0 * math.sin(a), y0, r0 * math.cos(a)))
        ring1.append((r1 * math.sin(a), y1, r1 * math.cos(a)))
    perim = 0.0
    for i in range(sides):
        a0, a1 = ring0[i], ring0[i + 1]
        b0, b1 = ring1[i], ring1[i + 1]
        edge = v_sub(a1, a0)
        up = v_sub(b0, a0)
        mid = v_scale(v_add(v_add(a0, a1), v_add(b0, b1)), 0.25)
        n = v_norm(v_cross(up, edge))
        if v_dot(n, (mid[0], 0.0, mid[2])) < 0:
            n = v_scale(n, -1)
        w = math.sqrt(v_dot(edge, edge))
        h = math.sqrt(v_dot(up, up))
        u0, u1 = perim / tile, (perim + w) / tile
        perim += w
        mesh.quad(material, [b0, b1, a1, a0], n, [(u0, 0), (u1, 0), (u1, h / tile), (u0, h / tile)])
    for cap, ring, y, ny in ((caps[0], ring0, y0, -1.0), (caps[1], ring1, y1, 1.0)):
        if not cap or (ring is ring0 and r0 <= 0) or (ring is ring1 and r1 <= 0):
            continue
        c = mesh.vert((0.0, y, 0.0), (0.0, ny, 0.0), (0.5, 0.5))
        idx = [mesh.vert(p, (0.0, ny, 0.0), (p[0] / tile, p[2] / tile)) for p in ring[:-1]]
        for i in range(sides):
            mesh.tri(g, c, idx[i], idx[(i + 1) % sides], rotate((0.0, ny, 0.0), mesh.m))


def sphere(mesh, material, r, segs, rings, centre=(0.0, 0.0, 0.0), u_rep=1.0, v_rep=1.0, inward=False):
    g = mesh.group(material)
    grid = []
    for j in range(rings + 1):
        th = math.pi * j / rings
        row = []
        for i in range(segs + 1):
            ph = 2 * math.pi * i / segs
            n = (math.sin(th) * math.sin(ph), math.cos(th), math.sin(th) * math.cos(ph))
            p = v_add(centre, v_scale(n, r))
            nn = v_scale(n, -1) if inward else n
            row.append(mesh.vert(p, nn, (u_rep * i / segs, v_rep * j / rings)))
        grid.append(row)
    for j in range(rings):
        for i in range(segs):
            a, b, c, d = grid[j][i], grid[j][i + 1], grid[j + 1][i + 1], grid[j + 1][i]
            if j > 0:
                mesh.tri(g, a, b, c)
            if j < rings - 1:
                mesh.tri(g, a, c, d)


def torus(mesh, material, big, small, segs, sides, u_rep=8.0):
    g = mesh.group(material)
    grid = []
    for i in range(segs + 1):
        a = 2 * math.pi * i / segs
        ca, sa = math.cos(a), math.sin(a)
        row = []
        for j in range(sides + 1):
            b = 2 * math.pi * j / sides
            n = (ca * math.cos(b), math.sin(b), sa * math.cos(b))
            p = ((big + small * math.cos(b)) * ca, small * math.sin(b), (big + small * math.cos(b)) * sa)
            row.append(mesh.vert(p, n, (u_rep * i / segs, j / sides)))
        grid.append(row)
    for i in range(segs):
        for j in range(sides):
            a, b, c, d = grid[i][j], grid[i + 1][j], grid[i + 1][j + 1], grid[i][j + 1]
            mesh.tri(g, a, b, c)
            mesh.tri(g, a, c, d)


def octahedron(mesh, material, rx, ry):
    g = mesh.group(material)
    top, bottom = (0.0, ry, 0.0), (0.0, -ry, 0.0)
    eq = [(rx, 0.0, 0.0), (0.0, 0.0, rx), (-rx, 0.0, 0.0), (0.0, 0.0, -rx)]
    for i in range(4):
        a, b = eq[i], eq[(i + 1) % 4]
        for apex in (top, bottom):
            n = v_norm(v_add(v_add(a, b), apex))
            ia = mesh.vert(apex, n, (0.5, 0.0))
            ib = mesh.vert(a, n, (0.0, 1.0))
            ic = mesh.vert(b, n, (1.0, 1.0))
            mesh.tri(g, ia, ib, ic, rotate(n, mesh.m))


def annulus(mesh, material, r0, r1, segs, u_rep=4.0):
    """Flat ring in the xz plane, normal up (meant for materials without culling)."""
    g = mesh.group(material)
    inner, outer = [], []
    for i in range(segs + 1):
        a = 2 * math.pi * i / segs
        s, c = math.sin(a), math.cos(a)
        inner.append(mesh.vert((r0 * s, 0.0, r0 * c), (0.0, 1.0, 0.0), (u_rep * i / segs, 1.0)))
        outer.append(mesh.vert((r1 * s, 0.0, r1 * c), (0.0, 1.0, 0.0), (u_rep * i / segs, 0.0)))
    up = rotate((0.0, 1.0, 0.0), mesh.m)
    for i in range(segs):
        mesh.tri(g, inner[i], outer[i], outer[i + 1], up)
        mesh.tri(g, inner[i], outer[i + 1], inner[i + 1], up)


def tube(mesh, material, r0, r1, y0, y1, segs, u_rep=1.0):
    """Open frustum (no caps), outward normals, v = 0 at y0 and 1 at y1."""
    g = mesh.group(material)
    lo, hi = [], []
    for i in range(segs + 1):
        a = 2 * math.pi * i / segs
        s, c = math.sin(a), math.cos(a)
        n = v_norm((s, (r0 - r1) / max(1e-6, (y1 - y0)), c))
        lo.append(mesh.vert((r0 * s, y0, r0 * c), n, (u_rep * i / segs, 0.0)))
        hi.append(mesh.vert((r1 * s, y1, r1 * c), n, (u_rep * i / segs, 1.0)))
    for i in range(segs):
        mesh.tri(g, lo[i], lo[i + 1], hi[i + 1])
        mesh.tri(g, lo[i], hi[i + 1], hi[i])
