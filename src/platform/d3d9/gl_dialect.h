#pragma once
// The two GL dialects this layer runs on: desktop OpenGL 3.3 core, and OpenGL ES 3.0 (WebGL 2 in the browser,
// or a native ES context on the desktop when QV_GL_ES=1, so that the browser's dialect is tested natively).
// The layer keeps to their common subset; what differs is here: the shader header, texel transfers (ES has no
// BGRA formats), and the calls ES lacks (border clamping, LOD bias, polygon mode, base-vertex draws), which
// the production does not rely on.
#ifdef __EMSCRIPTEN__
#include <GLES3/gl3.h>
// Desktop names the shared code mentions; only desktop contexts receive them.
#define GL_POINT 0x1B00
#define GL_LINE 0x1B01
#define GL_FILL 0x1B02
#define GL_CLAMP_TO_BORDER 0x812D
#else
#include <epoxy/gl.h>
#endif

#include <cstdint>

namespace d3d9 {

// True when contexts are to be ES 3.0: always in the browser, with QV_GL_ES=1 on the desktop.
bool gl_es_requested();

// Which dialect the current context speaks; set once its context is made (always ES in the browser).
bool gl_es();
void gl_set_es(bool es);

// The first lines of every shader: version, and default precisions on ES.
const char* gl_shader_header();

void gl_depth_range(float n, float f);
void gl_clear_depth(float d);
// Flat shading takes the first vertex's colours, as Direct3D does; ES always takes the last one.
void gl_provoking_vertex_first();
// Fill only on ES.
void gl_polygon_mode(GLenum mode);
// The wrap mode for Direct3D's border addressing: clamping to the edge on ES, which has no border colour.
GLint gl_clamp_to_border();
// Border colour and LOD bias of a sampler object; not on ES.
void gl_sampler_border_and_bias(GLuint sampler, const float border[4], float lodBias);
// glDrawElementsBaseVertex on the desktop; on ES the caller has moved the vertex input instead and this
// draws with base vertex 0.
void gl_draw_elements(GLenum mode, GLsizei count, GLenum type, const void* offset, GLint baseVertex);

// WebGL refuses framebuffers whose attachments differ in size (OpenGL and OpenGL ES allow it): targets of
// another size than the back buffer then draw with a depth-stencil buffer of their own size.
bool gl_same_size_attachments();

// Allocates level `level` of the bound GL_TEXTURE_2D, 8-bit RGBA or, without alpha, RGB.
void gl_tex_alloc(GLint level, GLsizei w, GLsizei h, bool alpha);
// Uploads w x h texels given as Direct3D stores A8R8G8B8 (bytes B, G, R, A) with `rowTexels` texels a row
// into the bound GL_TEXTURE_2D.
void gl_tex_upload_bgra(GLint level, GLint x, GLint y, GLsizei w, GLsizei h, const uint8_t* texels,
                        GLint rowTexels, bool alpha);
// Reads w x h pixels of the read framebuffer's colour attachment 0 as bytes B, G, R, A, `pitch` bytes a row.
void gl_read_bgra(GLsizei w, GLsizei h, void* pixels, uint32_t pitch);

}  // namespace d3d9
