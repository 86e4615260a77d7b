# Regenerates the debug images and fails when the checked-in copies differ.
file(MAKE_DIRECTORY ${OUT})
execute_process(COMMAND ${GENERATOR} ${OUT} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the generator failed: ${result}")
endif()
foreach(name DebugViewsImage.tga DebugStereoImage.tga)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT}/${name} ${ASSETS}/${name}
    RESULT_VARIABLE differ)
  if(NOT differ EQUAL 0)
    message(FATAL_ERROR "${name} in assets/ is not what tavo-debug-images writes; regenerate it")
  endif()
endforeach()
