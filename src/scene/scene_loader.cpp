#include "scene/scene_loader.h"

#include <tinyxml.h>

#include <cstdlib>
#include <memory>

#include "data/memfile.h"
#include "mesh/mesh_cache.h"
#include "resources/material.h"
#include "resources/xml_text.h"
#include "resources/xml_vocabulary.h"

namespace {

float floatAttribute(const TiXmlElement* e, const char* name, float fallback) {
    const char* v = e->Attribute(name);
    return v ? static_cast<float>(std::atof(v)) : fallback;
}

bool named(const TiXmlNode* node, const char* name) {
    return std::string(node->Value()) == name;
}

const char* const kNone[] = {nullptr};
const char* const kXyz[] = {"x", "y", "z", nullptr};
const char* const kXyzw[] = {"x", "y", "z", "w", nullptr};
const char* const kColour[] = {"r", "g", "b", "a", nullptr};
const char* const kMesh[] = {"mesh", nullptr};
const char* const kRootElements[] = {"object", "light", "ambient", nullptr};
const char* const kObjectElements[] = {"position", "rotation", "scale", "object", "light", "pivot", nullptr};
const char* const kLightElements[] = {"position", "rotation", "scale",    "object", "light",
                                      "diffuse",  "ambient",  "specular", nullptr};
const char* const kPivotElements[] = {"position", "rotation", "scale", nullptr};

bool transformElement(const TiXmlElement* e) {
    return named(e, "position") || named(e, "rotation") || named(e, "scale");
}

void checkTransformElement(const TiXmlElement* e, const std::string& file, Diagnostics& out) {
    checkXmlAttributes(e, {named(e, "rotation") ? kXyzw : kXyz, kNone}, file, out);
}

// The children of the root (parent none), of an object, of a light or of a pivot, as the loader reads
// them; objects are counted in the loader's order (pre-order).
void checkChildren(const TiXmlElement* element, const char* kind, const std::string& file, Diagnostics& out,
                   SceneOutline* outline) {
    const std::string k = kind;
    for (const TiXmlNode* n = element->FirstChild(); n; n = n->NextSibling()) {
        const TiXmlElement* e = n->ToElement();
        if (!e) continue;
        if (k != "pivot" && named(e, "object")) {
            checkXmlAttributes(e, {kNone, kMesh}, file, out);
            if (outline) {
                const char* mesh = e->Attribute("mesh");
                outline->objects.push_back({mesh ? mesh : "", e->Row()});
            }
            checkChildren(e, "object", file, out, outline);
        } else if (k != "pivot" && named(e, "light")) {
            checkXmlAttributes(e, {kNone, kNone}, file, out);
            checkChildren(e, "light", file, out, outline);
        } else if (transformElement(e)) {
            if (k == "root")
                out.warning(file, e->Row(),
                            "<" + std::string(e->Value()) +
                                "> directly under the root is ignored: only objects and lights are placed");
            else
                checkTransformElement(e, file, out);
        } else if (k == "root" && named(e, "ambient")) {
            checkXmlAttributes(e, {kColour, kNone}, file, out);
        } else if (k == "object" && named(e, "pivot")) {
            checkXmlAttributes(e, {kNone, kNone}, file, out);
            checkChildren(e, "pivot", file, out, outline);
        } else if (k == "light" && (named(e, "diffuse") || named(e, "ambient") || named(e, "specular"))) {
            checkXmlAttributes(e, {kColour, kNone}, file, out);
        } else {
            reportUnknownXmlElement(e,
                                    k == "root"     ? kRootElements
                                    : k == "object" ? kObjectElements
                                    : k == "light"  ? kLightElements
                                                    : kPivotElements,
                                    file, out);
        }
    }
}

}  // namespace

void checkSceneDocument(const TiXmlElement* root, const std::string& file, Diagnostics& out,
                        SceneOutline* outline) {
    checkChildren(root, "root", file, out, outline);
}

void parseTransform(const TiXmlElement* element, Transform& t) {
    for (const TiXmlNode* n = element->FirstChild(); n; n = n->NextSibling()) {
        const TiXmlElement* e = n->ToElement();
        if (!e) continue;
        if (named(e, "position")) {
            t.position = {floatAttribute(e, "x", 0), floatAttribute(e, "y", 0), floatAttribute(e, "z", 0)};
        } else if (named(e, "rotation")) {
            Quaternion q{floatAttribute(e, "x", 0), floatAttribute(e, "y", 0), floatAttribute(e, "z", 0),
                         floatAttribute(e, "w", 1)};
            if (q.w < 0) q = {-q.x, -q.y, -q.z, -q.w};
            t.rotation = q;
        } else if (named(e, "scale")) {
            t.scale = {floatAttribute(e, "x", 1), floatAttribute(e, "y", 1), floatAttribute(e, "z", 1)};
        }
    }
}

void parseChildren(Scene& scene, const TiXmlElement* element, SceneNode* parent, MeshCache& meshes) {
    if (parent) parseTransform(element, parent->transform);
    for (const TiXmlNode* n = element->FirstChild(); n; n = n->NextSibling()) {
        if (!n->ToElement()) continue;
        if (named(n, "object"))
            parseObject(scene, n, parent, meshes);
        else if (named(n, "light"))
            parseLight(scene, n, parent, meshes);
        else if (named(n, "ambient") && !parent)
            parseRgba(n, scene.ambient);
    }
}

void parseObject(Scene& scene, const TiXmlNode* node, SceneNode* parent, MeshCache& meshes) {
    const TiXmlElement* e = node->ToElement();
    if (!e) return;
    Mesh* mesh = nullptr;
    const char* meshName = e->Attribute("mesh");
    if (meshName && *meshName) mesh = meshes.get(meshName);

    auto owned = std::make_unique<MeshObject>(mesh, parent);
    MeshObject* object = owned.get();
    scene.own(std::move(owned));
    scene.addObject(object);

    const TiXmlElement* pivot = nullptr;
    for (const TiXmlNode* n = e->FirstChild(); n; n = n->NextSibling())
        if (n->ToElement() && named(n, "pivot")) pivot = n->ToElement();
    if (pivot) {
        Transform t;
        parseTransform(pivot, t);
        object->pivot = transformMatrix(t);
    }
    parseChildren(scene, e, object, meshes);
}

void parseLight(Scene& scene, const TiXmlNode* node, SceneNode* parent, MeshCache& meshes) {
    const TiXmlElement* e = node->ToElement();
    if (!e) return;
    auto owned = std::make_unique<Light>(parent);
    Light* light = owned.get();
    scene.own(std::move(owned));
    scene.addLight(light);

    for (const TiXmlNode* n = e->FirstChild(); n; n = n->NextSibling()) {
        if (!n->ToElement()) continue;
        if (named(n, "diffuse"))
            parseRgba(n, light->diffuse);
        else if (named(n, "ambient"))
            parseRgba(n, light->ambient);
        else if (named(n, "specular"))
            parseRgba(n, light->specular);
    }
    parseChildren(scene, e, light, meshes);
}

Scene* parseScene(const char* text, MeshCache& meshes, const std::string& file, Diagnostics& out) {
    TiXmlDocument doc;
    xmlParseDocument(doc, text);
    if (const TiXmlElement* root = doc.RootElement()) checkSceneDocument(root, file, out, nullptr);
    auto scene = std::make_unique<Scene>();
    if (const TiXmlElement* root = doc.RootElement()) parseChildren(*scene, root, nullptr, meshes);
    return scene.release();
}

Scene* loadScene(const std::string& name, MeshCache& meshes, Diagnostics& out) {
    std::unique_ptr<MemoryFile, int (*)(MemoryFile*)> file(memfile_open(name.c_str()), memfile_close);
    if (!file) throw std::string("File not found");
    std::string text(reinterpret_cast<const char*>(file->data), file->length);
    file.reset();
    return parseScene(text.c_str(), meshes, name, out);
}
