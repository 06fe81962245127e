# On Windows the installed layout is the deployable folder: every program, library and plug-in of
# the build in bin/ (a DLL is found beside the program that loads it), import libraries in lib/,
# and the same public headers as elsewhere.
# The components are those of the other platforms: runtime, program and development.
install(TARGETS ORVIKBase ORVIKWidgets ORVIKNetwork RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(TARGETS orvik orvikwifi orvikupdate RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program
  LIBRARY DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
install(TARGETS ORVIKNtpWire ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(DIRECTORY ${CMAKE_BINARY_DIR}/bin/ DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  FILES_MATCHING PATTERN "Qt6*.dll" PATTERN "lib*-*.dll" PATTERN "platforms/*.dll" PATTERN "styles/*.dll"
  PATTERN "tls/*.dll")
include(${CMAKE_CURRENT_LIST_DIR}/../headers.cmake)
# orvik finds the module and its plug-ins beside itself.
target_compile_definitions(orvikapp PRIVATE ORVIK_MODULEDIR_FROM_BINDIR=".")
