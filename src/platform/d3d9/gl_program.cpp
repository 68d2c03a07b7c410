#include "platform/d3d9/gl_program.h"

namespace d3d9 {

namespace {

// Whether a shader compiled or a program linked (`status` of `object` through `get`); otherwise the
// object's info log is added to *log and the object deleted.
template <typename Get, typename GetLog, typename Delete>
bool succeeded(GLuint object, GLenum status, Get get, GetLog getLog, Delete destroy, std::string* log) {
    GLint ok = 0;
    get(object, status, &ok);
    if (ok) return true;
    char buffer[4096];
    getLog(object, sizeof buffer, nullptr, buffer);
    if (log) *log += buffer;
    destroy(object);
    return false;
}

GLuint compile(GLenum type, const std::string& text, std::string* log) {
    GLuint shader = glCreateShader(type);
    const char* src = text.c_str();
    glShaderSource(shader, 1, &src, nullptr);
    glCompileShader(shader);
    return succeeded(shader, GL_COMPILE_STATUS, glGetShaderiv, glGetShaderInfoLog, glDeleteShader, log)
               ? shader
               : 0;
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
    return succeeded(program, GL_LINK_STATUS, glGetProgramiv, glGetProgramInfoLog, glDeleteProgram, log)
               ? program
               : 0;
}

}  // namespace d3d9
