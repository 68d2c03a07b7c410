#pragma once
// The fixed-function pipeline as one GLSL program (shaders/ff.vert.glsl, shaders/ff.frag.glsl).
//
// The discrete pipeline configuration (operations and arguments of the stages, number and kinds of lights,
// fog mode, texture-coordinate sources) is compiled into the program as constants, so the rasterizer runs
// only the code a configuration needs; every value (matrices, colours, factors, fog distances) is a uniform.
// Each configuration is built once on first use and kept, so after warm-up nothing is compiled.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/d3d9/gl_dialect.h"

namespace d3d9 {

struct DeviceState;

// The configuration; compared bytewise, so it is built from a zeroed object.
struct FFKey {
    struct Stage {
        uint8_t colorOp, colorArg0, colorArg1, colorArg2;
        uint8_t alphaOp, alphaArg0, alphaArg1, alphaArg2;
        uint8_t resultTemp;  // result goes to the temporary register
        uint8_t sample;      // the stage reads its texture
        uint8_t tcSource;    // 0..7: vertex coordinate set; 8: none (zero)
        uint8_t tcDim;       // components of that set
        uint8_t tcGen;       // D3DTSS_TCI_* >> 16
        uint8_t tcCount;     // D3DTTFF count, 0 = no transform
        uint8_t tcProjected;
        uint8_t pad;
    };
    uint8_t positionRhw, hasNormal, hasDiffuse, hasSpecular;
    uint8_t texSets;  // coordinate sets in the vertex
    uint8_t texDim[8];
    uint8_t lighting, lightCount, specular, normalize, localViewer, flat;
    uint8_t lightType[8];
    uint8_t srcDiffuse, srcAmbient, srcSpecular,
        srcEmissive;     // 0 material, 1 vertex diffuse, 2 vertex specular
    uint8_t fogMode;     // 0 none, 1 per pixel (table), 2 per vertex
    uint8_t fogFormula;  // D3DFOG_*
    uint8_t fogW;        // table fog on eye depth (perspective projection)
    uint8_t rangeFog;
    uint8_t specularAdd;
    uint8_t alphaFunc;  // D3DCMP_*, 0 = no alpha test
    uint8_t stageCount;
    uint8_t pad;
    Stage stage[8];
};

// Uniform values in groups; a program re-sends a group when the group's version differs from the one it
// last sent.
struct FFUniforms {
    enum Group { kMatrices, kTexMatrices, kLights, kMaterial, kFog, kFactors, kViewport, kGroupCount };
    unsigned version[kGroupCount] = {1, 1, 1, 1, 1, 1, 1};
    float wvp[16], wv[16], normal[9];
    float texMatrix[8][16];
    float lightPos[8][4];  // camera-space position, range
    float lightDir[8][4];  // camera-space direction towards the light (directional and spot)
    float lightDiffuse[8][4], lightSpecular[8][4], lightAmbient[8][4];
    float lightAtten[8][4];  // attenuation 0, 1, 2, falloff
    float lightSpot[8][4];   // cos(theta/2), cos(phi/2)
    float matDiffuse[4], matAmbient[4], matSpecular[4], matEmissive[4], globalAmbient[4];
    float power;
    float fogColor[4];
    float fogParams[4];  // end, 1/(end-start), density
    float tfactor[4];
    float stageConst[8][4];
    float alphaRef;
    float pixelShift[4];  // 1/width, 1/height of the viewport
    float viewport[4];    // x, y, width, height (pre-transformed vertices)
};

struct FFProgram {
    FFKey key;
    GLuint name = 0;
    unsigned sent[FFUniforms::kGroupCount] = {};
    struct Locations {
        GLint wvp, wv, normal, texMatrix;
        GLint lightPos, lightDir, lightDiffuse, lightSpecular, lightAmbient, lightAtten, lightSpot;
        GLint matDiffuse, matAmbient, matSpecular, matEmissive, globalAmbient, power;
        GLint fogColor, fogParams, tfactor, stageConst, alphaRef, pixelShift, viewport;
    } loc;
};

class FixedFunction {
public:
    FixedFunction() = default;
    FixedFunction(const FixedFunction&) = delete;
    FixedFunction& operator=(const FixedFunction&) = delete;
    ~FixedFunction();

    // Builds the default configuration's program; false (with the GL log) when the sources do not compile.
    bool init(std::string* log);
    // The program for a configuration, built on first use; null if it fails to build.
    FFProgram* program(const FFKey& key);
    // Sends the groups that changed since this program last sent them; returns how many were sent.
    int upload(FFProgram* program, const FFUniforms& u);
    unsigned long long built() const { return built_; }
    void destroy();
    // Forgets the programs without GL calls (their context is gone).
    void abandon();

private:
    FFProgram* build(const FFKey& key, std::string* log);
    std::vector<std::unique_ptr<FFProgram>> programs_;
    FFProgram* last_ = nullptr;
    unsigned long long built_ = 0;
};

// The configuration for the current state and the given texture presence per stage.
void ff_build_key(const DeviceState& s, const int* activeLights, int activeLightCount, bool wFog, FFKey* key);

}  // namespace d3d9
