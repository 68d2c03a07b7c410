#include "mesh/mesh_file.h"

#include <cstring>

namespace {

// Bounded little-endian reader: every read is checked against the bytes left.
class Reader {
public:
    Reader(const unsigned char* data, size_t size) : data_(data), size_(size) {}

    size_t left() const { return size_ - pos_; }

    bool u32(uint32_t& out) {
        if (left() < 4) return false;
        const unsigned char* p = data_ + pos_;
        out = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        pos_ += 4;
        return true;
    }
    float f32() {
        uint32_t bits = 0;
        u32(bits);
        float f;
        std::memcpy(&f, &bits, 4);
        return f;
    }
    uint16_t u16() {
        const unsigned char* p = data_ + pos_;
        pos_ += 2;
        return uint16_t(p[0] | p[1] << 8);
    }
    bool string(std::string& out) {
        const void* end = std::memchr(data_ + pos_, 0, left());
        if (!end) return false;
        size_t n = static_cast<const unsigned char*>(end) - (data_ + pos_);
        out.assign(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n + 1;
        return true;
    }
    bool magic(const char* m, size_t n) {
        if (left() < n || std::memcmp(data_ + pos_, m, n) != 0) return false;
        pos_ += n;
        return true;
    }

private:
    const unsigned char* data_;
    size_t size_;
    size_t pos_ = 0;
};

[[noreturn]] void truncated(const char* what) {
    throw std::string("Truncated MESH1-file: ") + what;
}

void putU32(std::vector<unsigned char>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
void putF32(std::vector<unsigned char>& out, float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    putU32(out, bits);
}

}  // namespace

Mesh1File parseMesh1(const unsigned char* data, size_t size) {
    Reader r(data, size);
    if (!r.magic("MESH1", 5)) throw std::string("Not a MESH1-file");

    Mesh1File mesh;
    uint32_t vertexCount;
    if (!r.u32(vertexCount)) truncated("no vertex count");
    if (vertexCount > r.left() / kMesh1VertexSize) truncated("vertices missing");
    mesh.vertices.resize(vertexCount);
    for (MeshVertex& v : mesh.vertices) {
        v.x = r.f32(), v.y = r.f32(), v.z = r.f32();
        v.nx = r.f32(), v.ny = r.f32(), v.nz = r.f32();
        r.u32(v.color);
        v.u = r.f32(), v.v = r.f32();
    }

    uint32_t groupCount;
    if (!r.u32(groupCount)) truncated("no group count");
    // A group takes at least 5 bytes: an empty name's terminator and its triangle count.
    if (groupCount > r.left() / 5) truncated("groups missing");
    mesh.groups.resize(groupCount);
    for (uint32_t g = 0; g < groupCount; ++g) {
        Mesh1Group& group = mesh.groups[g];
        if (!r.string(group.material)) truncated("material name not terminated");
        uint32_t triangles;
        if (!r.u32(triangles)) truncated("no triangle count");
        if (triangles > r.left() / 6) truncated("indices missing");
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
    putU32(out, static_cast<uint32_t>(mesh.vertices.size()));
    for (const MeshVertex& v : mesh.vertices) {
        for (float f : {v.x, v.y, v.z, v.nx, v.ny, v.nz}) putF32(out, f);
        putU32(out, v.color);
        putF32(out, v.u);
        putF32(out, v.v);
    }
    putU32(out, static_cast<uint32_t>(mesh.groups.size()));
    for (const Mesh1Group& g : mesh.groups) {
        out.insert(out.end(), g.material.begin(), g.material.end());
        out.push_back(0);
        putU32(out, static_cast<uint32_t>(g.indices.size() / 3));
        for (size_t i = 0; i < g.indices.size() / 3 * 3; ++i) {
            out.push_back(static_cast<unsigned char>(g.indices[i]));
            out.push_back(static_cast<unsigned char>(g.indices[i] >> 8));
        }
    }
    return out;
}
