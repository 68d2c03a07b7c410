#pragma once
// Building a GLSL program from a vertex and a fragment shader text.
#include <string>

#include "platform/d3d9/gl_dialect.h"

namespace d3d9 {

// The linked program, or 0 with the compiler's or linker's log appended to *log (if given).
GLuint gl_build_program(const std::string& vertex, const std::string& fragment, std::string* log);

}  // namespace d3d9
