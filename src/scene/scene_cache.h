#pragma once
// Scenes by file name; their meshes come from the member mesh cache, which gives up its references
// (and in turn its materials' and textures') before the scenes go.
#include "mesh/mesh_cache.h"
#include "resources/resource_cache.h"
#include "scene/scene.h"
#include "scene/scene_loader.h"

class SceneCache : public SwappingCache<Scene> {
public:
    MeshCache meshes;

protected:
    Scene* load(std::string name) override { return loadScene(name, meshes); }
};
