# Installs the module and orvik into an empty prefix and runs the installed orvik there: it must find
# the module and its plug-ins in the installed layout, since nothing lies beside it any more.
# cmake -DBUILD=<build tree> -DPREFIX=<empty folder> -P installedorvik.cmake
file(REMOVE_RECURSE ${PREFIX})
foreach(component runtime program)
  execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX} --component ${component}
    OUTPUT_QUIET RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "installing ${component} failed: ${result}")
  endif()
endforeach()
set(ENV{QT_QPA_PLATFORM} offscreen)
set(ENV{DBUS_SYSTEM_BUS_ADDRESS} unix:path=${PREFIX}/no-system-bus)
set(ENV{PATH} ${PREFIX}) # no netsh and no bus: the dialog lists nothing and says why, from its plug-in
execute_process(COMMAND ${PREFIX}/bin/orvik version OUTPUT_VARIABLE version ERROR_VARIABLE errors RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT version MATCHES "\nmodule ORVIKNetwork 1\\.0\\.0 \\(${PREFIX}/lib/[^)]*orvik/ORVIKNetwork\\.so\\)\n")
  message(FATAL_ERROR "orvik version (${result}): ${version}${errors}")
endif()
execute_process(COMMAND ${PREFIX}/bin/orvik wifi --list ERROR_VARIABLE errors RESULT_VARIABLE result)
if(NOT result EQUAL 1 OR NOT errors MATCHES "^orvik: no WiFi networks listed: the system bus cannot be reached")
  message(FATAL_ERROR "orvik wifi --list (${result}): ${errors}")
endif()
file(REMOVE_RECURSE ${PREFIX})
