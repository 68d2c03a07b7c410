#include "platform/d3d9/gl_dialect.h"

#include <vector>

#include "platform/win32/headless.h"

namespace d3d9 {

namespace {
#ifdef __EMSCRIPTEN__
bool es = true;
#else
bool es = false;
#endif
}  // namespace

bool gl_es_requested() {
    return platform::glEs();
}

bool gl_same_size_attachments() {
#ifdef __EMSCRIPTEN__
    return true;
#else
    return false;
#endif
}

bool gl_es() {
    return es;
}

void gl_set_es(bool value) {
#ifndef __EMSCRIPTEN__
    es = value;
#else
    (void)value;
#endif
}

const char* gl_shader_header() {
    // High precision throughout, as on the desktop: positions, fog and lighting need it in the fragment
    // stage.
    return es ? "#version 300 es\nprecision highp float;\nprecision highp int;\nprecision highp sampler2D;\n"
              : "#version 330 core\n";
}

#ifdef __EMSCRIPTEN__
void gl_depth_range(float n, float f) {
    glDepthRangef(n, f);
}
void gl_clear_depth(float d) {
    glClearDepthf(d);
}
void gl_polygon_mode(GLenum) {}
void gl_provoking_vertex_first() {}
GLint gl_clamp_to_border() {
    return GL_CLAMP_TO_EDGE;
}
void gl_sampler_border_and_bias(GLuint, const float*, float) {}
void gl_draw_elements(GLenum mode, GLsizei count, GLenum type, const void* offset, GLint) {
    glDrawElements(mode, count, type, offset);
}
void gl_tex_alloc(GLint level, GLsizei w, GLsizei h, bool alpha) {
    glTexImage2D(GL_TEXTURE_2D, level, alpha ? GL_RGBA8 : GL_RGB8, w, h, 0, alpha ? GL_RGBA : GL_RGB,
                 GL_UNSIGNED_BYTE, nullptr);
}
#else
// ES contexts on the desktop come through epoxy too, which resolves each call for the current context.
void gl_depth_range(float n, float f) {
    if (es)
        glDepthRangef(n, f);
    else
        glDepthRange(n, f);
}

void gl_clear_depth(float d) {
    if (es)
        glClearDepthf(d);
    else
        glClearDepth(d);
}

void gl_polygon_mode(GLenum mode) {
    if (!es) glPolygonMode(GL_FRONT_AND_BACK, mode);
}

void gl_provoking_vertex_first() {
    if (!es) glProvokingVertex(GL_FIRST_VERTEX_CONVENTION);
}

GLint gl_clamp_to_border() {
    return es ? GL_CLAMP_TO_EDGE : GL_CLAMP_TO_BORDER;
}

void gl_sampler_border_and_bias(GLuint sampler, const float border[4], float lodBias) {
    if (es) return;
    glSamplerParameterfv(sampler, GL_TEXTURE_BORDER_COLOR, border);
    glSamplerParameterf(sampler, GL_TEXTURE_LOD_BIAS, lodBias);
}

void gl_draw_elements(GLenum mode, GLsizei count, GLenum type, const void* offset, GLint baseVertex) {
    if (es)
        glDrawElements(mode, count, type, offset);
    else
        glDrawElementsBaseVertex(mode, count, type, const_cast<void*>(offset), baseVertex);
}

void gl_tex_alloc(GLint level, GLsizei w, GLsizei h, bool alpha) {
    if (es)
        glTexImage2D(GL_TEXTURE_2D, level, alpha ? GL_RGBA8 : GL_RGB8, w, h, 0, alpha ? GL_RGBA : GL_RGB,
                     GL_UNSIGNED_BYTE, nullptr);
    else
        glTexImage2D(GL_TEXTURE_2D, level, alpha ? GL_RGBA8 : GL_RGB8, w, h, 0, GL_BGRA,
                     GL_UNSIGNED_INT_8_8_8_8_REV, nullptr);
}
#endif

void gl_tex_upload_bgra(GLint level, GLint x, GLint y, GLsizei w, GLsizei h, const uint8_t* texels,
                        GLint rowTexels, bool alpha) {
    if (w <= 0 || h <= 0) return;
#ifndef __EMSCRIPTEN__
    if (!es) {
        glPixelStorei(GL_UNPACK_ROW_LENGTH, rowTexels);
        glTexSubImage2D(GL_TEXTURE_2D, level, x, y, w, h, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, texels);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        return;
    }
#endif
    // ES takes RGBA or RGB bytes only: reordered here, tightly packed.
    const size_t n = alpha ? 4 : 3;
    std::vector<uint8_t> packed(static_cast<size_t>(w) * static_cast<size_t>(h) * n);
    uint8_t* out = packed.data();
    for (GLsizei row = 0; row < h; ++row) {
        const uint8_t* in = texels + static_cast<size_t>(row) * static_cast<size_t>(rowTexels) * 4;
        for (GLsizei i = 0; i < w; ++i, in += 4, out += n) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
            if (alpha) out[3] = in[3];
        }
    }
    // The unpack alignment is 1 throughout (GlState).
    glTexSubImage2D(GL_TEXTURE_2D, level, x, y, w, h, alpha ? GL_RGBA : GL_RGB, GL_UNSIGNED_BYTE,
                    packed.data());
}

void gl_read_bgra(GLsizei w, GLsizei h, void* pixels, uint32_t pitch) {
    glPixelStorei(GL_PACK_ROW_LENGTH, static_cast<GLint>(pitch / 4));
#ifndef __EMSCRIPTEN__
    if (!es) {
        glReadPixels(0, 0, w, h, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, pixels);
        glPixelStorei(GL_PACK_ROW_LENGTH, 0);
        return;
    }
#endif
    {
        // RGBA bytes are the one format every ES colour buffer reads as; swapped to B, G, R, A in place.
        glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
        for (GLsizei y = 0; y < h; ++y) {
            uint8_t* p = static_cast<uint8_t*>(pixels) + static_cast<size_t>(y) * pitch;
            for (GLsizei x = 0; x < w; ++x, p += 4) {
                const uint8_t r = p[0];
                p[0] = p[2];
                p[2] = r;
            }
        }
    }
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
}

}  // namespace d3d9
