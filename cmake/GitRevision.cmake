# Captures the source branch and revision at configure time for the version banner.
set(TAVO_GIT_BRANCH "UNSPECIFIED")
set(TAVO_GIT_REVISION "UNSPECIFIED")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS "${PROJECT_SOURCE_DIR}/.git")
  execute_process(COMMAND ${GIT_EXECUTABLE} symbolic-ref -q HEAD
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE _branch
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE _rb)
  execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse HEAD
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE _rev
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE _rr)
  if(_rb EQUAL 0 AND _branch)
    set(TAVO_GIT_BRANCH "${_branch}")
  endif()
  if(_rr EQUAL 0 AND _rev)
    set(TAVO_GIT_REVISION "${_rev}")
  endif()
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/buildInfo.h.in ${PROJECT_BINARY_DIR}/generated/tavo/buildInfo.h @ONLY)
