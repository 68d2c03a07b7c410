#include "resources/material.h"

#include <tinyxml.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "data/memfile.h"
#include "resources/device.h"
#include "resources/texture_cache.h"
#include "resources/xml_text.h"
#include "resources/xml_vocabulary.h"

namespace {

const char* attribute(const TiXmlElement* e, const char* name) {
    return e->Attribute(name);
}

float floatAttribute(const TiXmlElement* e, const char* name, float fallback) {
    const char* v = attribute(e, name);
    return v ? static_cast<float>(std::atof(v)) : fallback;
}

const char* const kZbufferModes[] = {"false", "true", "usew", nullptr};
const char* const kCullModes[] = {"none", "cw", "ccw", nullptr};
const char* const kTrueFalse[] = {"true", "false", nullptr};
// In the order of their D3DBLEND values, from D3DBLEND_ZERO (1) on.
const char* const kBlendNames[] = {
    "zero",        "one",          "srccolor",        "invsrccolor", "srcalpha",
    "invsrcalpha", "destalpha",    "invdestalpha",    "destcolor",   "invdestcolor",
    "srcalphasat", "bothsrcalpha", "bothinvsrcalpha", "blendfactor", "invblendfactor",
    nullptr};

bool blendByName(const char* name, D3DBLEND& out) {
    for (int i = 0; kBlendNames[i]; ++i)
        if (!std::strcmp(name, kBlendNames[i])) {
            out = static_cast<D3DBLEND>(D3DBLEND_ZERO + i);
            return true;
        }
    return false;
}

const char* const kColour[] = {"r", "g", "b", "a", nullptr};
const char* const kSpecularNumbers[] = {"r", "g", "b", "a", "shinyness", "power", nullptr};
const char* const kNone[] = {nullptr};
const char* const kZbuffer[] = {"mode", "test", nullptr};
const char* const kCull[] = {"mode", nullptr};
const char* const kBlend[] = {"srcblend", "dstblend", nullptr};
const char* const kFile[] = {"file", nullptr};
const char* const kElements[] = {"emissive", "ambient", "diffuse", "specular", "zbuffer",
                                 "cull",     "blend",   "texture", "envmap",   nullptr};

// An enumerated attribute's value outside its list: the load fails with this text.
void checkChoice(const TiXmlElement* e, const char* attributeName, const char* what, const char* const* valid,
                 const std::string& file, Diagnostics& out) {
    if (const char* v = e->Attribute(attributeName))
        if (!oneOf(v, valid)) out.error(file, e->Row(), invalidChoiceText(what, v, valid));
}

void parseElement(const TiXmlElement* e, Material& m, TextureCache& textures) {
    const std::string name = e->Value();
    if (name == "emissive") {
        parseRgba(e, m.emissive);
    } else if (name == "ambient") {
        parseRgba(e, m.ambient);
    } else if (name == "diffuse") {
        parseRgba(e, m.diffuse);
    } else if (name == "specular") {
        parseRgba(e, m.specular);
        m.shinyness = floatAttribute(e, "shinyness", 0.0f);
        m.power = floatAttribute(e, "power", 1.0f);
    } else if (name == "zbuffer") {
        if (const char* mode = attribute(e, "mode")) {
            if (!std::strcmp(mode, "false"))
                m.zbufferMode = D3DZB_FALSE;
            else if (!std::strcmp(mode, "true"))
                m.zbufferMode = D3DZB_TRUE;
            else if (!std::strcmp(mode, "usew"))
                m.zbufferMode = D3DZB_USEW;
            else
                throw invalidChoiceText("invalid zbuffer mode", mode, kZbufferModes);
        }
        const char* test = attribute(e, "test");
        m.zwrite = !(test && !std::strcmp(test, "false"));
    } else if (name == "cull") {
        if (const char* mode = attribute(e, "mode")) {
            if (!std::strcmp(mode, "none"))
                m.cullMode = D3DCULL_NONE;
            else if (!std::strcmp(mode, "cw"))
                m.cullMode = D3DCULL_CW;
            else if (!std::strcmp(mode, "ccw"))
                m.cullMode = D3DCULL_CCW;
            else
                throw invalidChoiceText("invalid cull mode", mode, kCullModes);
        }
    } else if (name == "blend") {
        if (const char* src = attribute(e, "srcblend"))
            if (!blendByName(src, m.srcBlend)) throw invalidChoiceText("invalid srcblend", src, kBlendNames);
        if (const char* dst = attribute(e, "dstblend"))
            if (!blendByName(dst, m.dstBlend)) throw invalidChoiceText("invalid dstblend", dst, kBlendNames);
    } else if (name == "texture") {
        if (const char* file = attribute(e, "file")) m.texture = textures.get(file);
    } else if (name == "envmap") {
        if (const char* file = attribute(e, "file")) m.envmap = textures.get(file);
    }
}

}  // namespace

void checkMaterialDocument(const TiXmlElement* root, const std::string& file, Diagnostics& out,
                           std::vector<XmlReference>* textures) {
    for (const TiXmlNode* child = root->FirstChild(); child; child = child->NextSibling()) {
        const TiXmlElement* e = child->ToElement();
        if (!e) continue;
        const std::string name = e->Value();
        if (name == "emissive" || name == "ambient" || name == "diffuse") {
            checkXmlAttributes(e, {kColour, kNone}, file, out);
        } else if (name == "specular") {
            checkXmlAttributes(e, {kSpecularNumbers, kNone}, file, out);
        } else if (name == "zbuffer") {
            checkXmlAttributes(e, {kNone, kZbuffer}, file, out);
            checkChoice(e, "mode", "invalid zbuffer mode", kZbufferModes, file, out);
            const char* test = e->Attribute("test");
            if (test && !oneOf(test, kTrueFalse))
                out.warning(
                    file, e->Row(),
                    "test=\"" + std::string(test) + "\" on <zbuffer> is read as true (valid: true, false)");
        } else if (name == "cull") {
            checkXmlAttributes(e, {kNone, kCull}, file, out);
            checkChoice(e, "mode", "invalid cull mode", kCullModes, file, out);
        } else if (name == "blend") {
            checkXmlAttributes(e, {kNone, kBlend}, file, out);
            checkChoice(e, "srcblend", "invalid srcblend", kBlendNames, file, out);
            checkChoice(e, "dstblend", "invalid dstblend", kBlendNames, file, out);
        } else if (name == "texture" || name == "envmap") {
            checkXmlAttributes(e, {kNone, kFile}, file, out);
            const char* texture = e->Attribute("file");
            if (!texture)
                out.warning(file, e->Row(), "<" + name + "> without a file attribute sets no texture");
            else if (textures)
                textures->push_back({texture, e->Row()});
        } else {
            reportUnknownXmlElement(e, kElements, file, out);
        }
    }
}

Material::~Material() {
    if (stateBlock) stateBlock->Release();
}

void parseRgba(const TiXmlNode* node, ColorRGBA& out) {
    const TiXmlElement* e = node ? node->ToElement() : nullptr;
    if (!e) return;
    out.r = floatAttribute(e, "r", 1.0f);
    out.g = floatAttribute(e, "g", 1.0f);
    out.b = floatAttribute(e, "b", 1.0f);
    out.a = floatAttribute(e, "a", 1.0f);
}

Material* parseMaterial(const char* text, TextureCache& textures, const std::string& file, Diagnostics& out) {
    TiXmlDocument doc;
    xmlParseDocument(doc, text);
    auto material = std::make_unique<Material>();
    if (const TiXmlElement* root = doc.RootElement()) checkMaterialDocument(root, file, out, nullptr);
    if (const TiXmlElement* root = doc.RootElement())
        for (const TiXmlNode* child = root->FirstChild(); child; child = child->NextSibling())
            if (const TiXmlElement* e = child->ToElement()) parseElement(e, *material, textures);
    return material.release();
}

Material* loadMaterial(const std::string& name, TextureCache& textures, Diagnostics& out) {
    std::unique_ptr<MemoryFile, int (*)(MemoryFile*)> file(memfile_open(name.c_str()), memfile_close);
    if (!file) throw std::string("File not found");
    std::string text(reinterpret_cast<const char*>(file->data), file->length);
    file.reset();
    return parseMaterial(text.c_str(), textures, name, out);
}

void Material::swap(Material& other) {
    std::swap(emissive, other.emissive);
    std::swap(ambient, other.ambient);
    std::swap(diffuse, other.diffuse);
    std::swap(specular, other.specular);
    std::swap(power, other.power);
    std::swap(shinyness, other.shinyness);
    std::swap(texture, other.texture);
    std::swap(envmap, other.envmap);
    std::swap(zbufferMode, other.zbufferMode);
    std::swap(zwrite, other.zwrite);
    std::swap(cullMode, other.cullMode);
    std::swap(srcBlend, other.srcBlend);
    std::swap(dstBlend, other.dstBlend);
    std::swap(stateBlock, other.stateBlock);
}

void Material::recordStates() {
    IDirect3DDevice9* dev = g_device;
    if (stateBlock) {
        stateBlock->Release();
        stateBlock = nullptr;
    }
    dev->BeginStateBlock();

    if (srcBlend == D3DBLEND_ONE && dstBlend == D3DBLEND_ZERO) {
        dev->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    } else {
        dev->SetRenderState(D3DRS_SRCBLEND, srcBlend);
        dev->SetRenderState(D3DRS_DESTBLEND, dstBlend);
        dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    }
    dev->SetRenderState(D3DRS_CULLMODE, cullMode);
    dev->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
    dev->SetRenderState(D3DRS_ZENABLE, zbufferMode);
    dev->SetRenderState(D3DRS_ZWRITEENABLE, zwrite ? TRUE : FALSE);
    dev->SetRenderState(D3DRS_NORMALIZENORMALS, FALSE);
    dev->SetRenderState(D3DRS_COLORVERTEX, TRUE);
    dev->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL);
    dev->SetRenderState(D3DRS_TEXTUREFACTOR, 0xFFFFFFFF);

    DWORD stage = 0;
    if (texture) {
        dev->SetTextureStageState(stage, D3DTSS_TEXCOORDINDEX, 0);
        dev->SetTextureStageState(stage, D3DTSS_COLOROP, D3DTOP_MODULATE);
        dev->SetTextureStageState(stage, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        dev->SetTextureStageState(stage, D3DTSS_COLORARG2, D3DTA_CURRENT);
        dev->SetTextureStageState(stage, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        dev->SetTextureStageState(stage, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        dev->SetTextureStageState(stage, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
        dev->SetSamplerState(stage, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
        dev->SetSamplerState(stage, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
        dev->SetTexture(stage, texture->texture);
        ++stage;
    }
    if (envmap) {
        dev->SetTextureStageState(stage, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR);
        dev->SetTextureStageState(stage, D3DTSS_COLOROP, D3DTOP_ADD);
        dev->SetTextureStageState(stage, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        dev->SetTextureStageState(stage, D3DTSS_COLORARG2, D3DTA_CURRENT);
        dev->SetTextureStageState(stage, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        dev->SetTextureStageState(stage, D3DTSS_ALPHAARG1, D3DTA_CURRENT);
        dev->SetSamplerState(stage, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
        dev->SetSamplerState(stage, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
        dev->SetTexture(stage, envmap->texture);
        ++stage;
    }
    dev->SetTextureStageState(stage, D3DTSS_COLOROP, D3DTOP_DISABLE);
    dev->SetTextureStageState(stage, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    dev->SetTexture(stage, nullptr);

    dev->EndStateBlock(&stateBlock);
}

void Material::apply(bool ambientEmissive, bool diffuseSpecular) {
    D3DMATERIAL9 m;
    std::memset(&m, 0, sizeof m);
    if (ambientEmissive) {
        m.Ambient.r = ambient.r, m.Ambient.g = ambient.g, m.Ambient.b = ambient.b;
        m.Emissive.r = emissive.r, m.Emissive.g = emissive.g, m.Emissive.b = emissive.b;
    }
    if (diffuseSpecular) {
        m.Diffuse.r = diffuse.r, m.Diffuse.g = diffuse.g, m.Diffuse.b = diffuse.b, m.Diffuse.a = diffuse.a;
        m.Specular.r = specular.r * shinyness;
        m.Specular.g = specular.g * shinyness;
        m.Specular.b = specular.b * shinyness;
        m.Power = power;
    }
    g_device->SetMaterial(&m);
    if (!stateBlock) recordStates();
    if (stateBlock) stateBlock->Apply();
}
