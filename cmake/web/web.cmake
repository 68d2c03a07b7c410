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
# Nothing of the program lies in the first 64 KiB of memory: the Win32 layer, as Windows, takes a name
# pointer below 0x10000 for a resource or class atom (IS_INTRESOURCE), and WebAssembly would otherwise put
# the static data, string literals among them, from address 1024 on.
add_link_options(-sGLOBAL_BASE=65536)
# The program: WebGL 2 only; the blocking main loop yields to the browser once a frame (ASYNCIFY); the page
# starts main itself (after fetching the archive into the in-memory file system) and reads captured frames
# from it.
add_link_options(-sMIN_WEBGL_VERSION=2 -sMAX_WEBGL_VERSION=2 -sASYNCIFY -sASYNCIFY_STACK_SIZE=65536
  -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=134217728 -sTOTAL_STACK=1048576 -sENVIRONMENT=web -sINVOKE_RUN=0
  -sEXIT_RUNTIME=1 -sFORCE_FILESYSTEM=1 -sEXPORTED_RUNTIME_METHODS=callMain,FS -sMODULARIZE=0)
