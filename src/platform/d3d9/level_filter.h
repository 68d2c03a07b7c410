#pragma once
// Automatic texture levels made by drawing: each texel of level n is level n - 1 sampled at the texel's
// centre, through a bilinear filter (Direct3D's default for generated levels) or a point filter.
//
// It takes the place of glGenerateMipmap, whose filter OpenGL leaves to the implementation: on llvmpipe
// the two give the same texels (the tests compare them), but glGenerateMipmap compiles the driver's blit
// shaders afresh in every process, over 100 ms for each texel format before the first frame, where this
// program is an ordinary one that the driver's shader cache keeps between runs.
#include <string>

#include "platform/d3d9/gl_dialect.h"

namespace d3d9 {

class GlState;

class LevelFilter {
public:
    LevelFilter() = default;
    LevelFilter(const LevelFilter&) = delete;
    LevelFilter& operator=(const LevelFilter&) = delete;

    // False (with the GL log) when the program does not build.
    bool init(std::string* log);
    void destroy();
    // Forgets the GL objects without GL calls (their context is gone).
    void abandon();

    // Fills levels `first` to `last` (first >= 1) of `texture`, whose level 0 is width x height, each from
    // the one above. Leaves the texture's base level at 0 and its top level at `last`. Changes the
    // program, the draw framebuffer, the viewport, blending and colour writes, culling and fill mode
    // (through `gl`); restores the vertex array.
    void fill(GlState& gl, GLuint texture, unsigned width, unsigned height, GLint first, GLint last,
              bool linear);

private:
    GLuint program_ = 0, vao_ = 0, fbo_ = 0;
    GLuint samplers_[2] = {};  // point, linear
};

}  // namespace d3d9
