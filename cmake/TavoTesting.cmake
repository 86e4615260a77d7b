# Helpers for building the tests, shared by every folder under tests/ and apps/. Everything a
# test folder needs from another is defined here, so the test folders can be added in any order.
#
# Test names: every ctest test and its executable are called <area>_<subject>_test, lower case
# with underscores, where <area> is the first folder under tests/ (common, head, opengl, device,
# sdk, renderer for TavoRenderer, install, plugins) or demo for the apps' end-to-end checks.
# tavo_add_test refuses other names.

find_package(GTest REQUIRED CONFIG)
find_package(OpenGL REQUIRED COMPONENTS OpenGL EGL)

# GoogleTest's own main, except that a run where some cases skipped and none failed exits with
# TAVO_TEST_SKIP_CODE, which ctest shows as "Skipped" (a failure still fails the test).
set(TAVO_TEST_SKIP_CODE 77)
add_library(tavo_test_main STATIC ${PROJECT_SOURCE_DIR}/tests/testMain.cpp)
tavo_apply_warnings(tavo_test_main)
target_compile_definitions(tavo_test_main PRIVATE TAVO_TEST_SKIP_CODE=${TAVO_TEST_SKIP_CODE})
target_link_libraries(tavo_test_main PUBLIC GTest::gtest GTest::gmock)

# Environment every test runs with: the built library for tests that load it, the TSan
# suppressions, llvmpipe without worker threads, and a folder of its own for failure images.
function(tavo_test_environment out name)
  set(${out}
    "TAVO_TEST_LIBRARY=$<TARGET_FILE:tavoSDK-faceTrackingInApp>"
    "TSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp"
    "LP_NUM_THREADS=0"
    "TAVO_TEST_OUTPUT_DIR=${PROJECT_BINARY_DIR}/testOutput/${name}"
    PARENT_SCOPE)
endfunction()

function(tavo_check_test_name name)
  if(NOT name MATCHES "^(common|head|opengl|device|sdk|renderer|install|plugins|demo)(_[a-z0-9]+)+_test$")
    message(FATAL_ERROR "Test '${name}' does not follow the pattern <area>_<subject>_test "
      "(see cmake/TavoTesting.cmake)")
  endif()
endfunction()

# tavo_add_test(<name> SOURCES ... [LINKS ...]): one GoogleTest executable run by ctest under
# the same name.
function(tavo_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINKS" ${ARGN})
  tavo_check_test_name(${name})
  add_executable(${name} ${ARG_SOURCES})
  tavo_apply_warnings(${name})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_LINKS} tavo_test_main)
  add_test(NAME ${name} COMMAND ${name})
  tavo_test_environment(_env ${name})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${_env}" TIMEOUT 300
    SKIP_RETURN_CODE ${TAVO_TEST_SKIP_CODE})
endfunction()

# tavo_add_test_plugin(<target> <source> <output name> <output folder>): a face detector plug-in
# for tests, built as <output folder>/<output name>.so so that the loader finds it under a
# backend's name.
function(tavo_add_test_plugin target source output_name output_dir)
  add_library(${target} MODULE ${source})
  tavo_apply_warnings(${target})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${target} PRIVATE spdlog::spdlog fmt::fmt)
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${output_name}
    LIBRARY_OUTPUT_DIRECTORY ${output_dir})
endfunction()

# The GL tests' fixture: a headless OpenGL 3.3 context on Mesa's surfaceless EGL platform, and
# pixel comparison that writes actual and expected images on a difference.
add_library(tavo_test_egl STATIC ${PROJECT_SOURCE_DIR}/tests/opengl/eglContext.cpp)
tavo_apply_warnings(tavo_test_egl)
target_include_directories(tavo_test_egl PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(tavo_test_egl PUBLIC tavo_opengl OpenGL::EGL OpenGL::OpenGL fmt::fmt
  GTest::gtest)

# tavo_tests_need_simulated_camera(<result variable> <test>...): the named tests script what the
# camera sees through the librealsense2 stand-in's simulated device. Where CMake found a real
# librealsense2 instead, the stand-in is not built: the result is false and configuration says
# loudly which tests are left out.
function(tavo_tests_need_simulated_camera result)
  if(TARGET tavo_realsense2_standin)
    set(${result} TRUE PARENT_SCOPE)
  else()
    list(JOIN ARGN ", " _names)
    message(WARNING "A real librealsense2 is installed, so its simulated-device stand-in is not "
      "built; these tests are NOT built and do not run: ${_names}")
    set(${result} FALSE PARENT_SCOPE)
  endif()
endfunction()
