# The module's export surface, in one list: what the host may call, and nothing else. From it the
# build writes the Windows module-definition file (the empty hooks are names of one function there)
# and the ELF version script that hides everything else, so both platforms export the same names.
set(ORVIK_MODULE_ENTRY "ORVIK::AddORVIKNetworkFunctionsToModuleManager()")
set(ORVIK_MODULE_HOOKS
  ORVIKNetworkInitializeForORVIK
  ORVIKNetworkDefineModuleResourcesForORVIK
  ORVIKNetworkSetupMetatypesForORVIK)
set(ORVIK_MODULE_EMPTY_HOOKS
  ORVIKNetworkRegisterUserSettingsForORVIK
  ORVIKNetworkSetupFileStructureForORVIK
  ORVIKNetworkFactoryResetORVIK
  ORVIKNetworkSetupFactoriesForORVIK
  ORVIKNetworkSetUpdateCheckerForORVIK
  ORVIKNetworkSetupManualsForORVIK
  ORVIKNetworkSetupUIThemesForORVIK
  ORVIKNetworkSetupUIForORVIK)
# Exported classes: their members, type information and virtual table.
set(ORVIK_MODULE_CLASSES ORVIK::WifiConnectDialog ORVIK::ORVIKUpdateChecker)
# A DLL exports every member of an exported class, so these classes keep no static data of their
# own beyond Qt's meta-object: their constants live at namespace scope.

# orvik_write_module_exports(DEF_FILE MAP_FILE)
function(orvik_write_module_exports def_file map_file)
  set(def "; Generated from module/exports.cmake. The empty hooks are names of the one empty function;\n")
  string(APPEND def "; the entry function and the classes carry dllexport in their headers.\nEXPORTS\n")
  foreach(hook IN LISTS ORVIK_MODULE_EMPTY_HOOKS)
    string(APPEND def "    ${hook} = orvikNetworkEmptyHook\n")
  endforeach()
  file(GENERATE OUTPUT ${def_file} CONTENT "${def}")

  set(map "/* Generated from module/exports.cmake. */\n{\n  global:\n")
  foreach(hook IN LISTS ORVIK_MODULE_HOOKS ORVIK_MODULE_EMPTY_HOOKS)
    string(APPEND map "    ${hook};\n")
  endforeach()
  string(APPEND map "    extern \"C++\" {\n      \"${ORVIK_MODULE_ENTRY}\";\n")
  foreach(class IN LISTS ORVIK_MODULE_CLASSES)
    string(APPEND map "      ${class}::*;\n")
    foreach(prefix "typeinfo for" "typeinfo name for" "vtable for")
      string(APPEND map "      \"${prefix} ${class}\";\n")
    endforeach()
  endforeach()
  string(APPEND map "    };\n  local:\n    *;\n};\n")
  file(GENERATE OUTPUT ${map_file} CONTENT "${map}")
endfunction()
