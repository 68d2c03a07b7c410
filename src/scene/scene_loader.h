#pragma once
// The scene file: XML describing mesh objects and lights, each placed by position, rotation
// (quaternion) and scale relative to its parent, plus the scene's ambient colour.
#include <string>
#include <vector>

#include "resources/diagnostics.h"
#include "resources/xml_vocabulary.h"
#include "scene/scene.h"

class MeshCache;
class TiXmlElement;
class TiXmlNode;

// The scene cache's loader. Throws "File not found", "line N: description" for broken XML or a text
// without a root element (see xml_text.h), or the mesh cache's text for a mesh that cannot be loaded.
// Nodes it creates belong to the scene. What it reads past (unknown elements and attributes, numbers
// that are not numbers, transforms directly under the root) goes to `out` as warnings naming the file
// and line.
Scene* loadScene(const std::string& name, MeshCache& meshes, Diagnostics& out = loadWarnings());

// The same from a zero-terminated text already in memory; `file` names it in the warnings.
Scene* parseScene(const char* text, MeshCache& meshes, const std::string& file = "scene",
                  Diagnostics& out = loadWarnings());

// The mesh objects of a scene file in the loader's order (the order of Scene::objects), each with its
// mesh file name (empty for none) and line.
struct SceneOutline {
    std::vector<XmlReference> objects;
};

// What the loader checks in a parsed scene document (warnings only: nothing in a scene's vocabulary
// fails its load); fills `outline` when given.
void checkSceneDocument(const TiXmlElement* root, const std::string& file, Diagnostics& out,
                        SceneOutline* outline);

// The steps of the loader, one element each; parent is none at the root.
void parseChildren(Scene& scene, const TiXmlElement* element, SceneNode* parent, MeshCache& meshes);
void parseObject(Scene& scene, const TiXmlNode* node, SceneNode* parent, MeshCache& meshes);
void parseLight(Scene& scene, const TiXmlNode* node, SceneNode* parent, MeshCache& meshes);
void parseTransform(const TiXmlElement* element, Transform& transform);
