#include "platform/d3d9/gl_state.h"

#include <cstring>

namespace d3d9 {

void GlState::invalidate() {
    // Put GL into the state the cache assumes, so that every later comparison is against the truth.
    program_ = vao_ = arrayBuffer_ = drawFbo_ = readFbo_ = 0;
    glUseProgram(0);
    glBindVertexArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    for (int u = 0; u <= kUnits; ++u) {
        glActiveTexture(GL_TEXTURE0 + u);
        glBindTexture(GL_TEXTURE_2D, 0);
        if (u < kUnits) glBindSampler(u, 0);
        textures_[u] = 0;
        if (u < kUnits) samplers_[u] = 0;
    }
    glActiveTexture(GL_TEXTURE0);
    unit_ = 0;
    glDisable(GL_BLEND);
    blend_ = false;
    glBlendFuncSeparate(GL_ONE, GL_ZERO, GL_ONE, GL_ZERO);
    glBlendEquationSeparate(GL_FUNC_ADD, GL_FUNC_ADD);
    blendFunc_[0] = GL_ONE, blendFunc_[1] = GL_ZERO, blendFunc_[2] = GL_ONE, blendFunc_[3] = GL_ZERO;
    blendFunc_[4] = blendFunc_[5] = GL_FUNC_ADD;
    glBlendColor(0, 0, 0, 0);
    blendColor_ = 0;
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    colorMask_ = 0xF;
    glDisable(GL_DEPTH_TEST);
    depthTest_ = false;
    glDepthMask(GL_TRUE);
    depthWrite_ = true;
    glDepthFunc(GL_LESS);
    depthFunc_ = GL_LESS;
    glDisable(GL_STENCIL_TEST);
    stencil_ = false;
    glStencilFunc(GL_ALWAYS, 0, ~0u);
    glStencilMask(~0u);
    glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
    stencilFunc_ = GL_ALWAYS, stencilRef_ = 0, stencilMask_ = stencilWriteMask_ = ~0u;
    stencilOps_[0] = stencilOps_[1] = stencilOps_[2] = GL_KEEP;
    glDisable(GL_CULL_FACE);
    cull_ = false;
    glCullFace(GL_BACK);
    cullFace_ = GL_BACK;
    // Direct3D's clockwise front faces appear counter-clockwise in GL, because every target is drawn with its
    // top row first (y flipped).
    glFrontFace(GL_CCW);
    gl_polygon_mode(GL_FILL);
    polygonMode_ = GL_FILL;
    glViewport(0, 0, 0, 0);
    std::memset(viewport_, 0, sizeof viewport_);
    gl_depth_range(0.0f, 1.0f);
    depthRange_[0] = 0.0f, depthRange_[1] = 1.0f;
    glDisable(GL_SCISSOR_TEST);
    scissor_ = false;
    std::memset(scissorBox_, 0, sizeof scissorBox_);
    glScissor(0, 0, 0, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    setFlatProvokingFirst();
}

void GlState::setFlatProvokingFirst() {
    gl_provoking_vertex_first();
}

void GlState::useProgram(GLuint program) {
    if (program_ != program) glUseProgram(program_ = program);
}

void GlState::bindVertexArray(GLuint vao) {
    if (vao_ != vao) glBindVertexArray(vao_ = vao);
}

void GlState::bindArrayBuffer(GLuint buffer) {
    if (arrayBuffer_ != buffer) glBindBuffer(GL_ARRAY_BUFFER, arrayBuffer_ = buffer);
}

void GlState::bindDrawFramebuffer(GLuint fbo) {
    if (drawFbo_ != fbo) glBindFramebuffer(GL_DRAW_FRAMEBUFFER, drawFbo_ = fbo);
}

void GlState::bindReadFramebuffer(GLuint fbo) {
    if (readFbo_ != fbo) glBindFramebuffer(GL_READ_FRAMEBUFFER, readFbo_ = fbo);
}

void GlState::activeUnit(int unit) {
    if (unit_ != unit) glActiveTexture(GL_TEXTURE0 + (unit_ = unit));
}

void GlState::bindTexture(int unit, GLuint texture) {
    if (textures_[unit] == texture) return;
    activeUnit(unit);
    glBindTexture(GL_TEXTURE_2D, textures_[unit] = texture);
}

void GlState::bindTextureForUpdate(GLuint texture) {
    // The calls that follow act on the active unit's texture, so the update unit is made active even when
    // the texture is already bound there.
    activeUnit(kUnits);
    if (textures_[kUnits] != texture) glBindTexture(GL_TEXTURE_2D, textures_[kUnits] = texture);
}

void GlState::bindSampler(int unit, GLuint sampler) {
    if (samplers_[unit] != sampler) glBindSampler(unit, samplers_[unit] = sampler);
}

void GlState::forgetTexture(GLuint texture) {
    for (auto& t : textures_)
        if (t == texture) t = 0;  // GL unbinds a deleted texture itself
}

void GlState::forgetBuffer(GLuint buffer) {
    if (arrayBuffer_ == buffer) arrayBuffer_ = 0;
}

void GlState::forgetFramebuffer(GLuint fbo) {
    if (drawFbo_ == fbo) drawFbo_ = 0;
    if (readFbo_ == fbo) readFbo_ = 0;
}

void GlState::setBlend(bool enable, GLenum srcRgb, GLenum dstRgb, GLenum srcAlpha, GLenum dstAlpha,
                       GLenum eqRgb, GLenum eqAlpha) {
    if (enable != blend_) {
        blend_ = enable;
        if (enable)
            glEnable(GL_BLEND);
        else
            glDisable(GL_BLEND);
    }
    if (!enable) return;
    if (blendFunc_[0] != srcRgb || blendFunc_[1] != dstRgb || blendFunc_[2] != srcAlpha ||
        blendFunc_[3] != dstAlpha) {
        blendFunc_[0] = srcRgb, blendFunc_[1] = dstRgb, blendFunc_[2] = srcAlpha, blendFunc_[3] = dstAlpha;
        glBlendFuncSeparate(srcRgb, dstRgb, srcAlpha, dstAlpha);
    }
    if (blendFunc_[4] != eqRgb || blendFunc_[5] != eqAlpha) {
        blendFunc_[4] = eqRgb, blendFunc_[5] = eqAlpha;
        glBlendEquationSeparate(eqRgb, eqAlpha);
    }
}

void GlState::setBlendColor(uint32_t argb) {
    if (blendColor_ == argb) return;
    blendColor_ = argb;
    glBlendColor(((argb >> 16) & 0xFF) / 255.0f, ((argb >> 8) & 0xFF) / 255.0f, (argb & 0xFF) / 255.0f,
                 (argb >> 24) / 255.0f);
}

void GlState::setColorMask(unsigned mask) {
    mask &= 0xF;
    if (colorMask_ == mask) return;
    colorMask_ = mask;
    glColorMask((mask & 1) != 0, (mask & 2) != 0, (mask & 4) != 0, (mask & 8) != 0);
}

void GlState::setDepth(bool test, bool write, GLenum func) {
    if (test != depthTest_) {
        depthTest_ = test;
        if (test)
            glEnable(GL_DEPTH_TEST);
        else
            glDisable(GL_DEPTH_TEST);
    }
    setDepthMask(write);
    if (func != depthFunc_) glDepthFunc(depthFunc_ = func);
}

void GlState::setDepthMask(bool write) {
    if (write != depthWrite_) glDepthMask((depthWrite_ = write) ? GL_TRUE : GL_FALSE);
}

void GlState::setStencil(bool enable, GLenum func, GLint ref, GLuint mask, GLuint writeMask, GLenum fail,
                         GLenum zfail, GLenum zpass) {
    if (enable != stencil_) {
        stencil_ = enable;
        if (enable)
            glEnable(GL_STENCIL_TEST);
        else
            glDisable(GL_STENCIL_TEST);
    }
    setStencilWriteMask(writeMask);
    if (!enable) return;
    if (func != stencilFunc_ || ref != stencilRef_ || mask != stencilMask_) {
        stencilFunc_ = func, stencilRef_ = ref, stencilMask_ = mask;
        glStencilFunc(func, ref, mask);
    }
    if (fail != stencilOps_[0] || zfail != stencilOps_[1] || zpass != stencilOps_[2]) {
        stencilOps_[0] = fail, stencilOps_[1] = zfail, stencilOps_[2] = zpass;
        glStencilOp(fail, zfail, zpass);
    }
}

void GlState::setStencilWriteMask(GLuint writeMask) {
    if (writeMask != stencilWriteMask_) glStencilMask(stencilWriteMask_ = writeMask);
}

void GlState::setCull(bool enable, GLenum face) {
    if (enable != cull_) {
        cull_ = enable;
        if (enable)
            glEnable(GL_CULL_FACE);
        else
            glDisable(GL_CULL_FACE);
    }
    if (enable && face != cullFace_) glCullFace(cullFace_ = face);
}

void GlState::setPolygonMode(GLenum mode) {
    if (mode != polygonMode_) gl_polygon_mode(polygonMode_ = mode);
}

void GlState::setViewport(GLint x, GLint y, GLsizei w, GLsizei h) {
    if (viewport_[0] == x && viewport_[1] == y && viewport_[2] == w && viewport_[3] == h) return;
    viewport_[0] = x, viewport_[1] = y, viewport_[2] = w, viewport_[3] = h;
    glViewport(x, y, w, h);
}

void GlState::setDepthRange(float n, float f) {
    if (depthRange_[0] == n && depthRange_[1] == f) return;
    depthRange_[0] = n, depthRange_[1] = f;
    gl_depth_range(n, f);
}

void GlState::setScissor(bool enable, GLint x, GLint y, GLsizei w, GLsizei h) {
    if (enable != scissor_) {
        scissor_ = enable;
        if (enable)
            glEnable(GL_SCISSOR_TEST);
        else
            glDisable(GL_SCISSOR_TEST);
    }
    if (!enable) return;
    if (scissorBox_[0] == x && scissorBox_[1] == y && scissorBox_[2] == w && scissorBox_[3] == h) return;
    scissorBox_[0] = x, scissorBox_[1] = y, scissorBox_[2] = w, scissorBox_[3] = h;
    glScissor(x, y, w, h);
}

}  // namespace d3d9
