#pragma once
// The scene file: XML describing mesh objects and lights, each placed by position, rotation
// (quaternion) and scale relative to its parent, plus the scene's ambient colour.
#include <string>

#include "scene/scene.h"

class MeshCache;
class TiXmlElement;
class TiXmlNode;

// The scene cache's loader. Throws "File not found", "line N: description" for broken XML or a text
// without a root element (see xml_text.h), or the mesh cache's text for a mesh that cannot be loaded.
// Nodes it creates belong to the scene.
Scene* loadScene(const std::string& name, MeshCache& meshes);

// The same from a zero-terminated text already in memory.
Scene* parseScene(const char* text, MeshCache& meshes);

// The steps of the loader, one element each; parent is none at the root.
void parseChildren(Scene& scene, const TiXmlElement* element, SceneNode* parent, MeshCache& meshes);
void parseObject(Scene& scene, const TiXmlNode* node, SceneNode* parent, MeshCache& meshes);
void parseLight(Scene& scene, const TiXmlNode* node, SceneNode* parent, MeshCache& meshes);
void parseTransform(const TiXmlElement* element, Transform& transform);
