#include "platform/d3d9/texture_copy.h"

#include <algorithm>

#include "platform/d3d9/gl_program.h"
#include "platform/d3d9/gl_state.h"

namespace d3d9 {

namespace {

// A rectangle over the whole viewport from four vertices without attributes, upside down with a flip of -1.
const char* const kVertex = R"(
uniform float u_flip;
out vec2 v_at;
void main() {
    vec2 corner = vec2(float(gl_VertexID & 1), float(gl_VertexID >> 1));
    v_at = corner;
    gl_Position = vec4((corner * 2.0 - 1.0) * vec2(1.0, u_flip), 0.0, 1.0);
}
)";

const char* const kFragment = R"(
uniform sampler2D u_level;
in vec2 v_at;
out vec4 o_color;
void main() {
    o_color = textureLod(u_level, v_at, 0.0);
}
)";

}  // namespace

bool TextureCopy::init(std::string* log) {
    const std::string header = gl_shader_header();
    program_ = gl_build_program(header + kVertex, header + kFragment, log);
    if (!program_) return false;
    // The source level is sampled on the scratch unit, which draws never use.
    GLint previous = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &previous);
    glUseProgram(program_);
    glUniform1i(glGetUniformLocation(program_, "u_level"), GlState::kUnits);
    flipAt_ = glGetUniformLocation(program_, "u_flip");
    glUniform1f(flipAt_, flip_ = 1.0f);
    glUseProgram(static_cast<GLuint>(previous));
    glGenVertexArrays(1, &vao_);
    glGenFramebuffers(1, &fbo_);
    glGenSamplers(2, samplers_);
    for (int i = 0; i < 2; ++i) {
        const GLint filter = i ? GL_LINEAR : GL_NEAREST;
        glSamplerParameteri(samplers_[i], GL_TEXTURE_MIN_FILTER, filter);
        glSamplerParameteri(samplers_[i], GL_TEXTURE_MAG_FILTER, filter);
        glSamplerParameteri(samplers_[i], GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glSamplerParameteri(samplers_[i], GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }
    return true;
}

void TextureCopy::destroy() {
    if (program_) glDeleteProgram(program_);
    if (vao_) glDeleteVertexArrays(1, &vao_);
    if (fbo_) glDeleteFramebuffers(1, &fbo_);
    if (samplers_[0]) glDeleteSamplers(2, samplers_);
    abandon();
}

void TextureCopy::abandon() {
    program_ = vao_ = fbo_ = 0;
    samplers_[0] = samplers_[1] = 0;
}

void TextureCopy::begin(GlState& gl, GLuint texture, bool linear, float flip) {
    restoreVao_ = gl.vertexArray();
    gl.useProgram(program_);
    if (flip != flip_) glUniform1f(flipAt_, flip_ = flip);
    gl.bindVertexArray(vao_);
    gl.setBlend(false, GL_ONE, GL_ZERO, GL_ONE, GL_ZERO, GL_FUNC_ADD, GL_FUNC_ADD);
    gl.setColorMask(0xF);
    gl.setCull(false, GL_BACK);
    gl.setPolygonMode(GL_FILL);
    gl.setScissor(false);
    gl.bindTextureForUpdate(texture);  // leaves the scratch unit active
    glBindSampler(GlState::kUnits, samplers_[linear ? 1 : 0]);
}

void TextureCopy::end(GlState& gl) {
    glBindSampler(GlState::kUnits, 0);
    gl.bindVertexArray(restoreVao_);
}

void TextureCopy::fillLevels(GlState& gl, GLuint texture, unsigned width, unsigned height, GLint first,
                             GLint last, bool linear) {
    if (!program_ || first < 1 || last < first) return;
    if (levelsDrawable_ != 0) {
        begin(gl, texture, linear, 1.0f);
        gl.bindDrawFramebuffer(fbo_);
        // The texture's own filter without levels while it is drawn into: sampling (the sampler's filter,
        // also without levels) then reads its base level only, which some implementations judge by the
        // texture's filter rather than the sampler's.
        GLint minFilter = GL_NEAREST_MIPMAP_LINEAR;
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, linear ? GL_LINEAR : GL_NEAREST);
        for (GLint level = first; level <= last; ++level) {
            // The level drawn into lies in the texture's level range, as a framebuffer needs (WebGL refuses
            // others), yet only the level above, the base, is sampled: the one drawn into is never read.
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, level - 1);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, level);
            glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, level);
            if (levelsDrawable_ < 0)
                levelsDrawable_ = glCheckFramebufferStatus(GL_DRAW_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
            if (!levelsDrawable_) break;
            gl.setViewport(0, 0, static_cast<GLsizei>(std::max(width >> level, 1u)),
                           static_cast<GLsizei>(std::max(height >> level, 1u)));
            glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        }
        glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, 0, 0);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, last);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, minFilter);
        end(gl);
        if (levelsDrawable_) return;
    }
    // The implementation's own generator, from the level above the first one asked for.
    gl.bindTextureForUpdate(texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, first - 1);
    glGenerateMipmap(GL_TEXTURE_2D);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
}

void TextureCopy::present(GlState& gl, GLuint texture, GLint x, GLint y, GLsizei w, GLsizei h, bool linear) {
    if (!program_) return;
    begin(gl, texture, linear, -1.0f);
    gl.bindDrawFramebuffer(0);
    gl.setViewport(x, y, w, h);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    end(gl);
}

}  // namespace d3d9
