// Scene loader on arbitrary text, with every node's world matrix computed. Meshes resolve without
// touching the disk: names starting with "x" fail, others load as empty meshes.
//
// Cap, for throughput: inputs of at most kMaxInput bytes (the options file gives libFuzzer the same
// -max_len).
#include <cstddef>
#include <cstdint>
#include <string>

#include "mesh/mesh.h"
#include "mesh/mesh_cache.h"
#include "scene/scene_loader.h"

namespace {

constexpr size_t kMaxInput = 16384;

class FakeMeshes : public MeshCache {
protected:
    Mesh* load(std::string name) override {
        if (!name.empty() && name[0] == 'x') throw std::string("File not found");
        return new Mesh;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxInput) return 0;
    std::string text(reinterpret_cast<const char*>(data), size);
    FakeMeshes meshes;
    DiagnosticList found;  // the check runs on the same text; collected, not printed
    try {
        Scene* scene = parseScene(text.c_str(), meshes, "fuzz.scene", found);
        volatile float sink = 0;
        for (MeshObject* o : scene->objects) sink = sink + (o->pivot * o->worldMatrix()).m[3][0];
        for (Light* l : scene->lights) sink = sink + l->worldMatrix().m[3][1];
        delete scene;
    } catch (const std::string&) {
    }
    return 0;
}
