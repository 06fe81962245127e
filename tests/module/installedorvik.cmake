# Installs the module and orvik into an empty prefix and runs the installed orvik there: it must find
# the module and its plug-ins in the installed layout, since nothing lies beside it any more.
# cmake -DBUILD=<build tree> -DPREFIX=<empty folder> [-DEMULATOR=<runner of Windows programs>] -P installedorvik.cmake
# On Windows everything lies in bin/, the deployable layout, so there the module is found beside orvik.exe.
include(${CMAKE_CURRENT_LIST_DIR}/installshipped.cmake)
set(ENV{QT_QPA_PLATFORM} offscreen)
set(ENV{DBUS_SYSTEM_BUS_ADDRESS} unix:path=${PREFIX}/no-system-bus)
if(EMULATOR)
  set(orvik ${EMULATOR} ${PREFIX}/bin/orvik.exe)
  set(module "Z:${PREFIX}/bin/ORVIKNetwork\\.dll")
  # Wine's WLAN service has no WiFi interface.
  set(no_networks "the WLAN service has no WiFi interface")
else()
  set(ENV{PATH} ${PREFIX}) # no netsh and no bus: the dialog lists nothing and says why, from its plug-in
  set(orvik ${PREFIX}/bin/orvik)
  set(module "${PREFIX}/lib/[^)]*orvik/ORVIKNetwork\\.so")
  set(no_networks "the system bus cannot be reached")
endif()
execute_process(COMMAND ${orvik} version OUTPUT_VARIABLE version ERROR_VARIABLE errors RESULT_VARIABLE result)
string(REPLACE "\r\n" "\n" version "${version}")
if(NOT result EQUAL 0 OR NOT version MATCHES "\nmodule ORVIKNetwork 1\\.0\\.0 \\(${module}\\)\n")
  message(FATAL_ERROR "orvik version (${result}): ${version}${errors}")
endif()
execute_process(COMMAND ${orvik} wifi --list ERROR_VARIABLE errors RESULT_VARIABLE result)
if(NOT result EQUAL 1 OR NOT errors MATCHES "^orvik: no WiFi networks listed: ${no_networks}")
  message(FATAL_ERROR "orvik wifi --list (${result}): ${errors}")
endif()
file(REMOVE_RECURSE ${PREFIX})
