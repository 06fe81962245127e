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
foreach(dir host/base host/widgets)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/${dir}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orvik/${dir}
    COMPONENT development FILES_MATCHING PATTERN "*.h" PATTERN "*_p.h" EXCLUDE)
endforeach()
foreach(header module/moduleentry.h update/orvikupdatechecker.h wifi/wificonnectdialog.h
               time/ntppacket.h time/ntpsample.h time/ntptimestamp.h)
  get_filename_component(dir ${header} DIRECTORY)
  install(FILES ${PROJECT_SOURCE_DIR}/${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orvik/${dir}
    COMPONENT development)
endforeach()
install(DIRECTORY ${CMAKE_BINARY_DIR}/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orvik COMPONENT development)
# orvik finds the module and its plug-ins beside itself.
target_compile_definitions(orvikapp PRIVATE ORVIK_MODULEDIR_FROM_BINDIR=".")
