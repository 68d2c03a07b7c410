#include "mesh/mesh_file.h"

#include "base/byte_reader.h"

namespace {

[[noreturn]] void truncated(const char* what) {
    throw std::string("Truncated MESH1-file: ") + what;
}

}  // namespace

Mesh1File parseMesh1(const unsigned char* data, size_t size) {
    ByteReader r(data, size);
    if (!r.magic("MESH1", 5)) throw std::string("Not a MESH1-file");

    Mesh1File mesh;
    uint32_t vertexCount = r.u32();
    if (!r.ok()) truncated("no vertex count");
    if (!r.fits(vertexCount, kMesh1VertexSize)) truncated("vertices missing");
    mesh.vertices.resize(vertexCount);
    for (MeshVertex& v : mesh.vertices) {
        v.x = r.f32(), v.y = r.f32(), v.z = r.f32();
        v.nx = r.f32(), v.ny = r.f32(), v.nz = r.f32();
        v.color = r.u32();
        v.u = r.f32(), v.v = r.f32();
    }

    uint32_t groupCount = r.u32();
    if (!r.ok()) truncated("no group count");
    // A group takes at least 5 bytes: an empty name's terminator and its triangle count.
    if (!r.fits(groupCount, 5)) truncated("groups missing");
    mesh.groups.resize(groupCount);
    for (uint32_t g = 0; g < groupCount; ++g) {
        Mesh1Group& group = mesh.groups[g];
        if (!r.cstring(group.material)) truncated("material name not terminated");
        uint32_t triangles = r.u32();
        if (!r.ok()) truncated("no triangle count");
        if (!r.fits(triangles, 6)) truncated("indices missing");
        group.indices.resize(size_t(triangles) * 3);
        for (uint16_t& index : group.indices) {
            index = r.u16();
            if (index >= vertexCount)
                throw "Vertex index " + std::to_string(index) + " out of range in group " +
                    std::to_string(g) + " (" + std::to_string(vertexCount) + " vertices)";
        }
    }
    return mesh;
}

std::vector<unsigned char> writeMesh1(const Mesh1File& mesh) {
    std::vector<unsigned char> out = {'M', 'E', 'S', 'H', '1'};
    ByteWriter w(out);
    w.u32(static_cast<uint32_t>(mesh.vertices.size()));
    for (const MeshVertex& v : mesh.vertices) {
        for (float f : {v.x, v.y, v.z, v.nx, v.ny, v.nz}) w.f32(f);
        w.u32(v.color);
        w.f32(v.u);
        w.f32(v.v);
    }
    w.u32(static_cast<uint32_t>(mesh.groups.size()));
    for (const Mesh1Group& g : mesh.groups) {
        w.bytes(g.material.data(), g.material.size());
        w.u8(0);
        w.u32(static_cast<uint32_t>(g.indices.size() / 3));
        for (size_t i = 0; i < g.indices.size() / 3 * 3; ++i) w.u16(g.indices[i]);
    }
    return out;
}
