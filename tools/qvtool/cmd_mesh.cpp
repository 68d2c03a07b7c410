// qvtool mesh: bring meshes in from modelling tools (Wavefront OBJ to MESH1) and describe MESH1 files.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "authoring/obj_import.h"
#include "mesh/mesh_file.h"

extern const char* const qvtool_mesh_summary =
    "convert Wavefront OBJ to MESH1 (from-obj), describe a MESH1 file (info)";

namespace {

int usage(FILE* out) {
    std::fprintf(
        out,
        "usage: qvtool mesh from-obj IN.obj OUT.mesh [--material NAME]\n"
        "       qvtool mesh info FILE\n"
        "\n"
        "from-obj  triangulates the polygons and writes one group per `usemtl` NAME, where NAME is the\n"
        "          file name of a material file (faces before any `usemtl` use --material, default\n"
        "          \"default.xml\"); normals and texture coordinates are carried over, flat normals are\n"
        "          computed where a face has none. The right-handed OBJ becomes left-handed: z is negated,\n"
        "          the winding reversed and v flipped (v = 1 - v).\n"
        "info      prints the vertex and group counts, bounds, centre and the materials named.\n");
    return out == stdout ? 0 : 2;
}

bool readFile(const char* path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

int fromObj(int argc, char** argv) {
    const char* in = nullptr;
    const char* out = nullptr;
    std::string material = "default.xml";
    for (int i = 2; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--material")) {
            if (++i >= argc) return usage(stderr);
            material = argv[i];
        } else if (!in) {
            in = argv[i];
        } else if (!out) {
            out = argv[i];
        } else {
            return usage(stderr);
        }
    }
    if (!in || !out) return usage(stderr);

    std::string text;
    if (!readFile(in, text)) {
        std::fprintf(stderr, "qvtool mesh: cannot read %s\n", in);
        return 1;
    }
    Mesh1File mesh;
    try {
        mesh = importObj(text, material);
    } catch (const std::string& e) {
        std::fprintf(stderr, "qvtool mesh: %s: %s\n", in, e.c_str());
        return 1;
    }
    // A file with no face is no model (a picture or another format given by mistake): no empty mesh.
    if (mesh.groups.empty()) {
        std::fprintf(stderr, "qvtool mesh: %s: no faces (f lines) in it: not a Wavefront OBJ model\n", in);
        return 1;
    }
    std::vector<unsigned char> bytes = writeMesh1(mesh);
    std::ofstream file(out, std::ios::binary);
    if (!file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size())) ||
        !file.flush()) {
        std::fprintf(stderr, "qvtool mesh: cannot write %s\n", out);
        return 1;
    }
    size_t triangles = 0;
    for (const Mesh1Group& g : mesh.groups) triangles += g.indices.size() / 3;
    std::printf("%s: %zu vertices, %zu triangle%s in %zu group%s\n", out, mesh.vertices.size(), triangles,
                triangles == 1 ? "" : "s", mesh.groups.size(), mesh.groups.size() == 1 ? "" : "s");
    // The usemtl names are the material files the production will look for.
    std::string names;
    for (const Mesh1Group& g : mesh.groups)
        if (names.find(" " + g.material + ",") == std::string::npos) names += " " + g.material + ",";
    names.pop_back();
    std::printf("material files it names (each one goes in data/):%s\n", names.c_str());
    return 0;
}

int info(int argc, char** argv) {
    if (argc != 3) return usage(stderr);
    std::string bytes;
    if (!readFile(argv[2], bytes)) {
        std::fprintf(stderr, "qvtool mesh: cannot read %s\n", argv[2]);
        return 1;
    }
    Mesh1File mesh;
    try {
        mesh = parseMesh1(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    } catch (const std::string& e) {
        std::fprintf(stderr, "qvtool mesh: %s: %s\n", argv[2], e.c_str());
        return 1;
    }
    std::printf("vertices %zu\ngroups %zu\n", mesh.vertices.size(), mesh.groups.size());
    if (!mesh.vertices.empty()) {
        float lo[3], hi[3];
        double sum[3] = {0, 0, 0};
        for (int k = 0; k < 3; ++k) lo[k] = std::numeric_limits<float>::infinity(), hi[k] = -lo[k];
        for (const MeshVertex& v : mesh.vertices) {
            const float p[3] = {v.x, v.y, v.z};
            for (int k = 0; k < 3; ++k) {
                lo[k] = std::min(lo[k], p[k]);
                hi[k] = std::max(hi[k], p[k]);
                sum[k] += p[k];
            }
        }
        double n = double(mesh.vertices.size());
        std::printf("bounds %g %g %g .. %g %g %g\n", lo[0], lo[1], lo[2], hi[0], hi[1], hi[2]);
        std::printf("centre %g %g %g\n", sum[0] / n, sum[1] / n, sum[2] / n);
    }
    std::vector<std::string> named;
    for (size_t i = 0; i < mesh.groups.size(); ++i) {
        const Mesh1Group& g = mesh.groups[i];
        std::printf("group %zu: %zu triangles, material \"%s\"\n", i, g.indices.size() / 3,
                    g.material.c_str());
        if (std::find(named.begin(), named.end(), g.material) == named.end()) named.push_back(g.material);
    }
    std::printf("materials");
    for (const std::string& m : named) std::printf(" %s", m.c_str());
    std::printf("\n");
    return 0;
}

}  // namespace

int qvtool_mesh(int argc, char** argv) {
    if (argc < 2) return usage(stderr);
    if (!std::strcmp(argv[1], "from-obj")) return fromObj(argc, argv);
    if (!std::strcmp(argv[1], "info")) return info(argc, argv);
    if (!std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help")) return usage(stdout);
    return usage(stderr);
}
