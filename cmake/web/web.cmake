# The browser build (Emscripten): the same subsystems, the browser's platform layers, the libraries from
# QV_WEB_PREFIX (built by cmake/web/deps), and no tests, benchmarks or tools, which run on the desktop.
if(NOT QV_WEB_PREFIX)
  message(FATAL_ERROR "QV_WEB_PREFIX (the browser build's libraries, see scripts/web) is not set")
endif()
set(QV_TESTS OFF CACHE BOOL "" FORCE)
set(QV_BENCH OFF CACHE BOOL "" FORCE)
set(QV_WEB ON)
include_directories(SYSTEM "${QV_WEB_PREFIX}/include" "${QV_WEB_PREFIX}/include/stb")
list(APPEND CMAKE_FIND_ROOT_PATH "${QV_WEB_PREFIX}")
# The system reports errors by throwing texts.
add_compile_options(-fexceptions)
add_link_options(-fexceptions)
