# What both builds of PINBUS.OCX take from here (the native module, CMakeLists.txt here, and the
# Wine module, platform/wine): its sources, and the functions it exports, from which
# pinbus_export_files() writes the native module's version script (only these leave the module,
# whatever the headers' templates instantiate) and the Wine module's .def file.
set(PINBUS_SOURCES port_access.cpp property_page.cpp pinbus.cpp)
list(TRANSFORM PINBUS_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
set(PINBUS_EXPORTS DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer)

# Writes DIR/pinbus.map and DIR/pinbus.def (only when their text changes, so a module is relinked
# only when its exports do).
function(pinbus_export_files dir)
  set(map "{\n  global:\n")
  set(def "; The exports of the Wine build of PINBUS.OCX.\nLIBRARY PINBUS.OCX\nEXPORTS\n")
  foreach(name ${PINBUS_EXPORTS})
    string(APPEND map "    ${name};\n")
    string(APPEND def "  ${name} PRIVATE\n")
  endforeach()
  string(APPEND map "  local: *;\n};\n")
  file(CONFIGURE OUTPUT ${dir}/pinbus.map CONTENT "${map}" @ONLY)
  file(CONFIGURE OUTPUT ${dir}/pinbus.def CONTENT "${def}" @ONLY)
endfunction()
