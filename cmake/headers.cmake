# Public headers, the same on every platform: the host libraries' own, of the module only what a
# host calls (the entry function and hooks, and the two exported classes), and the NTP wire
# library's. The rest of the module is internal.
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
# The updater's headers lived in host/widgets/ before it had a folder of its own: a header at each old
# name forwards to the new one, so that code written against the old names still builds.
set(update_headers filelock.h httpresume.h packagerequest.h regularfile.h sha256.h updatechecker.h
                   updatedescription.h updatedownload.h updatefolder.h updatesignature.h updateversionstore.h)
foreach(header ${update_headers})
  file(WRITE ${CMAKE_BINARY_DIR}/forwarding/host/widgets/${header}
    "#pragma once\n#include \"host/widgets/update/${header}\"\n")
endforeach()
install(DIRECTORY ${CMAKE_BINARY_DIR}/forwarding/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orvik COMPONENT development)
install(DIRECTORY ${CMAKE_BINARY_DIR}/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orvik COMPONENT development)
