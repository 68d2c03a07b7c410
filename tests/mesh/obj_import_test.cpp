// OBJ import: triangulation, groups per usemtl, normals, texture coordinates and handedness.
#include "authoring/obj_import.h"

#include <gtest/gtest.h>

#include <cmath>

#include "mesh/mesh_file.h"

namespace {

// Signed area of a triangle as seen by a camera at -z looking along +z (x right, y up): negative
// means clockwise, the front-face winding of the left-handed convention.
float screenArea(const Mesh1File& m, const std::vector<uint16_t>& idx, size_t t) {
    const MeshVertex &a = m.vertices[idx[3 * t]], &b = m.vertices[idx[3 * t + 1]],
                     &c = m.vertices[idx[3 * t + 2]];
    return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

TEST(ObjImportTest, QuadsBecomeClockwiseTrianglesWithFlatNormals) {
    // A unit square in the xy plane facing +z (towards a right-handed viewer), counter-clockwise.
    Mesh1File m = importObj("v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3 4\n", "base.xml");
    ASSERT_EQ(m.groups.size(), 1u);
    EXPECT_EQ(m.groups[0].material, "base.xml");
    ASSERT_EQ(m.groups[0].indices.size(), 6u);
    EXPECT_EQ(m.vertices.size(), 4u);
    for (size_t t = 0; t < 2; ++t) EXPECT_LT(screenArea(m, m.groups[0].indices, t), 0.0f);
    for (const MeshVertex& v : m.vertices) {
        EXPECT_FLOAT_EQ(v.nz, -1.0f);  // facing the left-handed viewer at -z
        EXPECT_EQ(v.color, 0xFFFFFFFFu);
    }
}

TEST(ObjImportTest, GroupsPerMaterialWithNormalsAndTextureCoordinates) {
    const char* obj =
        "mtllib scene.mtl\n"
        "v 0 0 -2\nv 1 0 -2\nv 0 1 -2\nv 5 5 5\n"
        "vt 0 0\nvt 1 0\nvt 0 1\n"
        "vn 0 0 1\n"
        "f 1/1/1 2/2/1 3/3/1\n"
        "usemtl red.xml\n"
        "f 1 2 4\n"
        "usemtl blue.xml\n"
        "f 2 3 4\n"
        "usemtl red.xml\n"
        "f 3 1 4\n";
    Mesh1File m = importObj(obj, "first.xml");
    ASSERT_EQ(m.groups.size(), 3u);
    EXPECT_EQ(m.groups[0].material, "first.xml");
    EXPECT_EQ(m.groups[1].material, "red.xml");
    EXPECT_EQ(m.groups[2].material, "blue.xml");
    EXPECT_EQ(m.groups[1].indices.size(), 6u);  // both red faces share one group
    EXPECT_EQ(m.groups[2].indices.size(), 3u);

    // The first face carries its normal (z negated) and texture coordinates (v flipped).
    const MeshVertex& a = m.vertices[m.groups[0].indices[0]];
    EXPECT_EQ(a.z, 2.0f);
    EXPECT_EQ(a.nz, -1.0f);
    EXPECT_EQ(a.u, 0.0f);
    EXPECT_EQ(a.v, 1.0f);

    // The result is a valid MESH1 file.
    std::vector<unsigned char> bytes = writeMesh1(m);
    EXPECT_EQ(parseMesh1(bytes.data(), bytes.size()).vertices.size(), m.vertices.size());
}

TEST(ObjImportTest, BadReferencesFail) {
    EXPECT_THROW(importObj("v 0 0 0\nf 1 2 3\n", "m.xml"), std::string);
    Mesh1File none = importObj("# nothing\n", "m.xml");
    EXPECT_TRUE(none.vertices.empty());
    EXPECT_TRUE(none.groups.empty());
}

}  // namespace
