#pragma once
// The device's state as plain arrays, with Direct3D 9's defaults. What the program sets is stored here
// unchanged (so Get* returns it); the draw path translates it to GL.
#include <cstdint>
#include <vector>

#include "platform/d3d9/d3d9.h"

namespace d3d9 {

class Texture;
class VertexBuffer;
class IndexBuffer;

constexpr int kRenderStates = 256;
constexpr int kStages = 8;
constexpr int kStageStates = 33;
constexpr int kSamplers = 16;
constexpr int kSamplerStates = 14;
constexpr int kMaxActiveLights = 8;

// Transform slots: view, projection, texture 0..7, world 0..3.
enum TransformSlot : int {
    kSlotView = 0,
    kSlotProjection = 1,
    kSlotTexture0 = 2,
    kSlotWorld0 = kSlotTexture0 + kStages,
    kTransformSlots = kSlotWorld0 + 4
};

// Slot of a transform type, or -1 when the device does not keep that transform.
int transform_slot(D3DTRANSFORMSTATETYPE type);
D3DTRANSFORMSTATETYPE transform_type(int slot);

struct LightSlot {
    D3DLIGHT9 light;
    bool enabled = false;
};

struct DeviceState {
    DWORD rs[kRenderStates];
    DWORD tss[kStages][kStageStates];
    DWORD samp[kSamplers][kSamplerStates];
    D3DMATRIX transforms[kTransformSlots];
    std::vector<LightSlot> lights;  // indexed by light index; grows when a new index is set or enabled
    D3DMATERIAL9 material;
    D3DVIEWPORT9 viewport;
    DWORD fvf = 0;
    Texture* textures[kSamplers] = {};
    VertexBuffer* stream = nullptr;
    UINT streamOffset = 0;
    UINT streamStride = 0;
    IndexBuffer* indices = nullptr;

    // Direct3D 9's defaults; the viewport covers width x height.
    void setDefaults(bool autoDepthStencil, UINT width, UINT height);
};

// The light Direct3D makes when LightEnable names an index that was never set: white directional light
// shining along +z.
D3DLIGHT9 default_light();
const D3DMATRIX& identity_matrix();

inline DWORD float_bits(float f) {
    DWORD d;
    static_assert(sizeof d == sizeof f, "float size");
    __builtin_memcpy(&d, &f, sizeof d);
    return d;
}
inline float bits_float(DWORD d) {
    float f;
    __builtin_memcpy(&f, &d, sizeof f);
    return f;
}

}  // namespace d3d9
