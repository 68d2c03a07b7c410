#include "authoring/obj_import.h"

#include <tiny_obj_loader.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <sstream>
#include <tuple>

namespace {

// Every distinct `usemtl` name, in order of appearance.
std::vector<std::string> usedMaterials(const std::string& text) {
    std::vector<std::string> names;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string keyword, name;
        if (words >> keyword && keyword == "usemtl" && words >> name &&
            std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    }
    return names;
}

// Material names are file names of the system's own material files, not .mtl entries: whatever
// "mtllib" says, every `usemtl` name is known, with material id = its index in `names`.
class NamesOnly : public tinyobj::MaterialReader {
public:
    explicit NamesOnly(const std::vector<std::string>& names) : names_(names) {}
    bool operator()(const std::string&, std::vector<tinyobj::material_t>* materials,
                    std::map<std::string, int>* map, std::string*, std::string*) override {
        if (materials->empty())
            for (const std::string& n : names_) {
                (*map)[n] = int(materials->size());
                tinyobj::material_t m = tinyobj::material_t();  // zeroed: the texture options hold enums
                m.name = n;
                materials->push_back(m);
            }
        return true;
    }

private:
    const std::vector<std::string>& names_;
};

struct P3 {
    float x, y, z;
};

P3 sub(P3 a, P3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

}  // namespace

Mesh1File importObj(const std::string& objText, const std::string& defaultMaterial) {
    std::vector<std::string> names = usedMaterials(objText);
    NamesOnly reader(names);
    std::istringstream in("mtllib materials\n" + objText);
    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    std::vector<tinyobj::material_t> materials;
    std::string warn, err;
    if (!tinyobj::LoadObj(&attrib, &shapes, &materials, &warn, &err, &in, &reader, true, false))
        throw "cannot read OBJ: " + (err.empty() ? std::string("unknown error") : err);

    const size_t positions = attrib.vertices.size() / 3, normals = attrib.normals.size() / 3,
                 texcoords = attrib.texcoords.size() / 2;

    Mesh1File mesh;
    std::map<int, size_t> groupOf;  // material id (-1: none) -> group index
    // One MESH1 vertex per distinct (position, normal, texcoord, flat normal) combination.
    std::map<std::tuple<int, int, int, float, float, float>, uint16_t> vertexOf;

    for (const tinyobj::shape_t& shape : shapes) {
        const auto& idx = shape.mesh.indices;
        size_t offset = 0;
        for (size_t f = 0; f < shape.mesh.num_face_vertices.size(); ++f) {
            size_t n = shape.mesh.num_face_vertices[f];
            if (n != 3 || offset + 3 > idx.size()) {
                offset += n;
                continue;  // points, lines and anything the triangulation left over
            }
            tinyobj::index_t corner[3] = {idx[offset], idx[offset + 2], idx[offset + 1]};  // winding reversed
            offset += 3;

            P3 p[3];
            for (int k = 0; k < 3; ++k) {
                int v = corner[k].vertex_index;
                if (v < 0 || size_t(v) >= positions) throw std::string("OBJ face refers to a missing vertex");
                p[k] = {attrib.vertices[3 * v], attrib.vertices[3 * v + 1], -attrib.vertices[3 * v + 2]};
            }
            // Flat normal of the converted triangle (clockwise front faces).
            P3 e1 = sub(p[1], p[0]), e2 = sub(p[2], p[0]);
            P3 fn = {e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x};
            float len = std::sqrt(fn.x * fn.x + fn.y * fn.y + fn.z * fn.z);
            fn = len > 0 ? P3{fn.x / len, fn.y / len, fn.z / len} : P3{0, 0, 0};

            int material = f < shape.mesh.material_ids.size() ? shape.mesh.material_ids[f] : -1;
            if (material >= int(names.size())) material = -1;
            auto g = groupOf.find(material);
            if (g == groupOf.end()) {
                g = groupOf.emplace(material, mesh.groups.size()).first;
                mesh.groups.push_back({material < 0 ? defaultMaterial : names[size_t(material)], {}});
            }

            for (int k = 0; k < 3; ++k) {
                int ni = corner[k].normal_index, ti = corner[k].texcoord_index;
                if (ni >= 0 && size_t(ni) >= normals)
                    throw std::string("OBJ face refers to a missing normal");
                if (ti >= 0 && size_t(ti) >= texcoords)
                    throw std::string("OBJ face refers to a missing texture coordinate");
                auto key = ni >= 0 ? std::make_tuple(corner[k].vertex_index, ni, ti, 0.f, 0.f, 0.f)
                                   : std::make_tuple(corner[k].vertex_index, -1, ti, fn.x, fn.y, fn.z);
                auto it = vertexOf.find(key);
                if (it == vertexOf.end()) {
                    if (mesh.vertices.size() >= 65536)
                        throw std::string("too many vertices for MESH1 (at most 65536)");
                    MeshVertex v{p[k].x, p[k].y, p[k].z, fn.x, fn.y, fn.z, kMesh1White, 0, 0};
                    if (ni >= 0) {
                        v.nx = attrib.normals[3 * ni];
                        v.ny = attrib.normals[3 * ni + 1];
                        v.nz = -attrib.normals[3 * ni + 2];
                    }
                    if (ti >= 0) {
                        v.u = attrib.texcoords[2 * ti];
                        v.v = 1.0f - attrib.texcoords[2 * ti + 1];
                    }
                    it = vertexOf.emplace(key, uint16_t(mesh.vertices.size())).first;
                    mesh.vertices.push_back(v);
                }
                mesh.groups[g->second].indices.push_back(it->second);
            }
        }
    }
    return mesh;
}
