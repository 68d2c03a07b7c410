#pragma once
// A textured rectangle drawn straight in clip space: the loading picture, the flash and the fades. Each
// draw sets every state it depends on, so it may follow any other drawing.
#include <cstdint>

#include "fx/screen_vertex.h"
#include "resources/texture_source.h"

class ScreenQuad {
public:
    float posX = 0;  // clip units
    float posY = 0;  // clip units; positive moves the quad down
    float scaleX = 1.0f;
    float scaleY = 1.0f;
    const TextureSource* source;                     // not owned
    IDirect3DVertexBuffer9* vertexBuffer = nullptr;  // owned

    // A quad reaching halfSize clip units from the centre each way (1.0 covers the viewport). Throws
    // "failed to create vertex buffer".
    ScreenQuad(const TextureSource* source, float halfSize);
    ~ScreenQuad();
    ScreenQuad(const ScreenQuad&) = delete;
    ScreenQuad& operator=(const ScreenQuad&) = delete;

    // Blends the source over the current render target with the pair (srcBlend, dstBlend) at opacity
    // alpha, its texture coordinates turned by angle radians about the centre. ONE/ZERO draws opaque.
    // Between BeginScene and EndScene; blending is off afterwards.
    void draw(uint32_t srcBlend, uint32_t dstBlend, float alpha, float angle);
};

// Creates a managed vertex buffer of count screen vertices and fills it; null when either step fails
// (nothing is left behind).
IDirect3DVertexBuffer9* createScreenVertices(const ScreenVertex* vertices, uint32_t count);
