#pragma once
// Copies of a texture level drawn as a textured rectangle: automatic texture levels (each texel of level n
// is level n - 1 sampled at the texel's centre, through a bilinear filter, Direct3D's default for
// generated levels, or a point filter) and the back buffer presented into the window.
//
// They take the place of glGenerateMipmap and glBlitFramebuffer: on llvmpipe they give the same texels
// (the tests compare them), but those two compile the driver's blit shaders afresh in every process, over
// 100 ms for each texel format before the first frame, where this program is an ordinary one that the
// driver's shader cache keeps between runs. The level drawn into is inside the texture's level range (a
// framebuffer needs that) while filters without levels sample only the base level, the one above it, which
// keeps WebGL's feedback loop rule too. Where the implementation still refuses the framebuffer, the levels
// come from glGenerateMipmap.
#include <string>

#include "platform/d3d9/gl_dialect.h"

namespace d3d9 {

class GlState;

class TextureCopy {
public:
    TextureCopy() = default;
    TextureCopy(const TextureCopy&) = delete;
    TextureCopy& operator=(const TextureCopy&) = delete;

    // False (with the GL log) when the program does not build.
    bool init(std::string* log);
    void destroy();
    // Forgets the GL objects without GL calls (their context is gone).
    void abandon();

    // Fills levels `first` to `last` (first >= 1) of `texture`, whose level 0 is width x height, each from
    // the one above. Leaves the texture's base level at 0 and its top level at `last`. Changes the
    // program, the draw framebuffer, the viewport, blending and colour writes, culling and fill mode
    // (through `gl`); restores the vertex array.
    void fillLevels(GlState& gl, GLuint texture, unsigned width, unsigned height, GLint first, GLint last,
                    bool linear);
    // Draws level 0 of `texture` (stored top row first) upright into the rectangle x, y, w, h of the
    // window's framebuffer (bottom row first), scaled with the bilinear or the point filter. Changes what
    // fillLevels changes.
    void present(GlState& gl, GLuint texture, GLint x, GLint y, GLsizei w, GLsizei h, bool linear);

private:
    void begin(GlState& gl, GLuint texture, bool linear, float flip);
    void end(GlState& gl);

    GLuint program_ = 0, vao_ = 0, fbo_ = 0, restoreVao_ = 0;
    GLint flipAt_ = -1;
    int levelsDrawable_ = -1;  // unknown until the first levels are made
    float flip_ = 1.0f;
    GLuint samplers_[2] = {};  // point, linear
};

}  // namespace d3d9
