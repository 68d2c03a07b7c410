#pragma once
// The system-memory half of the distortion grid: a lattice of (cols + 1) by (rows + 1) screen vertices
// covering the clip square, whose texture coordinates the deformations push about. Vertex (i, j) sits in
// row i from the bottom and column j from the left, at element i * (cols + 1) + j.
#include <cstdint>
#include <vector>

#include "fx/screen_vertex.h"

class GridLattice {
public:
    uint32_t cols;
    uint32_t rows;
    float cellW;  // 2 / cols, clip units
    float cellH;  // 2 / rows
    std::vector<ScreenVertex> vertices;

    // Throws "grid size out of range" unless 1 <= cols, rows and the lattice fits 16-bit indices.
    GridLattice(uint32_t cols, uint32_t rows);

    uint32_t vertexCount() const { return (cols + 1) * (rows + 1); }
    uint32_t indexCount() const { return cols * rows * 6; }

    // The undistorted lattice with the texture shifted by (uShift, vShift): upright, v = 1 at the bottom.
    void reset(float uShift, float vShift);
    // Pushes texture coordinates away from (cx, cy) inside pi * radius; nothing beyond.
    void bulge(float cx, float cy, float radius, float amount);
    // Adds the offset from (cx, cy), rotated by strength * (1 - cos(pi * (1/radius - d))), to every vertex.
    void twirl(float cx, float cy, float radius, float strength);

    // Six indices per cell, cells row by row from the bottom: a, a+1, b, a+1, b+1, b with b above a.
    void writeIndices(uint16_t* out) const;

private:
    // Calls move(vertex, dx, dy) for every vertex with its ideal offset from (cx, cy).
    template <typename Move>
    void forEachOffset(float cx, float cy, Move move);
    // Ideal offset of vertex (i, j) from the centre (cx, cy), in clip units.
    float offsetX(uint32_t j, float cx) const;
    float offsetY(uint32_t i, float cy) const;
};
