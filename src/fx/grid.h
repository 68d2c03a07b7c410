#pragma once
// The full-screen distortion lattice: vertices keep their screen positions while the deformations push
// their texture coordinates about. A frame's use: reset, deformations, upload, draw.
#include <cstdint>

#include "fx/grid_lattice.h"
#include "resources/texture_source.h"

class Grid : public GridLattice {
public:
    IDirect3DVertexBuffer9* vertexBuffer = nullptr;  // owned; dynamic, write-only
    IDirect3DIndexBuffer9* indexBuffer = nullptr;    // owned; 16-bit, written once

    // A cols by rows lattice, reset and uploaded. Throws "grid size out of range", "failed to create
    // grid-vertexbuffer", "failed to create grid-indexbuffer" or "failed to click-(c)lock
    // grid-indexbuffer", giving back what it made.
    Grid(uint32_t cols, uint32_t rows);
    ~Grid();
    Grid(const Grid&) = delete;
    Grid& operator=(const Grid&) = delete;

    // Copies the lattice into the vertex buffer; throws "failed to lock grid-vertexbuffer".
    void upload();
    // Draws source through the lattice with wrap addressing. ONE/ZERO draws opaque; any other pair
    // enables blending and leaves it on.
    void draw(const TextureSource* source, uint32_t srcBlend, uint32_t dstBlend, float alpha);

private:
    void release();
};
