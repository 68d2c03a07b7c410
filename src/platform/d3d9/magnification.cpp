// Which draws only magnify a texture.
//
// Sampling with a level-of-detail of at most zero reads level 0 through the magnification filter, whatever
// the mip filter and whatever the lower levels hold. For flat (affine) screen-space draws, such as
// full-target quads and distortion grids, the texel-to-pixel ratio of every triangle can be computed from the
// vertices; when no triangle minifies, the draw samples level 0 only, so the texture is bound without its
// lower levels: the software rasterizer then skips the level-of-detail work, and automatic levels need not be
// regenerated for it. When triangles minify by at most a known ratio, only the levels that ratio reaches
// are bound and regenerated. Perspective draws and anything not provable keep full mip-mapping.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/d3d9/device.h"

namespace d3d9 {

namespace {

// Byte offset of texture-coordinate set `set` in a vertex of the format.
UINT texcoord_offset(DWORD fvf, UINT set) {
    UINT offset;
    switch (fvf & D3DFVF_POSITION_MASK) {
        case D3DFVF_XYZ:
            offset = 12;
            break;
        case D3DFVF_XYZRHW:
        case D3DFVF_XYZW:
            offset = 16;
            break;
        default:
            offset = 12 + 4 * (((fvf & D3DFVF_POSITION_MASK) - D3DFVF_XYZ) / 2);
            break;
    }
    if (fvf & D3DFVF_NORMAL) offset += 12;
    if (fvf & D3DFVF_PSIZE) offset += 4;
    if (fvf & D3DFVF_DIFFUSE) offset += 4;
    if (fvf & D3DFVF_SPECULAR) offset += 4;
    static const UINT kFloats[4] = {2, 3, 4, 1};
    for (UINT i = 0; i < set; ++i) offset += 4 * kFloats[(fvf >> (16 + 2 * i)) & 3];
    return offset;
}

// Triangles larger than this many are not examined (the examination would cost more than it saves).
constexpr UINT kMaxExaminedTriangles = 20000;
// Ratios up to this bound count as 1:1 (a level-of-detail of 0.0007 at most, far below 1/255 of a level).
constexpr float kRatioTolerance = 1.0005f;
// Beyond this squared ratio (levels of detail above 12) every level is taken as sampled.
constexpr float kMaxSquaredRatio = 16777216.0f;

}  // namespace

UINT Device::highestLevelSampled(int stage, const DrawRange& range) const {
    constexpr UINT kAll = ~0u;
    const FFKey::Stage& g = program_->key.stage[stage];
    if (program_->key.positionRhw || g.tcGen != 0 || g.tcProjected || g.tcSource >= 8 || g.tcDim < 2)
        return kAll;
    const DWORD* samp = state_.samp[stage];
    // A positive bias or a smallest-level clamp moves the level of detail up.
    if (samp[D3DSAMP_MAXMIPLEVEL] != 0 || bits_float(samp[D3DSAMP_MIPMAPLODBIAS]) > 0.0f) return kAll;
    if (range.type != D3DPT_TRIANGLELIST && range.type != D3DPT_TRIANGLEFAN &&
        range.type != D3DPT_TRIANGLESTRIP)
        return kAll;
    if (range.primitives > kMaxExaminedTriangles) return kAll;

    // Flat draws only: clip w must be 1 for every vertex (the combined matrix's fourth column 0, 0, 0, 1).
    const float* wvp = uniforms_.wvp;  // Direct3D order: element [row * 4 + column]
    if (wvp[3] != 0.0f || wvp[7] != 0.0f || wvp[11] != 0.0f || wvp[15] != 1.0f) return kAll;
    // Texture transform, as the 2 x 2 part and translation of (u, v, 1) * M.
    float m00 = 1, m01 = 0, m10 = 0, m11 = 1;
    if (g.tcCount != 0) {
        if (g.tcCount < 2) return kAll;
        const D3DMATRIX& t = state_.transforms[kSlotTexture0 + stage];
        m00 = t._11, m01 = t._12, m10 = t._21, m11 = t._22;
    }
    const Texture* texture = state_.textures[stage];
    const float tw = static_cast<float>(texture->width()), th = static_cast<float>(texture->height());
    const float sx = 0.5f * static_cast<float>(state_.viewport.Width);  // pixels per clip unit
    const float sy = 0.5f * static_cast<float>(state_.viewport.Height);

    const VertexBuffer* vb = state_.stream.buffer;
    if (!vb) return kAll;  // DrawPrimitiveUP: the vertices are not kept
    const unsigned char* base = vb->buffer().data() + state_.stream.offset;
    const UINT stride = state_.stream.stride;
    const UINT tcOffset = texcoord_offset(state_.fvf, g.tcSource);
    const unsigned char* indices = range.indices ? range.indices->buffer().data() : nullptr;
    const UINT indexSize = range.indices ? range.indices->indexSize() : 0;

    auto vertex = [&](UINT i, float* px, float* py, float* tu, float* tv) {
        UINT v;
        if (indices) {
            if (indexSize == 2) {
                uint16_t x;
                std::memcpy(&x, indices + static_cast<size_t>(range.first + i) * 2, 2);
                v = x;
            } else {
                std::memcpy(&v, indices + static_cast<size_t>(range.first + i) * 4, 4);
            }
            v += static_cast<UINT>(range.baseVertex);
        } else {
            v = range.first + i;
        }
        const unsigned char* p = base + static_cast<size_t>(v) * stride;
        float pos[3], uv[2];
        std::memcpy(pos, p, sizeof pos);
        std::memcpy(uv, p + tcOffset, sizeof uv);
        *px = (pos[0] * wvp[0] + pos[1] * wvp[4] + pos[2] * wvp[8] + wvp[12]) * sx;
        *py = (pos[0] * wvp[1] + pos[1] * wvp[5] + pos[2] * wvp[9] + wvp[13]) * sy;
        *tu = (uv[0] * m00 + uv[1] * m10) * tw;
        *tv = (uv[0] * m01 + uv[1] * m11) * th;
    };
    const float limit = kRatioTolerance * kRatioTolerance;
    float widest = 0.0f;  // largest squared texel-to-pixel ratio of any triangle
    // The level of detail is at most log2 of the longest texel derivative, 0.5 * log2(widest); half a level
    // more covers the rasterizer's approximations of it. Levels up to the next one above are sampled.
    auto highest = [](float squaredRatio) {
        return static_cast<UINT>(std::ceil(0.5 * std::log2(double(squaredRatio)) + 0.5));
    };
    for (UINT t = 0; t < range.primitives; ++t) {
        UINT a, b, c;
        if (range.type == D3DPT_TRIANGLELIST) {
            a = 3 * t, b = 3 * t + 1, c = 3 * t + 2;
        } else if (range.type == D3DPT_TRIANGLEFAN) {
            a = 0, b = t + 1, c = t + 2;
        } else {
            a = t, b = t + 1, c = t + 2;
        }
        float x0, y0, u0, v0, x1, y1, u1, v1, x2, y2, u2, v2;
        vertex(a, &x0, &y0, &u0, &v0);
        vertex(b, &x1, &y1, &u1, &v1);
        vertex(c, &x2, &y2, &u2, &v2);
        const float ax = x1 - x0, ay = y1 - y0, bx = x2 - x0, by = y2 - y0;
        const float det = ax * by - bx * ay;
        if (!std::isfinite(det)) return kAll;
        if (std::fabs(det) < 1e-6f) continue;  // no area: draws no pixel
        const float du1 = u1 - u0, dv1 = v1 - v0, du2 = u2 - u0, dv2 = v2 - v0;
        // Texel derivatives along screen x and y: [du dv] = J * [dx dy].
        const float inv = 1.0f / det;
        const float dudx = (du1 * by - du2 * ay) * inv, dudy = (du2 * ax - du1 * bx) * inv;
        const float dvdx = (dv1 * by - dv2 * ay) * inv, dvdy = (dv2 * ax - dv1 * bx) * inv;
        const float rx = dudx * dudx + dvdx * dvdx, ry = dudy * dudy + dvdy * dvdy;
        if (!(rx <= limit * kMaxSquaredRatio && ry <= limit * kMaxSquaredRatio)) return kAll;
        if (rx > widest || ry > widest) {
            widest = std::max(rx, ry);
            if (widest > limit && highest(widest) + 1 >= texture->glLevels())
                return kAll;  // no need to look on
        }
    }
    return widest <= limit ? 0 : highest(widest);
}

// Whether the depth test of this draw passes at every pixel it covers and changes nothing, so the draw can go
// to the target without its depth-stencil buffer (which the software rasterizer would read for every pixel).
// That holds when neither depth nor stencil is written, the stencil test is off, and the test is ALWAYS, or
// LESSEQUAL with every vertex at clip depth exactly 0 in a viewport whose nearest depth is 0: each covered
// pixel then has depth 0, which no stored depth (0 to 1) is less than.
bool Device::depthTestPassesEverywhere() const {
    const DWORD* rs = state_.rs;
    if (rs[D3DRS_STENCILENABLE] || rs[D3DRS_ZWRITEENABLE]) return false;
    if (rs[D3DRS_ZFUNC] == D3DCMP_ALWAYS) return true;
    if (rs[D3DRS_ZFUNC] != D3DCMP_LESSEQUAL || state_.viewport.MinZ != 0.0f) return false;
    if (program_->key.positionRhw || (state_.fvf & D3DFVF_POSITION_MASK) != D3DFVF_XYZ) return false;
    // Clip z is x * m13 + y * m23 + z * m33 + m43: exactly 0 for z = 0 when the other terms are 0.
    const float* wvp = uniforms_.wvp;
    if (wvp[2] != 0.0f || wvp[6] != 0.0f || wvp[14] != 0.0f || !std::isfinite(wvp[10])) return false;
    const VertexBuffer* vb = state_.stream.buffer;
    if (!vb) return false;
    // Every vertex of the buffer from the stream offset on: a superset of those the draw reads.
    const UINT stride = state_.stream.stride;
    const UINT length = vb->buffer().length();
    if (stride < 12 || state_.stream.offset > length) return false;
    const unsigned char* p = vb->buffer().data() + state_.stream.offset;
    const unsigned char* end = vb->buffer().data() + length;
    for (; end - p >= 12; p += stride) {
        float xyz[3];
        std::memcpy(xyz, p, sizeof xyz);
        if (xyz[2] != 0.0f || !std::isfinite(xyz[0]) || !std::isfinite(xyz[1])) return false;
        if (static_cast<UINT>(end - p) < stride) break;
    }
    return true;
}

}  // namespace d3d9
