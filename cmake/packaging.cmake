# `cmake --build build --target package` makes the three Debian packages from the install components:
#   liborviknetwork1   runtime: the module and the two host libraries
#   liborviknetwork-dev   development: headers, CMake package, pkg-config file, library links
#   orvik              the program and its plug-ins
# Dependencies on other packages come from the binaries through dpkg-shlibdeps; those between the
# three are stated here, at this exact version.
set(orvik_runtime_package liborviknetwork1)
set(orvik_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc)

# Every Debian package carries its copyright and a compressed changelog in its documentation folder.
set(orvik_changelog ${CMAKE_BINARY_DIR}/packaging/changelog)
string(TIMESTAMP orvik_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${orvik_changelog}
  "orvik (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
  "  * First packaged release.\n\n"
  " -- ORVIK Network developers <orvik@example.org>  ${orvik_date}\n")
find_program(ORVIK_GZIP gzip)
if(ORVIK_GZIP)
  execute_process(COMMAND ${ORVIK_GZIP} -9nf ${orvik_changelog} RESULT_VARIABLE orvik_gzip_result)
endif()
foreach(component runtime:${orvik_runtime_package} development:liborviknetwork-dev program:orvik)
  string(REPLACE ":" ";" parts ${component})
  list(GET parts 0 name)
  list(GET parts 1 package)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION ${orvik_docdir}/${package} COMPONENT ${name})
  if(EXISTS ${orvik_changelog}.gz)
    install(FILES ${orvik_changelog}.gz DESTINATION ${orvik_docdir}/${package} COMPONENT ${name})
  endif()
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "ORVIK")
set(CPACK_PACKAGE_CONTACT "ORVIK Network developers <orvik@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
  WORLD_READ WORLD_EXECUTE)
set(CPACK_COMPONENTS_ALL runtime development program)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Only the runtime package has versioned libraries, which the shlibs file names for packages built
# against them.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# The program's plug-ins and the module link libraries of the runtime package, which is not installed
# while the packages are made: dpkg-shlibdeps finds them in the build tree and leaves them to the
# Depends below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
set(orvik_runtime_depends "${orvik_runtime_package} (= ${PROJECT_VERSION})")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${orvik_runtime_package})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The shared library folder's cache is refreshed through dpkg's trigger, as lintian asks.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
string(CONCAT CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "network module of the ORVIK framework\n"
  "ORVIK Network is a plug-in module that an ORVIK host loads at run time. It\n"
  "gives the host HTTP and HTTPS transfers, a one-shot NTP client, update\n"
  "checking and a WiFi connect dialog.\n"
  "\n"
  "This package holds the module and the two host libraries it is built on.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME liborviknetwork-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${orvik_runtime_depends}, qt6-base-dev")
string(CONCAT CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
  "network module of the ORVIK framework - development files\n"
  "ORVIK Network is a plug-in module that an ORVIK host loads at run time.\n"
  "\n"
  "This package holds the headers of the host libraries and of the module's\n"
  "public classes, the CMake package (find_package(ORVIKNetwork)) and a\n"
  "pkg-config file (orviknetwork).")

set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME orvik)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_DEPENDS "${orvik_runtime_depends}")
string(CONCAT CPACK_COMPONENT_PROGRAM_DESCRIPTION
  "command-line host of the ORVIK network module\n"
  "orvik loads the ORVIK Network module as an ORVIK host does and drives each\n"
  "of its services from the command line: web transfers (get, put), network\n"
  "time, update checks and the WiFi dialog. orvik demo runs every service once\n"
  "against loopback peers it starts itself.")

include(CPack)
