#pragma once
// Materials by file name; the textures they name come from the member texture cache, which gives up
// its references before the materials go.
#include "resources/material.h"
#include "resources/resource_cache.h"
#include "resources/texture_cache.h"

class MaterialCache : public SwappingCache<Material> {
public:
    TextureCache textures;

protected:
    Material* load(std::string name) override { return loadMaterial(name, textures); }
};
