// The draw path: marked state groups become GL state and shader uniforms once per draw, then one GL draw.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/d3d9/device.h"

namespace d3d9 {

namespace {

GLenum gl_primitive(D3DPRIMITIVETYPE type) {
    switch (type) {
        case D3DPT_POINTLIST:
            return GL_POINTS;
        case D3DPT_LINELIST:
            return GL_LINES;
        case D3DPT_LINESTRIP:
            return GL_LINE_STRIP;
        case D3DPT_TRIANGLELIST:
            return GL_TRIANGLES;
        case D3DPT_TRIANGLESTRIP:
            return GL_TRIANGLE_STRIP;
        case D3DPT_TRIANGLEFAN:
            return GL_TRIANGLE_FAN;
        default:
            return 0;
    }
}

// Vertices (or indices) that primitiveCount primitives of a type use; 0 for an unknown type.
uint64_t vertex_count(D3DPRIMITIVETYPE type, uint64_t primitives) {
    switch (type) {
        case D3DPT_POINTLIST:
            return primitives;
        case D3DPT_LINELIST:
            return primitives * 2;
        case D3DPT_LINESTRIP:
            return primitives + 1;
        case D3DPT_TRIANGLELIST:
            return primitives * 3;
        case D3DPT_TRIANGLESTRIP:
        case D3DPT_TRIANGLEFAN:
            return primitives + 2;
        default:
            return 0;
    }
}

GLenum gl_blend(DWORD blend) {
    switch (blend) {
        case D3DBLEND_ZERO:
            return GL_ZERO;
        case D3DBLEND_ONE:
            return GL_ONE;
        case D3DBLEND_SRCCOLOR:
            return GL_SRC_COLOR;
        case D3DBLEND_INVSRCCOLOR:
            return GL_ONE_MINUS_SRC_COLOR;
        case D3DBLEND_SRCALPHA:
        case D3DBLEND_BOTHSRCALPHA:
            return GL_SRC_ALPHA;
        case D3DBLEND_INVSRCALPHA:
        case D3DBLEND_BOTHINVSRCALPHA:
            return GL_ONE_MINUS_SRC_ALPHA;
        case D3DBLEND_DESTALPHA:
            return GL_DST_ALPHA;
        case D3DBLEND_INVDESTALPHA:
            return GL_ONE_MINUS_DST_ALPHA;
        case D3DBLEND_DESTCOLOR:
            return GL_DST_COLOR;
        case D3DBLEND_INVDESTCOLOR:
            return GL_ONE_MINUS_DST_COLOR;
        case D3DBLEND_SRCALPHASAT:
            return GL_SRC_ALPHA_SATURATE;
        case D3DBLEND_BLENDFACTOR:
            return GL_CONSTANT_COLOR;
        case D3DBLEND_INVBLENDFACTOR:
            return GL_ONE_MINUS_CONSTANT_COLOR;
        default:
            return GL_ONE;
    }
}

// Source and destination factors of a pair; the obsolete BOTH* source values set both sides.
void blend_pair(DWORD src, DWORD dst, GLenum* s, GLenum* d) {
    if (src == D3DBLEND_BOTHSRCALPHA) {
        *s = GL_SRC_ALPHA;
        *d = GL_ONE_MINUS_SRC_ALPHA;
    } else if (src == D3DBLEND_BOTHINVSRCALPHA) {
        *s = GL_ONE_MINUS_SRC_ALPHA;
        *d = GL_SRC_ALPHA;
    } else {
        *s = gl_blend(src);
        *d = gl_blend(dst);
    }
}

GLenum gl_blend_op(DWORD op) {
    switch (op) {
        case D3DBLENDOP_SUBTRACT:
            return GL_FUNC_SUBTRACT;
        case D3DBLENDOP_REVSUBTRACT:
            return GL_FUNC_REVERSE_SUBTRACT;
        case D3DBLENDOP_MIN:
            return GL_MIN;
        case D3DBLENDOP_MAX:
            return GL_MAX;
        default:
            return GL_FUNC_ADD;
    }
}

GLenum gl_compare(DWORD cmp) {
    switch (cmp) {
        case D3DCMP_NEVER:
            return GL_NEVER;
        case D3DCMP_LESS:
            return GL_LESS;
        case D3DCMP_EQUAL:
            return GL_EQUAL;
        case D3DCMP_LESSEQUAL:
            return GL_LEQUAL;
        case D3DCMP_GREATER:
            return GL_GREATER;
        case D3DCMP_NOTEQUAL:
            return GL_NOTEQUAL;
        case D3DCMP_GREATEREQUAL:
            return GL_GEQUAL;
        default:
            return GL_ALWAYS;
    }
}

GLenum gl_stencil_op(DWORD op) {
    switch (op) {
        case D3DSTENCILOP_ZERO:
            return GL_ZERO;
        case D3DSTENCILOP_REPLACE:
            return GL_REPLACE;
        case D3DSTENCILOP_INCRSAT:
            return GL_INCR;
        case D3DSTENCILOP_DECRSAT:
            return GL_DECR;
        case D3DSTENCILOP_INVERT:
            return GL_INVERT;
        case D3DSTENCILOP_INCR:
            return GL_INCR_WRAP;
        case D3DSTENCILOP_DECR:
            return GL_DECR_WRAP;
        default:
            return GL_KEEP;
    }
}

GLint gl_address(DWORD mode) {
    switch (mode) {
        case D3DTADDRESS_MIRROR:
            return GL_MIRRORED_REPEAT;
        case D3DTADDRESS_CLAMP:
        case D3DTADDRESS_MIRRORONCE:
            return GL_CLAMP_TO_EDGE;
        case D3DTADDRESS_BORDER:
            return gl_clamp_to_border();
        default:
            return GL_REPEAT;
    }
}

void color_floats(D3DCOLOR c, float* out) {
    out[0] = ((c >> 16) & 0xFF) / 255.0f;
    out[1] = ((c >> 8) & 0xFF) / 255.0f;
    out[2] = (c & 0xFF) / 255.0f;
    out[3] = (c >> 24) / 255.0f;
}

void color_value(const D3DCOLORVALUE& c, float* out) {
    out[0] = c.r, out[1] = c.g, out[2] = c.b, out[3] = c.a;
}

// Row-vector product a * b (a applied first).
void multiply(const D3DMATRIX& a, const D3DMATRIX& b, D3DMATRIX* r) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            r->m[i][j] =
                a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] + a.m[i][3] * b.m[3][j];
}

// Normals transform by the inverse transpose of the upper 3x3, which is its cofactor matrix over its
// determinant; stored so that the shader's M * n is Direct3D's n * M.
void normal_matrix(const D3DMATRIX& m, float* out) {
    const float a = m._11, b = m._12, c = m._13, d = m._21, e = m._22, f = m._23, g = m._31, h = m._32,
                i = m._33;
    float cof[9] = {e * i - f * h,    -(d * i - f * g), d * h - e * g,    -(b * i - c * h), a * i - c * g,
                    -(a * h - b * g), b * f - c * e,    -(a * f - c * d), a * e - b * d};
    const float det = a * cof[0] + b * cof[1] + c * cof[2];
    const float s = det != 0.0f ? 1.0f / det : 0.0f;
    for (int k = 0; k < 9; ++k) out[k] = cof[k] * s;
}

void transform_point(const D3DVECTOR& p, float w, const D3DMATRIX& m, float* out) {
    for (int j = 0; j < 3; ++j) out[j] = p.x * m.m[0][j] + p.y * m.m[1][j] + p.z * m.m[2][j] + w * m.m[3][j];
}

}  // namespace

void Device::updateActiveLights() {
    activeLightCount_ = 0;
    // The first enabled lights by index; the fixed-function pipeline lights a vertex with at most eight.
    for (size_t i = 0; i < state_.lights.size() && activeLightCount_ < kMaxActiveLights; ++i)
        if (state_.lights[i].enabled) activeLights_[activeLightCount_++] = static_cast<int>(i);
}

void Device::updateUniforms(uint32_t dirty) {
    FFUniforms& u = uniforms_;
    if (dirty & (kDirtyMatrices | kDirtyLights)) {
        const D3DMATRIX& world = state_.transforms[kSlotWorld0];
        const D3DMATRIX& view = state_.transforms[kSlotView];
        if (dirty & kDirtyMatrices) {
            D3DMATRIX wv, wvp;
            multiply(world, view, &wv);
            multiply(wv, state_.transforms[kSlotProjection], &wvp);
            std::memcpy(u.wv, &wv, sizeof u.wv);
            std::memcpy(u.wvp, &wvp, sizeof u.wvp);
            normal_matrix(wv, u.normal);
            ++u.version[FFUniforms::kMatrices];
        }
        if (dirty & kDirtyLights) {
            for (int i = 0; i < activeLightCount_; ++i) {
                const D3DLIGHT9& l = state_.lights[activeLights_[i]].light;
                transform_point(l.Position, 1.0f, view, u.lightPos[i]);
                u.lightPos[i][3] = l.Range;
                float dir[3];
                transform_point(l.Direction, 0.0f, view, dir);
                const float len = std::sqrt(dir[0] * dir[0] + dir[1] * dir[1] + dir[2] * dir[2]);
                const float s = len > 0.0f ? -1.0f / len : 0.0f;  // towards the light
                u.lightDir[i][0] = dir[0] * s, u.lightDir[i][1] = dir[1] * s, u.lightDir[i][2] = dir[2] * s;
                u.lightDir[i][3] = 0.0f;
                color_value(l.Diffuse, u.lightDiffuse[i]);
                color_value(l.Specular, u.lightSpecular[i]);
                color_value(l.Ambient, u.lightAmbient[i]);
                u.lightAtten[i][0] = l.Attenuation0, u.lightAtten[i][1] = l.Attenuation1;
                u.lightAtten[i][2] = l.Attenuation2, u.lightAtten[i][3] = l.Falloff;
                u.lightSpot[i][0] = std::cos(l.Theta * 0.5f), u.lightSpot[i][1] = std::cos(l.Phi * 0.5f);
                u.lightSpot[i][2] = u.lightSpot[i][3] = 0.0f;
            }
            ++u.version[FFUniforms::kLights];
        }
    }
    if (dirty & kDirtyTexMatrices) {
        for (int s = 0; s < kStages; ++s)
            std::memcpy(u.texMatrix[s], &state_.transforms[kSlotTexture0 + s], 64);
        ++u.version[FFUniforms::kTexMatrices];
    }
    if (dirty & kDirtyMaterial) {
        const D3DMATERIAL9& m = state_.material;
        color_value(m.Diffuse, u.matDiffuse);
        color_value(m.Ambient, u.matAmbient);
        color_value(m.Specular, u.matSpecular);
        color_value(m.Emissive, u.matEmissive);
        u.power = m.Power;
        color_floats(state_.rs[D3DRS_AMBIENT], u.globalAmbient);
        ++u.version[FFUniforms::kMaterial];
    }
    if (dirty & kDirtyFog) {
        color_floats(state_.rs[D3DRS_FOGCOLOR], u.fogColor);
        const float start = bits_float(state_.rs[D3DRS_FOGSTART]);
        const float end = bits_float(state_.rs[D3DRS_FOGEND]);
        u.fogParams[0] = end;
        u.fogParams[1] = end != start ? 1.0f / (end - start) : 1e30f;  // start = end: a step at end
        u.fogParams[2] = bits_float(state_.rs[D3DRS_FOGDENSITY]);
        u.fogParams[3] = 0.0f;
        ++u.version[FFUniforms::kFog];
    }
    if (dirty & kDirtyFactors) {
        color_floats(state_.rs[D3DRS_TEXTUREFACTOR], u.tfactor);
        for (int s = 0; s < kStages; ++s) color_floats(state_.tss[s][D3DTSS_CONSTANT], u.stageConst[s]);
        u.alphaRef = static_cast<float>(state_.rs[D3DRS_ALPHAREF] & 0xFF);
        ++u.version[FFUniforms::kFactors];
    }
    if (dirty & kDirtyViewport) {
        const D3DVIEWPORT9& v = state_.viewport;
        // Half a design pixel, in clip units of the viewport.
        const float scale = targetPixelScale();
        u.pixelShift[0] = scale / static_cast<float>(v.Width);
        u.pixelShift[1] = scale / static_cast<float>(v.Height);
        u.viewport[0] = static_cast<float>(v.X), u.viewport[1] = static_cast<float>(v.Y);
        u.viewport[2] = static_cast<float>(v.Width), u.viewport[3] = static_cast<float>(v.Height);
        ++u.version[FFUniforms::kViewport];
    }
}

void Device::applySampler(int i) {
    const DWORD* s = state_.samp[i];
    const GLuint sampler = samplers_[i];
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_S, gl_address(s[D3DSAMP_ADDRESSU]));
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_T, gl_address(s[D3DSAMP_ADDRESSV]));
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_R, gl_address(s[D3DSAMP_ADDRESSW]));
    float border[4];
    color_floats(s[D3DSAMP_BORDERCOLOR], border);
    gl_sampler_border_and_bias(sampler, border, bits_float(s[D3DSAMP_MIPMAPLODBIAS]));
    const bool magLinear = s[D3DSAMP_MAGFILTER] >= D3DTEXF_LINEAR;
    const bool minLinear = s[D3DSAMP_MINFILTER] >= D3DTEXF_LINEAR;
    GLint minFilter;
    switch (s[D3DSAMP_MIPFILTER]) {
        case D3DTEXF_NONE:  // level 0 only
            minFilter = minLinear ? GL_LINEAR : GL_NEAREST;
            break;
        case D3DTEXF_POINT:  // nearest level
            minFilter = minLinear ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
            break;
        default:  // between the two nearest levels
            minFilter = minLinear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
            break;
    }
    glSamplerParameteri(sampler, GL_TEXTURE_MAG_FILTER, magLinear ? GL_LINEAR : GL_NEAREST);
    glSamplerParameteri(sampler, GL_TEXTURE_MIN_FILTER, minFilter);
    // MAXMIPLEVEL names the largest level that may be used.
    glSamplerParameterf(sampler, GL_TEXTURE_MIN_LOD, static_cast<float>(s[D3DSAMP_MAXMIPLEVEL]));
}

void Device::applyFixedState(uint32_t dirty) {
    const DWORD* rs = state_.rs;
    if (dirty & kDirtyBlend) {
        GLenum src, dst, srcA, dstA;
        blend_pair(rs[D3DRS_SRCBLEND], rs[D3DRS_DESTBLEND], &src, &dst);
        GLenum op = gl_blend_op(rs[D3DRS_BLENDOP]), opA = op;
        if (rs[D3DRS_SEPARATEALPHABLENDENABLE]) {
            blend_pair(rs[D3DRS_SRCBLENDALPHA], rs[D3DRS_DESTBLENDALPHA], &srcA, &dstA);
            opA = gl_blend_op(rs[D3DRS_BLENDOPALPHA]);
        } else {
            srcA = src, dstA = dst;
        }
        gl_.setBlend(rs[D3DRS_ALPHABLENDENABLE] != 0, src, dst, srcA, dstA, op, opA);
        gl_.setBlendColor(rs[D3DRS_BLENDFACTOR]);
        gl_.setColorMask(rs[D3DRS_COLORWRITEENABLE]);
    }
    if (dirty & kDirtyDepthStencil) {
        // USEW is drawn as an ordinary depth buffer.
        const bool z = depthStencil_ && rs[D3DRS_ZENABLE] != D3DZB_FALSE;
        gl_.setDepth(z, z && rs[D3DRS_ZWRITEENABLE] != 0, gl_compare(rs[D3DRS_ZFUNC]));
        const bool stencil = depthStencil_ && rs[D3DRS_STENCILENABLE] != 0;
        gl_.setStencil(stencil, gl_compare(rs[D3DRS_STENCILFUNC]),
                       static_cast<GLint>(rs[D3DRS_STENCILREF] & 0xFF), rs[D3DRS_STENCILMASK],
                       rs[D3DRS_STENCILWRITEMASK], gl_stencil_op(rs[D3DRS_STENCILFAIL]),
                       gl_stencil_op(rs[D3DRS_STENCILZFAIL]), gl_stencil_op(rs[D3DRS_STENCILPASS]));
    }
    if (dirty & kDirtyRaster) {
        // Direct3D culls by on-screen winding; GL sees every winding reversed because targets are drawn
        // upside down, so clockwise faces are GL's front faces.
        switch (rs[D3DRS_CULLMODE]) {
            case D3DCULL_CW:
                gl_.setCull(true, GL_FRONT);
                break;
            case D3DCULL_CCW:
                gl_.setCull(true, GL_BACK);
                break;
            default:
                gl_.setCull(false, GL_BACK);
                break;
        }
        const DWORD fill = rs[D3DRS_FILLMODE];
        gl_.setPolygonMode(fill == D3DFILL_POINT ? GL_POINT : fill == D3DFILL_WIREFRAME ? GL_LINE : GL_FILL);
    }
    if (dirty & kDirtyViewport) {
        const D3DVIEWPORT9& v = state_.viewport;
        gl_.setViewport(static_cast<GLint>(v.X), static_cast<GLint>(v.Y), static_cast<GLsizei>(v.Width),
                        static_cast<GLsizei>(v.Height));
        gl_.setDepthRange(v.MinZ, v.MaxZ);
    }
}

void Device::applyVertexInput(GLuint buffer, UINT offset, UINT stride) {
    const DWORD fvf = state_.fvf;
    if (buffer == inputBuffer_ && offset == inputOffset_ && stride == inputStride_ && fvf == inputFvf_)
        return;
    inputBuffer_ = buffer, inputOffset_ = offset, inputStride_ = stride, inputFvf_ = fvf;
    gl_.bindArrayBuffer(buffer);
    uintptr_t at = offset;
    unsigned enabled = 0;
    auto attrib = [&](GLuint index, GLint size, GLenum type, GLboolean normalized, UINT bytes) {
        glVertexAttribPointer(index, size, type, normalized, static_cast<GLsizei>(stride),
                              reinterpret_cast<const void*>(at));
        enabled |= 1u << index;
        at += bytes;
    };
    switch (fvf & D3DFVF_POSITION_MASK) {
        case D3DFVF_XYZRHW:
        case D3DFVF_XYZW:
            attrib(0, 4, GL_FLOAT, GL_FALSE, 16);
            break;
        default:
            attrib(0, 3, GL_FLOAT, GL_FALSE, 12);
            at += 4 * (((fvf & D3DFVF_POSITION_MASK) - D3DFVF_XYZ) / 2);  // blend weights are not used
            break;
    }
    if (fvf & D3DFVF_NORMAL) attrib(1, 3, GL_FLOAT, GL_FALSE, 12);
    if (fvf & D3DFVF_PSIZE) at += 4;
    // D3DCOLOR is B, G, R, A in memory; the vertex shader reorders it (ES has no BGRA attributes).
    if (fvf & D3DFVF_DIFFUSE) attrib(2, 4, GL_UNSIGNED_BYTE, GL_TRUE, 4);
    if (fvf & D3DFVF_SPECULAR) attrib(3, 4, GL_UNSIGNED_BYTE, GL_TRUE, 4);
    const DWORD sets = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
    static const GLint kFloats[4] = {2, 3, 4, 1};
    for (DWORD i = 0; i < sets && i < 8; ++i) {
        const GLint n = kFloats[(fvf >> (16 + 2 * i)) & 3];
        attrib(4 + i, n, GL_FLOAT, GL_FALSE, static_cast<UINT>(4 * n));
    }
    const unsigned changed = enabled ^ enabledAttribs_;
    for (GLuint i = 0; i < 12; ++i) {
        if (!(changed & (1u << i))) continue;
        if (enabled & (1u << i))
            glEnableVertexAttribArray(i);
        else
            glDisableVertexAttribArray(i);
    }
    enabledAttribs_ = enabled;
}

HRESULT Device::prepareDraw(const DrawRange& range) {
    if (dirty_ & kDirtyActiveLights) {
        updateActiveLights();
        dirty_ = (dirty_ & ~kDirtyActiveLights) | kDirtyProgram | kDirtyLights;
    }
    if (dirty_ & kDirtyProgram) {
        FFKey key;
        ff_build_key(state_, activeLights_, activeLightCount_, wFog_, &key);
        FFProgram* p = ff_.program(key);
        if (!p) return D3DERR_INVALIDCALL;
        stats_.programsBuilt = ff_.built();
        if (p != program_) {
            program_ = p;
            ++stats_.programBinds;
        }
        dirty_ &= ~kDirtyProgram;
    }
    updateUniforms(dirty_);
    // The sampled textures get their lower levels (regenerated if stale, which draws and marks the state it
    // changes) as far as any stage that samples them in this draw can reach them.
    const FFKey& key = program_->key;
    UINT levels[kStages] = {};
    for (int s = 0; s < key.stageCount; ++s) {
        if (!key.stage[s].sample) continue;
        Texture* t = state_.textures[s];
        levels[s] = t->glLevels() > 1 ? highestLevelSampled(s, range) : 0;
        for (int o = 0; o < s; ++o)
            if (key.stage[o].sample && state_.textures[o] == t)
                levels[o] = levels[s] = std::max(levels[o], levels[s]);
    }
    for (int s = 0; s < key.stageCount; ++s)
        if (key.stage[s].sample) state_.textures[s]->useLevels(levels[s]);

    gl_.useProgram(program_->name);
    const bool depthUsed = depthStencil_ &&
                           (state_.rs[D3DRS_ZENABLE] != D3DZB_FALSE || state_.rs[D3DRS_STENCILENABLE]) &&
                           !(state_.rs[D3DRS_ZENABLE] != D3DZB_FALSE && depthTestPassesEverywhere());
    bindTarget(depthUsed);
    stats_.uniformUploads += static_cast<unsigned long long>(ff_.upload(program_, uniforms_));

    for (int s = 0; s < key.stageCount; ++s) {
        if (!key.stage[s].sample) continue;
        Texture* t = state_.textures[s];
        gl_.bindTexture(s, t->name());
        // A texture of one value samples as that value through any filter as long as only level 0 is
        // read and the border colour cannot be: point sampling then gives the same picture for less work.
        const DWORD* samp = state_.samp[s];
        const bool uniform = levels[s] == 0 && t->uniformLevel0() &&
                             samp[D3DSAMP_ADDRESSU] != D3DTADDRESS_BORDER &&
                             samp[D3DSAMP_ADDRESSV] != D3DTADDRESS_BORDER;
        gl_.bindSampler(s, uniform ? uniformSampler_ : samplers_[s]);
    }
    if (dirtySamplers_) {
        for (int i = 0; i < kSamplers; ++i)
            if (dirtySamplers_ & (1u << i)) applySampler(i);
        dirtySamplers_ = 0;
    }
    if (dirty_ & kDirtyIndices)
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, state_.indices ? state_.indices->buffer().name() : 0);
    applyFixedState(dirty_);
    dirty_ &= kDirtyVertexInput;  // the vertex input is set by the caller
    return D3D_OK;
}

bool Device::validStreamSource(uint64_t vertexEnd) const {
    const VertexBuffer* vb = state_.stream.buffer;
    const UINT size = fvf_stride(state_.fvf);
    if (!vb || size == 0 || state_.stream.stride < size || vertexEnd == 0) return false;
    const uint64_t last =
        static_cast<uint64_t>(state_.stream.offset) + (vertexEnd - 1) * state_.stream.stride + size;
    return last <= vb->buffer().length();
}

void Device::afterDraw() {
    ++stats_.draws;
    if (Texture* t = renderTarget_->container()) t->markLevel0Written();
}

HRESULT Device::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) {
    if (recording_) return D3DERR_INVALIDCALL;
    const GLenum mode = gl_primitive(type);
    if (!mode) return D3DERR_INVALIDCALL;
    if (primitiveCount == 0) return D3D_OK;
    const uint64_t count = vertex_count(type, primitiveCount);
    if (!validStreamSource(startVertex + count)) {
        ++stats_.refusedDraws;
        return D3DERR_INVALIDCALL;
    }
    if (!makeCurrent()) return D3D_OK;  // nothing to draw on: as a lost device, succeed silently
    if (FAILED(prepareDraw(DrawRange{type, primitiveCount, nullptr, startVertex, 0}))) {
        ++stats_.refusedDraws;
        return D3DERR_INVALIDCALL;
    }
    applyVertexInput(state_.stream.buffer->buffer().name(), state_.stream.offset, state_.stream.stride);
    dirty_ &= ~kDirtyVertexInput;
    glDrawArrays(mode, static_cast<GLint>(startVertex), static_cast<GLsizei>(count));
    afterDraw();
    return D3D_OK;
}

HRESULT Device::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, int baseVertex, UINT minIndex, UINT numVertices,
                                     UINT startIndex, UINT primitiveCount) {
    (void)minIndex;
    (void)numVertices;
    if (recording_) return D3DERR_INVALIDCALL;
    const GLenum mode = gl_primitive(type);
    if (!mode || baseVertex < 0) return D3DERR_INVALIDCALL;
    if (primitiveCount == 0) return D3D_OK;
    IndexBuffer* ib = state_.indices;
    const uint64_t count = vertex_count(type, primitiveCount);
    if (!ib || static_cast<uint64_t>(startIndex) + count > ib->buffer().length() / ib->indexSize()) {
        ++stats_.refusedDraws;
        return D3DERR_INVALIDCALL;
    }
    // Indices that point past the vertex buffer are refused rather than read out of bounds. The range hint
    // (minIndex, numVertices) is not trusted for that.
    const UINT total = ib->buffer().length() / ib->indexSize();
    uint64_t end = static_cast<uint64_t>(baseVertex) + ib->maxIndex(0, total) + 1;
    if (!validStreamSource(end)) {
        end = static_cast<uint64_t>(baseVertex) + ib->maxIndex(startIndex, static_cast<UINT>(count)) + 1;
        if (!validStreamSource(end)) {
            ++stats_.refusedDraws;
            return D3DERR_INVALIDCALL;
        }
    }
    if (!makeCurrent()) return D3D_OK;
    if (FAILED(prepareDraw(DrawRange{type, primitiveCount, ib, startIndex, baseVertex}))) {
        ++stats_.refusedDraws;
        return D3DERR_INVALIDCALL;
    }
    // ES has no base-vertex draws: the vertex input starts at the base vertex instead.
    const UINT inputOffset =
        state_.stream.offset + (gl_es() ? static_cast<UINT>(baseVertex) * state_.stream.stride : 0);
    applyVertexInput(state_.stream.buffer->buffer().name(), inputOffset, state_.stream.stride);
    dirty_ &= ~kDirtyVertexInput;
    const UINT size = ib->indexSize();
    gl_draw_elements(mode, static_cast<GLsizei>(count), size == 2 ? GL_UNSIGNED_SHORT : GL_UNSIGNED_INT,
                     reinterpret_cast<const void*>(static_cast<uintptr_t>(startIndex) * size), baseVertex);
    afterDraw();
    return D3D_OK;
}

HRESULT Device::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* data, UINT stride) {
    if (recording_ || !data) return D3DERR_INVALIDCALL;
    const GLenum mode = gl_primitive(type);
    if (!mode) return D3DERR_INVALIDCALL;
    const UINT size = fvf_stride(state_.fvf);
    if (size == 0 || stride < size) return D3DERR_INVALIDCALL;
    if (primitiveCount == 0) return D3D_OK;
    const uint64_t count = vertex_count(type, primitiveCount);
    const uint64_t bytes = (count - 1) * stride + size;
    if (bytes > (1u << 28)) return D3DERR_INVALIDCALL;
    // As on the platform, stream 0 is unset afterwards.
    if (state_.stream.buffer) {
        state_.stream.buffer->releaseInternal();
        state_.stream.buffer = nullptr;
    }
    state_.stream.offset = state_.stream.stride = 0;
    if (!makeCurrent()) return D3D_OK;
    if (FAILED(prepareDraw(DrawRange{type, primitiveCount, nullptr, 0, 0}))) {
        ++stats_.refusedDraws;
        return D3DERR_INVALIDCALL;
    }
    gl_.bindArrayBuffer(upBuffer_);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(bytes), data, GL_STREAM_DRAW);
    inputBuffer_ = 0;  // the stream buffer's contents change every time
    applyVertexInput(upBuffer_, 0, stride);
    dirty_ |= kDirtyVertexInput;
    glDrawArrays(mode, 0, static_cast<GLsizei>(count));
    afterDraw();
    return D3D_OK;
}

}  // namespace d3d9
