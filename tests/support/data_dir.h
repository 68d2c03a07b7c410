#pragma once
// Test data made at test time: a fresh temporary working directory with a "data" folder, entered for
// the lifetime of the object, into which tests write MESH1 files, materials, scenes and images.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mesh/mesh_file.h"
#include "scratch_dir.h"

class DataDir {
public:
    DataDir() : work_("qv-data") { std::filesystem::create_directory(work_.path() / "data"); }

    std::filesystem::path path(const std::string& name) const { return work_.path() / "data" / name; }

    void write(const std::string& name, const std::string& bytes) const {
        std::ofstream(path(name), std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    }
    void write(const std::string& name, const std::vector<unsigned char>& bytes) const {
        write(name, std::string(bytes.begin(), bytes.end()));
    }
    void writeMesh(const std::string& name, const Mesh1File& mesh) const { write(name, writeMesh1(mesh)); }

private:
    qvtest::WorkDir work_;
};

// A vertex at (x, y, z) with normal n, colour c and texture coordinates u, v.
inline MeshVertex vertex(float x, float y, float z, float nx = 0, float ny = 0, float nz = -1, float u = 0,
                         float v = 0, uint32_t c = 0x12345678) {
    return MeshVertex{x, y, z, nx, ny, nz, c, u, v};
}

// A quad of two triangles from (x0, y0) to (x1, y1) at depth z facing -z, drawn clockwise on screen
// under a camera looking along +z; one group with `material`.
inline Mesh1File quadMesh(const std::string& material, float x0 = -1, float y0 = -1, float x1 = 1,
                          float y1 = 1, float z = 0) {
    Mesh1File m;
    m.vertices = {vertex(x0, y1, z, 0, 0, -1, 0, 0), vertex(x1, y1, z, 0, 0, -1, 1, 0),
                  vertex(x1, y0, z, 0, 0, -1, 1, 1), vertex(x0, y0, z, 0, 0, -1, 0, 1)};
    m.groups = {{material, {0, 1, 2, 0, 2, 3}}};
    return m;
}
