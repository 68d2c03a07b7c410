# qv_library(NAME [DEPS ...] [EXPLICIT SOURCES ...]): one static library per subsystem, named qv_<name>,
# made of every .cpp in its folder. DEPS states the dependency arrows exactly.
function(qv_library name)
  cmake_parse_arguments(QV "EXPLICIT" "" "DEPS;SOURCES" ${ARGN})
  if(QV_SOURCES OR QV_EXPLICIT)
    set(srcs ${QV_SOURCES})
  else()
    file(GLOB srcs CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  endif()
  if(srcs)
    add_library(qv_${name} STATIC ${srcs})
    target_include_directories(qv_${name} PUBLIC "${PROJECT_SOURCE_DIR}/src")
    target_link_libraries(qv_${name} PUBLIC ${QV_DEPS})
  else()
    add_library(qv_${name} INTERFACE)
    target_include_directories(qv_${name} INTERFACE "${PROJECT_SOURCE_DIR}/src")
    target_link_libraries(qv_${name} INTERFACE ${QV_DEPS})
  endif()
endfunction()

# qv_test(NAME LIBS ...): one GoogleTest binary per subsystem, from every *_test.cpp in the folder.
# Tests find the shared test data through QV_SHARED_DIR and run headless with dummy audio.
function(qv_test name)
  cmake_parse_arguments(QV "" "TIMEOUT" "LIBS;SOURCES" ${ARGN})
  if(QV_SOURCES)
    set(srcs ${QV_SOURCES})
  else()
    file(GLOB srcs CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp")
  endif()
  if(NOT QV_TIMEOUT)
    set(QV_TIMEOUT 600)
  endif()
  add_executable(${name}_tests ${srcs})
  target_link_libraries(${name}_tests PRIVATE ${QV_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  # The shared test helpers (tests/support): scratch folders and commands header-only, the device in qv_test_support.
  target_include_directories(${name}_tests PRIVATE "${PROJECT_SOURCE_DIR}/tests/support")
  target_compile_definitions(${name}_tests PRIVATE
    QV_SHARED_DIR="${QV_SHARED_DIR}"
    QV_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    QV_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${name}_tests
    DISCOVERY_MODE PRE_TEST
    WORKING_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
    PROPERTIES TIMEOUT ${QV_TIMEOUT} ENVIRONMENT "SDL_AUDIODRIVER=dummy;QV_HEADLESS_TEST=1")
endfunction()
