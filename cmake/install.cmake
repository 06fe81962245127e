# Installs the libraries, the host program and the headers, and exports a CMake package and a
# pkg-config file so that another project can build against the module.
#
# Layout under the prefix, as Debian lays out a library with a plug-in module:
#   bin/orvik                                   the program, and nothing else in bin/
#   LIBDIR/libORVIKBase.so.1, libORVIKWidgets.so.1   the host libraries, versioned
#   LIBDIR/orvik/ORVIKNetwork.so                the module: hosts find it by this base name, so it has
#                                               no "lib" prefix and no version, hence its own folder
#   LIBDIR/orvik/plugins/                       orvik's two plug-ins
# The components become the three packages: runtime, development and program.
include(CMakePackageConfigHelpers)

set(ORVIK_INSTALL_MODULEDIR ${CMAKE_INSTALL_LIBDIR}/orvik)
set(ORVIK_INSTALL_PLUGINDIR ${ORVIK_INSTALL_MODULEDIR}/plugins)

# Relative to each file, so that every prefix works without ld.so.conf; lintian accepts $ORIGIN.
file(RELATIVE_PATH orvik_bin_to_lib /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
set_target_properties(orvik PROPERTIES INSTALL_RPATH "$ORIGIN/${orvik_bin_to_lib}")
set_target_properties(ORVIKBase ORVIKWidgets PROPERTIES INSTALL_RPATH "$ORIGIN")
set_target_properties(ORVIKNetwork PROPERTIES INSTALL_RPATH "$ORIGIN/..")
set_target_properties(orvikwifi orvikupdate PROPERTIES INSTALL_RPATH "$ORIGIN/..;$ORIGIN/../..")

# The NTP wire library is static: orvik links it, and so must a host built against the installed tree.
install(TARGETS ORVIKBase ORVIKWidgets ORVIKNtpWire EXPORT ORVIKNetworkTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orvik)
install(TARGETS ORVIKNetwork EXPORT ORVIKNetworkTargets
  LIBRARY DESTINATION ${ORVIK_INSTALL_MODULEDIR} COMPONENT runtime)
install(TARGETS orvik RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
install(TARGETS orvikwifi orvikupdate LIBRARY DESTINATION ${ORVIK_INSTALL_PLUGINDIR} COMPONENT program)
if(NOT WIN32)
  # The manual page, compressed as Debian's policy asks (-n: no name or time stamp, so the package
  # builds the same bytes twice).
  find_program(ORVIK_GZIP gzip REQUIRED)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/orvik.1.gz
    COMMAND ${ORVIK_GZIP} -9n -c ${PROJECT_SOURCE_DIR}/docs/orvik.1 > ${CMAKE_BINARY_DIR}/orvik.1.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/orvik.1 VERBATIM)
  add_custom_target(orvik_manual_page ALL DEPENDS ${CMAKE_BINARY_DIR}/orvik.1.gz)
  install(FILES ${CMAKE_BINARY_DIR}/orvik.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT program)
endif()

include(${CMAKE_CURRENT_LIST_DIR}/headers.cmake)

set(orvik_cmakedir ${CMAKE_INSTALL_LIBDIR}/cmake/ORVIKNetwork)
install(EXPORT ORVIKNetworkTargets NAMESPACE ORVIK:: DESTINATION ${orvik_cmakedir} COMPONENT development)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/ORVIKNetworkConfigVersion.cmake COMPATIBILITY SameMajorVersion)
# A program that links the module finds it at run time through a run path into the module folder (the
# module's folder is no library folder of the system's); under a prefix outside the system's library
# folders, also into the library folder. Both are worked out from where the package lies, so they hold
# for every prefix. Windows has no run path: there the DLLs go beside the program or on PATH.
file(RELATIVE_PATH orvik_cmakedir_to_prefix /${CMAKE_INSTALL_LIBDIR}/cmake/ORVIKNetwork /)
file(WRITE ${CMAKE_BINARY_DIR}/ORVIKNetworkConfig.cmake
  "include(CMakeFindDependencyMacro)\n"
  "find_dependency(Qt6 COMPONENTS Core Network Gui Widgets)\n"
  "include(\"\${CMAKE_CURRENT_LIST_DIR}/ORVIKNetworkTargets.cmake\")\n"
  "if(NOT WIN32)\n"
  "  get_filename_component(_orvik_prefix \"\${CMAKE_CURRENT_LIST_DIR}/${orvik_cmakedir_to_prefix}\" ABSOLUTE)\n"
  "  set(_orvik_rpath \"\${_orvik_prefix}/${ORVIK_INSTALL_MODULEDIR}\")\n"
  "  set(_orvik_libdir \"\${_orvik_prefix}/${CMAKE_INSTALL_LIBDIR}\")\n"
  "  if(NOT _orvik_libdir IN_LIST CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES AND\n"
  "     NOT _orvik_libdir IN_LIST CMAKE_PLATFORM_IMPLICIT_LINK_DIRECTORIES)\n"
  "    string(APPEND _orvik_rpath \":\${_orvik_libdir}\")\n"
  "  endif()\n"
  "  set_property(TARGET ORVIK::ORVIKNetwork APPEND PROPERTY INTERFACE_LINK_OPTIONS \"LINKER:-rpath,\${_orvik_rpath}\")\n"
  "  unset(_orvik_prefix)\n"
  "  unset(_orvik_libdir)\n"
  "  unset(_orvik_rpath)\n"
  "endif()\n")
install(FILES ${CMAKE_BINARY_DIR}/ORVIKNetworkConfig.cmake ${CMAKE_BINARY_DIR}/ORVIKNetworkConfigVersion.cmake
  DESTINATION ${orvik_cmakedir} COMPONENT development)

# The .pc file names its folders relative to its own place, so it holds for any prefix and DESTDIR.
file(RELATIVE_PATH orvik_pc_to_prefix /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" orvik_pc_to_prefix "${orvik_pc_to_prefix}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/orviknetwork.pc.in ${CMAKE_BINARY_DIR}/orviknetwork.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/orviknetwork.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

# orvik looks for the module and its plug-ins beside itself first (the build tree), then here.
target_compile_definitions(orvikapp PRIVATE ORVIK_MODULEDIR_FROM_BINDIR="${orvik_bin_to_lib}/orvik")
