#include "fx/grid_lattice.h"

#include <cmath>
#include <string>

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr double kPiSquared = 9.869604401089358;
}  // namespace

GridLattice::GridLattice(uint32_t c, uint32_t r) : cols(c), rows(r), cellW(0), cellH(0) {
    // 16-bit indices address at most 65536 vertices.
    if (c == 0 || r == 0 || (uint64_t(c) + 1) * (uint64_t(r) + 1) > 65536)
        throw std::string("grid size out of range");
    cellW = 2.0f / static_cast<float>(c);
    cellH = 2.0f / static_cast<float>(r);
    vertices.assign(vertexCount(), ScreenVertex{0, 0, 0, 0x00FFFFFF, 0, 0});
}

float GridLattice::offsetX(uint32_t j, float cx) const {
    return static_cast<float>(int32_t(j) - int32_t(cols / 2)) * cellW - cx;
}

float GridLattice::offsetY(uint32_t i, float cy) const {
    return static_cast<float>(int32_t(i) - int32_t(rows / 2)) * cellH - cy;
}

void GridLattice::reset(float uShift, float vShift) {
    ScreenVertex* p = vertices.data();
    for (uint32_t i = 0; i <= rows; ++i) {
        for (uint32_t j = 0; j <= cols; ++j, ++p) {
            p->x = static_cast<float>(j) * cellW - 1.0f;
            p->y = static_cast<float>(i) * cellH - 1.0f;
            p->z = 0;
            p->diffuse = 0xFFFFFFFF;
            p->u = uShift + static_cast<float>(j) * cellW / 2.0f;
            p->v = vShift + 1.0f - static_cast<float>(i) * cellH / 2.0f;
        }
    }
}

template <typename Move>
void GridLattice::forEachOffset(float cx, float cy, Move move) {
    ScreenVertex* p = vertices.data();
    for (uint32_t i = 0; i <= rows; ++i) {
        const float dy = offsetY(i, cy);
        for (uint32_t j = 0; j <= cols; ++j, ++p) move(*p, offsetX(j, cx), dy);
    }
}

void GridLattice::bulge(float cx, float cy, float radius, float amount) {
    const float k = 1.0f / radius;
    forEachOffset(cx, cy, [&](ScreenVertex& p, float dx, float dy) {
        const float d2 = dx * dx + dy * dy;
        if (double(k * k * d2) >= kPiSquared) return;
        const float w = amount * (1.0f + std::cos(std::sqrt(d2) * k));
        p.u += w * dx;
        p.v += w * dy;
    });
}

void GridLattice::twirl(float cx, float cy, float radius, float strength) {
    const float k = 1.0f / radius;
    forEachOffset(cx, cy, [&](ScreenVertex& p, float dx, float dy) {
        const float d = std::sqrt(dx * dx + dy * dy);
        const float a = strength * static_cast<float>(1.0 - std::cos(kPi * double(k - d)));
        const float c = std::cos(a), s = std::sin(a);
        p.u += c * dx + s * dy;
        p.v += c * dy - s * dx;
    });
}

void GridLattice::writeIndices(uint16_t* out) const {
    for (uint32_t i = 0; i < rows; ++i) {
        for (uint32_t j = 0; j < cols; ++j) {
            const uint32_t a = i * (cols + 1) + j, b = a + cols + 1;
            const uint32_t cell[6] = {a, a + 1, b, a + 1, b + 1, b};
            for (uint32_t n : cell) *out++ = static_cast<uint16_t>(n);
        }
    }
}
