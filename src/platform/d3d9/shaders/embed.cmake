# Writes the fixed-function GLSL sources into a C++ file as string constants (run at build time).
file(READ "${VERT}" vert)
file(READ "${FRAG}" frag)
file(WRITE "${OUT}.tmp" "// Generated from shaders/ff.vert.glsl and shaders/ff.frag.glsl; do not edit.\n"
  "namespace d3d9 {\n"
  "extern const char kFFVertexSource[];\n"
  "extern const char kFFFragmentSource[];\n"
  "const char kFFVertexSource[] = R\"glsl(${vert})glsl\";\n"
  "const char kFFFragmentSource[] = R\"glsl(${frag})glsl\";\n"
  "}  // namespace d3d9\n")
execute_process(COMMAND "${CMAKE_COMMAND}" -E copy_if_different "${OUT}.tmp" "${OUT}")
