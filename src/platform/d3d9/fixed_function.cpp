#include "platform/d3d9/fixed_function.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/d3d9/device_state.h"
#include "platform/d3d9/gl_program.h"
#include "platform/d3d9/resources.h"

namespace d3d9 {

// Embedded at build time from shaders/*.glsl (see CMakeLists.txt).
extern const char kFFVertexSource[];
extern const char kFFFragmentSource[];

namespace {

uint8_t material_source(DWORD source, bool colorVertex, bool hasDiffuse, bool hasSpecular) {
    // A vertex colour is used only when the vertex has it; otherwise the material's colour stands in.
    if (!colorVertex) return 0;
    if (source == D3DMCS_COLOR1 && hasDiffuse) return 1;
    if (source == D3DMCS_COLOR2 && hasSpecular) return 2;
    return 0;
}

bool selects_texture(DWORD arg) {
    return (arg & D3DTA_SELECTMASK) == D3DTA_TEXTURE;
}

bool valid_op(DWORD op) {
    return op >= D3DTOP_DISABLE && op <= D3DTOP_LERP;
}

// Which arguments an operation reads.
bool uses_arg0(DWORD op) {
    return op == D3DTOP_MULTIPLYADD || op == D3DTOP_LERP;
}
bool uses_arg1(DWORD op) {
    return op != D3DTOP_SELECTARG2;
}
bool uses_arg2(DWORD op) {
    return op != D3DTOP_SELECTARG1;
}
bool reads_texture_alpha(DWORD op) {
    return op == D3DTOP_BLENDTEXTUREALPHA || op == D3DTOP_BLENDTEXTUREALPHAPM;
}

bool op_reads_texture(DWORD op, DWORD a0, DWORD a1, DWORD a2) {
    return (uses_arg0(op) && selects_texture(a0)) || (uses_arg1(op) && selects_texture(a1)) ||
           (uses_arg2(op) && selects_texture(a2)) || reads_texture_alpha(op);
}

}  // namespace

void ff_build_key(const DeviceState& s, const int* activeLights, int activeLightCount, bool wFog, FFKey* k) {
    std::memset(k, 0, sizeof *k);
    const DWORD fvf = s.fvf;
    k->positionRhw = (fvf & D3DFVF_POSITION_MASK) == D3DFVF_XYZRHW;
    k->hasNormal = (fvf & D3DFVF_NORMAL) != 0 && !k->positionRhw;
    k->hasDiffuse = (fvf & D3DFVF_DIFFUSE) != 0;
    k->hasSpecular = (fvf & D3DFVF_SPECULAR) != 0;
    DWORD sets = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
    if (sets > 8) sets = 8;
    k->texSets = static_cast<uint8_t>(sets);
    static const uint8_t kDims[4] = {2, 3, 4, 1};  // D3DFVF_TEXTUREFORMAT2, 3, 4, 1
    for (DWORD i = 0; i < sets; ++i) k->texDim[i] = kDims[(fvf >> (16 + 2 * i)) & 3];

    const DWORD* rs = s.rs;
    k->lighting = rs[D3DRS_LIGHTING] != 0 && !k->positionRhw;
    if (k->lighting) {
        k->lightCount = static_cast<uint8_t>(activeLightCount);
        for (int i = 0; i < activeLightCount; ++i) {
            DWORD type = s.lights[activeLights[i]].light.Type;
            k->lightType[i] =
                static_cast<uint8_t>(type >= D3DLIGHT_POINT && type <= D3DLIGHT_DIRECTIONAL ? type : 1);
        }
        k->specular = rs[D3DRS_SPECULARENABLE] != 0;
        k->normalize = rs[D3DRS_NORMALIZENORMALS] != 0;
        k->localViewer = rs[D3DRS_LOCALVIEWER] != 0;
        const bool cv = rs[D3DRS_COLORVERTEX] != 0;
        k->srcDiffuse = material_source(rs[D3DRS_DIFFUSEMATERIALSOURCE], cv, k->hasDiffuse, k->hasSpecular);
        k->srcAmbient = material_source(rs[D3DRS_AMBIENTMATERIALSOURCE], cv, k->hasDiffuse, k->hasSpecular);
        k->srcSpecular = material_source(rs[D3DRS_SPECULARMATERIALSOURCE], cv, k->hasDiffuse, k->hasSpecular);
        k->srcEmissive = material_source(rs[D3DRS_EMISSIVEMATERIALSOURCE], cv, k->hasDiffuse, k->hasSpecular);
    }
    k->flat = rs[D3DRS_SHADEMODE] == D3DSHADE_FLAT;

    if (rs[D3DRS_FOGENABLE]) {
        const DWORD table = rs[D3DRS_FOGTABLEMODE];
        const DWORD vertex = rs[D3DRS_FOGVERTEXMODE];
        if (table >= D3DFOG_EXP && table <= D3DFOG_LINEAR) {
            k->fogMode = 1;
            k->fogFormula = static_cast<uint8_t>(table);
            // Pre-transformed vertices carry their eye depth as 1/RHW and always use it.
            k->fogW = wFog || k->positionRhw;
        } else if (vertex >= D3DFOG_EXP && vertex <= D3DFOG_LINEAR && !k->positionRhw) {
            k->fogMode = 2;
            k->fogFormula = static_cast<uint8_t>(vertex);
            k->rangeFog = rs[D3DRS_RANGEFOGENABLE] != 0;
        }
    }
    k->specularAdd = rs[D3DRS_SPECULARENABLE] != 0;
    if (rs[D3DRS_ALPHATESTENABLE] && rs[D3DRS_ALPHAFUNC] >= D3DCMP_NEVER &&
        rs[D3DRS_ALPHAFUNC] < D3DCMP_ALWAYS)
        k->alphaFunc = static_cast<uint8_t>(rs[D3DRS_ALPHAFUNC]);

    int count = 0;
    for (int st = 0; st < kStages; ++st) {
        const DWORD* t = s.tss[st];
        const DWORD cop = t[D3DTSS_COLOROP];
        // DISABLE ends the cascade; so does a stage whose first colour argument is a missing texture.
        if (cop == D3DTOP_DISABLE || !valid_op(cop)) break;
        const bool hasTexture = s.textures[st] != nullptr;
        if (selects_texture(t[D3DTSS_COLORARG1]) && !hasTexture) break;
        FFKey::Stage& g = k->stage[st];
        g.colorOp = static_cast<uint8_t>(cop);
        g.colorArg0 = static_cast<uint8_t>(t[D3DTSS_COLORARG0] & 0x3F);
        g.colorArg1 = static_cast<uint8_t>(t[D3DTSS_COLORARG1] & 0x3F);
        g.colorArg2 = static_cast<uint8_t>(t[D3DTSS_COLORARG2] & 0x3F);
        DWORD aop = t[D3DTSS_ALPHAOP];
        if (!valid_op(aop)) aop = D3DTOP_DISABLE;
        g.alphaOp = static_cast<uint8_t>(aop);
        g.alphaArg0 = static_cast<uint8_t>(t[D3DTSS_ALPHAARG0] & 0x3F);
        g.alphaArg1 = static_cast<uint8_t>(t[D3DTSS_ALPHAARG1] & 0x3F);
        g.alphaArg2 = static_cast<uint8_t>(t[D3DTSS_ALPHAARG2] & 0x3F);
        g.resultTemp = (t[D3DTSS_RESULTARG] & D3DTA_SELECTMASK) == D3DTA_TEMP;
        bool reads = op_reads_texture(cop, t[D3DTSS_COLORARG0], t[D3DTSS_COLORARG1], t[D3DTSS_COLORARG2]);
        if (aop != D3DTOP_DISABLE)
            reads =
                reads || op_reads_texture(aop, t[D3DTSS_ALPHAARG0], t[D3DTSS_ALPHAARG1], t[D3DTSS_ALPHAARG2]);
        g.sample = reads && hasTexture;

        const DWORD tci = t[D3DTSS_TEXCOORDINDEX];
        const DWORD index = tci & 0xFFFF;
        DWORD gen = tci >> 16;
        if (gen > 3 || k->positionRhw) gen = 0;  // sphere maps are not generated
        g.tcGen = static_cast<uint8_t>(gen);
        if (index < sets) {
            g.tcSource = static_cast<uint8_t>(index);
            g.tcDim = k->texDim[index];
        } else {
            g.tcSource = 8;
            g.tcDim = 2;
        }
        const DWORD ttff = t[D3DTSS_TEXTURETRANSFORMFLAGS];
        DWORD n = ttff & 0xFF;
        g.tcCount = static_cast<uint8_t>(n > 4 ? 4 : n);
        g.tcProjected = g.tcCount > 1 && (ttff & D3DTTFF_PROJECTED) != 0;
        count = st + 1;
    }
    k->stageCount = static_cast<uint8_t>(count);
}

FixedFunction::~FixedFunction() {
    destroy();
}

void FixedFunction::destroy() {
    for (auto& p : programs_)
        if (p->name) glDeleteProgram(p->name);
    programs_.clear();
    last_ = nullptr;
}

void FixedFunction::abandon() {
    programs_.clear();
    last_ = nullptr;
}

bool FixedFunction::init(std::string* log) {
    FFKey key;
    std::memset(&key, 0, sizeof key);
    key.hasDiffuse = 1;
    key.texSets = 1;
    key.texDim[0] = 2;
    key.stageCount = 1;
    key.stage[0] = {D3DTOP_MODULATE, 1, 2, 1, D3DTOP_SELECTARG1, 1, 2, 1, 0, 1, 0, 2, 0, 0, 0, 0};
    FFProgram* p = build(key, log);
    if (!p) return false;
    programs_.emplace_back(p);
    return true;
}

FFProgram* FixedFunction::program(const FFKey& key) {
    if (last_ && std::memcmp(&last_->key, &key, sizeof key) == 0) return last_->name ? last_ : nullptr;
    for (auto& p : programs_) {
        if (std::memcmp(&p->key, &key, sizeof key) == 0) {
            last_ = p.get();
            return p->name ? last_ : nullptr;
        }
    }
    std::string log;
    FFProgram* p = build(key, &log);
    if (!p) {
        // Kept as a failed entry, so that the configuration is not compiled again on every draw.
        std::fprintf(stderr, "d3d9: fixed-function program failed to build:\n%s\n", log.c_str());
        p = new FFProgram;
        p->key = key;
    }
    programs_.emplace_back(p);
    last_ = p;
    return p->name ? p : nullptr;
}

namespace {

void define(std::string& s, const char* name, int value) {
    char line[96];
    std::snprintf(line, sizeof line, "#define %s %d\n", name, value);
    s += line;
}

// Appends printf-style text, however long.
__attribute__((format(printf, 2, 3))) void append(std::string& s, const char* format, ...) {
    va_list args, count;
    va_start(args, format);
    va_copy(count, args);
    const int n = std::vsnprintf(nullptr, 0, format, count);
    va_end(count);
    if (n > 0) {
        const size_t at = s.size();
        s.resize(at + static_cast<size_t>(n) + 1);
        std::vsnprintf(&s[at], static_cast<size_t>(n) + 1, format, args);
        s.resize(at + static_cast<size_t>(n));
    }
    va_end(args);
}

// The Direct3D names the shaders use, with this layer's values, so that GLSL and C++ cannot disagree.
// clang-format off
#define QV_NAME(name) {#name, static_cast<int>(name)}
const struct {
    const char* name;
    int value;
} kShaderNames[] = {
    QV_NAME(D3DTOP_DISABLE), QV_NAME(D3DTOP_SELECTARG1), QV_NAME(D3DTOP_SELECTARG2), QV_NAME(D3DTOP_MODULATE),
    QV_NAME(D3DTOP_MODULATE2X), QV_NAME(D3DTOP_MODULATE4X), QV_NAME(D3DTOP_ADD), QV_NAME(D3DTOP_ADDSIGNED),
    QV_NAME(D3DTOP_ADDSIGNED2X), QV_NAME(D3DTOP_SUBTRACT), QV_NAME(D3DTOP_ADDSMOOTH),
    QV_NAME(D3DTOP_BLENDDIFFUSEALPHA), QV_NAME(D3DTOP_BLENDTEXTUREALPHA), QV_NAME(D3DTOP_BLENDFACTORALPHA),
    QV_NAME(D3DTOP_BLENDTEXTUREALPHAPM), QV_NAME(D3DTOP_BLENDCURRENTALPHA),
    QV_NAME(D3DTOP_MODULATEALPHA_ADDCOLOR), QV_NAME(D3DTOP_MODULATECOLOR_ADDALPHA),
    QV_NAME(D3DTOP_MODULATEINVALPHA_ADDCOLOR), QV_NAME(D3DTOP_MODULATEINVCOLOR_ADDALPHA),
    QV_NAME(D3DTOP_DOTPRODUCT3), QV_NAME(D3DTOP_MULTIPLYADD), QV_NAME(D3DTOP_LERP),
    QV_NAME(D3DTA_SELECTMASK), QV_NAME(D3DTA_DIFFUSE), QV_NAME(D3DTA_CURRENT), QV_NAME(D3DTA_TEXTURE),
    QV_NAME(D3DTA_TFACTOR), QV_NAME(D3DTA_SPECULAR), QV_NAME(D3DTA_TEMP), QV_NAME(D3DTA_COMPLEMENT),
    QV_NAME(D3DTA_ALPHAREPLICATE),
    QV_NAME(D3DCMP_NEVER), QV_NAME(D3DCMP_LESS), QV_NAME(D3DCMP_EQUAL), QV_NAME(D3DCMP_LESSEQUAL),
    QV_NAME(D3DCMP_GREATER), QV_NAME(D3DCMP_NOTEQUAL), QV_NAME(D3DCMP_GREATEREQUAL),
    QV_NAME(D3DFOG_EXP), QV_NAME(D3DFOG_LINEAR),
    QV_NAME(D3DLIGHT_SPOT), QV_NAME(D3DLIGHT_DIRECTIONAL),
    QV_NAME(D3DMCS_COLOR1), QV_NAME(D3DMCS_COLOR2),
    // Texture-coordinate generation as the key keeps it (D3DTSS_TCI_* >> 16).
    {"TCI_CAMERASPACENORMAL", D3DTSS_TCI_CAMERASPACENORMAL >> 16},
    {"TCI_CAMERASPACEPOSITION", D3DTSS_TCI_CAMERASPACEPOSITION >> 16},
    {"TCI_CAMERASPACEREFLECTIONVECTOR", D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR >> 16},
};
#undef QV_NAME
// clang-format on

void define_names(std::string& s) {
    for (const auto& n : kShaderNames) define(s, n.name, n.value);
}

}  // namespace

FFProgram* FixedFunction::build(const FFKey& k, std::string* log) {
    std::string d = gl_shader_header();
    define(d, "POSITION_RHW", k.positionRhw);
    define(d, "HAS_NORMAL", k.hasNormal);
    define(d, "HAS_DIFFUSE", k.hasDiffuse);
    define(d, "HAS_SPECULAR", k.hasSpecular);
    define(d, "LIGHTING", k.lighting);
    define(d, "SPECULAR", k.specular);
    define(d, "NORMALIZE", k.normalize);
    define(d, "LOCALVIEWER", k.localViewer);
    define(d, "FLAT", k.flat);
    define(d, "SRC_DIFFUSE", k.srcDiffuse);
    define(d, "SRC_AMBIENT", k.srcAmbient);
    define(d, "SRC_SPECULAR", k.srcSpecular);
    define(d, "SRC_EMISSIVE", k.srcEmissive);
    define(d, "FOG_MODE", k.fogMode);
    define(d, "FOG_FORMULA", k.fogFormula);
    define(d, "FOG_W", k.fogW);
    define(d, "RANGE_FOG", k.rangeFog);
    define(d, "SPECULAR_ADD", k.specularAdd);
    define(d, "ALPHA_FUNC", k.alphaFunc);
    define_names(d);
    bool setUsed[8] = {};
    for (int i = 0; i < k.stageCount; ++i) {
        const FFKey::Stage& g = k.stage[i];
        if (g.tcGen == 0 && g.tcSource < 8) setUsed[g.tcSource] = true;
    }

    // The code repeated per coordinate set, light and stage, one line each for those the configuration uses.
    std::string inputs, select, lights, varyings, coordinates, cascade;
    for (int i = 0; i < 8; ++i) {
        if (!setUsed[i]) continue;
        append(inputs, "layout(location = %d) in vec4 a_tex%d; ", 4 + i, i);
        append(select, "if (i == %d) return a_tex%d; ", i, i);
    }
    for (int i = 0; i < k.lightCount; ++i)
        append(lights, "addLight(%d, %d, P, N, V, ambient, diffuse, specular); ", i, k.lightType[i]);
    for (int i = 0; i < k.stageCount; ++i) {
        const FFKey::Stage& g = k.stage[i];
        append(varyings, "q vec4 v_tc%d; ", i);
        append(coordinates, "v_tc%d = stageCoordinate(%d, %d, %d, %d, %d, %d, P, N); ", i, i, g.tcSource,
               g.tcDim, g.tcGen, g.tcCount, g.tcProjected);
        if (g.sample)
            append(cascade, "tex = texture(u_tex%d, stageUv(v_tc%d, %d)); ", i, i, g.tcProjected);
        else
            append(cascade, "tex = vec4(0.0, 0.0, 0.0, 1.0); ");
        append(cascade,
               "runStage(%d, %d, %d, %d, %d, %d, %d, %d, %d, tex, u_stageConst[%d], diffuse, specular, "
               "current, temp); ",
               g.colorOp, g.colorArg0, g.colorArg1, g.colorArg2, g.alphaOp, g.alphaArg0, g.alphaArg1,
               g.alphaArg2, g.resultTemp, i);
    }
    d += "#define TEXSET_INPUTS " + inputs + "\n";
    d += "#define TEXSET_SELECT " + select + "\n";
    d += "#define LIGHTS " + lights + "\n";
    d += "#define STAGE_VARYINGS(q) " + varyings + "\n";
    d += "#define STAGE_COORDINATES " + coordinates + "\n";
    d += "#define STAGE_CASCADE " + cascade + "\n";

    const GLuint program = gl_build_program(d + kFFVertexSource, d + kFFFragmentSource, log);
    if (!program) return nullptr;

    auto* p = new FFProgram;
    p->key = k;
    p->name = program;
    FFProgram::Locations& l = p->loc;
    auto at = [program](const char* name) { return glGetUniformLocation(program, name); };
    l.wvp = at("u_wvp");
    l.wv = at("u_wv");
    l.normal = at("u_normal");
    l.texMatrix = at("u_texMatrix");
    l.lightPos = at("u_lightPos");
    l.lightDir = at("u_lightDir");
    l.lightDiffuse = at("u_lightDiffuse");
    l.lightSpecular = at("u_lightSpecular");
    l.lightAmbient = at("u_lightAmbient");
    l.lightAtten = at("u_lightAtten");
    l.lightSpot = at("u_lightSpot");
    l.matDiffuse = at("u_matDiffuse");
    l.matAmbient = at("u_matAmbient");
    l.matSpecular = at("u_matSpecular");
    l.matEmissive = at("u_matEmissive");
    l.globalAmbient = at("u_globalAmbient");
    l.power = at("u_power");
    l.fogColor = at("u_fogColor");
    l.fogParams = at("u_fogParams");
    l.tfactor = at("u_tfactor");
    l.stageConst = at("u_stageConst");
    l.alphaRef = at("u_alphaRef");
    l.pixelShift = at("u_pixelShift");
    l.viewport = at("u_viewport");

    // Sampler uniforms never change: stage n reads texture unit n. Set them with the program current and
    // leave the previous program current again.
    GLint previous = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &previous);
    glUseProgram(program);
    for (int i = 0; i < 8; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "u_tex%d", i);
        GLint loc = at(name);
        if (loc >= 0) glUniform1i(loc, i);
    }
    glUseProgram(static_cast<GLuint>(previous));
    ++built_;
    return p;
}

int FixedFunction::upload(FFProgram* p, const FFUniforms& u) {
    int sent = 0;
    const FFProgram::Locations& l = p->loc;
    const int lights = p->key.lightCount;
    for (int g = 0; g < FFUniforms::kGroupCount; ++g) {
        if (p->sent[g] == u.version[g]) continue;
        p->sent[g] = u.version[g];
        ++sent;
        switch (g) {
            case FFUniforms::kMatrices:
                if (l.wvp >= 0) glUniformMatrix4fv(l.wvp, 1, GL_FALSE, u.wvp);
                if (l.wv >= 0) glUniformMatrix4fv(l.wv, 1, GL_FALSE, u.wv);
                if (l.normal >= 0) glUniformMatrix3fv(l.normal, 1, GL_FALSE, u.normal);
                break;
            case FFUniforms::kTexMatrices:
                if (l.texMatrix >= 0) glUniformMatrix4fv(l.texMatrix, 8, GL_FALSE, &u.texMatrix[0][0]);
                break;
            case FFUniforms::kLights:
                if (lights == 0) break;
                if (l.lightPos >= 0) glUniform4fv(l.lightPos, lights, &u.lightPos[0][0]);
                if (l.lightDir >= 0) glUniform4fv(l.lightDir, lights, &u.lightDir[0][0]);
                if (l.lightDiffuse >= 0) glUniform4fv(l.lightDiffuse, lights, &u.lightDiffuse[0][0]);
                if (l.lightSpecular >= 0) glUniform4fv(l.lightSpecular, lights, &u.lightSpecular[0][0]);
                if (l.lightAmbient >= 0) glUniform4fv(l.lightAmbient, lights, &u.lightAmbient[0][0]);
                if (l.lightAtten >= 0) glUniform4fv(l.lightAtten, lights, &u.lightAtten[0][0]);
                if (l.lightSpot >= 0) glUniform4fv(l.lightSpot, lights, &u.lightSpot[0][0]);
                break;
            case FFUniforms::kMaterial:
                if (l.matDiffuse >= 0) glUniform4fv(l.matDiffuse, 1, u.matDiffuse);
                if (l.matAmbient >= 0) glUniform4fv(l.matAmbient, 1, u.matAmbient);
                if (l.matSpecular >= 0) glUniform4fv(l.matSpecular, 1, u.matSpecular);
                if (l.matEmissive >= 0) glUniform4fv(l.matEmissive, 1, u.matEmissive);
                if (l.globalAmbient >= 0) glUniform4fv(l.globalAmbient, 1, u.globalAmbient);
                if (l.power >= 0) glUniform1f(l.power, u.power);
                break;
            case FFUniforms::kFog:
                if (l.fogColor >= 0) glUniform4fv(l.fogColor, 1, u.fogColor);
                if (l.fogParams >= 0) glUniform4fv(l.fogParams, 1, u.fogParams);
                break;
            case FFUniforms::kFactors:
                if (l.tfactor >= 0) glUniform4fv(l.tfactor, 1, u.tfactor);
                if (l.stageConst >= 0) glUniform4fv(l.stageConst, 8, &u.stageConst[0][0]);
                if (l.alphaRef >= 0) glUniform1f(l.alphaRef, u.alphaRef);
                break;
            case FFUniforms::kViewport:
                if (l.pixelShift >= 0) glUniform4fv(l.pixelShift, 1, u.pixelShift);
                if (l.viewport >= 0) glUniform4fv(l.viewport, 1, u.viewport);
                break;
        }
    }
    return sent;
}

}  // namespace d3d9
