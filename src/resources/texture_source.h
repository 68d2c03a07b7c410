#pragma once
// Anything that can be sampled as a texture: a loaded Texture, a render target, a blur pass, the
// video texture. Samplers read only `texture`, the first field. The texture cache accepts such
// objects through add() and then owns them: it destroys them with delete, so a subclass releases
// whatever else it owns in its own destructor.
#include "platform/d3d9/d3d9.h"

struct TextureSource {
    IDirect3DTexture9* texture = nullptr;  // one owned reference, released on destruction

    TextureSource() = default;
    explicit TextureSource(IDirect3DTexture9* t) : texture(t) {}
    TextureSource(const TextureSource&) = delete;
    TextureSource& operator=(const TextureSource&) = delete;
    virtual ~TextureSource() {
        if (texture) texture->Release();
    }
};

// A texture decoded from an image file (the texture cache's own resource).
struct Texture : TextureSource {};
