#include "platform/d3d9/gl_program.h"

namespace d3d9 {

namespace {

GLuint compile(GLenum type, const std::string& text, std::string* log) {
    GLuint shader = glCreateShader(type);
    const char* src = text.c_str();
    glShaderSource(shader, 1, &src, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char buffer[4096];
        glGetShaderInfoLog(shader, sizeof buffer, nullptr, buffer);
        if (log) *log += buffer;
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

}  // namespace

GLuint gl_build_program(const std::string& vertex, const std::string& fragment, std::string* log) {
    GLuint vs = compile(GL_VERTEX_SHADER, vertex, log);
    if (!vs) return 0;
    GLuint fs = compile(GL_FRAGMENT_SHADER, fragment, log);
    if (!fs) {
        glDeleteShader(vs);
        return 0;
    }
    GLuint program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    glLinkProgram(program);
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint ok = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (!ok) {
        char buffer[4096];
        glGetProgramInfoLog(program, sizeof buffer, nullptr, buffer);
        if (log) *log += buffer;
        glDeleteProgram(program);
        return 0;
    }
    return program;
}

}  // namespace d3d9
