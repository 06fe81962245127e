# Makes the build's program folder a deployable Windows folder: beside orvik.exe and the module lie
# the Qt DLLs, the plug-ins Qt loads at run time (platforms, styles, TLS backends) and the MinGW
# runtime. Qt finds its plug-ins in the program's own folder, so the folder runs as it is, on a
# Windows machine or under Wine.
get_target_property(orvik_qtcore_dll Qt6::Core IMPORTED_LOCATION_RELEASE)
if(NOT orvik_qtcore_dll)
  get_target_property(orvik_qtcore_dll Qt6::Core IMPORTED_LOCATION)
endif()
get_filename_component(orvik_qt_bindir ${orvik_qtcore_dll} DIRECTORY)
get_filename_component(orvik_qt_prefix ${orvik_qt_bindir} DIRECTORY)

set(orvik_deploy_files)
foreach(module Core Gui Widgets Network Test)
  list(APPEND orvik_deploy_files ${orvik_qt_bindir}/Qt6${module}.dll)
endforeach()
# The MinGW runtime that every program and library of the build links dynamically.
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll} OUTPUT_VARIABLE path
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
    find_file(path_${dll} ${dll} PATHS /usr/lib/gcc/x86_64-w64-mingw32/12-posix /usr/x86_64-w64-mingw32/lib
      NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    set(path ${path_${dll}})
  endif()
  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "The MinGW runtime ${dll} was not found")
  endif()
  list(APPEND orvik_deploy_files ${path})
endforeach()

set(orvik_deploy_plugins
  platforms/qwindows.dll platforms/qoffscreen.dll platforms/qminimal.dll
  styles/qwindowsvistastyle.dll
  tls/qschannelbackend.dll tls/qcertonlybackend.dll)

set(orvik_deploy_commands)
foreach(file IN LISTS orvik_deploy_files)
  list(APPEND orvik_deploy_commands COMMAND ${CMAKE_COMMAND} -E copy_if_different ${file} ${CMAKE_BINARY_DIR}/bin/)
endforeach()
foreach(plugin IN LISTS orvik_deploy_plugins)
  get_filename_component(folder ${plugin} DIRECTORY)
  list(APPEND orvik_deploy_commands
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/bin/${folder}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${orvik_qt_prefix}/plugins/${plugin} ${CMAKE_BINARY_DIR}/bin/${folder}/)
endforeach()
add_custom_target(orvik_deploy ALL ${orvik_deploy_commands} COMMENT "Deployable Windows folder: Qt, its plug-ins, the MinGW runtime")
