// Material loader on arbitrary text. Textures resolve without touching the disk or a device: names
// starting with "x" fail, others become empty texture sources.
#include <cstddef>
#include <cstdint>
#include <string>

#include "resources/material.h"
#include "resources/texture_cache.h"

namespace {

class FakeTextures : public TextureCache {
protected:
    TextureSource* load(std::string name) override {
        if (!name.empty() && name[0] == 'x') throw std::string("file not found: " + name);
        return new TextureSource;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    FakeTextures textures;
    try {
        delete parseMaterial(text.c_str(), textures);
    } catch (const std::string&) {
    }
    return 0;
}
