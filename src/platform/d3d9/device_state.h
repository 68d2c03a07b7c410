#pragma once
// The device's state as plain arrays, with Direct3D 9's defaults. What the program sets is stored here
// unchanged (so Get* returns it); the draw path translates it to GL. The same declaration, with a flag per
// value, is what a state block records (state_block.h).
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

// Stream 0: the vertex buffer and where and how far apart its vertices are.
struct StreamSource {
    VertexBuffer* buffer = nullptr;
    UINT offset = 0;
    UINT stride = 0;
};

template <template <typename> class Item>
struct LightItems {
    Item<D3DLIGHT9> light{};
    Item<bool> enabled{};
};

// Every state the device keeps, declared once over how one item of it is kept: the device keeps the bare
// value (DeviceState), a state block the value and whether it holds it (StateBlock's RecordedState). A new
// state is a member here, a key below and a line of for_each_state; its setter records through the key.
template <template <typename> class Item>
struct StateSet {
    Item<DWORD> rs[kRenderStates]{};
    Item<DWORD> tss[kStages][kStageStates]{};
    Item<DWORD> samp[kSamplers][kSamplerStates]{};
    Item<D3DMATRIX> transforms[kTransformSlots]{};
    std::vector<LightItems<Item>> lights;  // indexed by light index; grows when a new index is set or enabled
    Item<D3DMATERIAL9> material{};
    Item<D3DVIEWPORT9> viewport{};
    Item<DWORD> fvf{};
    Item<Texture*> textures[kSamplers]{};
    Item<StreamSource> stream{};
    Item<IndexBuffer*> indices{};
};

template <typename T>
using Value = T;
using LightSlot = LightItems<Value>;

struct DeviceState : StateSet<Value> {
    // Direct3D 9's defaults; the viewport covers width x height.
    void setDefaults(bool autoDepthStencil, UINT width, UINT height);
};

// Which numbers name a state (the enumerations have gaps).
bool valid_render_state(DWORD state);
bool valid_stage_state(DWORD type);
bool valid_sampler_state(DWORD type);

// The address of one state: in() finds it in any StateSet, set() gives it to the device through its public
// setter.
struct RenderStateKey {
    DWORD state;
    template <class S>
    auto& in(S& s) const {
        return s.rs[state];
    }
    void set(IDirect3DDevice9& d, DWORD v) const;
};
struct StageStateKey {
    DWORD stage, type;
    template <class S>
    auto& in(S& s) const {
        return s.tss[stage][type];
    }
    void set(IDirect3DDevice9& d, DWORD v) const;
};
struct SamplerStateKey {
    DWORD sampler, type;
    template <class S>
    auto& in(S& s) const {
        return s.samp[sampler][type];
    }
    void set(IDirect3DDevice9& d, DWORD v) const;
};
struct TransformKey {
    int slot;
    template <class S>
    auto& in(S& s) const {
        return s.transforms[slot];
    }
    void set(IDirect3DDevice9& d, const D3DMATRIX& v) const;
};
// A light index the device never had reads as Direct3D's default light, disabled.
struct LightKey {
    DWORD index;
    template <class S>
    auto& in(S& s) const {
        return s.lights[index].light;
    }
    const D3DLIGHT9& in(const DeviceState& s) const;
    void set(IDirect3DDevice9& d, const D3DLIGHT9& v) const;
};
struct LightEnableKey {
    DWORD index;
    template <class S>
    auto& in(S& s) const {
        return s.lights[index].enabled;
    }
    const bool& in(const DeviceState& s) const;
    void set(IDirect3DDevice9& d, bool v) const;
};
struct MaterialKey {
    template <class S>
    auto& in(S& s) const {
        return s.material;
    }
    void set(IDirect3DDevice9& d, const D3DMATERIAL9& v) const;
};
struct ViewportKey {
    template <class S>
    auto& in(S& s) const {
        return s.viewport;
    }
    void set(IDirect3DDevice9& d, const D3DVIEWPORT9& v) const;
};
struct FvfKey {
    template <class S>
    auto& in(S& s) const {
        return s.fvf;
    }
    void set(IDirect3DDevice9& d, DWORD v) const;
};
struct TextureKey {
    DWORD stage;
    template <class S>
    auto& in(S& s) const {
        return s.textures[stage];
    }
    void set(IDirect3DDevice9& d, Texture* v) const;
};
struct StreamKey {
    template <class S>
    auto& in(S& s) const {
        return s.stream;
    }
    void set(IDirect3DDevice9& d, const StreamSource& v) const;
};
struct IndicesKey {
    template <class S>
    auto& in(S& s) const {
        return s.indices;
    }
    void set(IDirect3DDevice9& d, IndexBuffer* v) const;
};

// Whether a key names a state: the numbers of render, stage and sampler states have gaps.
template <typename Key>
bool names_state(const Key&) {
    return true;
}
inline bool names_state(const RenderStateKey& k) {
    return valid_render_state(k.state);
}
inline bool names_state(const StageStateKey& k) {
    return valid_stage_state(k.type);
}
inline bool names_state(const SamplerStateKey& k) {
    return valid_sampler_state(k.type);
}

// Calls f(key) for every state of a StateSet with `lights` light indices, in the order a state block applies
// them: render, stage and sampler states, transforms, lights, material, viewport, vertex format, textures,
// stream, indices.
template <typename F>
void for_each_state(size_t lights, F&& f) {
    for (DWORD i = 0; i < kRenderStates; ++i) f(RenderStateKey{i});
    for (DWORD st = 0; st < kStages; ++st)
        for (DWORD t = 0; t < kStageStates; ++t) f(StageStateKey{st, t});
    for (DWORD sp = 0; sp < kSamplers; ++sp)
        for (DWORD t = 0; t < kSamplerStates; ++t) f(SamplerStateKey{sp, t});
    for (int slot = 0; slot < kTransformSlots; ++slot) f(TransformKey{slot});
    for (DWORD i = 0; i < lights; ++i) {
        f(LightKey{i});
        f(LightEnableKey{i});
    }
    f(MaterialKey{});
    f(ViewportKey{});
    f(FvfKey{});
    for (DWORD st = 0; st < kSamplers; ++st) f(TextureKey{st});
    f(StreamKey{});
    f(IndicesKey{});
}

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
