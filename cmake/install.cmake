# Installs the libraries, the host program and the headers, and exports a CMake package so that
# another project can use find_package(ORVIKNetwork).
include(CMakePackageConfigHelpers)

# The NTP wire library is static: orvik links it, and so must a host built against the installed tree.
install(TARGETS ORVIKBase ORVIKWidgets ORVIKNtpWire EXPORT ORVIKNetworkTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orvik)
# The host loads the module from beside its program, and code linking the module must find that
# same file, so there is exactly one installed copy, in the program folder.
install(TARGETS ORVIKNetwork EXPORT ORVIKNetworkTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_BINDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS orvik RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Public headers: the host libraries' own, of the module only what a host calls (the entry function
# and hooks, and the two exported classes), and the NTP wire library's. The rest of the module is internal.
foreach(dir host/base host/widgets)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/${dir}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orvik/${dir}
    FILES_MATCHING PATTERN "*.h" PATTERN "*_p.h" EXCLUDE)
endforeach()
foreach(header module/moduleentry.h update/orvikupdatechecker.h wifi/wificonnectdialog.h
               time/ntppacket.h time/ntpsample.h time/ntptimestamp.h)
  get_filename_component(dir ${header} DIRECTORY)
  install(FILES ${PROJECT_SOURCE_DIR}/${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orvik/${dir})
endforeach()
install(DIRECTORY ${CMAKE_BINARY_DIR}/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orvik)

install(EXPORT ORVIKNetworkTargets NAMESPACE ORVIK:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/ORVIKNetwork)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/ORVIKNetworkConfigVersion.cmake COMPATIBILITY SameMajorVersion)
file(WRITE ${CMAKE_BINARY_DIR}/ORVIKNetworkConfig.cmake
  "include(CMakeFindDependencyMacro)\n"
  "find_dependency(Qt6 COMPONENTS Core Network Gui Widgets)\n"
  "include(\"\${CMAKE_CURRENT_LIST_DIR}/ORVIKNetworkTargets.cmake\")\n")
install(FILES ${CMAKE_BINARY_DIR}/ORVIKNetworkConfig.cmake ${CMAKE_BINARY_DIR}/ORVIKNetworkConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/ORVIKNetwork)
