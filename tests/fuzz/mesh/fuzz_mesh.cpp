// MESH1 loader on arbitrary bytes. Materials resolve without touching the disk: names starting with
// "x" fail, others load as default materials, so both paths of the group loop are exercised.
//
// Cap, for throughput: inputs of at most kMaxInput bytes (the options file gives libFuzzer the same
// -max_len).
#include <cstddef>
#include <cstdint>
#include <string>

#include "mesh/mesh.h"
#include "mesh/mesh_cache.h"

namespace {

constexpr size_t kMaxInput = 16384;

class FakeMaterials : public MaterialCache {
protected:
    Material* load(std::string name) override {
        if (!name.empty() && name[0] == 'x') throw std::string("no such material");
        return new Material;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxInput) return 0;
    FakeMaterials materials;
    try {
        Mesh* mesh = readMesh(data, size, materials);
        for (const MeshGroup& g : mesh->groups)
            for (uint16_t i : g.indices)
                if (i >= mesh->vertices.size()) __builtin_trap();  // an index that would reach the draw
        delete mesh;
    } catch (const std::string&) {
    }
    return 0;
}
