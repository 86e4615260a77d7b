# Helpers shared by every subsystem folder.

function(tavo_apply_warnings target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Werror>
    $<$<COMPILE_LANGUAGE:C>:-Wall -Wextra -Werror>)
  # Source locations in exceptions name files relative to the repository root. ccache with a
  # base directory hands the compiler paths relative to the build folder, so a build folder
  # directly under the root gives "../tavo/..." instead: strip that too.
  target_compile_options(${target} PRIVATE -fmacro-prefix-map=${PROJECT_SOURCE_DIR}/=)
  file(RELATIVE_PATH _tavo_root_from_build "${PROJECT_BINARY_DIR}" "${PROJECT_SOURCE_DIR}")
  if(_tavo_root_from_build MATCHES "^\\.\\./?$")
    target_compile_options(${target} PRIVATE -fmacro-prefix-map=../=)
  endif()
endfunction()

# tavo_add_subsystem(<target> SOURCES ... [LINKS ...])
# A subsystem is a static archive of position-independent code; the shared
# library takes every archive whole, and tests may link the archives directly.
function(tavo_add_subsystem target)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINKS" ${ARGN})
  add_library(${target} STATIC ${ARG_SOURCES})
  tavo_apply_warnings(${target})
  # A GNU unique symbol would pin the shared library in memory, so that unloading it
  # could never release logging or start a fresh log file on the next load.
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-fno-gnu-unique>)
  target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>)
  target_include_directories(${target} PRIVATE ${PROJECT_BINARY_DIR}/generated)
  target_link_libraries(${target} PUBLIC spdlog::spdlog fmt::fmt Threads::Threads ${CMAKE_DL_LIBS} ${ARG_LINKS})
endfunction()
