# tavo-weave's command line: a weave of a small panel (the same through --panel and through the
# SDK's own reading of TAVO_PANEL_FILE), bad arguments (usage, exit 2) and files
# that cannot be read (named, exit 1).
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

function(expect_run code pattern)
  execute_process(COMMAND ${TOOL} ${ARGN} RESULT_VARIABLE result ERROR_VARIABLE err OUTPUT_QUIET)
  if(NOT result EQUAL code)
    message(FATAL_ERROR "tavo-weave ${ARGN}: exit ${result}, expected ${code}\n${err}")
  endif()
  if(pattern AND NOT err MATCHES "${pattern}")
    message(FATAL_ERROR "tavo-weave ${ARGN}: stderr lacks '${pattern}':\n${err}")
  endif()
endfunction()

set(pair --left ${DATA}/left.png --right ${DATA}/right.png)
# A negative face position parses; the output is the panel's size.
expect_run(0 "" --panel ${DATA}/panel.json --mode stereo --face -150,40,480 ${pair}
  --out ${WORK}/stereo.png)
file(READ ${WORK}/stereo.png header LIMIT 24 HEX)
string(SUBSTRING "${header}" 32 16 size)
if(NOT size STREQUAL "000000a00000005a")
  message(FATAL_ERROR "stereo.png is not 160 x 90: ${size}")
endif()
# The SDK inside reads the same file when TAVO_PANEL_FILE names it: the same configuration
# weaves the same picture.
execute_process(COMMAND ${CMAKE_COMMAND} -E env TAVO_PANEL_FILE=${DATA}/panel.json
  ${TOOL} --mode stereo --face -150,40,480 ${pair} --out ${WORK}/stereo-sdk.png
  RESULT_VARIABLE result ERROR_VARIABLE err)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "tavo-weave with TAVO_PANEL_FILE: exit ${result}\n${err}")
endif()
file(SHA256 ${WORK}/stereo.png by_option)
file(SHA256 ${WORK}/stereo-sdk.png by_sdk)
if(NOT by_option STREQUAL by_sdk)
  message(FATAL_ERROR "--panel and TAVO_PANEL_FILE weave different pictures: "
    "${WORK}/stereo.png, ${WORK}/stereo-sdk.png")
endif()
expect_run(0 "" --panel ${DATA}/panel.json --mode sliding --face 0,0,520 --no-sharpen --no-blend
  --debug-mode 4 --views ${DATA}/left.png,${DATA}/right.png,${DATA}/left.png,${DATA}/right.png,${DATA}/left.png,${DATA}/right.png,${DATA}/left.png,${DATA}/right.png,${DATA}/left.png,${DATA}/right.png,${DATA}/left.png,${DATA}/right.png
  --out ${WORK}/sliding.png)

# Bad arguments: usage and 2.
expect_run(2 "usage: tavo-weave")
expect_run(2 "unknown mode" --mode wobble --face 0,0,500 ${pair} --out ${WORK}/x.png)
expect_run(2 "--face needs X,Y,Z" --mode stereo --face 0,500 ${pair} --out ${WORK}/x.png)
expect_run(2 "not a number" --mode stereo --face 0,a,500 ${pair} --out ${WORK}/x.png)
# A position the geometry cannot use is refused, not woven into a blank picture.
expect_run(2 "not a number: \"nan\"" --mode stereo --face nan,0,500 ${pair} --out ${WORK}/x.png)
expect_run(2 "--out is required" --mode stereo --face 0,0,500 ${pair})
expect_run(2 "--left and --right go together" --mode stereo --face 0,0,500 --left ${DATA}/left.png
  --out ${WORK}/x.png)
expect_run(2 "--left/--right are the views of --mode stereo" --mode sliding --face 0,0,500 ${pair}
  --out ${WORK}/x.png)
expect_run(2 "--debug-mode takes a whole number from 0 to 8" --mode stereo --face 0,0,500 ${pair} --debug-mode 9
  --out ${WORK}/x.png)
expect_run(2 "weaves 12 views" --panel ${DATA}/panel.json --mode peeling --face 0,0,500
  --views ${DATA}/left.png,${DATA}/right.png --out ${WORK}/x.png)
# Unreadable files: named, and 1.
expect_run(1 "missing.png" --mode stereo --face 0,0,500 --left ${WORK}/missing.png
  --right ${DATA}/right.png --out ${WORK}/x.png)
expect_run(1 "nopanel.json" --panel ${WORK}/nopanel.json --mode stereo --face 0,0,500 ${pair}
  --out ${WORK}/x.png)
expect_run(1 "cannot write" --panel ${DATA}/panel.json --mode stereo --face 0,0,500 ${pair}
  --out ${WORK}/no/such/folder/x.png)
