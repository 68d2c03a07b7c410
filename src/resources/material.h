#pragma once
// Materials: lighting colours, specular strength and exponent, up to two textures (base and
// environment map) and the depth, culling and blending states of a mesh group. The colours are sent
// on every apply, so they can be animated; the states are recorded once into a state block on the
// first apply and reused from then on.
#include <string>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "resources/color.h"
#include "resources/diagnostics.h"
#include "resources/texture_source.h"

class TextureCache;
class TiXmlElement;
class TiXmlNode;
struct XmlReference;

class Material {
public:
    Material() = default;
    Material(const Material&) = delete;
    Material& operator=(const Material&) = delete;
    ~Material();  // releases the state block; the textures belong to the texture cache

    // Sets the material's colours (either half by its flag) and applies its recorded states.
    void apply(bool ambientEmissive, bool diffuseSpecular);
    // (Re)records the render, texture-stage and sampler states into stateBlock.
    void recordStates();
    // Exchanges everything with `other` (a reload moves a new version into the object the meshes point at).
    void swap(Material& other);

    ColorRGBA emissive = {0, 0, 0, 0};
    ColorRGBA ambient = {0.1f, 0.1f, 0.1f, 1.0f};
    ColorRGBA diffuse = {1, 1, 1, 1};
    ColorRGBA specular = {0, 0, 0, 0};
    float power = 1.0f;
    float shinyness = 0.0f;
    TextureSource* texture = nullptr;  // not owned
    TextureSource* envmap = nullptr;   // not owned
    D3DZBUFFERTYPE zbufferMode = D3DZB_TRUE;
    bool zwrite = true;
    D3DCULL cullMode = D3DCULL_CCW;
    D3DBLEND srcBlend = D3DBLEND_ONE;
    D3DBLEND dstBlend = D3DBLEND_ZERO;
    IDirect3DStateBlock9* stateBlock = nullptr;  // owned
};

// Reads "r", "g", "b", "a" of an element into out, 1.0 for each absent one; does nothing for a
// missing node or one that is not an element.
void parseRgba(const TiXmlNode* node, ColorRGBA& out);

// The material cache's loader: reads the material file through the data lookup. Throws
// "File not found", "line N: description" for broken XML or a text without a root element (see
// xml_text.h), "invalid zbuffer mode", "invalid cull mode", "invalid srcblend" or "invalid dstblend"
// followed by the value and the valid ones (' "CW" (valid: none, cw, ccw)'), or the texture cache's
// text. What it reads past (unknown elements and attributes, numbers that are not numbers) goes to
// `out` as warnings naming the file and line.
Material* loadMaterial(const std::string& name, TextureCache& textures, Diagnostics& out = loadWarnings());

// The same from a zero-terminated text already in memory; `file` names it in the warnings.
Material* parseMaterial(const char* text, TextureCache& textures, const std::string& file = "material",
                        Diagnostics& out = loadWarnings());

// What the loader checks in a parsed material document: warnings for what it reads past, errors for
// the values that fail the load. The texture files it names are appended to `textures` when given.
void checkMaterialDocument(const TiXmlElement* root, const std::string& file, Diagnostics& out,
                           std::vector<XmlReference>* textures);
