// MESH1 files: round trips through the loader, every failure text, and damaged files.
#include "mesh/mesh_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "data_dir.h"
#include "mesh/mesh.h"
#include "mesh/mesh_cache.h"

namespace {

std::string failure(const std::vector<unsigned char>& bytes) {
    try {
        parseMesh1(bytes.data(), bytes.size());
    } catch (const std::string& e) {
        return e;
    }
    return "(no failure)";
}

Mesh1File twoGroups() {
    Mesh1File m;
    m.vertices = {vertex(1, 2, 3, 0, 1, 0, 0.25f, 0.75f, 0xAABBCCDD), vertex(-1, 0, 0), vertex(0, 4, -3),
                  vertex(2, 2, 0)};
    m.groups = {{"red.xml", {0, 1, 2}}, {"blue.xml", {3, 2, 1, 1, 2, 0}}};
    return m;
}

TEST(Mesh1Test, RoundTripKeepsEveryField) {
    Mesh1File in = twoGroups();
    std::vector<unsigned char> bytes = writeMesh1(in);
    // magic + V + 4 records + G + ("red.xml\0" + T + 3 indices) + ("blue.xml\0" + T + 6 indices)
    EXPECT_EQ(bytes.size(), 5u + 4 + 4 * 36 + 4 + (8 + 4 + 6) + (9 + 4 + 12));
    Mesh1File out = parseMesh1(bytes.data(), bytes.size());
    ASSERT_EQ(out.vertices.size(), 4u);
    EXPECT_EQ(std::memcmp(out.vertices.data(), in.vertices.data(), 4 * sizeof(MeshVertex)), 0);
    ASSERT_EQ(out.groups.size(), 2u);
    EXPECT_EQ(out.groups[1].material, "blue.xml");
    EXPECT_EQ(out.groups[1].indices, (std::vector<uint16_t>{3, 2, 1, 1, 2, 0}));
    // Little-endian, no padding: the first vertex's x sits right after the count.
    float x;
    std::memcpy(&x, &bytes[9], 4);
    EXPECT_EQ(x, 1.0f);
    EXPECT_EQ(bytes[5], 4);
}

TEST(Mesh1Test, FailureTexts) {
    std::vector<unsigned char> good = writeMesh1(twoGroups());
    auto with = [&](size_t at, unsigned char value) {
        auto b = good;
        b[at] = value;
        return b;
    };
    auto cut = [&](size_t n) { return std::vector<unsigned char>(good.begin(), good.begin() + n); };

    EXPECT_EQ(failure(with(4, '2')), "Not a MESH1-file");
    EXPECT_EQ(failure(with(0, 'm')), "Not a MESH1-file");
    EXPECT_EQ(failure(cut(3)), "Not a MESH1-file");
    EXPECT_EQ(failure(cut(7)), "Truncated MESH1-file: no vertex count");
    EXPECT_EQ(failure(cut(9 + 3 * 36 + 10)), "Truncated MESH1-file: vertices missing");
    EXPECT_EQ(failure(cut(9 + 4 * 36 + 2)), "Truncated MESH1-file: no group count");
    EXPECT_EQ(failure(cut(9 + 4 * 36 + 4 + 5)), "Truncated MESH1-file: groups missing");
    EXPECT_EQ(failure(cut(9 + 4 * 36 + 4 + 18 + 5)), "Truncated MESH1-file: material name not terminated");
    EXPECT_EQ(failure(cut(9 + 4 * 36 + 4 + 8 + 4 + 6 + 9 + 2)), "Truncated MESH1-file: no triangle count");
    EXPECT_EQ(failure(cut(good.size() - 1)), "Truncated MESH1-file: indices missing");
    // The last index (vertex 0) becomes 4 = V: refused before it can reach a draw.
    EXPECT_EQ(failure(with(good.size() - 2, 4)), "Vertex index 4 out of range in group 1 (4 vertices)");

    // Counts far beyond the data fail before anything is allocated for them.
    auto huge = good;
    huge[5] = huge[6] = huge[7] = huge[8] = 0xFF;
    EXPECT_EQ(failure(huge), "Truncated MESH1-file: vertices missing");
    auto manyGroups = cut(9 + 4 * 36);
    for (int i = 0; i < 4; ++i) manyGroups.push_back(0xFF);
    EXPECT_EQ(failure(manyGroups), "Truncated MESH1-file: groups missing");
    auto manyTriangles = cut(9 + 4 * 36 + 4 + 8);
    for (int i = 0; i < 4; ++i) manyTriangles.push_back(0xFF);
    manyTriangles.push_back(0);
    EXPECT_EQ(failure(manyTriangles), "Truncated MESH1-file: indices missing");

    // Data after the last group is not read.
    auto trailing = good;
    trailing.insert(trailing.end(), {1, 2, 3});
    EXPECT_EQ(parseMesh1(trailing.data(), trailing.size()).groups.size(), 2u);
}

TEST(Mesh1Test, EveryTruncationFailsCleanly) {
    std::vector<unsigned char> good = writeMesh1(twoGroups());
    for (size_t n = 0; n < good.size(); ++n) {
        std::vector<unsigned char> part(good.begin(), good.begin() + n);
        EXPECT_NE(failure(part), "(no failure)") << n;
    }
}

TEST(MeshLoadTest, LoadsWhiteVerticesCentreAndSharedMaterials) {
    DataDir dir;
    dir.write("plain.xml", std::string("<material/>"));
    Mesh1File file;
    file.vertices = {vertex(0, 0, 0), vertex(4, 0, 0), vertex(0, 8, 2), vertex(4, 8, 2)};
    file.groups = {{"plain.xml", {0, 1, 2}}, {"plain.xml", {1, 3, 2}}, {"plain.xml", {}}};
    dir.writeMesh("box.mesh", file);
    Mesh1File empty;
    dir.writeMesh("empty.mesh", empty);

    MeshCache cache;
    Mesh* mesh = cache.get("box.mesh");
    ASSERT_EQ(mesh->vertices.size(), 4u);
    for (const MeshVertex& v : mesh->vertices) EXPECT_EQ(v.color, 0xFFFFFFFFu);
    EXPECT_EQ(mesh->vertices[2].y, 8.0f);
    EXPECT_FLOAT_EQ(mesh->centre[0], 2.0f);
    EXPECT_FLOAT_EQ(mesh->centre[1], 4.0f);
    EXPECT_FLOAT_EQ(mesh->centre[2], 1.0f);
    ASSERT_EQ(mesh->groups.size(), 3u);
    EXPECT_NE(mesh->groups[0].material, nullptr);
    EXPECT_EQ(mesh->groups[0].material, mesh->groups[1].material);
    EXPECT_EQ(MaterialCache::sharedCount(mesh->groups[0].material), 3);
    EXPECT_EQ(mesh->vertexBuffer, nullptr);

    Mesh* none = cache.get("empty.mesh");
    EXPECT_TRUE(none->vertices.empty());
    EXPECT_TRUE(none->groups.empty());
    EXPECT_EQ(none->centre[0], 0.0f);
    none->draw();  // nothing to draw: no device needed, no buffers made
    EXPECT_EQ(none->vertexBuffer, nullptr);
}

TEST(MeshLoadTest, FailuresAreWrappedOnceByTheCache) {
    DataDir dir;
    dir.write("notmesh.mesh", std::string("MESH2\0\0\0\0", 9));
    dir.writeMesh("orphan.mesh", quadMesh("missing.xml"));
    dir.write("tex.xml", std::string("<m><texture file='nofile.png'/></m>"));
    dir.writeMesh("textured.mesh", quadMesh("tex.xml"));
    std::vector<unsigned char> cutMesh = writeMesh1(quadMesh("tex.xml"));
    cutMesh.resize(cutMesh.size() - 3);
    dir.write("cut.mesh", cutMesh);

    MeshCache cache;
    auto text = [&](const char* name) {
        try {
            cache.get(name);
        } catch (const std::string& e) {
            return e;
        }
        return std::string("(no failure)");
    };
    EXPECT_EQ(text("gone.mesh"), "Failed to load gone.mesh\nFile not found");
    EXPECT_EQ(text("notmesh.mesh"), "Failed to load notmesh.mesh\nNot a MESH1-file");
    EXPECT_EQ(text("orphan.mesh"), "Failed to load orphan.mesh\nFailed to load missing.xml\nFile not found");
    EXPECT_EQ(text("textured.mesh"),
              "Failed to load textured.mesh\nFailed to load tex.xml\nFailed to load nofile.png\n"
              "file not found: nofile.png");
    EXPECT_EQ(text("cut.mesh"), "Failed to load cut.mesh\nTruncated MESH1-file: indices missing");
}

}  // namespace
