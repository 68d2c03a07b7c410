#pragma once
// Meshes by file name; their materials come from the member material cache, which gives up its
// references (and its textures') before the meshes go.
#include "mesh/mesh.h"
#include "resources/material_cache.h"
#include "resources/resource_cache.h"

class MeshCache : public SwappingCache<Mesh> {
public:
    MaterialCache materials;

protected:
    Mesh* load(std::string name) override { return loadMesh(name, materials); }
};
