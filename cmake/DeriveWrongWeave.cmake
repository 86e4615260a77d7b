# cmake -DASSETS=<assets folder> -DOUTPUT=<folder> -DFAULT=<name> -P DeriveWrongWeave.cmake
#
# A copy of the assets whose interlace shader weaves wrong in one deliberate way, made from the
# real shader at build time so that the tests that must catch the fault follow every change to
# it. Each fault replaces one exact piece of the shader; when that piece is no longer there the
# derivation fails instead of producing a shader that is right after all.
#
#   paraxial          the chief ray's lateral shift without the exact Snell root: d/n * delta / h
#   no-convergence    the (1 + s) factor dropped: views no longer converge at the design distance
#   half-subpixel     subpixel centres half a subpixel to the left of where they are
#   rows-from-bottom  panel rows counted from the bottom, as GL counts them
cmake_minimum_required(VERSION 3.25)

if(FAULT STREQUAL "paraxial")
  set(_from "vec3 root = sqrt(k * (dx * dx + dy * dy) + height * height);")
  set(_to "vec3 root = vec3(height);")
elseif(FAULT STREQUAL "no-convergence")
  set(_from "vec3 u = phase.large + local + s * (phase.unreduced + local);")
  set(_to "vec3 u = phase.large + local;")
elseif(FAULT STREQUAL "half-subpixel")
  set(_from "vec3 fx = (vec3(0.0, 1.0, 2.0) + 0.5) / 3.0;")
  set(_to "vec3 fx = vec3(0.0, 1.0, 2.0) / 3.0;")
elseif(FAULT STREQUAL "rows-from-bottom")
  set(_from "float row = (viewportHeight - 1.0 - floor(gl_FragCoord.y)) + viewportY;")
  set(_to "float row = floor(gl_FragCoord.y) + viewportY;")
else()
  message(FATAL_ERROR "DeriveWrongWeave: unknown fault \"${FAULT}\"")
endif()

set(_shader "${ASSETS}/shaders/interlace.pshader")
file(READ "${_shader}" _text)
string(FIND "${_text}" "${_from}" _at)
if(_at EQUAL -1)
  message(FATAL_ERROR "DeriveWrongWeave: the ${FAULT} fault cannot be made: ${_shader} no longer "
    "holds \"${_from}\". Update cmake/DeriveWrongWeave.cmake to the shader's new form of it.")
endif()
string(REPLACE "${_from}" "${_to}" _wrong "${_text}")

file(REMOVE_RECURSE "${OUTPUT}")
file(COPY "${ASSETS}/" DESTINATION "${OUTPUT}")
file(WRITE "${OUTPUT}/shaders/interlace.pshader" "${_wrong}")
