# Installs the build tree into a scratch prefix, then builds and runs a consumer against it.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run_checked)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "Failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

run_checked(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
# Exactly the listed public headers, no implementation header beside them.
file(GLOB_RECURSE installed_headers RELATIVE ${prefix}/include ${prefix}/include/*.h)
string(REPLACE "|" ";" public_headers "${PUBLIC_HEADERS}")
list(SORT installed_headers)
list(SORT public_headers)
if(NOT installed_headers STREQUAL public_headers)
  message(FATAL_ERROR "Installed headers differ from the public list.\n"
    "installed: ${installed_headers}\nlisted:    ${public_headers}")
endif()

run_checked(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/build -G ${GENERATOR}
  -DCMAKE_PREFIX_PATH=${prefix} "-DCMAKE_EXE_LINKER_FLAGS=${SANITIZE_FLAGS}")
run_checked(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run_checked(${WORK_DIR}/build/tavoConsumer)
if(NOT last_output MATCHES "Warn")
  message(FATAL_ERROR "Unexpected consumer output: ${last_output}")
endif()

# The examples, built the way their folder says, against the installed package.
run_checked(${CMAKE_COMMAND} -S ${EXAMPLES_DIR} -B ${WORK_DIR}/examples -G ${GENERATOR}
  -DCMAKE_PREFIX_PATH=${prefix} "-DCMAKE_EXE_LINKER_FLAGS=${SANITIZE_FLAGS}"
  "-DTAVO_EXAMPLE_SIMULATION_INCLUDE=${SIMULATION_INCLUDE}")
run_checked(${CMAKE_COMMAND} --build ${WORK_DIR}/examples)
if(RUN_EXAMPLES)
  if(SIMULATION_INCLUDE)
    run_checked(${WORK_DIR}/examples/tavo-example-poll 5)
    if(NOT last_output MATCHES "frame 4 at [0-9.]+ ms: .*frames received: 5")
      message(FATAL_ERROR "Unexpected tavo-example-poll output:\n${last_output}")
    endif()
  endif()
  set(ENV{TAVO_PANEL_FILE} ${PANEL_FILE})
  run_checked(${WORK_DIR}/examples/tavo-example-host ${WORK_DIR}/woven.png)
  unset(ENV{TAVO_PANEL_FILE})
  if(NOT last_output MATCHES "panel: 160 x 90 pixels, 12 views.*face tracking: running.*written")
    message(FATAL_ERROR "Unexpected tavo-example-host output:\n${last_output}")
  endif()
  # A PNG of the panel's size: the width and height words of its header.
  file(READ ${WORK_DIR}/woven.png header LIMIT 24 HEX)
  string(SUBSTRING "${header}" 32 16 size)
  if(NOT size STREQUAL "000000a00000005a")
    message(FATAL_ERROR "woven.png is not 160 x 90: ${size}")
  endif()
endif()

# The pkg-config file must point into the prefix it was installed to.
file(GLOB_RECURSE pc_files ${prefix}/*/tavoSDK.pc)
list(LENGTH pc_files pc_count)
if(NOT pc_count EQUAL 1)
  message(FATAL_ERROR "Expected one tavoSDK.pc, found: ${pc_files}")
endif()
get_filename_component(pc_dir ${pc_files} DIRECTORY)
find_program(PKG_CONFIG pkg-config REQUIRED)
set(ENV{PKG_CONFIG_PATH} ${pc_dir})
run_checked(${PKG_CONFIG} --variable=libdir tavoSDK)
string(STRIP "${last_output}" libdir)
if(NOT EXISTS ${libdir}/libtavoSDK-faceTrackingInApp.so)
  message(FATAL_ERROR "pkg-config libdir ${libdir} holds no library")
endif()
# The CPU face detector plug-in and its model beside the library, where the loader looks.
foreach(shipped tavoHeadTrackingBlinkDetectorcpu.so
    assets/models/face_detection_front_128x128_barracuda.onnx)
  if(NOT EXISTS ${libdir}/${shipped})
    message(FATAL_ERROR "${shipped} is not installed beside the library in ${libdir}")
  endif()
endforeach()
run_checked(${PKG_CONFIG} --variable=includedir tavoSDK)
string(STRIP "${last_output}" includedir)
if(NOT EXISTS ${includedir}/tavo/common/platform.h)
  message(FATAL_ERROR "pkg-config includedir ${includedir} holds no headers")
endif()
run_checked(${PKG_CONFIG} --cflags --libs tavoSDK)
