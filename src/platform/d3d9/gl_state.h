#pragma once
// A small cache of the GL state the device touches, so that redundant GL calls are skipped. All GL state
// changes of the layer go through it.
#include <cstdint>

#include "platform/d3d9/gl_dialect.h"

namespace d3d9 {

class GlState {
public:
    static constexpr int kUnits = 16;

    // Forget everything known, e.g. after a new context was made current.
    void invalidate();

    void useProgram(GLuint program);
    void bindVertexArray(GLuint vao);
    GLuint vertexArray() const { return vao_; }
    void bindArrayBuffer(GLuint buffer);
    void bindDrawFramebuffer(GLuint fbo);
    void bindReadFramebuffer(GLuint fbo);
    void bindTexture(int unit, GLuint texture);
    // For uploads: binds on a scratch unit, which it leaves active, so that draw bindings stay as they are.
    void bindTextureForUpdate(GLuint texture);
    void bindSampler(int unit, GLuint sampler);
    // Called when a texture or buffer is deleted, so that a recycled name is never mistaken for a bound one.
    void forgetTexture(GLuint texture);
    void forgetBuffer(GLuint buffer);
    void forgetFramebuffer(GLuint fbo);

    void setBlend(bool enable, GLenum srcRgb, GLenum dstRgb, GLenum srcAlpha, GLenum dstAlpha, GLenum eqRgb,
                  GLenum eqAlpha);
    void setBlendColor(uint32_t argb);
    void setColorMask(unsigned mask);  // bit 0 red, 1 green, 2 blue, 3 alpha
    void setDepth(bool test, bool write, GLenum func);
    void setDepthMask(bool write);
    void setStencil(bool enable, GLenum func, GLint ref, GLuint mask, GLuint writeMask, GLenum fail,
                    GLenum zfail, GLenum zpass);
    void setStencilWriteMask(GLuint writeMask);
    void setCull(bool enable, GLenum face);
    void setPolygonMode(GLenum mode);
    void setViewport(GLint x, GLint y, GLsizei w, GLsizei h);
    void setDepthRange(float n, float f);
    void setScissor(bool enable, GLint x = 0, GLint y = 0, GLsizei w = 0, GLsizei h = 0);
    void setFlatProvokingFirst();

private:
    void activeUnit(int unit);

    GLuint program_ = 0, vao_ = 0, arrayBuffer_ = 0, drawFbo_ = 0, readFbo_ = 0;
    GLuint textures_[kUnits + 1] = {};
    GLuint samplers_[kUnits] = {};
    int unit_ = 0;
    bool blend_ = false;
    GLenum blendFunc_[6] = {};
    uint32_t blendColor_ = 0;
    unsigned colorMask_ = 0xF;
    bool depthTest_ = false, depthWrite_ = true;
    GLenum depthFunc_ = GL_LESS;
    bool stencil_ = false;
    GLenum stencilFunc_ = GL_ALWAYS;
    GLint stencilRef_ = 0;
    GLuint stencilMask_ = ~0u, stencilWriteMask_ = ~0u;
    GLenum stencilOps_[3] = {GL_KEEP, GL_KEEP, GL_KEEP};
    bool cull_ = false;
    GLenum cullFace_ = GL_BACK;
    GLenum polygonMode_ = GL_FILL;
    GLint viewport_[4] = {};
    float depthRange_[2] = {0.0f, 1.0f};
    bool scissor_ = false;
    GLint scissorBox_[4] = {};
};

}  // namespace d3d9
