# Installs what is shipped, the runtime and program components of the build tree BUILD, into an empty
# PREFIX. Included by the scripts that check an installed tree.
file(REMOVE_RECURSE ${PREFIX})
foreach(component runtime program)
  execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX} --component ${component}
    OUTPUT_QUIET RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "installing ${component} failed: ${result}")
  endif()
endforeach()
